// Handler type <-> bitmap type, looked up in the video codec list that the
// host keeps as class data. The list is read in place; the first record
// with the code wins.
#include <VexaInfo.h>
#include <vxmedia/vxformats.h>

#include "util/byte_io.h"

namespace {

constexpr FOURCC kNvsd = 0x6473766Eu;  // "nvsd"
constexpr FOURCC kPvsd = 0x64737670u;  // "pvsd"
constexpr FOURCC kDvsd = 0x64737664u;  // "dvsd"

// Returns the `out` field of the first record whose `key` field is `code`.
FOURCC look_up(FOURCC code, const HostMemFuncs* mem, uint32_t key, uint32_t out) {
    if (mem == nullptr || mem->getHandleSize == nullptr) return 0;
    const auto list = static_cast<VxHandle>(GetClassData(VX_CLASS_VIDEO_CODECS));
    if (list == nullptr || *list == nullptr) return 0;
    const uint32_t count = mem->getHandleSize(list) / VX_CODEC_ENTRY_SIZE;
    const auto* records = static_cast<const uint8_t*>(*list);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* r = records + static_cast<size_t>(i) * VX_CODEC_ENTRY_SIZE;
        if (vx::le32(r + key) == code) return vx::le32(r + out);
    }
    return 0;
}

}  // namespace

VXAPI FOURCC VXCALL FccType2BiType(FOURCC handlerType, const HostMemFuncs* mem) {
    // DV handlers of other makers decode as the standard DV type, codec list or not.
    if (handlerType == kNvsd || handlerType == kPvsd) return kDvsd;
    return look_up(handlerType, mem, VX_CODEC_ENTRY_HANDLER, VX_CODEC_ENTRY_BITMAP);
}

VXAPI FOURCC VXCALL BiType2FccType(FOURCC bitmapType, const HostMemFuncs* mem) {
    return look_up(bitmapType, mem, VX_CODEC_ENTRY_BITMAP, VX_CODEC_ENTRY_HANDLER);
}
