// Tests through the libavcodec driver module, installed by a profile of the
// test's own, that compare with ffmpeg's pictures.
#pragma once

#ifdef VX_LAVC_DRIVER_PATH

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "media_files.h"
#include "test_support.h"

namespace vxtest {

class DriverProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
        const char* old = std::getenv("VXMEDIA_PROFILE");
        if (old != nullptr) saved_ = old, hadProfile_ = true;
        // As installed: the catch-all decompressor first, then the
        // compressors and the audio drivers.
        std::ofstream profile(dir_.file("profile.ini"));
        profile << "[drivers32]\nvidc.lavc=" VX_LAVC_DRIVER_PATH "\n";
        for (const char* code : {"MJPG", "FMP4", "FFV1", "HFYU", "dvsd", "MSVC", "cvid"})
            profile << "vidc." << code << "=" VX_LAVC_DRIVER_PATH "\n";
#ifdef VX_MSACM_LAVC_PATH
        profile << "msacm.lavc=" VX_MSACM_LAVC_PATH "\nmsacm.pcm=" VX_MSACM_PCM_PATH "\n";
#endif
        profile.close();
        setenv("VXMEDIA_PROFILE", dir_.file("profile.ini").c_str(), 1);
    }
    void TearDown() override {
        if (hadProfile_)
            setenv("VXMEDIA_PROFILE", saved_.c_str(), 1);
        else
            unsetenv("VXMEDIA_PROFILE");
    }

    // Runs vxavi with this profile.
    CommandResult vxavi(const std::string& args) const {
        return run_command("VXMEDIA_PROFILE=" + shell_quote(dir_.file("profile.ini")) + " " +
                           VXAVI_PATH + " " + args);
    }
    // ffmpeg's pictures of `input` (through `filter`, output options) in
    // blue, green and red bytes, top row first, picture after picture.
    static std::string ffmpeg_bgr(const std::string& input,
                                  const std::string& filter = "-fps_mode passthrough") {
        const CommandResult run = run_command("ffmpeg -v error -nostdin -i " + shell_quote(input) +
                                              " " + filter + " -f rawvideo -pix_fmt bgr24 -");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.out;
    }

    TempDir dir_;
    std::string saved_;
    bool hadProfile_ = false;
};

}  // namespace vxtest

#endif
