#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "temp_file.h"

namespace {

class RefnumCalls : public ::testing::Test {
protected:
    void TearDown() override { VxHostClearFaults(); }

    int16_t Open(const TempFile& file, int8_t permission = -1) {
        int16_t ref = 0;
        EXPECT_EQ(HOpen(0, 0, file.path().c_str(), permission, &ref), 0);
        EXPECT_GT(ref, 0);
        return ref;
    }
};

TEST_F(RefnumCalls, ReadWriteAndSeekAtTheMark) {
    TempFile file("0123456789");
    const int16_t ref = Open(file);
    char buf[8] = {};
    int32_t count = 3;
    ASSERT_EQ(FSRead(ref, &count, buf), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::string(buf, 3), "012");

    ASSERT_EQ(SetFPos(ref, 3, 2), 0);  // relative to the mark
    count = 2;
    ASSERT_EQ(FSWrite(ref, &count, "ab"), 0);
    EXPECT_EQ(file.contents(), "01234ab789");

    ASSERT_EQ(SetFPos(ref, 2, -2), 0);
    count = 2;
    ASSERT_EQ(FSRead(ref, &count, buf), 0);
    EXPECT_EQ(std::string(buf, 2), "89");

    ASSERT_EQ(SetFPos(ref, 1, 1), 0);
    count = 1;
    ASSERT_EQ(FSRead(ref, &count, buf), 0);
    EXPECT_EQ(buf[0], '1');
    EXPECT_EQ(FSClose(ref), 0);
}

TEST_F(RefnumCalls, EndOfFileAndBadPositions) {
    TempFile file("abcdef");
    const int16_t ref = Open(file);
    ASSERT_EQ(SetFPos(ref, 1, 4), 0);
    char buf[16] = {};
    int32_t count = 16;
    EXPECT_EQ(FSRead(ref, &count, buf), VXHOST_EOFERR);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::string(buf, 2), "ef");
    count = 1;
    EXPECT_EQ(FSRead(ref, &count, buf), VXHOST_EOFERR);
    EXPECT_EQ(count, 0);

    EXPECT_EQ(SetFPos(ref, 3, -7), VXHOST_POSERR);  // mark stays at 6
    EXPECT_EQ(SetFPos(ref, 3, -1), 0);
    EXPECT_EQ(SetFPos(ref, 1, 100), VXHOST_EOFERR);  // clamped to the end
    count = 1;
    EXPECT_EQ(FSRead(ref, &count, buf), VXHOST_EOFERR);
    EXPECT_EQ(SetFPos(ref, 9, 0), VXHOST_PARAMERR);
    count = -1;
    EXPECT_EQ(FSRead(ref, &count, buf), VXHOST_PARAMERR);
    EXPECT_EQ(FSRead(ref, nullptr, buf), VXHOST_PARAMERR);
    EXPECT_EQ(FSClose(ref), 0);
}

TEST_F(RefnumCalls, BadReferencesAndNames) {
    int16_t ref = 99;
    EXPECT_EQ(HOpen(0, 0, "/tmp/vexainfo-no-such-file", -1, &ref), VXHOST_FNFERR);
    EXPECT_EQ(ref, 0);
    EXPECT_EQ(HOpen(0, 0, "/tmp", -1, &ref), VXHOST_FNFERR);  // a folder is not a file
    EXPECT_EQ(HOpen(0, 0, nullptr, -1, &ref), VXHOST_PARAMERR);
    EXPECT_EQ(HOpen(0, 0, "/tmp/x", -1, nullptr), VXHOST_PARAMERR);

    char buf[1];
    int32_t count = 1;
    for (int16_t bad : {int16_t{0}, int16_t{-3}, int16_t{32000}}) {
        EXPECT_EQ(FSRead(bad, &count, buf), VXHOST_RFNUMERR);
        EXPECT_EQ(FSWrite(bad, &count, buf), VXHOST_RFNUMERR);
        EXPECT_EQ(SetFPos(bad, 1, 0), VXHOST_RFNUMERR);
        EXPECT_EQ(FSClose(bad), VXHOST_RFNUMERR);
    }
    TempFile file("x");
    const int16_t closed = Open(file);
    ASSERT_EQ(FSClose(closed), 0);
    EXPECT_EQ(FSClose(closed), VXHOST_RFNUMERR);
}

TEST_F(RefnumCalls, ReadOnlyAccessRefusesWrites) {
    TempFile file("data");
    const int16_t readOnly = Open(file, 1);
    int32_t count = 1;
    EXPECT_EQ(FSWrite(readOnly, &count, "z"), VXHOST_WRPERMERR);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(FSClose(readOnly), 0);

    ASSERT_TRUE(vxtest::make_read_only(file.path()));
    if (const HANDLE probe = vxtest::open_file(file.path(), vxtest::Access::kReadWrite);
        probe != INVALID_HANDLE_VALUE) {
        vxtest::close_file(probe);
        GTEST_SKIP() << "file permissions are not enforced here (root)";
    }
    const int16_t asAllowed = Open(file);  // falls back to read-only
    count = 1;
    EXPECT_EQ(FSWrite(asAllowed, &count, "z"), VXHOST_WRPERMERR);
    count = 4;
    char buf[4];
    EXPECT_EQ(FSRead(asAllowed, &count, buf), 0);
    int16_t other = 0;
    EXPECT_EQ(HOpen(0, 0, file.path().c_str(), 3, &other), VXHOST_PERMERR);
    EXPECT_EQ(FSClose(asAllowed), 0);
}

TEST_F(RefnumCalls, FaultsAndShortWrites) {
    TempFile file("0123");
    const int16_t ref = Open(file);
    char buf[4];
    int32_t count = 2;
    VxHostInjectFault(VX_FAULT_READ, 0);
    EXPECT_EQ(FSRead(ref, &count, buf), VXHOST_IOERR);
    EXPECT_EQ(count, 0);
    VxHostInjectFault(VX_FAULT_SHORT_WRITE, 0);
    count = 4;
    EXPECT_EQ(FSWrite(ref, &count, "abcd"), VXHOST_IOERR);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(file.contents(), "ab23");
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    EXPECT_EQ(SetFPos(ref, 1, 0), VXHOST_IOERR);
    EXPECT_EQ(FSClose(ref), 0);
}

TEST_F(RefnumCalls, ConcurrentReferencesKeepTheirOwnMarks) {
    TempFile file(std::string(4096, 'q'));
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            int16_t ref = 0;
            if (HOpen(0, 0, file.path().c_str(), 1, &ref) != 0) {
                ++failures[t];
                return;
            }
            char buf[64];
            for (int i = 0; i < 64; ++i) {
                int32_t count = 64;
                if (FSRead(ref, &count, buf) != 0 || count != 64) ++failures[t];
            }
            FSClose(ref);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
