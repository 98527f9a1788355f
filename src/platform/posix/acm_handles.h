// The Linux audio compression manager's handles: driver ids (one per
// "msacm.NAME" key of the profile section "drivers32", kept for the life of
// the process), open drivers (an instance of a driver module opened with
// DRV_OPEN) and conversion streams. A handle from a caller is only used
// after it was found among the live ones, so a stale or made-up handle gets
// MMSYSERR_INVALHANDLE instead of a wild pointer. Modules are loaded through
// the codec manager's module table (driver_modules.h).
#pragma once

#include <vxmedia/acm_driver.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/driver_modules.h"

namespace vx::platform::acm {

struct DriverId {
    std::string key;  // "msacm.NAME" as the profile spells it
    std::string path;
    std::vector<uint16_t> alias;  // the key, NUL-terminated, for DRV_OPEN
    // The driver's own details, asked once: a module stays loaded for the
    // life of the process, and so does what it says about itself.
    bool haveDetails = false;
    VxAcmDriverDetailsW details{};
};

struct OpenDriver {
    DriverId* id = nullptr;
    drivers::Module* module = nullptr;
    VxDriverProc proc = nullptr;
    uintptr_t driverId = 0;
    unsigned streams = 0;  // open streams on it; it cannot close before them

    uint32_t send(uint32_t message, intptr_t p1, intptr_t p2);
};

// A header prepared on a stream: the caller's record and the driver's.
struct PreparedHeader {
    const void* caller = nullptr;
    VxAcmDrvStreamHeader driver{};
};

struct Stream {
    OpenDriver* driver = nullptr;
    bool ownsDriver = false;           // opened for the stream (no driver was named)
    std::vector<uint8_t> source;       // copies of the formats, which the
    std::vector<uint8_t> destination;  // driver may read until the close
    VxAcmDrvStreamInstance instance{};
    std::vector<std::unique_ptr<PreparedHeader>> prepared;
};

// The enabled drivers in profile order (modules that cannot be loaded or
// give no details are left out), with their details. Throws std::bad_alloc.
std::vector<DriverId*> enabled_drivers();

// The driver's details, asked of an instance opened for the purpose on the
// first call; false when its module cannot be loaded or opened.
bool driver_details(DriverId* id, VxAcmDriverDetailsW* details);

// An open instance of the driver, or null with *result set.
OpenDriver* open_driver(DriverId* id, uint32_t* result);
// DRV_CLOSE and the module's use given back; the record is freed.
void close_driver(OpenDriver* driver);

// Registration of live handles; lookups give null for anything else.
DriverId* find_id(const void* handle);
OpenDriver* find_driver(const void* handle);
Stream* find_stream(const void* handle);
// False when out of memory (then nothing was registered).
bool add_driver(OpenDriver* driver);
bool add_stream(Stream* stream);
void remove_driver(OpenDriver* driver);
void remove_stream(Stream* stream);

}  // namespace vx::platform::acm
