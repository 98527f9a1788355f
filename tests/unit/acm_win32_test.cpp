// The platform's audio codec calls on Windows reach the system's manager:
// under Wine they list Wine's own drivers and convert through them. (The
// Linux manager has its own tests with the driver modules, tests/acm/.)
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/audio_codec.h"

namespace vx::platform {
namespace {

std::vector<AcmDriverId> installed() {
    std::vector<AcmDriverId> ids;
    EXPECT_EQ(acm_driver_enum(
                  [](AcmDriverId id, void* context, uint32_t) {
                      static_cast<std::vector<AcmDriverId>*>(context)->push_back(id);
                      return true;
                  },
                  &ids, 0),
              kMmNoError);
    return ids;
}

TEST(AcmWin32, ListsTheSystemsDriversWithTheirDetails) {
    const std::vector<AcmDriverId> ids = installed();
    ASSERT_FALSE(ids.empty());
    bool codec = false;
    for (AcmDriverId id : ids) {
        AcmDriverDetails d{};
        d.cbStruct = sizeof d;
        ASSERT_EQ(acm_driver_details(id, &d, 0), kMmNoError);
        EXPECT_EQ(d.fccType, 0x63647561u) << d.szShortName;  // "audc"
        EXPECT_NE(d.szShortName[0], '\0');
        std::printf("ACM driver: %s (%s), %u format tags\n", d.szShortName, d.szLongName,
                    d.cFormatTags);
        codec = codec || (d.fdwSupport & 1u) != 0;
        AcmDriver open = nullptr;
        ASSERT_EQ(acm_driver_open(&open, id, 0), kMmNoError);
        AcmDriverId back = nullptr;
        EXPECT_EQ(acm_driver_id(open, &back, 0), kMmNoError);
        EXPECT_EQ(back, id);
        AcmFormatTagDetails tag{};
        tag.cbStruct = sizeof tag;
        if (d.cFormatTags > 0) {
            EXPECT_EQ(acm_format_tag_details(open, &tag, kAcmFormatTagDetailsIndex), kMmNoError);
        }
        EXPECT_EQ(acm_driver_close(open, 0), kMmNoError);
    }
    EXPECT_TRUE(codec) << "no codec among the drivers";
}

// 16-bit PCM to IMA ADPCM through whichever driver takes it: whole blocks.
TEST(AcmWin32, EncodesPcmThroughASystemDriver) {
    WAVEFORMATEX pcm{kWaveFormatPcm, 1, 8000, 16000, 2, 16, 0};
    std::vector<uint8_t> ima(64);
    reinterpret_cast<WAVEFORMATEX*>(ima.data())->wFormatTag = 0x11;
    ASSERT_EQ(acm_format_suggest(nullptr, &pcm, reinterpret_cast<WAVEFORMATEX*>(ima.data()),
                                 uint32_t(ima.size()), kAcmFormatSuggestWFormatTag),
              kMmNoError);
    const auto* to = reinterpret_cast<const WAVEFORMATEX*>(ima.data());
    ASSERT_EQ(to->wFormatTag, 0x11);
    AcmStream s = nullptr;
    ASSERT_EQ(acm_stream_open(&s, nullptr, &pcm, to, kAcmStreamOpenNonRealtime), kMmNoError);
    std::vector<uint8_t> src(16000), dst;
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37);
    uint32_t room = 0;
    ASSERT_EQ(acm_stream_size(s, uint32_t(src.size()), &room, kAcmStreamSizeSource), kMmNoError);
    dst.resize(room);
    AcmStreamHeader h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = uint32_t(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = room;
    ASSERT_EQ(acm_stream_prepare_header(s, &h, 0), kMmNoError);
    EXPECT_NE(h.fdwStatus & kAcmStreamHeaderPrepared, 0u);
    ASSERT_EQ(acm_stream_convert(s, &h, kAcmStreamConvertStart | kAcmStreamConvertBlockAlign),
              kMmNoError);
    EXPECT_GT(h.cbDstLengthUsed, 0u);
    EXPECT_EQ(h.cbDstLengthUsed % to->nBlockAlign, 0u);
    EXPECT_LE(h.cbSrcLengthUsed, h.cbSrcLength);
    EXPECT_EQ(acm_stream_unprepare_header(s, &h, 0), kMmNoError);
    EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
}

}  // namespace
}  // namespace vx::platform

#endif
