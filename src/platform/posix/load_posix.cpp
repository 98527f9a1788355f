// The library's load and unload hooks on Linux: the equivalent of the process
// attach and detach notifications on Windows.
#include "platform/library_init.h"

namespace {

__attribute__((constructor)) void vx_on_load() { vx::library_load(); }
__attribute__((destructor)) void vx_on_unload() { vx::library_unload(); }

}  // namespace
