// The video codec list: every installed compressor opened, asked what it
// does and probed with a 320 x 240 RGB header at each depth, then the host's
// own entries from its resource.
#include <VexaInfo.h>
#include <vxmedia/vxcodecs.h>
#include <vxmedia/vxformats.h>

#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "codecs/profile_list.h"
#include "platform/text.h"
#include "platform/video_codec.h"
#include "util/byte_io.h"

namespace vx {
namespace {

constexpr uint32_t kMrle = fourcc("MRLE");
constexpr uint32_t kBiRle8 = 1;
constexpr uint16_t kMaskRle8 = 1;
constexpr uint32_t kMaxCodecs = 4096;  // ends a codec manager that never says "no more"
// A compressed format larger than this is not believed: the buffer for it
// would be the codec's to size.
constexpr intptr_t kMaxFormatBytes = 64 * 1024;
constexpr std::size_t kNameChars = 38;

constexpr std::size_t kKind = 0, kHandler = 2, kBitmap = 6, kMask = 10, kQualityFlag = 12,
                      kFlags = 14, kInstance = 18, kDefaultQuality = 22, kKeyRate = 24, kHostA = 26,
                      kHostB = 30, kHostC = 34, kHostD = 38, kHostE = 42, kHostF = 43, kHostG = 47,
                      kCompatible = 51, kName = 83;

using Record = std::array<uint8_t, VX_CODEC_ENTRY_SIZE>;

bool same_ignoring_case(const char* element, uint32_t code) {
    for (int i = 0; i < 4; ++i) {
        auto a = static_cast<unsigned char>(element[i]);
        auto b = static_cast<unsigned char>(code >> (8 * i));
        if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

uint32_t code_at(const char* element) { return le32(reinterpret_cast<const uint8_t*>(element)); }

bool excluded(uint32_t handler) {
    bool found = false;
    ProfileList("codec", "AVICodecExclude").for_each([&](const char* e) {
        found = found || code_at(e) == handler;
    });
    return found;
}

bool kept_open(uint32_t handler) {
    if (same_ignoring_case("MJPG", handler) || same_ignoring_case("TVMJ", handler) ||
        same_ignoring_case("PLUM", handler))
        return true;
    bool found = false;
    ProfileList("Codec", "KeepOpen").for_each([&](const char* e) {
        found = found || same_ignoring_case(e, handler);
    });
    return found;
}

void read_compatible(uint32_t handler, Record& r) {
    char key[5];
    for (int i = 0; i < 4; ++i) key[i] = static_cast<char>(handler >> (8 * i));
    key[4] = '\0';
    std::size_t slot = 0;
    ProfileList("CompatableCodec", key).for_each([&](const char* e) {
        if (slot < 8) put32(&r[kCompatible + 4 * slot++], code_at(e));
    });
}

// The test input: a header and, for the 8-bit probe, a colour table a codec
// may read after it.
struct TestFormat {
    BITMAPINFOHEADER header;
    uint8_t colours[256 * 4];
};

// Learns the depths the codec accepts and the bitmap type it produces.
void probe_depths(platform::CodecInstance codec, uint32_t handler, Record& r) {
    TestFormat test{};
    test.header.biSize = sizeof(BITMAPINFOHEADER);
    test.header.biWidth = 320;
    test.header.biHeight = 240;
    test.header.biPlanes = 1;
    test.header.biCompression = 0;
    uint16_t mask = 0;
    for (uint16_t depth = 8, bit = 1; depth <= 32; depth += 8, bit <<= 1) {
        test.header.biBitCount = depth;
        const auto in = reinterpret_cast<intptr_t>(&test.header);
        if (platform::codec_send(codec, VX_ICM_COMPRESS_QUERY, in, 0) != 0) continue;
        intptr_t size = platform::codec_send(codec, VX_ICM_COMPRESS_GET_FORMAT, in, 0);
        if (size == 0) size = sizeof(BITMAPINFOHEADER);
        if (size < static_cast<intptr_t>(sizeof(BITMAPINFOHEADER)) || size > kMaxFormatBytes)
            continue;
        std::vector<uint8_t> out(static_cast<std::size_t>(size));
        auto* format = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
        std::memcpy(format, &test.header, sizeof(BITMAPINFOHEADER));
        format->biCompression = handler;
        format->biSize = 0;
        if (platform::codec_send(codec, VX_ICM_COMPRESS_GET_FORMAT, in,
                                 reinterpret_cast<intptr_t>(format)) != 0 ||
            format->biSize == 0)
            continue;
        put32(&r[kBitmap], format->biCompression);
        if (format->biCompression == kBiRle8) {
            mask = kMaskRle8;
            break;
        }
        if (format->biBitCount == depth) mask |= bit;
    }
    put16(&r[kMask], mask);
}

uint16_t answer(platform::CodecInstance codec, uint32_t message) {
    uint32_t value = 0;  // a codec that does not answer leaves 0
    platform::codec_send(codec, message, reinterpret_cast<intptr_t>(&value), sizeof value);
    return static_cast<uint16_t>(value);
}

// The record of the installed codec at `index`; false when it is left out.
bool describe(uint32_t listed, Record& r, platform::CodecInstance* keep) {
    platform::CodecInstance codec =
        platform::codec_open(platform::kCodecTypeVideo, listed, platform::kCodecModeCompress);
    if (codec == nullptr) return false;
    VxIcInfo info{};
    platform::codec_get_info(codec, &info);
    const uint32_t handler = info.fccHandler;
    char name[kNameChars + 1];
    if (excluded(handler) ||
        platform::wide_to_narrow(info.szDescription, std::size(info.szDescription), name,
                                 sizeof name) == 0) {
        platform::codec_close(codec);
        return false;
    }
    r.fill(0);
    put16(&r[kKind], 0);
    put32(&r[kHandler], handler);
    put32(&r[kBitmap], 0xFFFFFFFFu);
    std::memcpy(&r[kName], name, std::strlen(name) + 1);
    if (handler == kMrle)
        put16(&r[kMask], kMaskRle8);
    else
        probe_depths(codec, handler, r);
    uint32_t flags = 0;
    if (le16(&r[kMask]) != 0) {
        read_compatible(handler, r);
        if (kept_open(handler)) flags |= VX_CODEC_KEEP_OPEN;
        if (info.dwFlags & VX_VIDCF_QUALITY) flags |= VX_CODEC_QUALITY;
        if (info.dwFlags & (VX_VIDCF_QUALITY | VX_VIDCF_CRUNCH))
            flags |= VX_CODEC_QUALITY_OR_CRUNCH;
        if (info.dwFlags & VX_VIDCF_TEMPORAL) flags |= VX_CODEC_TEMPORAL;
        if (platform::codec_send(codec, VX_ICM_CONFIGURE, -1, VX_ICMF_CONFIGURE_QUERY) == 0)
            flags |= VX_CODEC_HAS_DIALOG;
        put16(&r[kKeyRate], answer(codec, VX_ICM_GETDEFAULTKEYFRAMERATE));
        put16(&r[kDefaultQuality], answer(codec, VX_ICM_GETDEFAULTQUALITY));
    }
    put16(&r[kQualityFlag], (info.dwFlags & VX_VIDCF_QUALITY) ? 1 : 0);
    put32(&r[kFlags], flags);
    // The record has 32 bits for the instance; a wider one cannot be handed
    // over, so it is closed like any other.
    const auto address = reinterpret_cast<uintptr_t>(codec);
    if ((flags & VX_CODEC_KEEP_OPEN) != 0 && address <= 0xFFFFFFFFu && le16(&r[kMask]) != 0) {
        put32(&r[kInstance], static_cast<uint32_t>(address));
        *keep = codec;
    } else {
        platform::codec_close(codec);
    }
    return le16(&r[kMask]) != 0;
}

int32_t s16(const uint8_t* p) { return static_cast<int16_t>(le16(p)); }
uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The host's entries: variable-length, a fixed part of 30 bytes and a
// terminated name, the list ended by kind 0xFFFF. An entry that would run
// past the resource ends the walk.
void read_host_entries(const HostMemFuncs* mem, std::vector<Record>& records) {
    VxHandle resource = GetResource(VX_CODEC_RESOURCE_TYPE, VX_CODEC_RESOURCE_ID);
    if (resource == nullptr) return;
    mem->lockHandle(resource);
    const uint32_t size = mem->getHandleSize(resource);
    const auto* data = static_cast<const uint8_t*>(*resource);
    constexpr uint32_t kFixed = 30;
    for (uint32_t at = 0; data != nullptr && size >= 2 && at <= size - 2;) {
        const uint8_t* e = data + at;
        const uint16_t kind = le16(e);
        if (kind == 0xFFFF || size - at < kFixed + 1) break;
        const auto* name = reinterpret_cast<const char*>(e + kFixed);
        const auto* end = static_cast<const char*>(std::memchr(name, 0, size - at - kFixed));
        if (end == nullptr) break;
        const std::size_t length = static_cast<std::size_t>(end - name);
        if (kind == 0 || kind == 1) {
            Record r{};
            put16(&r[kKind], kind);
            put16(&r[kMask], le16(e + 2));
            put16(&r[kQualityFlag], le16(e + 4));
            put32(&r[kHostA], static_cast<uint32_t>(s16(e + 6)));
            put32(&r[kHostB], static_cast<uint32_t>(s16(e + 8)));
            put32(&r[kHostC], static_cast<uint32_t>(s16(e + 10)));
            put32(&r[kHostD], static_cast<uint32_t>(s16(e + 12)));
            r[kHostE] = e[14];
            put32(&r[kHostF], static_cast<uint32_t>(s16(e + 16)));
            put32(&r[kHostG], static_cast<uint32_t>(s16(e + 18)));
            put32(&r[kHandler], be32(e + 20));
            put32(&r[kBitmap], be32(e + 25));
            put16(&r[kDefaultQuality], 0xFFFF);
            std::memcpy(&r[kName], name, length < kNameChars ? length : kNameChars);
            records.push_back(r);
        }
        at += kFixed + static_cast<uint32_t>(length) + 1;
    }
    mem->unlockHandle(resource);
    ReleaseResource(resource);
}

VxHandle build(const HostMemFuncs* mem) {
    std::vector<Record> records;
    std::vector<platform::CodecInstance> kept;
    try {
        uint32_t handler = 0;
        for (uint32_t i = 0; i < kMaxCodecs; ++i) {
            if (!platform::codec_info(platform::kCodecTypeVideo, i, &handler)) break;
            Record r{};
            platform::CodecInstance keep = nullptr;
            const bool listed = describe(handler, r, &keep);
            if (keep != nullptr) kept.push_back(keep);
            if (listed) records.push_back(r);
        }
        read_host_entries(mem, records);
    } catch (const std::bad_alloc&) {
        for (platform::CodecInstance codec : kept) platform::codec_close(codec);
        return nullptr;
    }
    if (records.empty()) return nullptr;
    const auto bytes = static_cast<uint32_t>(records.size() * VX_CODEC_ENTRY_SIZE);
    VxHandle list = mem->newHandle(bytes);
    if (list == nullptr || *list == nullptr || mem->getHandleSize(list) != bytes) {
        if (list != nullptr) mem->disposeHandle(list);
        for (platform::CodecInstance codec : kept) platform::codec_close(codec);
        return nullptr;
    }
    mem->lockHandle(list);
    for (std::size_t i = 0; i < records.size(); ++i)
        std::memcpy(static_cast<uint8_t*>(*list) + i * VX_CODEC_ENTRY_SIZE, records[i].data(),
                    VX_CODEC_ENTRY_SIZE);
    mem->unlockHandle(list);
    return list;
}

}  // namespace
}  // namespace vx

VXAPI VxHandle VXCALL GetAVICodecs(const HostMemFuncs* mem) {
    if (mem == nullptr || mem->newHandle == nullptr || mem->getHandleSize == nullptr ||
        mem->disposeHandle == nullptr || mem->lockHandle == nullptr || mem->unlockHandle == nullptr)
        return nullptr;
    return vx::build(mem);
}
