#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "temp_file.h"

namespace {

class FileCalls : public ::testing::Test {
protected:
    void TearDown() override { VxHostClearFaults(); }
};

TEST_F(FileCalls, SequentialReadAndWriteAdvanceThePointer) {
    TempFile file("0123456789");
    char buf[4] = {};
    ASSERT_EQ(VxRead(file.handle(), buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(file.position(), 4);
    ASSERT_EQ(VxWrite(file.handle(), "ab", 2), 0);
    EXPECT_EQ(file.position(), 6);
    EXPECT_EQ(file.contents(), "0123ab6789");
}

TEST_F(FileCalls, ShortReadAtEndIsAnErrorButMovesWhatThereIs) {
    TempFile file("xyz");
    char buf[8] = {};
    EXPECT_EQ(VxRead(file.handle(), buf, 8), VXHOST_EOFERR);
    EXPECT_EQ(std::string(buf), "xyz");
    int64_t pos = 1;
    EXPECT_EQ(VxPRead(file.handle(), buf, 5, &pos), VXHOST_EOFERR);
    EXPECT_EQ(file.position(), 3);
}

TEST_F(FileCalls, PositionedTransfersLeaveThePointerAfterTheBytes) {
    TempFile file("0123456789");
    char buf[3] = {};
    int64_t pos = 5;
    ASSERT_EQ(VxPRead(file.handle(), buf, 3, &pos), 0);
    EXPECT_EQ(std::string(buf, 3), "567");
    EXPECT_EQ(file.position(), 8);

    pos = 12;  // beyond the end: the gap reads back as zeros
    ASSERT_EQ(VxPWrite(file.handle(), "XY", 2, &pos), 0);
    EXPECT_EQ(file.position(), 14);
    EXPECT_EQ(file.contents(), std::string("0123456789\0\0XY", 14));

    pos = 2;
    ASSERT_EQ(VxPRead(file.handle(), buf, 0, &pos), 0);
    EXPECT_EQ(file.position(), 2);
}

TEST_F(FileCalls, BadArgumentsFailWithoutCrashing) {
    TempFile file("abc");
    char buf[4];
    int64_t pos = 0;
    const int64_t negative = -1;
    const int64_t huge = INT64_MAX - 1;
    EXPECT_EQ(VxRead(file.handle(), nullptr, 1), VXHOST_PARAMERR);
    EXPECT_EQ(VxWrite(file.handle(), nullptr, 1), VXHOST_PARAMERR);
    EXPECT_EQ(VxPRead(file.handle(), buf, 1, nullptr), VXHOST_PARAMERR);
    EXPECT_EQ(VxPRead(file.handle(), buf, 1, &negative), VXHOST_PARAMERR);
    EXPECT_EQ(VxPWrite(file.handle(), buf, 4, &huge), VXHOST_PARAMERR);
    EXPECT_NE(VxRead(INVALID_HANDLE_VALUE, buf, 1), 0);
#if INTPTR_MAX > INT32_MAX
    const auto notAFile = static_cast<intptr_t>(intptr_t{1} << 40);
#else
    const auto notAFile = static_cast<intptr_t>(0x7FFFFF00);
#endif
    EXPECT_NE(VxPWrite(reinterpret_cast<HANDLE>(notAFile), buf, 1, &pos), 0);
    EXPECT_NE(SetFilePointer64(file.handle(), nullptr, nullptr, 3), 0);
}

TEST_F(FileCalls, SetFilePointer64Methods) {
    TempFile file("0123456789");
    int64_t at = -1;
    const int64_t four = 4, back = -3;
    ASSERT_EQ(SetFilePointer64(file.handle(), &four, &at, 0), 0);
    EXPECT_EQ(at, 4);
    ASSERT_EQ(SetFilePointer64(file.handle(), &four, &at, 1), 0);
    EXPECT_EQ(at, 8);
    ASSERT_EQ(SetFilePointer64(file.handle(), &back, &at, 2), 0);
    EXPECT_EQ(at, 7);
    ASSERT_EQ(SetFilePointer64(file.handle(), nullptr, &at, 1), 0);  // null distance = query
    EXPECT_EQ(at, 7);
    const int64_t beforeStart = -20;
    EXPECT_NE(SetFilePointer64(file.handle(), &beforeStart, &at, 1), 0);
    EXPECT_EQ(file.position(), 7);
}

TEST_F(FileCalls, InjectedFaultsHitTheChosenCallOnly) {
    TempFile file("0123456789");
    char buf[2];
    VxHostInjectFault(VX_FAULT_READ, 1);
    const uint64_t before = VxHostReadCalls();
    EXPECT_EQ(VxRead(file.handle(), buf, 2), 0);
    EXPECT_EQ(VxRead(file.handle(), buf, 2), VXHOST_IOERR);
    EXPECT_EQ(VxRead(file.handle(), buf, 2), 0);  // one fault per injection
    EXPECT_EQ(VxHostReadCalls() - before, 3u);

    VxHostInjectFault(VX_FAULT_SEEK, 0);
    EXPECT_EQ(SetFilePointer64(file.handle(), nullptr, nullptr, 0), VXHOST_IOERR);

    VxHostInjectFault(VX_FAULT_SHORT_WRITE, 0);
    int64_t pos = 0;
    EXPECT_EQ(VxPWrite(file.handle(), "abcd", 4, &pos), VXHOST_IOERR);
    EXPECT_EQ(file.contents(), "ab23456789");
    EXPECT_EQ(file.position(), 2);

    VxHostInjectFault(VX_FAULT_WRITE, 0);
    VxHostClearFaults();
    EXPECT_EQ(VxWrite(file.handle(), "z", 1), 0);
}

TEST_F(FileCalls, MaxFileSizeIsFreeSpaceCappedByTheEnvironment) {
    vxtest::unset_env("VEXAINFO_MAX_FILE_SIZE");
    const uint64_t free = VxGetMaxFileSize("/tmp");
    EXPECT_GT(free, 0u);
    // A file that does not exist yet is judged by its folder.
    EXPECT_GT(VxGetMaxFileSize("/tmp/vexainfo-not-there.avi"), 0u);
    EXPECT_GT(VxGetMaxFileSize(""), 0u);
    EXPECT_EQ(VxGetMaxFileSize("/no/such/folder/file.avi"), 0u);

    vxtest::set_env("VEXAINFO_MAX_FILE_SIZE", "1000");
    EXPECT_EQ(VxGetMaxFileSize("/tmp"), 1000u);
    vxtest::set_env("VEXAINFO_MAX_FILE_SIZE", "12abc");  // not a number: ignored
    EXPECT_GT(VxGetMaxFileSize("/tmp"), 1000u);
    vxtest::set_env("VEXAINFO_MAX_FILE_SIZE", "-5");
    EXPECT_GT(VxGetMaxFileSize("/tmp"), 1000u);
    vxtest::unset_env("VEXAINFO_MAX_FILE_SIZE");
}

}  // namespace
