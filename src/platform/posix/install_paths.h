// Where an installed copy of the library keeps what it installed beside
// itself, found from the library's own location so that an installed prefix
// can be moved as a whole.
#pragma once

#include <string>

namespace vx::platform {

// The profile installed with the library (<prefix>/etc/vxmedia/profile.ini),
// read after the user's own; empty when the library's location is unknown.
// The file need not exist: a library run from its build tree has none.
std::string installed_profile_path();

// The folder of the installed codec driver modules
// (<libdir>/vxmedia/drivers), where profile entries that name a module by
// file name alone are looked up; empty when the location is unknown.
std::string installed_drivers_dir();

}  // namespace vx::platform
