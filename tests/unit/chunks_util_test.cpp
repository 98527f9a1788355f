// Memory blocks, the byte fill and the error-code tables.
#include <gtest/gtest.h>
#include <vxmedia/vxutil.h>

#include <cstdint>
#include <cstring>

TEST(VxUtil, ErrorCodesRoundTripAndRejectUnknownCodes) {
    for (int32_t code = 0; code <= 24; ++code) {
        EXPECT_EQ(SuiteErrorToCompilerError(CompilerErrorToSuiteError(code)), code) << code;
    }
    EXPECT_EQ(CompilerErrorToSuiteError(1), static_cast<int32_t>(0x80030000u));
    EXPECT_EQ(CompilerErrorToSuiteError(5), 0x00030004);
    EXPECT_EQ(CompilerErrorToSuiteError(24), static_cast<int32_t>(0x8003000Eu));
    EXPECT_EQ(CompilerErrorToSuiteError(25), 0);
    EXPECT_EQ(CompilerErrorToSuiteError(-1), 0);
    EXPECT_EQ(SuiteErrorToCompilerError(0x00030003), 0);  // no compiler code gives it
    EXPECT_EQ(SuiteErrorToCompilerError(static_cast<int32_t>(0x8003000Fu)), 0);
    EXPECT_EQ(SuiteErrorToCompilerError(0x0003000B), 0);
}

TEST(VxUtil, FillWritesWordsThenTailBytesOfTheLowByte) {
    unsigned char buf[12];
    std::memset(buf, 0xAB, sizeof buf);
    VxFillMem(buf + 1, 7, 0x1FF);  // an unaligned start, one word and three bytes
    EXPECT_EQ(buf[0], 0xAB);
    for (int i = 1; i <= 7; ++i) EXPECT_EQ(buf[i], 0xFF) << i;
    EXPECT_EQ(buf[8], 0xAB);
    VxFillMem(buf, 0, 0);
    EXPECT_EQ(buf[0], 0xAB);
}

TEST(VxUtil, AllocatedBlocksAreZeroFilledAndDisposable) {
    VxDisposeData(nullptr);  // no effect
    for (uint32_t size : {1u, 7u, 4096u, 100000u}) {
        auto* p = static_cast<unsigned char*>(VxAllocData(size));
        ASSERT_NE(p, nullptr) << size;
        uint32_t nonZero = 0;
        for (uint32_t i = 0; i < size; ++i) nonZero += p[i] != 0;
        EXPECT_EQ(nonZero, 0u) << size;
        std::memset(p, 0xCC, size);
        VxDisposeData(p);
    }
    VxDisposeData(VxAllocData(0));  // whatever the platform gives is disposable
}
