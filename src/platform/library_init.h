// Process-wide state created when the library is loaded and destroyed when it
// is unloaded. The platform's load hook (a constructor on Linux, DllMain on
// Windows) calls these.
#pragma once

namespace vx {

void library_load();
void library_unload();

}  // namespace vx
