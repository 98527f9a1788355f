// The codec manager's table of loaded driver modules on Linux: each module is
// loaded once per process (dlopen, DRV_LOAD, DRV_ENABLE), kept while the
// process runs, and released at library unload or process exit. One
// process-wide lock guards the table; the DRV_LOAD/ENABLE/DISABLE/FREE calls
// are made under it.
#pragma once

#include <vxmedia/driver.h>

#include <string>

namespace vx::platform::drivers {

struct Module;

// The module at `path`, loaded on first use, with one more use taken on it.
// Null when it cannot be loaded, has no DriverProc or refuses DRV_LOAD.
Module* acquire(const std::string& path);

// Gives back a use of acquire.
void release(Module* module);

VxDriverProc driver_proc(const Module* module);

// Sends DRV_DISABLE and DRV_FREE to every module without uses and unloads
// it (at process exit it stays mapped). Modules still in use stay loaded.
// Safe to call more than once.
void unload_unused();

}  // namespace vx::platform::drivers
