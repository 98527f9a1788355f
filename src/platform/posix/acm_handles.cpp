#include "platform/posix/acm_handles.h"

#include <strings.h>

#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/profile.h"

namespace vx::platform::acm {

namespace {

constexpr const char* kDriversSection = "drivers32";
constexpr std::size_t kMaxPath = 4096;

// Constant-initialized: the ids are never freed (they stay valid for the
// life of the process, as the platform's do), and the sets are reached only
// through these functions. The lock is never held while a driver runs or a
// module loads.
std::mutex g_lock;

struct Tables {
    std::vector<std::unique_ptr<DriverId>> ids;  // creation order
    std::unordered_set<const void*> drivers;
    std::unordered_set<const void*> streams;
};

Tables& tables() {
    // Built on first use and left to the end of the process: an exit handler
    // of another library may still close a stream.
    static Tables* t = new Tables;
    return *t;
}

bool is_acm_key(const std::string& key) {
    return key.size() > 6 && strncasecmp(key.c_str(), "msacm.", 6) == 0;
}

std::vector<uint16_t> widen(const std::string& text) {
    // Profile keys are ASCII; other bytes are kept as Latin-1 characters.
    std::vector<uint16_t> wide(text.begin(), text.end());
    for (uint16_t& c : wide) c &= 0xFF;
    wide.push_back(0);
    return wide;
}

// The id of (key, path), made on first sight. A key whose module changed is
// a new driver: the old id keeps naming the old module.
DriverId* id_for(const std::string& key, const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    Tables& t = tables();
    for (const auto& id : t.ids)
        if (strcasecmp(id->key.c_str(), key.c_str()) == 0 && id->path == path) return id.get();
    auto id = std::make_unique<DriverId>();
    id->key = key;
    id->path = path;
    id->alias = widen(key);
    t.ids.push_back(std::move(id));
    return t.ids.back().get();
}

}  // namespace

uint32_t OpenDriver::send(uint32_t message, intptr_t p1, intptr_t p2) {
    // MMRESULTs are 32-bit; a driver that answers more gives an error.
    const intptr_t r = proc(driverId, this, message, p1, p2);
    return r >= 0 && r <= 0xFFFFFFFF ? static_cast<uint32_t>(r) : VX_MMSYSERR_ERROR;
}

std::vector<DriverId*> enabled_drivers() {
    std::vector<DriverId*> ids;
    std::vector<char> path(kMaxPath);
    for (const std::string& key : profile_keys(kDriversSection)) {
        if (!is_acm_key(key)) continue;
        if (profile_string(kDriversSection, key.c_str(), "", path.data(), path.size()) == 0)
            continue;
        DriverId* id = id_for(key, path.data());
        VxAcmDriverDetailsW details;
        if (driver_details(id, &details) &&
            (details.fdwSupport & VX_ACMDRIVERDETAILS_SUPPORTF_DISABLED) == 0)
            ids.push_back(id);
    }
    return ids;
}

bool driver_details(DriverId* id, VxAcmDriverDetailsW* details) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (id->haveDetails) {
            *details = id->details;
            return true;
        }
    }
    uint32_t result = 0;
    OpenDriver* driver = open_driver(id, &result);
    if (driver == nullptr) return false;
    VxAcmDriverDetailsW asked{};
    asked.cbStruct = sizeof asked;
    result = driver->send(VX_ACMDM_DRIVER_DETAILS, reinterpret_cast<intptr_t>(&asked), 0);
    close_driver(driver);
    // A driver that fills less than its counts leaves the rest zero; one
    // that claims more than the record is not believed.
    if (result != VX_MMSYSERR_NOERROR || asked.cbStruct < offsetof(VxAcmDriverDetailsW, hicon))
        return false;
    asked.cbStruct = sizeof asked;
    std::lock_guard<std::mutex> guard(g_lock);
    id->details = asked;
    id->haveDetails = true;
    *details = asked;
    return true;
}

OpenDriver* open_driver(DriverId* id, uint32_t* result) {
    drivers::Module* module = drivers::acquire(id->path);
    if (module == nullptr) {
        *result = VX_MMSYSERR_NODRIVER;
        return nullptr;
    }
    auto* driver = new (std::nothrow) OpenDriver;
    if (driver == nullptr) {
        drivers::release(module);
        *result = VX_MMSYSERR_NOMEM;
        return nullptr;
    }
    driver->id = id;
    driver->module = module;
    driver->proc = drivers::driver_proc(module);
    VxAcmDrvOpenDesc open{};
    open.cbStruct = sizeof open;
    open.fccType = VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    open.dwVersion = VX_ACM_VERSION;
    open.pszAliasName = id->alias.data();
    const intptr_t instance =
        driver->proc(0, driver, VX_DRV_OPEN, 0, reinterpret_cast<intptr_t>(&open));
    if (instance == 0) {
        *result = open.dwError != 0 ? open.dwError : VX_MMSYSERR_ERROR;
        drivers::release(module);
        delete driver;
        return nullptr;
    }
    driver->driverId = static_cast<uintptr_t>(instance);
    *result = VX_MMSYSERR_NOERROR;
    return driver;
}

void close_driver(OpenDriver* driver) {
    if (driver == nullptr) return;
    driver->proc(driver->driverId, driver, VX_DRV_CLOSE, 0, 0);
    drivers::release(driver->module);
    delete driver;
}

DriverId* find_id(const void* handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const auto& id : tables().ids)
        if (id.get() == handle) return id.get();
    return nullptr;
}

OpenDriver* find_driver(const void* handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    return tables().drivers.count(handle) != 0 ? static_cast<OpenDriver*>(const_cast<void*>(handle))
                                               : nullptr;
}

Stream* find_stream(const void* handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    return tables().streams.count(handle) != 0 ? static_cast<Stream*>(const_cast<void*>(handle))
                                               : nullptr;
}

bool add_driver(OpenDriver* driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    try {
        tables().drivers.insert(driver);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool add_stream(Stream* stream) {
    std::lock_guard<std::mutex> guard(g_lock);
    try {
        tables().streams.insert(stream);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void remove_driver(OpenDriver* driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    tables().drivers.erase(driver);
}

void remove_stream(Stream* stream) {
    std::lock_guard<std::mutex> guard(g_lock);
    tables().streams.erase(stream);
}

}  // namespace vx::platform::acm
