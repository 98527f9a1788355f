// What each audio driver module of this folder supplies to the shared
// DriverProc (driver_proc.cpp): its description, its format tags with their
// standard formats, and the conversions it makes. Formats reach these
// functions from the manager's copies, each with the bytes its cbSize says
// (PCM: at least 16); they are checked here before anything else reads them.
#pragma once

#include <vxmedia/acm_driver.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vxacm {

using Format = std::vector<uint8_t>;  // a WAVEFORMATEX and its extra bytes

// One conversion stream's work, from ACMDM_STREAM_OPEN to ACMDM_STREAM_CLOSE.
class Converter {
public:
    virtual ~Converter() = default;
    // Converts from `src` into `dst` and says how much of each it used;
    // VX_ACM_STREAMCONVERTF_ flags. An MMSYSERR_ or ACMERR_ code.
    virtual uint32_t convert(const uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes,
                             uint32_t flags, uint32_t* srcUsed, uint32_t* dstUsed) = 0;
    // ACMDM_STREAM_SIZE: the other side's bytes for one side's;
    // ACMERR_NOTPOSSIBLE when they come to nothing or more than 32 bits.
    virtual uint32_t size(VxAcmDrvStreamSize* size) const = 0;
};

struct FormatTag {
    uint16_t tag;
    const char* name;  // ASCII
    uint32_t support;  // VX_ACMDRIVERDETAILS_SUPPORTF_
    std::vector<Format> standard;
    uint32_t largest;  // bytes of the largest format of the tag
};

class Module {
public:
    virtual ~Module() = default;
    // ASCII texts and numbers of the driver details.
    struct About {
        const char* shortName;
        const char* longName;
        const char* copyright;
        const char* licensing;
        const char* features;
        uint16_t pid;
        uint32_t version;
        uint32_t support;
    };
    virtual const About& about() const = 0;
    virtual const std::vector<FormatTag>& tags() const = 0;
    // Whether `format` is one this driver takes as one side of a conversion.
    virtual bool knows(const WAVEFORMATEX& format, uint32_t bytes) const = 0;
    // VX_MMSYSERR_NOERROR when the driver converts `src` to `dst`, else
    // VX_ACMERR_NOTPOSSIBLE.
    virtual uint32_t converts(const WAVEFORMATEX& src, uint32_t srcBytes, const WAVEFORMATEX& dst,
                              uint32_t dstBytes) const = 0;
    // A destination for `src`, with the fields `flags` names taken from
    // `*dst`; written into `dst` (`room` bytes).
    virtual uint32_t suggest(const WAVEFORMATEX& src, uint32_t srcBytes, uint32_t flags,
                             WAVEFORMATEX* dst, uint32_t room) const = 0;
    // A converter for formats `converts` accepted; null when out of memory
    // or the codec cannot be set up (*result says which).
    virtual std::unique_ptr<Converter> open(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                            uint32_t* result) const = 0;
};

// The module this shared object is: defined once per driver.
const Module& module();

}  // namespace vxacm
