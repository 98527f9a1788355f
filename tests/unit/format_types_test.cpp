// Handler/bitmap type lookups in the host's video codec list, and text
// appended to host handles.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxformats.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr FOURCC Fcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

class FormatTypes : public ::testing::Test {
protected:
    void TearDown() override {
        SetClassData(VX_CLASS_VIDEO_CODECS, nullptr);
        if (list_ != nullptr) mem_->disposeHandle(list_);
    }
    // Installs a codec list of (handler, bitmap) records, plus `extra` bytes.
    void install(const std::vector<std::pair<FOURCC, FOURCC>>& codecs, uint32_t extra = 0) {
        const uint32_t size = static_cast<uint32_t>(codecs.size()) * VX_CODEC_ENTRY_SIZE + extra;
        list_ = mem_->newHandleClear(size);
        ASSERT_NE(list_, nullptr);
        auto* bytes = static_cast<uint8_t*>(*list_);
        for (size_t i = 0; i < codecs.size(); ++i) {
            uint8_t* r = bytes + i * VX_CODEC_ENTRY_SIZE;
            std::memset(r, 0xEE, VX_CODEC_ENTRY_SIZE);
            for (int b = 0; b < 4; ++b) {
                r[VX_CODEC_ENTRY_HANDLER + b] = uint8_t(codecs[i].first >> (8 * b));
                r[VX_CODEC_ENTRY_BITMAP + b] = uint8_t(codecs[i].second >> (8 * b));
            }
        }
        SetClassData(VX_CLASS_VIDEO_CODECS, list_);
    }

    const HostMemFuncs* mem_ = VxHostMemFuncs();
    VxHandle list_ = nullptr;
};

TEST_F(FormatTypes, LooksCodesUpInBothDirectionsFirstRecordWinning) {
    EXPECT_EQ(FccType2BiType(Fcc("nvsd"), mem_), Fcc("dvsd")) << "no list needed";
    EXPECT_EQ(FccType2BiType(Fcc("pvsd"), nullptr), Fcc("dvsd"));
    EXPECT_EQ(FccType2BiType(Fcc("cvid"), mem_), 0u) << "no list";

    install({{Fcc("cvid"), Fcc("CVID")},
             {Fcc("mjpg"), Fcc("MJPG")},
             {Fcc("cvid"), Fcc("XXXX")},
             {Fcc("yyyy"), Fcc("MJPG")}},
            VX_CODEC_ENTRY_SIZE - 1);
    EXPECT_EQ(FccType2BiType(Fcc("cvid"), mem_), Fcc("CVID"));
    EXPECT_EQ(FccType2BiType(Fcc("mjpg"), mem_), Fcc("MJPG"));
    EXPECT_EQ(BiType2FccType(Fcc("MJPG"), mem_), Fcc("mjpg"));
    EXPECT_EQ(BiType2FccType(Fcc("XXXX"), mem_), Fcc("cvid"));
    EXPECT_EQ(FccType2BiType(Fcc("none"), mem_), 0u);
    EXPECT_EQ(BiType2FccType(Fcc("nvsd"), mem_), 0u) << "the DV case is one way only";
    // The filler bytes of a partial record are never read as a record.
    EXPECT_EQ(FccType2BiType(0xEEEEEEEEu, mem_), 0u);
}

TEST_F(FormatTypes, AListOfLessThanOneRecordIsEmpty) {
    install({}, VX_CODEC_ENTRY_SIZE - 1);
    auto* bytes = static_cast<uint8_t*>(*list_);
    std::memcpy(bytes + VX_CODEC_ENTRY_HANDLER, "cvid", 4);
    EXPECT_EQ(FccType2BiType(Fcc("cvid"), mem_), 0u);
    EXPECT_EQ(BiType2FccType(0, mem_), 0u);
}

std::string text_of(VxHandle h) { return static_cast<const char*>(*h); }

TEST(HandleText, AppendsTextsAndStrings) {
    const HostMemFuncs* mem = VxHostMemFuncs();
    VxHandle h = mem->newHandle(0);
    ASSERT_NE(h, nullptr);
    uint32_t length = 0;
    EXPECT_EQ(AddHandleText(h, &length, "ab", mem), 2u);
    EXPECT_EQ(AddHandleText(h, &length, "", mem), 0u);
    EXPECT_EQ(mem->getHandleSize(h), 3u) << "an empty text changes nothing";
    EXPECT_EQ(AddHandleText(h, &length, "c", mem), 1u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(mem->getHandleSize(h), 4u);
    EXPECT_EQ(text_of(h), "abc");

    char expected[256] = {};
    GetIndString(expected, VXHOST_STRLIST_REPORT, 1);
    ASSERT_NE(expected[0], '\0');
    EXPECT_EQ(AddHandleStr(h, &length, 1, mem), std::strlen(expected));
    EXPECT_EQ(text_of(h), std::string("abc") + expected);
    // Missing strings, and indexes a 16-bit list number cannot hold.
    for (int32_t index : {0, -1, 30000, 0x10001})
        EXPECT_EQ(AddHandleStr(h, &length, index, mem), 0u) << index;
    EXPECT_EQ(length, 3 + std::strlen(expected));
    mem->disposeHandle(h);
}

// A table whose resize always fails, as a host out of memory would.
uint32_t VXCALL size_of(VxHandle h) { return VxHostMemFuncs()->getHandleSize(h); }
void VXCALL no_resize(VxHandle, uint32_t) {}

TEST(HandleText, AFailedResizeWritesNothing) {
    HostMemFuncs mem = *VxHostMemFuncs();
    mem.setHandleSize = no_resize;
    mem.getHandleSize = size_of;
    VxHandle h = mem.newHandleClear(4);
    std::memcpy(*h, "xyz", 4);
    uint32_t length = 3;
    EXPECT_EQ(AddHandleText(h, &length, "more", &mem), 0u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(text_of(h), "xyz");
    // A counter so large that the new size would pass 32 bits.
    length = UINT32_MAX - 2;
    EXPECT_EQ(AddHandleText(h, &length, "more", VxHostMemFuncs()), 0u);
    EXPECT_EQ(AddHandleText(nullptr, &length, "more", &mem), 0u);
    mem.disposeHandle(h);
}

}  // namespace
