// Driver modules of the Linux codec manager: loaded with dlopen on first use,
// driven through their exported DriverProc.
#include "platform/posix/driver_modules.h"

#include "platform/posix/install_paths.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <new>

namespace vx::platform::drivers {

struct Module {
    std::string path;
    void* library = nullptr;
    VxDriverProc proc = nullptr;
    unsigned uses = 0;  // open instances and opens in progress
    Module* next = nullptr;
};

namespace {

// Constant-initialized and trivially destroyed: usable from exit handlers and
// the unload hook whatever the order of static destruction.
std::mutex g_lock;
Module* g_modules = nullptr;  // load order, newest first
bool g_exiting = false;

// At process exit the modules get DRV_DISABLE and DRV_FREE but stay mapped:
// unmapping gains nothing then, and would hide from leak checkers the blocks
// that the modules' own libraries still reach from their globals.
//
// The same handler also runs when the library itself is unloaded with
// dlclose, but only after its unload hook, which has released every module
// that was not in use by then.
void release_at_exit() {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_exiting = true;
    }
    unload_unused();
}

// A module named by file name alone is the installed one when there is one,
// as a system folder is searched first on Windows; otherwise dlopen's own
// search decides.
std::string module_file(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const std::string dir = installed_drivers_dir();
    if (dir.empty()) return name;
    std::string installed = dir + "/" + name;
    return access(installed.c_str(), R_OK) == 0 ? installed : name;
}

Module* find_locked(const std::string& path, void* library) {
    for (Module* m = g_modules; m != nullptr; m = m->next) {
        if ((!path.empty() && m->path == path) || (library != nullptr && m->library == library))
            return m;
    }
    return nullptr;
}

}  // namespace

Module* acquire(const std::string& path) {
    if (path.empty()) return nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    if (Module* m = find_locked(path, nullptr)) {
        ++m->uses;
        return m;
    }
    std::string file;
    try {
        file = module_file(path);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    // Another name of a module already loaded: dlopen counted one more
    // reference, which is not needed.
    if (Module* m = find_locked({}, library)) {
        dlclose(library);
        ++m->uses;
        return m;
    }
    auto proc = reinterpret_cast<VxDriverProc>(dlsym(library, "DriverProc"));
    auto* m = proc != nullptr ? new (std::nothrow) Module : nullptr;
    if (m == nullptr) {
        dlclose(library);
        return nullptr;
    }
    try {
        m->path = path;
    } catch (const std::bad_alloc&) {
        delete m;
        dlclose(library);
        return nullptr;
    }
    m->library = library;
    m->proc = proc;
    if (proc(0, m, VX_DRV_LOAD, 0, 0) == 0) {
        delete m;
        dlclose(library);
        return nullptr;
    }
    proc(0, m, VX_DRV_ENABLE, 0, 0);
    m->uses = 1;
    m->next = g_modules;
    g_modules = m;
    // Exit handlers run in reverse order of registration, so this one runs
    // before the module's own static destructors (registered while it was
    // loaded): DRV_DISABLE and DRV_FREE still find the module intact. At the
    // library's own unload the unload hook does the same; whichever runs
    // first releases the modules.
    std::atexit(release_at_exit);
    return m;
}

void release(Module* module) {
    if (module == nullptr) return;
    std::lock_guard<std::mutex> guard(g_lock);
    if (module->uses > 0) --module->uses;
}

VxDriverProc driver_proc(const Module* module) { return module->proc; }

void unload_unused() {
    std::lock_guard<std::mutex> guard(g_lock);
    Module** link = &g_modules;
    while (Module* m = *link) {
        if (m->uses != 0) {
            link = &m->next;
            continue;
        }
        *link = m->next;
        m->proc(0, m, VX_DRV_DISABLE, 0, 0);
        m->proc(0, m, VX_DRV_FREE, 0, 0);
        if (!g_exiting) dlclose(m->library);
        delete m;
    }
}

}  // namespace vx::platform::drivers
