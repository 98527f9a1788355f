#include "platform/posix/acm_driver_calls.h"

#include "platform/posix/acm_records.h"

namespace vx::platform::acm {

uint32_t largest_format(OpenDriver* driver) {
    VxAcmFormatTagDetailsW tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = VX_WAVE_FORMAT_UNKNOWN;  // of any tag
    if (driver->send(VX_ACMDM_FORMATTAG_DETAILS, reinterpret_cast<intptr_t>(&tag),
                     VX_ACM_FORMATTAGDETAILSF_LARGESTSIZE) != VX_MMSYSERR_NOERROR)
        return 0;
    return tag.cbFormatSize;
}

uint32_t query_conversion(OpenDriver* driver, std::vector<uint8_t>& source,
                          std::vector<uint8_t>& destination) {
    VxAcmDrvStreamInstance instance{};
    instance.cbStruct = sizeof instance;
    instance.pwfxSrc = as_format(source);
    instance.pwfxDst = as_format(destination);
    instance.fdwOpen = VX_ACM_STREAMOPENF_QUERY;
    return driver->send(VX_ACMDM_STREAM_OPEN, reinterpret_cast<intptr_t>(&instance), 0);
}

uint32_t suggest(OpenDriver* driver, std::vector<uint8_t>& source,
                 std::vector<uint8_t>* destination, uint32_t flags) {
    VxAcmDrvFormatSuggest request{};
    request.cbStruct = sizeof request;
    request.fdwSuggest = flags;
    request.pwfxSrc = as_format(source);
    request.cbwfxSrc = static_cast<uint32_t>(source.size());
    request.pwfxDst = as_format(*destination);
    request.cbwfxDst = static_cast<uint32_t>(destination->size());
    const uint32_t r =
        driver->send(VX_ACMDM_FORMAT_SUGGEST, reinterpret_cast<intptr_t>(&request), 0);
    // What the driver wrote must fit the room it was given.
    if (r == VX_MMSYSERR_NOERROR && format_bytes(*as_format(*destination)) > destination->size())
        return VX_MMSYSERR_ERROR;
    return r;
}

}  // namespace vx::platform::acm
