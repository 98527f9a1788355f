// The audio codec list: one entry per compressed format tag of each enabled
// audio codec driver, with the PCM rates and channel counts the driver
// converts. Tags without a PCM rate, and the tags the host never offers,
// are removed at the end.
#include <vxmedia/vxcodecs.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "codecs/profile_list.h"
#include "platform/audio_codec.h"

namespace vx {
namespace {

constexpr uint16_t kManufacturerSkipped = 172;
constexpr uint32_t kFormatBufferBytes = 10000;
constexpr uint16_t kAlwaysExcluded[] = {66, 113, 114, 115, 117, 1026, 352, 353, 304, 85};

struct Builder {
    ACMCodecList* list;
    std::vector<WAVEFORMATEX> formats;  // of the tag being listed
};

bool collect_format(platform::AcmDriverId, platform::AcmFormatDetails* details, void* context,
                    uint32_t) {
    auto* builder = static_cast<Builder*>(context);
    if (details != nullptr && details->pwfx != nullptr &&
        details->cbwfx >= sizeof(WAVEFORMATEX) - 2) {
        WAVEFORMATEX format{};
        std::memcpy(&format, details->pwfx, sizeof(WAVEFORMATEX) - 2);
        if (details->cbwfx >= sizeof(WAVEFORMATEX)) format.cbSize = details->pwfx->cbSize;
        try {
            builder->formats.push_back(format);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

void build_rates(const std::vector<WAVEFORMATEX>& formats, ACMRateList& rates) {
    rates = {};
    for (const WAVEFORMATEX& f : formats) {
        if (f.wFormatTag != platform::kWaveFormatPcm || (f.nChannels != 1 && f.nChannels != 2))
            continue;
        const uint32_t flag = f.nChannels == 1 ? VX_ACM_MONO : VX_ACM_STEREO;
        uint32_t i = 0;
        while (i < rates.count && rates.rates[i] != f.nSamplesPerSec) ++i;
        if (i == rates.count) {
            if (rates.count == VX_ACM_MAX_RATES) continue;  // no room for more rates
            rates.rates[rates.count++] = f.nSamplesPerSec;
        }
        rates.channels[i] |= flag;
    }
}

void list_tags(Builder& b, platform::AcmDriverId id, uint32_t tagCount) {
    platform::AcmDriver driver = nullptr;
    if (platform::acm_driver_open(&driver, id, 0) != platform::kMmNoError || driver == nullptr)
        return;
    ACMCodecList& list = *b.list;
    for (uint32_t t = 1; t < tagCount && list.count < VX_ACM_MAX_CODECS; ++t) {
        platform::AcmFormatTagDetails tag{};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTagIndex = t;
        if (platform::acm_format_tag_details(driver, &tag, 0) != platform::kMmNoError ||
            tag.dwFormatTag == platform::kWaveFormatPcm)
            continue;
        const uint32_t n = list.count;
        list.formatTag[n] = tag.dwFormatTag;
        list.driverId[n] = id;
        std::memcpy(list.name[n], tag.szFormatTag, sizeof tag.szFormatTag);
        list.name[n][sizeof tag.szFormatTag] = '\0';
        b.formats.clear();
        std::vector<uint8_t> buffer(kFormatBufferBytes);
        platform::AcmFormatDetails details{};
        details.cbStruct = sizeof details;
        details.dwFormatTag = 0;
        details.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
        details.cbwfx = kFormatBufferBytes;
        platform::acm_format_enum(driver, &details, collect_format, &b, 0);
        build_rates(b.formats, list.pcmRates[n]);
        ++list.count;
    }
    platform::acm_driver_close(driver, 0);
}

bool add_driver(platform::AcmDriverId id, void* context, uint32_t) {
    auto& b = *static_cast<Builder*>(context);
    ACMCodecList& list = *b.list;
    platform::AcmDriverDetails details{};
    details.cbStruct = sizeof details;
    if (platform::acm_driver_details(id, &details, 0) != platform::kMmNoError ||
        details.wMid == kManufacturerSkipped)
        return true;
    if (list.count < VX_ACM_MAX_CODECS) list.driverId[list.count] = id;
    if (details.cFormatTags == 1) {
        list.singleTagPosition = list.count;
        return true;
    }
    if (details.cFormatTags == 0) return true;
    try {
        list_tags(b, id, details.cFormatTags);
    } catch (const std::bad_alloc&) {
    }
    return true;
}

bool excluded(uint32_t tag) {
    const auto low = static_cast<uint16_t>(tag);
    for (uint16_t fixed : kAlwaysExcluded)
        if (low == fixed) return true;
    bool found = false;
    ProfileList("codec", "AVIACMCodecExclude").for_each([&](const char* e) {
        const auto value = static_cast<uint32_t>(std::atoi(e));
        found = found || (value != 0 && static_cast<uint16_t>(value) == low);
    });
    return found;
}

void remove_entry(ACMCodecList& list, uint32_t i) {
    for (uint32_t j = i; j + 1 < list.count; ++j) {
        list.formatTag[j] = list.formatTag[j + 1];
        list.driverId[j] = list.driverId[j + 1];
        std::memcpy(list.name[j], list.name[j + 1], sizeof list.name[j]);
        list.pcmRates[j] = list.pcmRates[j + 1];
    }
    // Entries from the position on were listed after the single-tag driver.
    if (list.singleTagPosition > i) --list.singleTagPosition;
    --list.count;
}

}  // namespace
}  // namespace vx

VXAPI VxHandle VXCALL GetACMCodecs(const HostMemFuncs* mem) {
    if (mem == nullptr || mem->newHandleClear == nullptr || mem->getHandleSize == nullptr)
        return nullptr;
    VxHandle handle = mem->newHandleClear(sizeof(ACMCodecList));
    if (handle == nullptr || *handle == nullptr) return nullptr;
    if (mem->getHandleSize(handle) < sizeof(ACMCodecList)) {
        if (mem->disposeHandle != nullptr) mem->disposeHandle(handle);
        return nullptr;
    }
    auto* list = static_cast<ACMCodecList*>(*handle);
    list->mem = mem;
    vx::Builder builder{list, {}};
    vx::platform::acm_driver_enum(vx::add_driver, &builder, 0);
    for (uint32_t i = 0; i < list->count; ++i)
        if (vx::excluded(list->formatTag[i])) list->pcmRates[i].count = 0;
    for (uint32_t i = 0; i < list->count;) {
        if (list->pcmRates[i].count == 0)
            vx::remove_entry(*list, i);
        else
            ++i;
    }
    return handle;
}
