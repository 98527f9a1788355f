#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

// The profile is the system's WIN.INI, which a test must not rewrite. The
// script that runs the tests in a scratch Wine prefix writes
// [Override] AVIChunkMB=<n> there first and passes <n> in this variable.
TEST(WinIniProfile, ReadsTheKeyTheRunnerWrote) {
    const char* expected = std::getenv("VX_TEST_WININI_AVICHUNKMB");
    if (expected == nullptr || expected[0] == '\0') {
        GTEST_SKIP() << "VX_TEST_WININI_AVICHUNKMB is not set: WIN.INI was not prepared";
    }
    const auto want = static_cast<uint32_t>(std::strtoul(expected, nullptr, 10));
    EXPECT_EQ(vx::platform::profile_int("Override", "AVIChunkMB", 7), want);
    EXPECT_EQ(vx::platform::profile_int("override", "avichunkmb", 7), want);
    EXPECT_EQ(vx::platform::profile_int("Override", "NoSuchKeyHere", 7), 7u);
    EXPECT_EQ(vx::platform::profile_int("NoSuchSectionHere", "AVIChunkMB", -1), 0xFFFFFFFFu);
    char text[8];
    EXPECT_EQ(vx::platform::profile_string("Override", "AVIChunkMB", "x", text, sizeof(text)),
              std::strlen(expected));
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(vx::platform::profile_string("Override", "NoSuchKeyHere", "fallback", text, 4), 3u);
    EXPECT_STREQ(text, "fal");
}

// WIN.INI of the scratch prefix holds [Override] AVIChunkMB (see the test above).
TEST(WinIniProfile, ListsTheKeysTheRunnerWrote) {
    if (std::getenv("VX_TEST_WININI_AVICHUNKMB") == nullptr)
        GTEST_SKIP() << "VX_TEST_WININI_AVICHUNKMB is not set: WIN.INI was not prepared";
    const auto keys = vx::platform::profile_keys("Override");
    ASSERT_FALSE(keys.empty());
    bool found = false;
    for (const auto& k : keys) found = found || _stricmp(k.c_str(), "AVIChunkMB") == 0;
    EXPECT_TRUE(found);
    EXPECT_TRUE(vx::platform::profile_keys("NoSuchSectionHere").empty());
}

#else  // The INI file of the Linux profile, named by VXMEDIA_PROFILE.

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vxprofileXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
        const char* old = std::getenv("VXMEDIA_PROFILE");
        if (old != nullptr) saved_ = old;
        hadSaved_ = old != nullptr;
        setenv("VXMEDIA_PROFILE", path_.c_str(), 1);
    }
    void TearDown() override {
        std::remove(path_.c_str());
        if (hadSaved_)
            setenv("VXMEDIA_PROFILE", saved_.c_str(), 1);
        else
            unsetenv("VXMEDIA_PROFILE");
    }
    void write(const std::string& text) { std::ofstream(path_) << text; }

    std::string path_, saved_;
    bool hadSaved_ = false;
};

TEST_F(ProfileTest, ReadsIntegersAndStringsByCaseInsensitiveNames) {
    write(
        "; installation settings\n[Override]\nAVIChunkMB = 16\nPreferDSCodecs=1\n"
        "[codec]\nAVICodecExclude=\"cvid,iv50\"\n");
    EXPECT_EQ(vx::platform::profile_int("override", "avichunkmb", 2048), 16u);
    EXPECT_EQ(vx::platform::profile_int("Override", "PreferDSCodecs", 0), 1u);
    char out[64];
    EXPECT_EQ(vx::platform::profile_string("CODEC", "AVICodecExclude", "", out, sizeof out), 9u);
    EXPECT_STREQ(out, "cvid,iv50");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    write("[Override]\nAVIChunkMB=16\n[Other]\nKey=5\n");
    EXPECT_EQ(vx::platform::profile_int("Override", "Missing", 2048), 2048u);
    EXPECT_EQ(vx::platform::profile_int("Missing", "AVIChunkMB", 7), 7u);
    // A key of another section is not taken.
    EXPECT_EQ(vx::platform::profile_int("Override", "Key", 3), 3u);
    std::remove(path_.c_str());
    EXPECT_EQ(vx::platform::profile_int("Override", "AVIChunkMB", 2048), 2048u);
    char out[16];
    vx::platform::profile_string("codec", "KeepOpen", "dflt", out, sizeof out);
    EXPECT_STREQ(out, "dflt");
}

TEST_F(ProfileTest, NumbersReadLeadingDigitsAndStringsAreCut) {
    write("[s]\na=12abc\nb=xyz\nc=-3\nd=0123456789abcdef\n");
    EXPECT_EQ(vx::platform::profile_int("s", "a", 0), 12u);
    EXPECT_EQ(vx::platform::profile_int("s", "b", 9), 0u);
    EXPECT_EQ(static_cast<int32_t>(vx::platform::profile_int("s", "c", 0)), -3);
    char out[5];
    EXPECT_EQ(vx::platform::profile_string("s", "d", "", out, sizeof out), 4u);
    EXPECT_STREQ(out, "0123");
}

TEST_F(ProfileTest, ListsKeysInFileOrderOnce) {
    write(
        "[Drivers32]\n; comment\nvidc.B = /b.so\n  vidc.A=/a.so\nnot a key\n"
        "[other]\nx=1\n[drivers32]\nVIDC.b=/again.so\nmsacm.c=/c.so\n");
    const auto keys = vx::platform::profile_keys("drivers32");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], "vidc.B");
    EXPECT_EQ(keys[1], "vidc.A");
    EXPECT_EQ(keys[2], "msacm.c");
    // The repeated key reads its first value.
    char value[32];
    vx::platform::profile_string("drivers32", "vidc.b", "", value, sizeof value);
    EXPECT_STREQ(value, "/b.so");
    EXPECT_TRUE(vx::platform::profile_keys("missing").empty());
    EXPECT_TRUE(vx::platform::profile_keys(nullptr).empty());
    std::remove(path_.c_str());
    EXPECT_TRUE(vx::platform::profile_keys("drivers32").empty());
}

#endif

}  // namespace
