// The manager's answers about drivers, tags and formats, and its refusals.
#include <map>
#include <set>
#include <tuple>

#include "acm_fixture.h"

namespace vxtest {
namespace {

using namespace vx::platform;

constexpr uint32_t kAudc = 0x63647561;  // "audc"

TEST_F(AcmTest, DriversInProfileOrderWithTruthfulDetails) {
    const std::vector<AcmDriverId> ids = driver_ids();
    ASSERT_EQ(ids.size(), 2u) << "the missing module is skipped, the video key ignored";
    EXPECT_EQ(driver_ids(), ids) << "ids stay the same";
    struct Want {
        const char* name;
        uint32_t tags, support;
    } const want[] = {{"VxMedia lavc", 7, VX_ACMDRIVERDETAILS_SUPPORTF_CODEC},
                      {"VxMedia PCM", 1, VX_ACMDRIVERDETAILS_SUPPORTF_CONVERTER}};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        AcmDriverDetails d{};
        d.cbStruct = sizeof d;
        ASSERT_EQ(acm_driver_details(ids[i], &d, 0), kMmNoError);
        EXPECT_STREQ(d.szShortName, want[i].name);
        EXPECT_EQ(d.fccType, kAudc);
        EXPECT_EQ(d.wMid, VX_MM_UNMAPPED);
        EXPECT_EQ(d.cFormatTags, want[i].tags);
        EXPECT_EQ(d.fdwSupport, want[i].support);
        EXPECT_NE(d.szLongName[0], '\0');
        EXPECT_EQ(d.cbStruct, sizeof d);
    }
    // A caller with room for less gets no more than that.
    uint8_t room[sizeof(AcmDriverDetails)];
    std::memset(room, 0xAB, sizeof room);
    reinterpret_cast<AcmDriverDetails*>(room)->cbStruct = 14;
    ASSERT_EQ(acm_driver_details(ids[0], reinterpret_cast<AcmDriverDetails*>(room), 0), kMmNoError);
    EXPECT_EQ(reinterpret_cast<AcmDriverDetails*>(room)->cbStruct, 14u);
    EXPECT_EQ(room[14], 0xAB);
    EXPECT_EQ(reinterpret_cast<AcmDriverDetails*>(room)->wMid, VX_MM_UNMAPPED);
}

TEST_F(AcmTest, FormatTagsOfTheCodecDriver) {
    AcmDriver lavc = open_driver("VxMedia lavc");
    ASSERT_NE(lavc, nullptr);
    const std::tuple<uint32_t, uint32_t, uint32_t> want[] = {
        {1, 18, 16}, {0x11, 18, 20}, {2, 18, 50},   {6, 18, 18},
        {7, 18, 18}, {0x31, 1, 20},  {0x55, 18, 30}};  // tag, formats, largest
    for (uint32_t i = 0; i < 7; ++i) {
        AcmFormatTagDetails t{};
        t.cbStruct = sizeof t;
        t.dwFormatTagIndex = i;
        ASSERT_EQ(acm_format_tag_details(lavc, &t, kAcmFormatTagDetailsIndex), kMmNoError);
        EXPECT_EQ(std::make_tuple(t.dwFormatTag, t.cStandardFormats, t.cbFormatSize), want[i]);
        EXPECT_NE(t.szFormatTag[0], '\0');
    }
    AcmFormatTagDetails t{};
    t.cbStruct = sizeof t;
    t.dwFormatTagIndex = 7;
    EXPECT_EQ(acm_format_tag_details(lavc, &t, kAcmFormatTagDetailsIndex), kAcmErrorNotPossible);
    t.dwFormatTag = 0;
    ASSERT_EQ(acm_format_tag_details(lavc, &t, kAcmFormatTagDetailsLargestSize), kMmNoError);
    EXPECT_EQ(t.dwFormatTag, 2u);
    // With no driver named, the first driver with the tag answers.
    t.dwFormatTag = 0x31;
    ASSERT_EQ(acm_format_tag_details(nullptr, &t, kAcmFormatTagDetailsFormatTag), kMmNoError);
    EXPECT_EQ(t.dwFormatTagIndex, 5u);
    t.dwFormatTag = 0x1234;
    EXPECT_EQ(acm_format_tag_details(nullptr, &t, kAcmFormatTagDetailsFormatTag),
              kAcmErrorNotPossible);
    EXPECT_EQ(acm_driver_close(lavc, 0), kMmNoError);
}

// Formats as (driver, tag, rate, channels, bits) from one enumeration.
using Seen = std::multiset<std::tuple<std::string, uint32_t, uint32_t, uint32_t, uint32_t>>;
Seen enumerate(const Bytes& start, uint32_t tag, uint32_t flags, uint32_t* result) {
    Bytes room(256);
    std::copy(start.begin(), start.end(), room.begin());
    AcmFormatDetails d{};
    d.cbStruct = sizeof d;
    d.dwFormatTag = tag;
    d.pwfx = reinterpret_cast<WAVEFORMATEX*>(room.data());
    d.cbwfx = static_cast<uint32_t>(room.size());
    Seen seen;
    struct Context {
        Seen* seen;
    } context{&seen};
    *result = acm_format_enum(
        nullptr, &d,
        [](AcmDriverId id, AcmFormatDetails* f, void* c, uint32_t) {
            AcmDriverDetails about{};
            about.cbStruct = sizeof about;
            acm_driver_details(id, &about, 0);
            static_cast<Context*>(c)->seen->insert({about.szShortName, f->dwFormatTag,
                                                    f->pwfx->nSamplesPerSec, f->pwfx->nChannels,
                                                    f->pwfx->wBitsPerSample});
            return f->dwFormatTag == f->pwfx->wFormatTag && f->szFormat[0] != '\0';
        },
        &context, flags);
    return seen;
}

TEST_F(AcmTest, FormatEnumerationGivesThePcmRatesEachTagConverts) {
    const std::set<uint32_t> listed = {8000,  11025, 12000, 16000, 22050,
                                       24000, 32000, 44100, 48000};
    struct Tag {
        uint32_t tag;
        std::set<uint32_t> rates;
    } const tags[] = {{0x11, listed}, {2, listed},    {6, listed},
                      {7, listed},    {0x31, {8000}}, {0x55, listed}};
    for (const Tag& t : tags) {
        SCOPED_TRACE(t.tag);
        uint32_t r = 0;
        const Seen formats = enumerate(wave_format(uint16_t(t.tag), 1, 8000, 0, 1, 0), t.tag,
                                       kAcmFormatEnumWFormatTag, &r);
        ASSERT_EQ(r, kMmNoError);
        std::set<uint32_t> rates;
        for (const auto& [driver, tag, rate, channels, bits] : formats) rates.insert(rate);
        EXPECT_EQ(rates, t.rates);
        // Each of them converts to 16-bit PCM of its own rate and channels,
        // and to nothing else.
        Bytes format(256);
        AcmFormatDetails d{};
        for (uint32_t i = 0;; ++i) {
            AcmDriver lavc = open_driver("VxMedia lavc");
            d = {};
            d.cbStruct = sizeof d;
            d.pwfx = reinterpret_cast<WAVEFORMATEX*>(format.data());
            d.cbwfx = 256;
            d.dwFormatTag = t.tag;
            struct Pick {
                uint32_t want, at = 0;
                Bytes got;
            } pick{i, 0, {}};
            acm_format_enum(
                lavc, &d,
                [](AcmDriverId, AcmFormatDetails* f, void* c, uint32_t) {
                    auto* p = static_cast<Pick*>(c);
                    if (p->at++ != p->want) return true;
                    p->got.assign(reinterpret_cast<uint8_t*>(f->pwfx),
                                  reinterpret_cast<uint8_t*>(f->pwfx) + 18 + f->pwfx->cbSize);
                    return false;
                },
                &pick, kAcmFormatEnumWFormatTag);
            acm_driver_close(lavc, 0);
            if (pick.got.empty()) break;
            const Seen to =
                enumerate(pick.got, 1, kAcmFormatEnumConvert | kAcmFormatEnumWFormatTag, &r);
            ASSERT_EQ(r, kMmNoError);
            const Seen want = {
                {"VxMedia lavc", 1, wfx(pick.got)->nSamplesPerSec, wfx(pick.got)->nChannels, 16}};
            EXPECT_EQ(to, want) << wfx(pick.got)->nSamplesPerSec;
        }
    }
    // From 16-bit PCM: the encoders at that rate, and every PCM format of
    // the PCM converter.
    uint32_t r = 0;
    const Seen from = enumerate(pcm(44100, 2), 0, kAcmFormatEnumConvert, &r);
    ASSERT_EQ(r, kMmNoError);
    std::map<std::pair<std::string, uint32_t>, int> count;
    for (const auto& [driver, tag, rate, channels, bits] : from) {
        if (driver == "VxMedia lavc") {
            EXPECT_EQ(std::make_pair(rate, channels), std::make_pair(44100u, 2u));
        }
        ++count[{driver, tag}];
    }
    const std::map<std::pair<std::string, uint32_t>, int> want = {{{"VxMedia lavc", 0x11}, 1},
                                                                  {{"VxMedia lavc", 2}, 1},
                                                                  {{"VxMedia lavc", 6}, 1},
                                                                  {{"VxMedia lavc", 7}, 1},
                                                                  {{"VxMedia PCM", 1}, 28}};
    EXPECT_EQ(count, want);
}

TEST_F(AcmTest, SuggestedFormats) {
    struct Case {
        Bytes source;
        uint32_t flags;
        uint16_t tag;  // fixed when flags say so
        uint32_t result;
        uint16_t wantTag;
        uint32_t wantRate;
    } const cases[] = {
        {pcm(22050, 1), 0, 0, kMmNoError, 0x11, 22050},  // the first driver's first encoder
        {pcm(22050, 1), kAcmFormatSuggestWFormatTag, 6, kMmNoError, 6, 22050},
        {pcm(44100, 1), kAcmFormatSuggestWFormatTag, 0x31, kAcmErrorNotPossible, 0, 0},
        {pcm(44100, 2, 8), kAcmFormatSuggestWFormatTag, 1, kMmNoError, 1, 44100},  // the PCM driver
        {wave_format(6, 2, 16000, 8, 2, 32000), 0, 0, kMmNoError, 1, 16000},
        {wave_format(0x1234, 1, 8000, 4, 256, 4000), 0, 0, kAcmErrorNotPossible, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes out(64);
        reinterpret_cast<WAVEFORMATEX*>(out.data())->wFormatTag = c.tag;
        EXPECT_EQ(acm_format_suggest(nullptr, wfx(c.source),
                                     reinterpret_cast<WAVEFORMATEX*>(out.data()), 64, c.flags),
                  c.result)
            << wfx(c.source)->wFormatTag << " to " << c.tag;
        if (c.result != kMmNoError) continue;
        EXPECT_EQ(wfx(out)->wFormatTag, c.wantTag);
        EXPECT_EQ(wfx(out)->nSamplesPerSec, c.wantRate);
    }
    // No room for an IMA format: the PCM driver's suggestion is the answer.
    Bytes small(16);
    EXPECT_EQ(acm_format_suggest(nullptr, wfx(pcm(8000, 1)),
                                 reinterpret_cast<WAVEFORMATEX*>(small.data()), 16, 0),
              kMmNoError);
    EXPECT_EQ(wfx(small)->wFormatTag, 1);
    EXPECT_EQ(acm_format_suggest(nullptr, wfx(pcm(8000, 1)),
                                 reinterpret_cast<WAVEFORMATEX*>(small.data()), 16,
                                 kAcmFormatSuggestWFormatTag | 0x100),
              kMmErrorInvalidFlag);
}

// Bad calls get error codes; sanitizer builds check that nothing is read or
// written out of bounds on the way.
TEST_F(AcmTest, BadInputGetsClearErrors) {
    // A format whose cbSize claims far more bytes than it has.
    Bytes huge = wave_format(0x11, 1, 8000, 4, 256, 4055, {0xF9, 0x01});
    reinterpret_cast<WAVEFORMATEX*>(huge.data())->cbSize = 0xFFFF;
    Bytes stdIma = wave_format(0x11, 1, 8000, 4, 256, 4055, {0xF9, 0x01});
    Bytes badSamples = wave_format(0x11, 1, 8000, 4, 256, 4055, {0x00, 0x01});
    Bytes msOdd = wave_format(2, 1, 8000, 4, 256, 4096, Bytes(32, 0));
    msOdd[18] = 0xF4, msOdd[19] = 0x01, msOdd[20] = 7;  // 500 samples, 7 pairs, all zero
    struct Case {
        const char* what;
        Bytes source, destination;
        uint32_t result;
    } const cases[] = {
        {"huge cbSize", huge, pcm(8000, 1), kMmErrorInvalidParam},
        {"huge cbSize as destination", pcm(8000, 1), huge, kMmErrorInvalidParam},
        {"unknown tag", wave_format(0x1234, 1, 8000, 4, 256, 4000), pcm(8000, 1),
         kAcmErrorNotPossible},
        {"three channels", pcm(8000, 3), stdIma, kAcmErrorNotPossible},
        {"rate change through a codec", pcm(11025, 1), stdIma, kAcmErrorNotPossible},
        {"samples per block", badSamples, pcm(8000, 1), kAcmErrorNotPossible},
        {"MS ADPCM coefficients", msOdd, pcm(8000, 1), kAcmErrorNotPossible},
        {"inconsistent PCM", wave_format(1, 2, 8000, 16, 2, 16000), stdIma, kAcmErrorNotPossible},
        {"MP3 encoding", pcm(44100, 2), wave_format(0x55, 2, 44100, 0, 1, 16000, Bytes(12, 0)),
         kAcmErrorNotPossible},
    };
    for (const Case& c : cases) {
        AcmStream s = reinterpret_cast<AcmStream>(1);
        EXPECT_EQ(acm_stream_open(&s, nullptr, wfx(c.source), wfx(c.destination), 0), c.result)
            << c.what;
        EXPECT_EQ(s, nullptr) << c.what;
    }

    AcmStream s = nullptr;
    ASSERT_EQ(acm_stream_open(&s, nullptr, wfx(pcm(8000, 1)), wfx(stdIma), 0), kMmNoError);
    Bytes src(4000), dst(2000);
    AcmStreamHeader h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = 2000;
    h.pbDst = dst.data();
    h.cbDstLength = 2000;
    EXPECT_EQ(acm_stream_convert(s, &h, 0), kAcmErrorUnprepared);
    ASSERT_EQ(acm_stream_prepare_header(s, &h, 0), kMmNoError);
    h.cbSrcLength = 4000;  // past what was prepared
    EXPECT_EQ(acm_stream_convert(s, &h, 0), kMmErrorInvalidParam);
    h.cbSrcLength = 2000;
    EXPECT_EQ(acm_stream_convert(s, &h, 0x100), kMmErrorInvalidFlag);
    ASSERT_EQ(acm_stream_convert(s, &h, kAcmStreamConvertBlockAlign), kMmNoError);
    EXPECT_EQ(h.cbSrcLengthUsed, 1010u) << "one whole block of 505 samples";
    EXPECT_EQ(h.cbDstLengthUsed, 256u);
    h.cbStruct = 8;
    EXPECT_EQ(acm_stream_convert(s, &h, 0), kMmErrorInvalidParam);
    h.cbStruct = sizeof h;
    EXPECT_EQ(acm_stream_unprepare_header(s, &h, 0), kMmNoError);
    EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
    EXPECT_EQ(acm_stream_close(s, 0), kMmErrorInvalidHandle) << "closed already";

    AcmDriver lavc = open_driver("VxMedia lavc");
    ASSERT_EQ(acm_stream_open(&s, lavc, wfx(pcm(8000, 1)), wfx(stdIma), 0), kMmNoError);
    EXPECT_EQ(acm_driver_close(lavc, 0), kAcmErrorBusy);
    AcmDriverId id = nullptr;
    EXPECT_EQ(acm_driver_id(s, &id, 0), kMmNoError);
    EXPECT_EQ(short_name(id), "VxMedia lavc");
    EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
    EXPECT_EQ(acm_driver_close(lavc, 0), kMmNoError);
    EXPECT_EQ(acm_driver_id(lavc, &id, 0), kMmErrorInvalidHandle);

    AcmDriverDetails d{};
    EXPECT_EQ(acm_driver_details(driver_ids()[0], &d, 0), kMmErrorInvalidParam) << "cbStruct 0";
    d.cbStruct = sizeof d;
    EXPECT_EQ(acm_driver_details(&d, &d, 0), kMmErrorInvalidHandle);
    // An enumeration whose buffer cannot take the largest formats.
    uint32_t r = 0;
    Bytes room = pcm(8000, 1);
    AcmFormatDetails f{};
    f.cbStruct = sizeof f;
    f.pwfx = reinterpret_cast<WAVEFORMATEX*>(room.data());
    f.cbwfx = 18;
    r = acm_format_enum(
        nullptr, &f, [](AcmDriverId, AcmFormatDetails*, void*, uint32_t) { return true; }, nullptr,
        0);
    EXPECT_EQ(r, kMmErrorInvalidParam);
    // A source for CONVERT whose cbSize passes the caller's buffer.
    Bytes source = huge;
    f.pwfx = reinterpret_cast<WAVEFORMATEX*>(source.data());
    f.cbwfx = static_cast<uint32_t>(source.size());
    r = acm_format_enum(
        nullptr, &f, [](AcmDriverId, AcmFormatDetails*, void*, uint32_t) { return true; }, nullptr,
        kAcmFormatEnumConvert);
    EXPECT_EQ(r, kMmErrorInvalidParam);
}

}  // namespace
}  // namespace vxtest
