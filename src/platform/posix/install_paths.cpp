#include "platform/posix/install_paths.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>

// The build system passes where the install puts things, relative to the
// library's folder; a build that is never installed keeps these defaults.
#ifndef VX_LIBDIR_TO_PREFIX
#define VX_LIBDIR_TO_PREFIX ".."
#endif
#ifndef VX_SYSCONFDIR
#define VX_SYSCONFDIR "etc"
#endif
#ifndef VX_DRIVERS_SUBDIR
#define VX_DRIVERS_SUBDIR "vxmedia/drivers"
#endif

namespace vx::platform {

namespace {

// The folder of the module this code is linked into: the shared library, or
// the program for code linked statically.
std::string own_dir() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_dir), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::unique_ptr<char, decltype(&std::free)> real(realpath(info.dli_fname, nullptr), &std::free);
    if (!real) return {};
    std::string path = real.get();
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::string installed_profile_path() {
    const std::string dir = own_dir();
    if (dir.empty()) return {};
    const std::string sysconf = VX_SYSCONFDIR;
    const std::string base = sysconf.front() == '/' ? sysconf : dir + "/" VX_LIBDIR_TO_PREFIX "/" + sysconf;
    return base + "/vxmedia/profile.ini";
}

std::string installed_drivers_dir() {
    const std::string dir = own_dir();
    return dir.empty() ? std::string() : dir + "/" VX_DRIVERS_SUBDIR;
}

}  // namespace vx::platform
