// Test compressors with odd but possible answers, one per handler code the
// module is opened with, for tests of the video codec list:
//
//   TCA1  all four depths; a 50-character description; quality and key
//         frames; a configuration dialog; default quality 7500, key-frame
//         rate 15
//   TRL8  8 and 24 bits, the 8-bit format being BI_RLE8
//   TB12  24 bits with a 12-bit compressed format, and 32 bits; crunch
//         only; does not answer the default queries
//   TSIZ  format sizes -1 (8 bits), 20 (16), 0 (24), 1 MiB (32)
//   TNON  no depth     TNOD  no description     TREF  refuses to open
//   MRLE, TEXC and any other code: 24 bits only
//
// vx_test_compressor_queries(code) counts the ICM_COMPRESS_QUERY messages
// that instances of that code received; vx_test_compressor_open_count the
// instances open now.
#include <vxmedia/driver.h>

#include <atomic>
#include <cstring>

namespace {

constexpr uint32_t code(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

struct Behaviour {
    uint32_t handler;
    const char* description;
    uint32_t flags;
    unsigned depths;          // bit n: depth 8 * (n + 1) accepted
    intptr_t formatBytes[4];  // answer to the size query per depth
    uint32_t outCode[4];      // biCompression per depth (0: the handler)
    uint16_t outBits[4];      // biBitCount per depth (0: the input's)
    bool dialog;
    bool answersDefaults;
    bool opens;
};

constexpr Behaviour kBehaviours[] = {
    {code("TCA1"),
     "Test compressor with a description of fifty chars!",
     VX_VIDCF_QUALITY | VX_VIDCF_TEMPORAL,
     0xF,
     {40, 40, 40, 40},
     {},
     {},
     true,
     true,
     true},
    {code("TRL8"),
     "Test RLE compressor",
     0,
     0x5,
     {40, 40, 40, 40},
     {1, 0, 0, 0},
     {},
     false,
     true,
     true},
    {code("TB12"),
     "Test 12-bit compressor",
     VX_VIDCF_CRUNCH,
     0xC,
     {40, 40, 40, 40},
     {},
     {0, 0, 12, 0},
     false,
     false,
     true},
    {code("TSIZ"), "Test format sizes", 0, 0xF, {-1, 20, 0, 1 << 20}, {}, {}, false, true, true},
    {code("TNON"), "Test nothing accepted", 0, 0, {40, 40, 40, 40}, {}, {}, false, true, true},
    {code("TNOD"), "", 0, 0xF, {40, 40, 40, 40}, {}, {}, false, true, true},
    {code("TREF"), "Test refusal", 0, 0xF, {40, 40, 40, 40}, {}, {}, false, true, false},
};

std::atomic<unsigned> g_open{0};
std::atomic<unsigned> g_queries[8 + 1];  // per behaviour, then the others

struct Instance {
    Behaviour b;
    std::size_t slot;
};

Instance* make(uint32_t handler) {
    for (std::size_t i = 0; i < std::size(kBehaviours); ++i)
        if (kBehaviours[i].handler == handler) return new Instance{kBehaviours[i], i};
    Behaviour other{handler, "Test plain compressor", 0, 0x4, {40, 40, 40, 40}, {}, {}, false, true,
                    true};
    if (handler == code("MRLE")) other.description = "Test MRLE";
    return new Instance{other, handler == code("MRLE") ? 7u : 8u};
}

int depth_index(const BITMAPINFOHEADER* in) {
    if (in == nullptr || in->biCompression != 0) return -1;
    switch (in->biBitCount) {
        case 8:
            return 0;
        case 16:
            return 1;
        case 24:
            return 2;
        case 32:
            return 3;
        default:
            return -1;
    }
}

intptr_t handle(Instance& in, uint32_t message, intptr_t p1, intptr_t p2) {
    const Behaviour& b = in.b;
    const auto* format = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    const bool formatMessage =
        message == VX_ICM_COMPRESS_QUERY || message == VX_ICM_COMPRESS_GET_FORMAT;
    const int d = formatMessage ? depth_index(format) : -1;
    switch (message) {
        case VX_ICM_GETINFO: {
            auto* info = reinterpret_cast<VxIcInfo*>(p1);
            if (info == nullptr) return sizeof(VxIcInfo);
            if (p2 < static_cast<intptr_t>(sizeof(VxIcInfo))) return 0;
            std::memset(info, 0, sizeof *info);
            info->dwSize = sizeof *info;
            info->fccType = code("vidc");
            info->fccHandler = b.handler;
            info->dwFlags = b.flags;
            for (std::size_t i = 0; b.description[i] != '\0' && i < 127; ++i)
                info->szDescription[i] = static_cast<unsigned char>(b.description[i]);
            return sizeof *info;
        }
        case VX_ICM_COMPRESS_QUERY:
            ++g_queries[in.slot];
            return d >= 0 && (b.depths >> d & 1) ? VX_ICERR_OK : VX_ICERR_BADFORMAT;
        case VX_ICM_COMPRESS_GET_FORMAT: {
            if (d < 0 || !(b.depths >> d & 1)) return VX_ICERR_BADFORMAT;
            if (p2 == 0) return b.formatBytes[d];
            auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
            std::memcpy(out, format, sizeof *out);
            out->biCompression = b.outCode[d] != 0 ? b.outCode[d] : b.handler;
            out->biBitCount = b.outBits[d] != 0 ? b.outBits[d] : format->biBitCount;
            return VX_ICERR_OK;
        }
        case VX_ICM_CONFIGURE:
            return b.dialog ? VX_ICERR_OK : VX_ICERR_UNSUPPORTED;
        case VX_ICM_GETDEFAULTQUALITY:
        case VX_ICM_GETDEFAULTKEYFRAMERATE:
            if (!b.answersDefaults || p1 == 0) return VX_ICERR_UNSUPPORTED;
            *reinterpret_cast<uint32_t*>(p1) = message == VX_ICM_GETDEFAULTQUALITY ? 7500 : 15;
            return VX_ICERR_OK;
        default:
            return VX_ICERR_UNSUPPORTED;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) unsigned vx_test_compressor_queries(
    uint32_t handler) {
    for (std::size_t i = 0; i < std::size(kBehaviours); ++i)
        if (kBehaviours[i].handler == handler) return g_queries[i];
    return handler == code("MRLE") ? g_queries[7].load() : g_queries[8].load();
}

extern "C" __attribute__((visibility("default"))) unsigned vx_test_compressor_open_count() {
    return g_open;
}

extern "C" __attribute__((visibility("default"))) intptr_t DriverProc(uintptr_t id, void*,
                                                                      uint32_t message, intptr_t p1,
                                                                      intptr_t p2) {
    switch (message) {
        case VX_DRV_LOAD:
        case VX_DRV_FREE:
        case VX_DRV_ENABLE:
        case VX_DRV_DISABLE:
            return 1;
        case VX_DRV_OPEN: {
            auto* open = reinterpret_cast<VxIcOpen*>(p2);
            if (open == nullptr) return 0;
            Instance* in = make(open->fccHandler);
            if (!in->b.opens) {
                delete in;
                return 0;
            }
            ++g_open;
            return reinterpret_cast<intptr_t>(in);
        }
        case VX_DRV_CLOSE:
            delete reinterpret_cast<Instance*>(id);
            --g_open;
            return 1;
        default:
            return id != 0 ? handle(*reinterpret_cast<Instance*>(id), message, p1, p2)
                           : VX_ICERR_UNSUPPORTED;
    }
}
