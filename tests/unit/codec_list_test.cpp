// The video codec list against installed compressors: on Linux the test
// compressors (tests/support/test_compressor) listed under several codes,
// on Windows the system's own.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxcodecs.h>
#include <vxmedia/vxformats.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "formats/codec_entry.h"
#include "unit/codec_env.h"

namespace {

using Entry = vx::CodecEntry;

std::vector<Entry> entries(VxHandle list) {
    std::vector<Entry> out;
    if (list == nullptr) return out;
    const HostMemFuncs* mem = VxHostMemFuncs();
    const uint32_t size = mem->getHandleSize(list);
    EXPECT_EQ(size % VX_CODEC_ENTRY_SIZE, 0u);
    for (uint32_t at = 0; at + VX_CODEC_ENTRY_SIZE <= size; at += VX_CODEC_ENTRY_SIZE) {
        out.push_back(vx::unpack_codec_entry(static_cast<const uint8_t*>(*list) + at));
    }
    return out;
}

std::vector<Entry> codec_list() {
    VxHandle list = GetAVICodecs(VxHostMemFuncs());
    std::vector<Entry> out = entries(list);
    if (list != nullptr) VxHostMemFuncs()->disposeHandle(list);
    return out;
}

std::string code_text(uint32_t code) {
    return std::string{static_cast<char>(code), static_cast<char>(code >> 8),
                       static_cast<char>(code >> 16), static_cast<char>(code >> 24)};
}

// The host's own entry, after every installed codec.
void expect_host_entry_last(const std::vector<Entry>& list) {
    ASSERT_FALSE(list.empty());
    const Entry& host = list.back();
    EXPECT_EQ(host.kind, 1);
    EXPECT_EQ(code_text(host.handlerType), "dvsd");
    EXPECT_EQ(code_text(host.bitmapType), "dvsd");
    EXPECT_EQ(host.defaultQuality, 0xFFFF);
    EXPECT_EQ(host.instance, 0u);
    EXPECT_STREQ(host.name, "DV Video (filter graph)");
}

#ifndef _WIN32

using vxtest::TestCodecEnv;

constexpr const char* kProfile =
    "[drivers32]\n"
    "vidc.TCA1=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TRL8=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TREF=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TB12=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TEXC=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TSIZ=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TNON=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.TNOD=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.MRLE=" VX_TEST_COMPRESSOR_PATH
    "\n"
    "vidc.VXTS=" VX_TEST_CODEC_PATH
    "\n"
    "[codec]\nAVICodecExclude=TEXC,xxxx\n"
    "[CompatableCodec]\n"
    "TCA1=IV32, MSVC,,  mrle\n"
    "TRL8=C1,C2,C3,C4,C5,C6,C7,C8,C9,CA\n"
    "[Codec]\nKeepOpen=abcd, tb12\n";

template <typename T>
T module_symbol(const char* name) {
    void* module = dlopen(VX_TEST_COMPRESSOR_PATH, RTLD_NOW | RTLD_LOCAL);
    return module != nullptr ? reinterpret_cast<T>(dlsym(module, name)) : nullptr;
}

TEST(VideoCodecList, ListsWhatEachCompressorDoes) {
    TestCodecEnv env(kProfile);
    const auto queries = module_symbol<unsigned (*)(uint32_t)>("vx_test_compressor_queries");
    const auto open = module_symbol<unsigned (*)()>("vx_test_compressor_open_count");
    ASSERT_TRUE(queries != nullptr && open != nullptr);
    const std::vector<Entry> list = codec_list();

    struct Expected {
        const char* handler;
        uint32_t bitmap;
        uint16_t mask, qualityFlag;
        uint32_t flags;
        uint16_t quality, keyRate;
        const char* name;
    };
    // Refused, excluded, undescribed and depthless codecs are left out, and
    // so is the decompress-only test codec.
    const Expected expected[] = {
        {"TCA1", VX_MAKEFOURCC('T', 'C', 'A', '1'), 0xF, 1,
         VX_CODEC_HAS_DIALOG | VX_CODEC_QUALITY | VX_CODEC_TEMPORAL | VX_CODEC_QUALITY_OR_CRUNCH,
         7500, 15, "Test compressor with a description of "},
        // RLE8 at 8 bits: that depth only, whatever else it takes.
        {"TRL8", 1, 0x1, 0, 0, 7500, 15, "Test RLE compressor"},
        // A 12-bit format for 24-bit input is not 24-bit; defaults not
        // answered read 0, not the previous codec's.
        {"TB12", VX_MAKEFOURCC('T', 'B', '1', '2'), 0x8, 0,
         VX_CODEC_QUALITY_OR_CRUNCH | VX_CODEC_KEEP_OPEN, 0, 0, "Test 12-bit compressor"},
        // Format sizes below 40 or beyond 64 KiB skip the depth; 0 means 40.
        {"TSIZ", VX_MAKEFOURCC('T', 'S', 'I', 'Z'), 0x4, 0, 0, 7500, 15, "Test format sizes"},
        {"MRLE", 0xFFFFFFFFu, 0x1, 0, 0, 7500, 15, "Test MRLE"},
    };
    ASSERT_EQ(list.size(), std::size(expected) + 1);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Expected& x = expected[i];
        const Entry& e = list[i];
        SCOPED_TRACE(x.handler);
        EXPECT_EQ(e.kind, 0);
        EXPECT_EQ(code_text(e.handlerType), x.handler);
        EXPECT_EQ(e.bitmapType, x.bitmap);
        EXPECT_EQ(e.depthMask, x.mask);
        EXPECT_EQ(e.qualityFlag, x.qualityFlag);
        EXPECT_EQ(e.flags, x.flags);
        EXPECT_EQ(e.defaultQuality, x.quality);
        EXPECT_EQ(e.defaultKeyRate, x.keyRate);
        EXPECT_STREQ(e.name, x.name);
        // 64-bit: a kept-open codec cannot be handed over in 32 bits.
        EXPECT_EQ(e.instance, 0u);
    }
    EXPECT_EQ(std::strlen(list[0].name), 38u);
    const uint32_t compatible[8] = {VX_MAKEFOURCC('I', 'V', '3', '2'),
                                    VX_MAKEFOURCC('M', 'S', 'V', 'C'),
                                    VX_MAKEFOURCC('m', 'r', 'l', 'e')};
    EXPECT_EQ(std::memcmp(list[0].compatible, compatible, sizeof compatible), 0);
    // Ten listed, eight kept; short elements take the bytes after them.
    EXPECT_EQ(code_text(list[1].compatible[0]), "C1,C");
    EXPECT_EQ(code_text(list[1].compatible[7]), "C8,C");
    expect_host_entry_last(list);

    EXPECT_EQ(queries(VX_MAKEFOURCC('M', 'R', 'L', 'E')), 0u) << "MRLE is never probed";
    EXPECT_EQ(queries(VX_MAKEFOURCC('T', 'E', 'X', 'C')), 0u) << "excluded before probing";
    EXPECT_EQ(open(), 0u) << "every instance closed";

    // The list as the host keeps it: the code lookups find its records.
    const HostMemFuncs* mem = VxHostMemFuncs();
    VxHandle handle = GetAVICodecs(mem);
    SetClassData(VX_CLASS_VIDEO_CODECS, handle);
    EXPECT_EQ(FccType2BiType(VX_MAKEFOURCC('T', 'R', 'L', '8'), mem), 1u);
    EXPECT_EQ(BiType2FccType(VX_MAKEFOURCC('T', 'B', '1', '2'), mem),
              VX_MAKEFOURCC('T', 'B', '1', '2'));
    EXPECT_EQ(BiType2FccType(VX_MAKEFOURCC('d', 'v', 's', 'd'), mem),
              VX_MAKEFOURCC('d', 'v', 's', 'd'));
    SetClassData(VX_CLASS_VIDEO_CODECS, nullptr);
    mem->disposeHandle(handle);
}

// The host's entries: kinds 0 and 1 appended in order, others skipped, names
// cut to 38 characters, and the walk ending where an entry would leave the
// resource.
TEST(VideoCodecList, ReadsTheHostEntriesWithinTheResource) {
    TestCodecEnv env("[drivers32]\n");
    auto entry = [](uint16_t kind, const char* handler, const std::string& name) {
        std::string e(30, '\0');
        e[0] = static_cast<char>(kind), e[1] = static_cast<char>(kind >> 8);
        e[2] = 0x0C;                     // depth mask
        e[6] = static_cast<char>(0xFE);  // host value A: -2
        e[7] = static_cast<char>(0xFF);
        e[14] = 0x7F, e[15] = 0x55;    // value E; its pad byte is not read
        for (int i = 0; i < 4; ++i) {  // codes stored big-endian
            e[20 + i] = handler[3 - i];
            e[25 + i] = "BMP1"[3 - i];
        }
        return e + name + '\0';
    };
    const std::string end("\xFF\xFF", 2);
    const std::string longName(50, 'n');
    struct Case {
        const char* what;
        std::string resource;
        std::vector<std::string> handlers;
    };
    const Case cases[] = {
        {"kinds",
         entry(1, "AAAA", "first") + entry(2, "BBBB", "skipped") + entry(0, "CCCC", longName) + end,
         {"AAAA", "CCCC"}},
        {"no end mark", entry(1, "AAAA", "first"), {"AAAA"}},
        {"name crossing the end",
         entry(1, "AAAA", "first") + entry(1, "BBBB", "cut").substr(0, 33),
         {"AAAA"}},
        {"fixed part crossing the end", entry(1, "AAAA", "x") + std::string(12, '\0'), {"AAAA"}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(VxHostSetResource(VX_CODEC_RESOURCE_TYPE, VX_CODEC_RESOURCE_ID,
                                      c.resource.data(), static_cast<uint32_t>(c.resource.size())));
        const std::vector<Entry> list = codec_list();
        std::vector<std::string> handlers;
        for (const Entry& e : list) handlers.push_back(code_text(e.handlerType));
        EXPECT_EQ(handlers, c.handlers);
        if (list.empty()) continue;
        EXPECT_EQ(list[0].depthMask, 0x0C);
        EXPECT_EQ(list[0].hostA, -2);
        EXPECT_EQ(list[0].hostE, 0x7F);
        EXPECT_EQ(code_text(list[0].bitmapType), "BMP1");
        EXPECT_EQ(list[0].defaultQuality, 0xFFFF);
        if (list.size() > 1) {
            EXPECT_EQ(list[1].name, std::string(38, 'n'));
        }
    }
    VxHostResetResources();
    expect_host_entry_last(codec_list());
}

ACMCodecList audio_list() {
    ACMCodecList copy{};
    VxHandle list = GetACMCodecs(VxHostMemFuncs());
    EXPECT_NE(list, nullptr);
    if (list == nullptr) return copy;
    EXPECT_EQ(VxHostMemFuncs()->getHandleSize(list), sizeof(ACMCodecList));
    std::memcpy(&copy, *list, sizeof copy);
    EXPECT_EQ(copy.mem, VxHostMemFuncs());
    VxHostMemFuncs()->disposeHandle(list);
    return copy;
}

TEST(AudioCodecList, ListsTagsWithTheirPcmRates) {
    auto drivers = [](std::initializer_list<const char*> names) {
        std::string text = "[drivers32]\n";
        for (const char* n : names) text += std::string("msacm.") + n + "=" VX_TEST_ACM_PATH "\n";
        return text;
    };
    struct Case {
        const char* what;
        std::string profile;
        std::vector<uint32_t> tags;
        uint32_t singleTagPosition;
    };
    const Case cases[] = {
        // Index 0 is never looked at, PCM never listed, manufacturer 172
        // skipped; 85 always excluded, and the profile's tags too.
        {"excluded by the profile",
         drivers({"three", "zero", "iis", "single", "excl"}) +
             "[codec]\nAVIACMCodecExclude=2, 17\n",
         {0x2001, 0x2002},
         2},
        // "0x31" reads as 0 and excludes nothing.
        {"nothing excluded",
         drivers({"three", "excl", "single"}) + "[codec]\nAVIACMCodecExclude=0x31\n",
         {0x2001, 0x2002, 17, 2},
         4},
        // A tag without PCM rates goes; the single-tag position after it
        // moves down with it, one before it stays.
        {"removed before the position",
         drivers({"three", "norate", "single"}),
         {0x2001, 0x2002},
         2},
        {"removed after the position", drivers({"three", "single", "norate"}), {0x2001, 0x2002}, 2},
        // 32 entries at most, 16 rates each.
        {"full", drivers({"many", "three"}), {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestCodecEnv env(c.profile.c_str());
        const ACMCodecList list = audio_list();
        EXPECT_EQ(list.singleTagPosition, c.singleTagPosition);
        if (c.tags.empty()) {  // the full list
            ASSERT_EQ(list.count, 32u);
            EXPECT_EQ(list.formatTag[31], 0x3000u + 31);
            EXPECT_EQ(list.pcmRates[31].count, 16u);
            EXPECT_EQ(list.pcmRates[31].rates[15], 8000u + 15000);
            EXPECT_EQ(std::string(list.name[0]), "Test tag 12288");
            continue;
        }
        ASSERT_EQ(list.count, c.tags.size());
        for (uint32_t i = 0; i < list.count; ++i) EXPECT_EQ(list.formatTag[i], c.tags[i]);
        EXPECT_EQ(std::string(list.name[0]), "Test tag 8193");
        // Both rates, each mono and stereo.
        const ACMRateList& r = list.pcmRates[0];
        ASSERT_EQ(r.count, 2u);
        EXPECT_EQ(r.rates[0], 8000u);
        EXPECT_EQ(r.rates[1], 11025u);
        EXPECT_EQ(r.channels[0], VX_ACM_MONO | VX_ACM_STEREO);
        EXPECT_EQ(r.channels[1], VX_ACM_MONO | VX_ACM_STEREO);
        EXPECT_EQ(list.driverId[0], list.driverId[1]);
    }
}

#else  // Windows: the system's compressors.

const Entry* find(const std::vector<Entry>& list, const char* handler) {
    for (const Entry& e : list)
        if (code_text(e.handlerType) == handler) return &e;
    return nullptr;
}

TEST(VideoCodecList, ListsTheSystemCompressors) {
    const std::vector<Entry> list = codec_list();
    const Entry* rle = find(list, "MRLE");
    ASSERT_NE(rle, nullptr) << "the system's RLE compressor";
    EXPECT_EQ(rle->depthMask, 1);
    EXPECT_EQ(rle->bitmapType, 0xFFFFFFFFu);
    for (const Entry& e : list) {
        SCOPED_TRACE(code_text(e.handlerType));
        EXPECT_NE(e.depthMask, 0);
        EXPECT_LE(std::strlen(e.name), 38u);
        if (e.instance != 0) ICClose(reinterpret_cast<HIC>(static_cast<uintptr_t>(e.instance)));
    }
    expect_host_entry_last(list);
}

// The installation's keys (WIN.INI) exclude, mark compatible and keep open.
TEST(VideoCodecList, FollowsTheProfileKeys) {
    ASSERT_TRUE(WriteProfileStringA("CompatableCodec", "MRLE", "IV32, MSVC,,  mrle"));
    ASSERT_TRUE(WriteProfileStringA("Codec", "KeepOpen", "abcd, mrle"));
    std::vector<Entry> list = codec_list();
    const Entry* rle = find(list, "MRLE");
    ASSERT_NE(rle, nullptr);
    EXPECT_EQ(code_text(rle->compatible[0]), "IV32");
    EXPECT_EQ(code_text(rle->compatible[1]), "MSVC");
    EXPECT_EQ(code_text(rle->compatible[2]), "mrle");
    EXPECT_EQ(rle->compatible[3], 0u);
    EXPECT_NE(rle->flags & VX_CODEC_KEEP_OPEN, 0u);
    ASSERT_NE(rle->instance, 0u) << "kept open for the caller";
    EXPECT_EQ(ICClose(reinterpret_cast<HIC>(static_cast<uintptr_t>(rle->instance))), ICERR_OK);

    ASSERT_TRUE(WriteProfileStringA("codec", "AVICodecExclude", "xxxx,MRLE"));
    list = codec_list();
    EXPECT_EQ(find(list, "MRLE"), nullptr);
    WriteProfileStringA("codec", "AVICodecExclude", nullptr);
    WriteProfileStringA("CompatableCodec", "MRLE", nullptr);
    WriteProfileStringA("Codec", "KeepOpen", nullptr);
}

// The system's audio codecs: ADPCM, G.711 and GSM with the PCM rates they
// convert; never MP3.
TEST(AudioCodecList, ListsTheSystemCodecs) {
    VxHandle handle = GetACMCodecs(VxHostMemFuncs());
    ASSERT_NE(handle, nullptr);
    ACMCodecList list;
    std::memcpy(&list, *handle, sizeof list);
    VxHostMemFuncs()->disposeHandle(handle);
    ASSERT_LE(list.count, 32u);
    std::vector<uint32_t> tags;
    for (uint32_t i = 0; i < list.count; ++i) {
        tags.push_back(list.formatTag[i] & 0xFFFF);
        SCOPED_TRACE(list.name[i]);
        EXPECT_GT(list.pcmRates[i].count, 0u);
        EXPECT_NE(list.driverId[i], nullptr);
    }
    for (uint32_t expected : {0x11u, 0x2u, 0x6u, 0x7u, 0x31u})
        EXPECT_NE(std::find(tags.begin(), tags.end(), expected), tags.end()) << expected;
    EXPECT_EQ(std::find(tags.begin(), tags.end(), 0x55u), tags.end());
}

#endif

}  // namespace
