// The codec manager on Linux: installed codecs are driver modules listed in
// the profile section "drivers32" as "vidc.XXXX=/path/module.so", in file
// order, driven through their DriverProc as the Windows codec manager drives
// a codec driver.
#include <vxmedia/driver.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/driver_modules.h"
#include "platform/profile.h"
#include "platform/video_codec.h"

namespace vx::platform {

namespace {

constexpr const char* kDriversSection = "drivers32";
constexpr std::size_t kMaxPath = 4096;

struct Instance {
    drivers::Module* module;
    VxDriverProc proc;
    uintptr_t driverId;
};

struct InstalledCodec {
    uint32_t handler;
    std::string path;
};

unsigned char lower(unsigned char c) { return static_cast<unsigned char>(std::tolower(c)); }

bool same_fourcc(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (lower(static_cast<unsigned char>(a >> shift)) !=
            lower(static_cast<unsigned char>(b >> shift)))
            return false;
    }
    return true;
}

// "vidc.XXXX" for a codec of `type`: the handler's code, blank-padded when
// shorter than four characters; 0 for any other key.
uint32_t handler_of_key(const std::string& key, uint32_t type) {
    if (key.size() < 6 || key.size() > 9 || key[4] != '.') return 0;
    for (int i = 0; i < 4; ++i) {
        if (lower(static_cast<unsigned char>(key[i])) !=
            lower(static_cast<unsigned char>(type >> (8 * i))))
            return 0;
    }
    uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned char c = 5 + i < key.size() ? static_cast<unsigned char>(key[5 + i]) : ' ';
        code |= static_cast<uint32_t>(c) << (8 * i);
    }
    return code;
}

std::vector<InstalledCodec> installed_codecs(uint32_t type) {
    std::vector<InstalledCodec> codecs;
    std::vector<char> path(kMaxPath);
    for (const std::string& key : profile_keys(kDriversSection)) {
        const uint32_t handler = handler_of_key(key, type);
        if (handler == 0) continue;
        if (profile_string(kDriversSection, key.c_str(), "", path.data(), path.size()) == 0)
            continue;
        codecs.push_back({handler, path.data()});
    }
    return codecs;
}

// The message that asks an open instance whether it takes the formats in
// `mode`; 0 for modes that cannot be located.
uint32_t query_message(uint32_t mode) {
    switch (mode) {
        case VX_ICMODE_DECOMPRESS:
        case VX_ICMODE_FASTDECOMPRESS:
            return VX_ICM_DECOMPRESS_QUERY;
        case VX_ICMODE_COMPRESS:
        case VX_ICMODE_FASTCOMPRESS:
            return VX_ICM_COMPRESS_QUERY;
        case VX_ICMODE_DRAW:
            return VX_ICM_DRAW_QUERY;
        default:
            return 0;
    }
}

// An instance of `codec` opened in `mode`; null when it refuses.
Instance* open_codec(const InstalledCodec& codec, uint32_t type, uint32_t mode) {
    drivers::Module* module = drivers::acquire(codec.path);
    if (module == nullptr) return nullptr;
    auto* instance = new (std::nothrow) Instance{module, drivers::driver_proc(module), 0};
    if (instance == nullptr) {
        drivers::release(module);
        return nullptr;
    }
    VxIcOpen open{};
    open.dwSize = sizeof(open);
    open.fccType = type;
    open.fccHandler = codec.handler;
    open.dwVersion = VX_ICVERSION;
    open.dwFlags = mode;
    const intptr_t id =
        instance->proc(0, instance, VX_DRV_OPEN, 0, reinterpret_cast<intptr_t>(&open));
    if (id == 0) {
        delete instance;
        drivers::release(module);
        return nullptr;
    }
    instance->driverId = static_cast<uintptr_t>(id);
    return instance;
}

Instance* try_codec(const InstalledCodec& codec, uint32_t type, const BITMAPINFOHEADER* in,
                    const BITMAPINFOHEADER* out, uint32_t mode, uint32_t query) {
    Instance* instance = open_codec(codec, type, mode);
    if (instance == nullptr) return nullptr;
    if (instance->proc(instance->driverId, instance, query, reinterpret_cast<intptr_t>(in),
                       reinterpret_cast<intptr_t>(out)) == VX_ICERR_OK)
        return instance;
    codec_close(instance);
    return nullptr;
}

}  // namespace

CodecInstance codec_locate(uint32_t type, uint32_t handler, const BITMAPINFOHEADER* in,
                           const BITMAPINFOHEADER* out, uint32_t mode) {
    const uint32_t query = query_message(mode);
    if (query == 0) return nullptr;
    try {
        const std::vector<InstalledCodec> codecs = installed_codecs(type);
        std::size_t tried = codecs.size();
        if (handler != 0) {
            for (std::size_t i = 0; i < codecs.size(); ++i) {
                if (!same_fourcc(codecs[i].handler, handler)) continue;
                if (Instance* found = try_codec(codecs[i], type, in, out, mode, query))
                    return found;
                tried = i;
                break;
            }
        }
        for (std::size_t i = 0; i < codecs.size(); ++i) {
            if (i == tried) continue;
            if (Instance* found = try_codec(codecs[i], type, in, out, mode, query)) return found;
        }
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

bool codec_info(uint32_t type, uint32_t index, uint32_t* handler) {
    try {
        const std::vector<InstalledCodec> codecs = installed_codecs(type);
        if (index >= codecs.size()) return false;
        *handler = codecs[index].handler;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CodecInstance codec_open(uint32_t type, uint32_t handler, uint32_t mode) {
    try {
        for (const InstalledCodec& codec : installed_codecs(type))
            if (same_fourcc(codec.handler, handler)) return open_codec(codec, type, mode);
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

bool codec_get_info(CodecInstance codec, VxIcInfo* info) {
    if (codec == nullptr || info == nullptr) return false;
    std::memset(info, 0, sizeof *info);
    info->dwSize = sizeof *info;
    return codec_send(codec, VX_ICM_GETINFO, reinterpret_cast<intptr_t>(info), sizeof *info) > 0;
}

intptr_t codec_send(CodecInstance codec, uint32_t message, intptr_t p1, intptr_t p2) {
    auto* instance = static_cast<Instance*>(codec);
    if (instance == nullptr) return VX_ICERR_BADHANDLE;
    return instance->proc(instance->driverId, instance, message, p1, p2);
}

intptr_t codec_decompress(CodecInstance codec, uint32_t flags, const BITMAPINFOHEADER* inFormat,
                          const void* in, const BITMAPINFOHEADER* outFormat, void* out) {
    VxIcDecompress record{};
    record.dwFlags = flags;
    record.lpbiInput = const_cast<BITMAPINFOHEADER*>(inFormat);
    record.lpInput = const_cast<void*>(in);
    record.lpbiOutput = const_cast<BITMAPINFOHEADER*>(outFormat);
    record.lpOutput = out;
    record.ckid = 0;
    return codec_send(codec, VX_ICM_DECOMPRESS, reinterpret_cast<intptr_t>(&record),
                      static_cast<intptr_t>(sizeof(record)));
}

intptr_t codec_compress(CodecInstance codec, uint32_t flags, BITMAPINFOHEADER* outFormat, void* out,
                        const BITMAPINFOHEADER* inFormat, const void* in, uint32_t* ckid,
                        uint32_t* outFlags, int32_t frameNumber, uint32_t frameSize,
                        uint32_t quality, const BITMAPINFOHEADER* previousFormat,
                        const void* previous) {
    VxIcCompress record{};
    record.dwFlags = flags;
    record.lpbiOutput = outFormat;
    record.lpOutput = out;
    // The record's fields predate const; the codec only reads these.
    record.lpbiInput = const_cast<BITMAPINFOHEADER*>(inFormat);
    record.lpInput = const_cast<void*>(in);
    record.lpckid = ckid;
    record.lpdwFlags = outFlags;
    record.lFrameNum = frameNumber;
    record.dwFrameSize = frameSize;
    record.dwQuality = quality;
    record.lpbiPrev = const_cast<BITMAPINFOHEADER*>(previousFormat);
    record.lpPrev = const_cast<void*>(previous);
    return codec_send(codec, VX_ICM_COMPRESS, reinterpret_cast<intptr_t>(&record),
                      static_cast<intptr_t>(sizeof(record)));
}

void codec_close(CodecInstance codec) {
    auto* instance = static_cast<Instance*>(codec);
    if (instance == nullptr) return;
    instance->proc(instance->driverId, instance, VX_DRV_CLOSE, 0, 0);
    drivers::release(instance->module);
    delete instance;
}

void codec_unload_modules() { drivers::unload_unused(); }

}  // namespace vx::platform
