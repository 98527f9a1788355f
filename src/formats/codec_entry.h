// A record of the video codec list read field by field out of its packed
// bytes, for the tool and the tests: the packed fields themselves are not
// aligned for references to them.
#pragma once

#include <vxmedia/vxcodecs.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vx {

struct CodecEntry {
    uint16_t kind, depthMask, qualityFlag, defaultQuality, defaultKeyRate;
    uint32_t handlerType, bitmapType, flags, instance;
    int32_t hostA, hostB, hostC, hostD, hostF, hostG;
    uint8_t hostE;
    uint32_t compatible[8];
    char name[40];
};

// `record` holds the list's 123 bytes of one codec.
inline CodecEntry unpack_codec_entry(const uint8_t* record) {
    CodecEntry e{};
    const auto get = [record](auto& field, std::size_t offset) {
        std::memcpy(&field, record + offset, sizeof field);
    };
    get(e.kind, offsetof(AVICodecEntry, kind));
    get(e.handlerType, offsetof(AVICodecEntry, handlerType));
    get(e.bitmapType, offsetof(AVICodecEntry, bitmapType));
    get(e.depthMask, offsetof(AVICodecEntry, depthMask));
    get(e.qualityFlag, offsetof(AVICodecEntry, qualityFlag));
    get(e.flags, offsetof(AVICodecEntry, flags));
    get(e.instance, offsetof(AVICodecEntry, instance));
    get(e.defaultQuality, offsetof(AVICodecEntry, defaultQuality));
    get(e.defaultKeyRate, offsetof(AVICodecEntry, defaultKeyRate));
    get(e.hostA, offsetof(AVICodecEntry, hostA));
    get(e.hostB, offsetof(AVICodecEntry, hostB));
    get(e.hostC, offsetof(AVICodecEntry, hostC));
    get(e.hostD, offsetof(AVICodecEntry, hostD));
    get(e.hostE, offsetof(AVICodecEntry, hostE));
    get(e.hostF, offsetof(AVICodecEntry, hostF));
    get(e.hostG, offsetof(AVICodecEntry, hostG));
    get(e.compatible, offsetof(AVICodecEntry, compatible));
    get(e.name, offsetof(AVICodecEntry, name));
    return e;
}

}  // namespace vx
