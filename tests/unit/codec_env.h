// The test codec "VXTS" installed for one test: on Linux through a scratch
// profile whose [drivers32] names the driver module (or whatever profile text
// the test gives), on Windows as a codec function of this program. Counters
// come from the codec itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "test_codec.h"

#ifdef _WIN32
#include <vfw.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace vxtest {

class TestCodecEnv {
public:
    // `profile`: the Linux profile's text; null for one naming the test codec.
    explicit TestCodecEnv(const char* profile = nullptr) {
#ifdef _WIN32
        (void)profile;
        installed_ =
            ICInstall(ICTYPE_VIDEO, VX_TEST_CODEC_FOURCC, reinterpret_cast<LPARAM>(&DriverProc),
                      nullptr, ICINSTALL_FUNCTION) != FALSE;
        counts_ = &vx_test_codec_counts;
        reset_ = &vx_test_codec_reset;
#else
        // The module the codec manager loads: dlopen gives back the same one.
        module_ = dlopen(VX_TEST_CODEC_PATH, RTLD_NOW | RTLD_LOCAL);
        if (module_ != nullptr) {
            counts_ = reinterpret_cast<VxTestCodecCountsFn>(dlsym(module_, "vx_test_codec_counts"));
            reset_ = reinterpret_cast<VxTestCodecResetFn>(dlsym(module_, "vx_test_codec_reset"));
        }
        if (const char* old = std::getenv("VXMEDIA_PROFILE")) saved_ = old, hadProfile_ = true;
        char name[] = "/tmp/vxcodecenvXXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
            profile_ = name;
            write_profile(profile ? profile : "[drivers32]\nvidc.VXTS=" VX_TEST_CODEC_PATH "\n");
            setenv("VXMEDIA_PROFILE", profile_.c_str(), 1);
        }
#endif
        if (reset_ != nullptr) reset_();
    }
    ~TestCodecEnv() {
#ifdef _WIN32
        if (installed_) ICRemove(ICTYPE_VIDEO, VX_TEST_CODEC_FOURCC, 0);
#else
        if (!profile_.empty()) std::remove(profile_.c_str());
        if (hadProfile_)
            setenv("VXMEDIA_PROFILE", saved_.c_str(), 1);
        else
            unsetenv("VXMEDIA_PROFILE");
        if (module_ != nullptr) dlclose(module_);
#endif
    }
    TestCodecEnv(const TestCodecEnv&) = delete;
    TestCodecEnv& operator=(const TestCodecEnv&) = delete;

    bool ready() const {
#ifdef _WIN32
        if (!installed_) return false;
#else
        if (module_ == nullptr || profile_.empty()) return false;
#endif
        return counts_ != nullptr && reset_ != nullptr;
    }
    void reset() const {
        if (reset_ != nullptr) reset_();
    }
    VxTestCodecCounts counts() const {
        VxTestCodecCounts c{};
        if (counts_ != nullptr) counts_(&c);
        return c;
    }
#ifndef _WIN32
    const std::string& profile() const { return profile_; }
    void write_profile(const std::string& text) const { std::ofstream(profile_) << text; }
#endif

private:
    VxTestCodecCountsFn counts_ = nullptr;
    VxTestCodecResetFn reset_ = nullptr;
#ifdef _WIN32
    bool installed_ = false;
#else
    void* module_ = nullptr;
    std::string profile_, saved_;
    bool hadProfile_ = false;
#endif
};

// A compressed frame of the test codec: 'K' sets every pixel, 'D' adds.
inline std::string vxts_frame(char op, uint8_t b, uint8_t g, uint8_t r) {
    return std::string{op, static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
}

}  // namespace vxtest
