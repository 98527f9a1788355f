#include <VexaInfo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_file.h"

namespace {

TEST(ErrorLog, RecordsAndReturnsTheCode) {
    VxHostErrorClear();
    const std::string longSource(100, 's');
    EXPECT_EQ(RecordAVIError(AVIERR_FILEREAD, "Src/VFW/vfw", 120), AVIERR_FILEREAD);
    EXPECT_EQ(RecordAVIError(AVIERR_MEMORY, longSource.c_str(), 7), AVIERR_MEMORY);
    EXPECT_EQ(RecordAVIError(5, nullptr, 1), 5);
    ASSERT_EQ(VxHostErrorCount(), 3u);
    VxHostErrorRecord record{};
    ASSERT_EQ(VxHostErrorGet(0, &record), 1);
    EXPECT_EQ(record.code, AVIERR_FILEREAD);
    EXPECT_EQ(record.line, 120);
    EXPECT_STREQ(record.source, "Src/VFW/vfw");
    ASSERT_EQ(VxHostErrorGet(1, &record), 1);
    EXPECT_EQ(std::string(record.source), longSource.substr(0, 63));
    EXPECT_EQ(VxHostErrorGet(3, &record), 0);
    VxHostErrorClear();
    EXPECT_EQ(VxHostErrorCount(), 0u);
}

TEST(ErrorLog, StaysBoundedKeepingTheNewest) {
    VxHostErrorClear();
    for (int i = 0; i < 5000; ++i) RecordAVIError(i, "loop", i);
    ASSERT_EQ(VxHostErrorCount(), 4096u);
    VxHostErrorRecord record{};
    ASSERT_EQ(VxHostErrorGet(0, &record), 1);
    EXPECT_EQ(record.code, 5000 - 4096);
    ASSERT_EQ(VxHostErrorGet(4095, &record), 1);
    EXPECT_EQ(record.code, 4999);
    VxHostErrorClear();
}

TEST(ErrorLog, MirrorsToTheFileNamedInTheEnvironment) {
    TempFile file;
    vxtest::set_env("VEXAINFO_ERROR_LOG", file.path().c_str());
    RecordAVIError(AVIERR_BADFORMAT, "Src/VFW/odml", 42);
    vxtest::unset_env("VEXAINFO_ERROR_LOG");
    RecordAVIError(AVIERR_BADFORMAT, "not mirrored", 1);
    EXPECT_EQ(file.contents(), "Src/VFW/odml:42 code=0x80044066\n");
    VxHostErrorClear();
}

TEST(ClassData, OneValuePerKeyAcrossThreads) {
    const uint32_t key = VX_MAKEFOURCC('t', 'e', 's', 't');
    EXPECT_EQ(GetClassData(key), nullptr);
    int a = 0, b = 0;
    SetClassData(key, &a);
    SetClassData(key + 1, &b);
    std::thread([&] { EXPECT_EQ(GetClassData(key), &a); }).join();
    EXPECT_EQ(GetClassData(key + 1), &b);
    SetClassData(key, nullptr);
    EXPECT_EQ(GetClassData(key), nullptr);
    SetClassData(key + 1, nullptr);
}

TEST(Globals, PluginFolderWithoutTrailingSeparator) {
    vxtest::set_env("VEXAINFO_PLUGIN_DIR", "/opt/plugins//");
    const char* dir = static_cast<const char*>(GetAGlobal(VXHOST_GLOBAL_PLUGIN_DIR));
    ASSERT_NE(dir, nullptr);
    EXPECT_STREQ(dir, "/opt/plugins");
    vxtest::set_env("VEXAINFO_PLUGIN_DIR", "C:\\Plugins\\");
    EXPECT_STREQ(static_cast<const char*>(GetAGlobal(225)), "C:\\Plugins");
    EXPECT_STREQ(dir, "/opt/plugins");  // earlier answers stay valid
    vxtest::unset_env("VEXAINFO_PLUGIN_DIR");
    EXPECT_EQ(GetAGlobal(225), nullptr);
    EXPECT_EQ(GetAGlobal(VXHOST_GLOBAL_DRAWDIB), nullptr);
    EXPECT_EQ(GetAGlobal(1), nullptr);
}

TEST(Globals, ReportStrings) {
    char buf[256];
    std::memset(buf, 'x', sizeof(buf));
    GetIndString(buf, 1000, 1);
    EXPECT_STREQ(buf, "Video stream");
    GetIndString(buf, 1000, VXHOST_STR_REPORT_TRUNCATED);
    EXPECT_NE(std::string(buf).find("truncated"), std::string::npos);
    for (int16_t index = 1; index <= 40; ++index) {
        GetIndString(buf, 1000, index);
        EXPECT_GT(std::strlen(buf), 0u) << index;
    }
    for (auto [list, index] :
         {std::pair<int16_t, int16_t>{1000, 0}, {1000, 41}, {1000, -2}, {999, 1}}) {
        std::memset(buf, 'x', sizeof(buf));
        GetIndString(buf, list, index);
        EXPECT_EQ(buf[0], '\0');
    }
    GetIndString(nullptr, 1000, 1);
}

std::string Text(void (*fn)(double, char*, int32_t), double value, int32_t decimals) {
    char text[80];
    std::memset(text, '#', sizeof(text));
    fn(value, text, decimals);
    EXPECT_EQ(std::string(text + 64, 16), std::string(16, '#')) << "wrote past 64 chars";
    return text;
}

std::string Bytes64(uint64_t value, int32_t decimals) {
    char text[64];
    VxBytes64ToStr(static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32), text,
                   decimals);
    return text;
}

TEST(NumberText, ByteCounts) {
    EXPECT_EQ(Bytes64(0, 2), "0 bytes");
    EXPECT_EQ(Bytes64(1, 2), "1 byte");
    EXPECT_EQ(Bytes64(1023, 2), "1023 bytes");
    EXPECT_EQ(Bytes64(1536, 2), "1.50 KB");
    EXPECT_EQ(Bytes64(1048575, 2), "1.00 MB");  // not "1024.00 KB"
    EXPECT_EQ(Bytes64(uint64_t{5} << 32, 0), "20 GB");
    EXPECT_EQ(Bytes64(UINT64_MAX, 2), "16.00 EB");
    EXPECT_EQ(Bytes64(3 * 1024, -4), "3 KB");
    EXPECT_EQ(Text(VxBytesFToStr, 2.5 * 1024 * 1024 * 1024, 3), "2.500 GB");
    EXPECT_EQ(Text(VxBytesFToStr, -2048, 1), "-2.0 KB");
    EXPECT_EQ(Text(VxBytesFToStr, 1023.7, 1), "1.0 KB");
    EXPECT_EQ(Text(VxBytesFToStr, std::nan(""), 1), "NaN bytes");
    EXPECT_FALSE(Text(VxBytesFToStr, 1e300, 10).empty());
}

TEST(NumberText, FloatsNeverOverrunTheBuffer) {
    EXPECT_EQ(Text(VxFloatToStr, 29.97, 2), "29.97");
    EXPECT_EQ(Text(VxFloatToStr, 2.0 / 3.0, 99), "0.6666666667");
    EXPECT_EQ(Text(VxFloatToStr, 12.25, -1), "12");  // decimals clamped to 0
    EXPECT_EQ(Text(VxFloatToStr, -std::numeric_limits<double>::infinity(), 2), "-inf");
    EXPECT_EQ(Text(VxFloatToStr, -1.5e300, 2), "-1.50e+300");
    EXPECT_EQ(Text(VxFloatToStr, -std::numeric_limits<double>::max(), 10), "-1.7976931349e+308");
}

constexpr int32_t kOne = 0x10000;

TEST(FixedPoint, RoundsToNearestAndSaturates) {
    EXPECT_EQ(FixedMul(3 * kOne, kOne / 2), 3 * kOne / 2);
    EXPECT_EQ(FixedMul(1, kOne / 2), 1);    // 0.5 ulp rounds away from zero
    EXPECT_EQ(FixedMul(-1, kOne / 2), -1);  // symmetric
    EXPECT_EQ(FixedMul(1, kOne / 2 - 1), 0);
    EXPECT_EQ(FixedMul(INT32_MAX, INT32_MAX), INT32_MAX);
    EXPECT_EQ(FixedMul(INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(FixedMul(INT32_MIN, INT32_MIN), INT32_MAX);

    EXPECT_EQ(FixedDiv(kOne, 3 * kOne), 21845);  // 0.33333 -> 21845.33
    EXPECT_EQ(FixedDiv(2 * kOne, 3 * kOne), 43691);
    EXPECT_EQ(FixedDiv(-2 * kOne, 3 * kOne), -43691);
    EXPECT_EQ(FixedDiv(INT32_MIN, -1), INT32_MAX);
    EXPECT_EQ(FixedDiv(5, 0), INT32_MAX);
    EXPECT_EQ(FixedDiv(-5, 0), INT32_MIN);
    EXPECT_EQ(FixedDiv(0, 0), INT32_MAX);
}

TEST(MemoryTable, HandlesKeepContentsAcrossResizes) {
    const HostMemFuncs* mem = VxHostMemFuncs();
    VxHandle h = mem->newHandleClear(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mem->memError(), 0);
    EXPECT_EQ(mem->getHandleSize(h), 16u);
    EXPECT_EQ(std::vector<char>(static_cast<char*>(*h), static_cast<char*>(*h) + 16),
              std::vector<char>(16, 0));
    std::memcpy(*h, "sixteen bytes!!", 16);
    mem->lockHandle(h);
    mem->setHandleSize(h, 100000);
    EXPECT_EQ(mem->memError(), 0);
    EXPECT_EQ(mem->getHandleSize(h), 100000u);
    EXPECT_STREQ(static_cast<char*>(*h), "sixteen bytes!!");
    mem->unlockHandle(h);

    // A request no allocator can meet fails and leaves the handle as it was.
    mem->setHandleSize(h, UINT32_MAX);
    if (mem->memError() == VXHOST_MEMFULLERR) {
        EXPECT_EQ(mem->getHandleSize(h), 100000u);
        EXPECT_STREQ(static_cast<char*>(*h), "sixteen bytes!!");
    }
    mem->setHandleSize(h, 0);
    EXPECT_EQ(mem->getHandleSize(h), 0u);
    mem->disposeHandle(h);
    mem->disposeHandle(nullptr);
    EXPECT_EQ(mem->getHandleSize(nullptr), 0u);
    EXPECT_EQ(mem->memError(), VXHOST_NILHANDLEERR);

    VxHandle empty = mem->newHandle(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(mem->getHandleSize(empty), 0u);
    mem->disposeHandle(empty);
}

TEST(MemoryTable, PlainPointersKnowTheirSize) {
    const HostMemFuncs* mem = VxHostMemFuncs();
    auto* p = static_cast<uint8_t*>(mem->newPtrClear(33));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(mem->getPtrSize(p), 33u);
    EXPECT_EQ(p[0] | p[32], 0);
    mem->disposePtr(p);
    void* zero = mem->newPtr(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(mem->getPtrSize(zero), 0u);
    mem->disposePtr(zero);
    mem->disposePtr(nullptr);
    EXPECT_EQ(mem->getPtrSize(nullptr), 0u);
}

}  // namespace
