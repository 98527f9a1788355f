// A profile that installs one driver module for a fuzz target, as a host
// installs it, in a folder of its own removed at exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace vxfuzz {

class DriverProfile {
public:
    // `key` is the [drivers32] key ("vidc.lavc"), `module` the module's path.
    DriverProfile(const char* target, const char* key, const char* module) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + target + "_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            die(target, "cannot create a folder for the profile");
        dir_ = pattern;
        file_ = dir_ + "/profile.ini";
        std::ofstream(file_) << "[drivers32]\n" << key << "=" << module << "\n";
        if (::access(module, R_OK) != 0) die(target, "the driver module is not built");
        if (::setenv("VXMEDIA_PROFILE", file_.c_str(), 1) != 0) die(target, "setenv failed");
    }
    ~DriverProfile() {
        ::unlink(file_.c_str());
        ::rmdir(dir_.c_str());
    }
    DriverProfile(const DriverProfile&) = delete;
    DriverProfile& operator=(const DriverProfile&) = delete;

private:
    [[noreturn]] static void die(const char* target, const char* what) {
        std::fprintf(stderr, "%s: %s\n", target, what);
        std::abort();
    }
    std::string dir_, file_;
};

}  // namespace vxfuzz
