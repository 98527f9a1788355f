// The audio compression manager on Linux, driver side: installed drivers are
// modules listed in the profile section "drivers32" as "msacm.NAME=module.so",
// in file order, asked about themselves and their formats through their
// DriverProc. The streams are in acm_stream_posix.cpp.
#include <vxmedia/acm_driver.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/audio_codec.h"
#include "platform/posix/acm_driver_calls.h"
#include "platform/posix/acm_handles.h"
#include "platform/posix/acm_records.h"

namespace vx::platform {

using acm::as_format;
using acm::DriverId;
using acm::OpenDriver;

namespace {

// Bounds on what a driver says it has, so that a broken one cannot keep a
// caller in a loop for ever.
constexpr uint32_t kMaxTags = 1024;
constexpr uint32_t kMaxFormatsPerTag = 65536;

constexpr uint32_t kEnumRestrictions = kAcmFormatEnumWFormatTag | kAcmFormatEnumNChannels |
                                       kAcmFormatEnumNSamplesPerSec | kAcmFormatEnumWBitsPerSample;
constexpr uint32_t kEnumHardware =
    kAcmFormatEnumHardware | kAcmFormatEnumInput | kAcmFormatEnumOutput;
constexpr uint32_t kEnumFlags =
    kEnumRestrictions | kAcmFormatEnumConvert | kAcmFormatEnumSuggest | kEnumHardware;

uint32_t tag_details(OpenDriver* driver, VxAcmFormatTagDetailsW* wide, uint32_t query) {
    wide->cbStruct = sizeof *wide;
    return driver->send(VX_ACMDM_FORMATTAG_DETAILS, reinterpret_cast<intptr_t>(wide), query);
}

// One acmFormatEnum call.
struct FormatEnum {
    AcmFormatDetails* details;
    AcmFormatEnumCallback callback;
    void* context;
    uint32_t flags;
    WAVEFORMATEX want{};          // the fields the restricting flags name
    std::vector<uint8_t> source;  // CONVERT and SUGGEST: the caller's format
    bool stopped = false;

    bool wanted(const WAVEFORMATEX& f) const {
        return ((flags & kAcmFormatEnumNChannels) == 0 || f.nChannels == want.nChannels) &&
               ((flags & kAcmFormatEnumNSamplesPerSec) == 0 ||
                f.nSamplesPerSec == want.nSamplesPerSec) &&
               ((flags & kAcmFormatEnumWBitsPerSample) == 0 ||
                f.wBitsPerSample == want.wBitsPerSample);
    }

    // The driver converts the source to `candidate`, or suggests exactly it.
    bool reachable(OpenDriver* driver, std::vector<uint8_t>& candidate) {
        if ((flags & kAcmFormatEnumConvert) != 0 &&
            acm::query_conversion(driver, source, candidate) != kMmNoError)
            return false;
        if ((flags & kAcmFormatEnumSuggest) == 0) return true;
        std::vector<uint8_t> suggested(candidate.size(), 0);
        as_format(suggested)->wFormatTag = as_format(candidate)->wFormatTag;
        if (acm::suggest(driver, source, &suggested, kAcmFormatSuggestWFormatTag) != kMmNoError)
            return false;
        const uint32_t bytes = acm::format_bytes(*as_format(candidate));
        return acm::format_bytes(*as_format(suggested)) == bytes &&
               std::memcmp(suggested.data(), candidate.data(), bytes) == 0;
    }

    // The driver's tags that the flags let through; MMSYSERR_INVALPARAM when
    // the caller's buffer cannot hold the largest format of one of them.
    uint32_t tags_of(OpenDriver* driver, std::vector<VxAcmFormatTagDetailsW>* tags) const {
        VxAcmDriverDetailsW about;
        if (!acm::driver_details(driver->id, &about)) return kMmNoError;
        for (uint32_t i = 0; i < std::min(about.cFormatTags, kMaxTags); ++i) {
            VxAcmFormatTagDetailsW tag{};
            tag.dwFormatTagIndex = i;
            if (tag_details(driver, &tag, VX_ACM_FORMATTAGDETAILSF_INDEX) != kMmNoError) continue;
            if ((flags & kAcmFormatEnumWFormatTag) != 0 && tag.dwFormatTag != details->dwFormatTag)
                continue;
            if (tag.cbFormatSize > details->cbwfx) return kMmErrorInvalidParam;
            tags->push_back(tag);
        }
        return kMmNoError;
    }

    uint32_t run(OpenDriver* driver) {
        std::vector<VxAcmFormatTagDetailsW> tags;
        if (const uint32_t r = tags_of(driver, &tags); r != kMmNoError) return r;
        std::vector<uint8_t> format;
        for (const VxAcmFormatTagDetailsW& tag : tags) {
            for (uint32_t i = 0; i < std::min(tag.cStandardFormats, kMaxFormatsPerTag); ++i) {
                format.assign(std::max(tag.cbFormatSize, acm::kFormatBytes), 0);
                VxAcmFormatDetailsW wide{};
                wide.cbStruct = sizeof wide;
                wide.dwFormatIndex = i;
                wide.dwFormatTag = tag.dwFormatTag;
                wide.pwfx = as_format(format);
                wide.cbwfx = static_cast<uint32_t>(format.size());
                if (driver->send(VX_ACMDM_FORMAT_DETAILS, reinterpret_cast<intptr_t>(&wide),
                                 VX_ACM_FORMATDETAILSF_INDEX) != kMmNoError)
                    continue;
                // A format the driver describes larger than its room, or than
                // the caller's, is a broken driver's: skipped.
                const uint32_t bytes = acm::format_bytes(*as_format(format));
                if (bytes > format.size() || bytes > details->cbwfx) continue;
                if (!wanted(*as_format(format)) || !reachable(driver, format)) continue;
                std::memcpy(details->pwfx, format.data(), bytes);
                acm::copy_format_details(wide, details);
                if (!callback(driver->id, details, context, wide.fdwSupport)) {
                    stopped = true;
                    return kMmNoError;
                }
            }
        }
        return kMmNoError;
    }
};

}  // namespace

uint32_t acm_driver_enum(AcmDriverEnumCallback callback, void* context, uint32_t flags) {
    if (callback == nullptr) return kMmErrorInvalidParam;
    if ((flags & ~(kAcmDriverEnumNoLocal | kAcmDriverEnumDisabled)) != 0)
        return kMmErrorInvalidFlag;
    try {
        // No driver is ever disabled here, and none is local to a process.
        for (DriverId* id : acm::enabled_drivers()) {
            VxAcmDriverDetailsW details;
            if (!acm::driver_details(id, &details)) continue;
            if (!callback(id, context, details.fdwSupport)) break;
        }
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
    return kMmNoError;
}

uint32_t acm_driver_details(AcmDriverId id, AcmDriverDetails* details, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    if (details == nullptr || details->cbStruct < sizeof details->cbStruct)
        return kMmErrorInvalidParam;
    DriverId* driver = acm::find_id(id);
    if (driver == nullptr) return kMmErrorInvalidHandle;
    VxAcmDriverDetailsW wide;
    if (!acm::driver_details(driver, &wide)) return kMmErrorNoDriver;
    AcmDriverDetails ansi = acm::ansi_details(wide);
    ansi.cbStruct = std::min<uint32_t>(details->cbStruct, sizeof ansi);
    std::memcpy(details, &ansi, ansi.cbStruct);
    return kMmNoError;
}

uint32_t acm_driver_open(AcmDriver* driver, AcmDriverId id, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    if (driver == nullptr) return kMmErrorInvalidParam;
    *driver = nullptr;
    DriverId* known = acm::find_id(id);
    if (known == nullptr) return kMmErrorInvalidHandle;
    uint32_t result = kMmNoError;
    OpenDriver* opened = acm::open_driver(known, &result);
    if (opened == nullptr) return result;
    if (!acm::add_driver(opened)) {
        acm::close_driver(opened);
        return kMmErrorNoMemory;
    }
    *driver = opened;
    return kMmNoError;
}

uint32_t acm_driver_close(AcmDriver driver, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    OpenDriver* open = acm::find_driver(driver);
    if (open == nullptr) return kMmErrorInvalidHandle;
    if (open->streams != 0) return kAcmErrorBusy;
    acm::remove_driver(open);
    acm::close_driver(open);
    return kMmNoError;
}

uint32_t acm_driver_id(void* driverOrStream, AcmDriverId* id, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    if (id == nullptr) return kMmErrorInvalidParam;
    if (DriverId* known = acm::find_id(driverOrStream)) {
        *id = known;
    } else if (OpenDriver* open = acm::find_driver(driverOrStream)) {
        *id = open->id;
    } else if (acm::Stream* stream = acm::find_stream(driverOrStream)) {
        *id = stream->driver->id;
    } else {
        return kMmErrorInvalidHandle;
    }
    return kMmNoError;
}

uint32_t acm_format_tag_details(AcmDriver driver, AcmFormatTagDetails* details, uint32_t flags) {
    if (details == nullptr || details->cbStruct < sizeof *details) return kMmErrorInvalidParam;
    if (flags > kAcmFormatTagDetailsLargestSize) return kMmErrorInvalidFlag;
    // By index needs a driver: the indexes are each driver's own.
    if (driver == nullptr && flags == kAcmFormatTagDetailsIndex) return kMmErrorInvalidHandle;
    VxAcmFormatTagDetailsW best{};
    bool found = false;
    auto ask = [&](OpenDriver* open) {
        VxAcmFormatTagDetailsW wide{};
        wide.dwFormatTagIndex = details->dwFormatTagIndex;
        wide.dwFormatTag = details->dwFormatTag;
        const uint32_t r = tag_details(open, &wide, flags);
        if (r == kMmNoError && (!found || wide.cbFormatSize > best.cbFormatSize)) {
            best = wide;
            found = true;
        }
        return r;
    };
    try {
        uint32_t r = kAcmErrorNotPossible;
        if (driver != nullptr) {
            r = acm::with_driver(driver, ask);
        } else {
            // The first driver with the tag answers; the largest size is the
            // largest of them all.
            acm::for_each_driver([&](OpenDriver* open) {
                r = ask(open);
                return found && flags != kAcmFormatTagDetailsLargestSize;
            });
        }
        if (!found) return r != kMmNoError ? r : kAcmErrorNotPossible;
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
    acm::copy_tag_details(best, details);
    return kMmNoError;
}

uint32_t acm_format_enum(AcmDriver driver, AcmFormatDetails* details,
                         AcmFormatEnumCallback callback, void* context, uint32_t flags) {
    if (details == nullptr || callback == nullptr || details->cbStruct < sizeof *details ||
        details->pwfx == nullptr || details->cbwfx < acm::kPcmFormatBytes)
        return kMmErrorInvalidParam;
    if ((flags & ~kEnumFlags) != 0 || (flags & (kAcmFormatEnumConvert | kAcmFormatEnumSuggest)) ==
                                          (kAcmFormatEnumConvert | kAcmFormatEnumSuggest))
        return kMmErrorInvalidFlag;
    if ((flags & kEnumHardware) != 0) return kMmNoError;  // no hardware drivers here
    try {
        FormatEnum walk{details, callback, context, flags, {}, {}, false};
        std::memcpy(&walk.want, details->pwfx, acm::kPcmFormatBytes);
        if ((flags & (kAcmFormatEnumConvert | kAcmFormatEnumSuggest)) != 0) {
            const uint32_t r = acm::copy_format(details->pwfx, details->cbwfx, &walk.source);
            if (r != kMmNoError) return r;
        }
        if (driver != nullptr)
            return acm::with_driver(driver, [&](OpenDriver* open) { return walk.run(open); });
        // Every driver in turn, until the callback stops or a driver fails.
        uint32_t r = kMmNoError;
        acm::for_each_driver([&](OpenDriver* open) {
            r = walk.run(open);
            return r != kMmNoError || walk.stopped;
        });
        return r;
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
}

uint32_t acm_format_suggest(AcmDriver driver, const WAVEFORMATEX* source, WAVEFORMATEX* destination,
                            uint32_t destinationBytes, uint32_t flags) {
    constexpr uint32_t kSuggestFlags = kAcmFormatSuggestWFormatTag | kAcmFormatSuggestNChannels |
                                       kAcmFormatSuggestNSamplesPerSec |
                                       kAcmFormatSuggestWBitsPerSample;
    if ((flags & ~kSuggestFlags) != 0) return kMmErrorInvalidFlag;
    if (source == nullptr || destination == nullptr || destinationBytes < acm::kPcmFormatBytes)
        return kMmErrorInvalidParam;
    try {
        auto one = [&](OpenDriver* open) {
            std::vector<uint8_t> src;
            if (const uint32_t r = acm::copy_format(source, acm::largest_format(open), &src);
                r != kMmNoError)
                return r;
            // The fields the flags fix are read from the caller's record.
            std::vector<uint8_t> dst(std::max(destinationBytes, acm::kFormatBytes), 0);
            std::memcpy(dst.data(), destination, acm::kPcmFormatBytes);
            const uint32_t r = acm::suggest(open, src, &dst, flags);
            if (r != kMmNoError) return r;
            const uint32_t bytes = acm::format_bytes(*as_format(dst));
            if (bytes > destinationBytes) return kMmErrorInvalidParam;
            std::memcpy(destination, dst.data(), bytes);
            return kMmNoError;
        };
        if (driver != nullptr) return acm::with_driver(driver, one);
        uint32_t r = kAcmErrorNotPossible;
        acm::for_each_driver([&](OpenDriver* open) {
            if (one(open) != kMmNoError) return false;
            r = kMmNoError;
            return true;
        });
        return r;
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
}

}  // namespace vx::platform
