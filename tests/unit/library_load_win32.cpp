// The unit tests link the library's objects into the test program, where no
// DllMain runs. Do what the DLL's process attach and detach would do.
#ifdef _WIN32
#include "platform/library_init.h"

namespace {

struct ProcessAttach {
    ProcessAttach() { vx::library_load(); }
    ~ProcessAttach() { vx::library_unload(); }
};
const ProcessAttach g_attach;

}  // namespace
#endif
