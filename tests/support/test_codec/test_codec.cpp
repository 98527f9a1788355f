// The test video codec "VXTS" (semantics in test_codec.h). One source for the
// Linux driver module and the Windows test program.
#include "test_codec.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#ifdef _WIN32
using TcOpen = ICOPEN;
using TcDecompress = ICDECOMPRESS;
using TcResult = LRESULT;
constexpr uint32_t kDrvLoad = DRV_LOAD, kDrvEnable = DRV_ENABLE, kDrvOpen = DRV_OPEN,
                   kDrvClose = DRV_CLOSE, kDrvDisable = DRV_DISABLE, kDrvFree = DRV_FREE;
constexpr uint32_t kGetFormat = ICM_DECOMPRESS_GET_FORMAT, kQuery = ICM_DECOMPRESS_QUERY,
                   kBegin = ICM_DECOMPRESS_BEGIN, kDecompress = ICM_DECOMPRESS, kEnd = ICM_DECOMPRESS_END;
constexpr TcResult kOk = ICERR_OK, kUnsupported = ICERR_UNSUPPORTED, kBadFormat = ICERR_BADFORMAT,
                   kBadParam = ICERR_BADPARAM, kError = ICERR_ERROR;
constexpr uint32_t kModeCompress = ICMODE_COMPRESS, kModeFastCompress = ICMODE_FASTCOMPRESS;
constexpr TcResult kDontDraw = ICERR_DONTDRAW;
using TcInfo = ICINFO;
constexpr uint32_t kGetInfo = ICM_GETINFO;
constexpr uint32_t kGetHeld = 0x6100, kNullFrame = ICDECOMPRESS_NULLFRAME;
#else
#include <vxmedia/driver.h>
using TcOpen = VxIcOpen;
using TcDecompress = VxIcDecompress;
using TcResult = intptr_t;
constexpr uint32_t kDrvLoad = VX_DRV_LOAD, kDrvEnable = VX_DRV_ENABLE, kDrvOpen = VX_DRV_OPEN,
                   kDrvClose = VX_DRV_CLOSE, kDrvDisable = VX_DRV_DISABLE, kDrvFree = VX_DRV_FREE;
constexpr uint32_t kGetFormat = VX_ICM_DECOMPRESS_GET_FORMAT, kQuery = VX_ICM_DECOMPRESS_QUERY,
                   kBegin = VX_ICM_DECOMPRESS_BEGIN, kDecompress = VX_ICM_DECOMPRESS,
                   kEnd = VX_ICM_DECOMPRESS_END;
constexpr TcResult kOk = VX_ICERR_OK, kUnsupported = VX_ICERR_UNSUPPORTED,
                   kBadFormat = VX_ICERR_BADFORMAT, kBadParam = VX_ICERR_BADPARAM, kError = VX_ICERR_ERROR;
constexpr uint32_t kModeCompress = VX_ICMODE_COMPRESS, kModeFastCompress = VX_ICMODE_FASTCOMPRESS;
constexpr TcResult kDontDraw = VX_ICERR_DONTDRAW;
using TcInfo = VxIcInfo;
constexpr uint32_t kGetInfo = VX_ICM_GETINFO;
constexpr uint32_t kGetHeld = VX_ICM_DECOMPRESS_GET_HELD, kNullFrame = VX_ICDECOMPRESS_NULLFRAME;
#endif

namespace {

constexpr int32_t kMaxSide = 4096;
constexpr uint32_t kTypeVideo = 0x63646976u;  // "vidc"
constexpr uint32_t kTypeVideoUpper = 0x43444956u;  // "VIDC"

struct Counters {
    std::atomic<uint32_t> loads{0}, frees{0}, opens{0}, refusals{0}, closes{0}, queries{0},
        getFormats{0}, begins{0}, ends{0}, decompresses{0};
};
Counters g_counts;

struct Instance {
    bool begun = false;
    int32_t width = 0;
    int32_t height = 0;  // |biHeight|
    uint16_t bitCount = 0;
    // Reordering: pictures held back, the picture decoded last, and those
    // waiting to come out.
    uint32_t delay = 0;
    bool tellsHeld = true;
    std::vector<unsigned char> current;
    std::deque<std::vector<unsigned char>> waiting;
};

int64_t magnitude(int32_t v) { return v < 0 ? -static_cast<int64_t>(v) : v; }

bool input_ok(const BITMAPINFOHEADER* in) {
    return in != nullptr && in->biCompression == VX_TEST_CODEC_FOURCC && in->biWidth >= 1 &&
           in->biWidth <= kMaxSide && magnitude(in->biHeight) >= 1 && magnitude(in->biHeight) <= kMaxSide;
}

bool output_ok(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    const bool deep = out->biBitCount == 32 && (in->biClrImportant & 0x200) == 0;
    return out->biCompression == 0 /* BI_RGB */ && (out->biBitCount == 24 || deep) &&
           out->biWidth == in->biWidth && magnitude(out->biHeight) == magnitude(in->biHeight);
}

TcResult query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (!input_ok(in)) return kBadFormat;
    if (out != nullptr && !output_ok(in, out)) return kBadFormat;
    return kOk;
}

uint32_t row_bytes(int32_t width, uint16_t bitCount) {
    return (static_cast<uint32_t>(width) * (bitCount / 8u) + 3u) & ~3u;
}

TcResult get_format(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (!input_ok(in)) return kBadFormat;
    if (out == nullptr) return static_cast<TcResult>(sizeof(BITMAPINFOHEADER));
    const auto height = static_cast<int32_t>(magnitude(in->biHeight));
    BITMAPINFOHEADER f;
    std::memset(&f, 0, sizeof f);
    f.biSize = sizeof(BITMAPINFOHEADER);
    f.biWidth = in->biWidth;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = 0;
    f.biSizeImage = row_bytes(in->biWidth, 24) * static_cast<uint32_t>(height);
    std::memcpy(out, &f, sizeof f);
    return kOk;
}

TcResult begin(Instance* instance, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (out == nullptr) return kBadFormat;
    const TcResult r = query(in, out);
    if (r != kOk) return r;
    instance->begun = true;
    instance->width = out->biWidth;
    instance->height = static_cast<int32_t>(magnitude(out->biHeight));
    instance->bitCount = out->biBitCount;
    instance->delay = in->biClrImportant & 0xFF;
    instance->tellsHeld = (in->biClrImportant & 0x100) == 0;
    instance->waiting.clear();
    return kOk;
}

// K and D frames applied to the picture at `rows`.
void apply(const Instance* instance, const unsigned char* frame, unsigned char* rows) {
    const bool key = frame[0] == 'K';
    const unsigned pixelBytes = instance->bitCount / 8u;
    const uint32_t stride = row_bytes(instance->width, instance->bitCount);
    for (int32_t y = 0; y < instance->height; ++y) {
        unsigned char* p = rows + static_cast<std::size_t>(y) * stride;
        for (int32_t x = 0; x < instance->width; ++x, p += pixelBytes) {
            for (int c = 0; c < 3; ++c)
                p[c] = key ? frame[1 + c] : static_cast<unsigned char>(p[c] + frame[1 + c]);
            if (pixelBytes == 4) p[3] = 0;
        }
    }
}

TcResult decompress(Instance* instance, const TcDecompress* d) {
    if (!instance->begun) return kError;
    if (d == nullptr || d->lpbiInput == nullptr || d->lpbiOutput == nullptr || d->lpOutput == nullptr)
        return kBadParam;
    const BITMAPINFOHEADER* in = d->lpbiInput;
    const BITMAPINFOHEADER* out = d->lpbiOutput;
    if (!input_ok(in) || out->biWidth != instance->width || magnitude(out->biHeight) != instance->height ||
        out->biBitCount != instance->bitCount)
        return kBadFormat;
    const std::size_t image = std::size_t{row_bytes(instance->width, instance->bitCount)} *
                              static_cast<std::size_t>(instance->height);
    auto take_waiting = [&] {
        if (instance->waiting.empty()) return kDontDraw;
        std::memcpy(d->lpOutput, instance->waiting.front().data(), image);
        instance->waiting.pop_front();
        return kOk;
    };
    if (in->biSizeImage == 0 || (d->dwFlags & kNullFrame) != 0) return take_waiting();
    if (in->biSizeImage < 4) return kBadFormat;
    if (d->lpInput == nullptr) return kBadParam;
    const auto* frame = static_cast<const unsigned char*>(d->lpInput);
    if (frame[0] != 'K' && frame[0] != 'D') return kBadFormat;
    if (instance->delay == 0) {
        apply(instance, frame, static_cast<unsigned char*>(d->lpOutput));
        return kOk;
    }
    instance->current.resize(image);
    apply(instance, frame, instance->current.data());
    instance->waiting.push_back(instance->current);
    return instance->waiting.size() > instance->delay ? take_waiting() : kDontDraw;
}

template <class Char, std::size_t N>
void put_text(Char (&out)[N], const char* text) {
    std::size_t i = 0;
    for (; text[i] != '\0' && i + 1 < N; ++i) out[i] = static_cast<Char>(text[i]);
    out[i] = 0;
}

TcResult get_info(TcInfo* info, intptr_t size) {
    if (info == nullptr) return static_cast<TcResult>(sizeof(TcInfo));
    if (size < static_cast<intptr_t>(sizeof(TcInfo))) return kBadParam;
    std::memset(info, 0, sizeof *info);
    info->dwSize = sizeof *info;
    info->fccType = kTypeVideo;
    info->fccHandler = VX_TEST_CODEC_FOURCC;
    info->dwVersion = 1;
    info->dwVersionICM = 0x0104;
    put_text(info->szName, "VXTS");
    put_text(info->szDescription, "VxMedia test codec");
    return static_cast<TcResult>(sizeof(TcInfo));
}

TcResult open(const TcOpen* open) {
    // Opened without a record (configuration, as the platform allows): fine.
    if (open != nullptr) {
        const bool video = open->fccType == kTypeVideo || open->fccType == kTypeVideoUpper;
        if (!video || open->dwFlags == kModeCompress || open->dwFlags == kModeFastCompress) {
            const_cast<TcOpen*>(open)->dwError = kUnsupported;
            ++g_counts.refusals;
            return 0;
        }
    }
    auto* instance = new (std::nothrow) Instance;
    if (instance == nullptr) {
        ++g_counts.refusals;
        return 0;
    }
    ++g_counts.opens;
    if (open != nullptr) const_cast<TcOpen*>(open)->dwError = kOk;
    return reinterpret_cast<TcResult>(instance);
}

TcResult drive(uintptr_t driverId, uint32_t message, intptr_t p1, intptr_t p2) {
    auto* instance = reinterpret_cast<Instance*>(driverId);
    const auto* b1 = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    auto* b2 = reinterpret_cast<BITMAPINFOHEADER*>(p2);
    switch (message) {
        case kDrvLoad:
            ++g_counts.loads;
            return 1;
        case kDrvFree:
            ++g_counts.frees;
            return 1;
        case kDrvEnable:
        case kDrvDisable:
            return 1;
        case kDrvOpen:
            return open(reinterpret_cast<const TcOpen*>(p2));
        case kDrvClose:
            ++g_counts.closes;
            delete instance;
            return 1;
        default:
            break;
    }
    if (instance == nullptr) return kUnsupported;
    switch (message) {
        case kQuery:
            ++g_counts.queries;
            return query(b1, b2);
        case kGetFormat:
            ++g_counts.getFormats;
            return get_format(b1, b2);
        case kBegin:
            ++g_counts.begins;
            return begin(instance, b1, b2);
        case kEnd:
            ++g_counts.ends;
            instance->begun = false;
            instance->waiting.clear();
            return kOk;
        case kGetInfo:
            return get_info(reinterpret_cast<TcInfo*>(p1), p2);
        case kGetHeld:
            if (p1 == 0) return kBadParam;
            if (!instance->tellsHeld) return kUnsupported;
            *reinterpret_cast<uint32_t*>(p1) = static_cast<uint32_t>(instance->waiting.size());
            return kOk;
        case kDecompress:
            ++g_counts.decompresses;
            return decompress(instance, reinterpret_cast<const TcDecompress*>(p1));
        default:
            return kUnsupported;
    }
}

}  // namespace

extern "C" {

void vx_test_codec_counts(VxTestCodecCounts* counts) {
    if (counts == nullptr) return;
    counts->loads = g_counts.loads;
    counts->frees = g_counts.frees;
    counts->opens = g_counts.opens;
    counts->refusals = g_counts.refusals;
    counts->closes = g_counts.closes;
    counts->queries = g_counts.queries;
    counts->getFormats = g_counts.getFormats;
    counts->begins = g_counts.begins;
    counts->ends = g_counts.ends;
    counts->decompresses = g_counts.decompresses;
}

void vx_test_codec_reset(void) {
    g_counts.loads = 0;
    g_counts.frees = 0;
    g_counts.opens = 0;
    g_counts.refusals = 0;
    g_counts.closes = 0;
    g_counts.queries = 0;
    g_counts.getFormats = 0;
    g_counts.begins = 0;
    g_counts.ends = 0;
    g_counts.decompresses = 0;
}

#ifdef _WIN32
LRESULT CALLBACK DriverProc(DWORD_PTR driverId, HDRVR /*driver*/, UINT message, LPARAM p1, LPARAM p2) {
    return drive(driverId, message, p1, p2);
}
#else
intptr_t DriverProc(uintptr_t driverId, void* /*driver*/, uint32_t message, intptr_t p1, intptr_t p2) {
    return drive(driverId, message, p1, p2);
}
#endif

}  // extern "C"
