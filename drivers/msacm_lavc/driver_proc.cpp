// The export of each audio driver module: the manager's messages checked
// and dispatched to the module's description of itself (acm_module.h).
#include <vxmedia/acm_driver.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "acm_module.h"
#include "handles.h"
#include "wave_formats.h"

namespace vxacm {
namespace {

uint32_t driver_details(VxAcmDriverDetailsW* out) {
    if (out == nullptr || out->cbStruct < sizeof out->cbStruct) return VX_MMSYSERR_INVALPARAM;
    const Module::About& about = module().about();
    VxAcmDriverDetailsW d{};
    d.fccType = VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    d.wMid = VX_MM_UNMAPPED;
    d.wPid = about.pid;
    d.vdwACM = VX_ACM_VERSION;
    d.vdwDriver = about.version;
    d.fdwSupport = about.support;
    d.cFormatTags = static_cast<uint32_t>(module().tags().size());
    widen(about.shortName, d.szShortName, VX_ACMDRIVERDETAILS_SHORTNAME_CHARS);
    widen(about.longName, d.szLongName, VX_ACMDRIVERDETAILS_LONGNAME_CHARS);
    widen(about.copyright, d.szCopyright, VX_ACMDRIVERDETAILS_COPYRIGHT_CHARS);
    widen(about.licensing, d.szLicensing, VX_ACMDRIVERDETAILS_LICENSING_CHARS);
    widen(about.features, d.szFeatures, VX_ACMDRIVERDETAILS_FEATURES_CHARS);
    d.cbStruct = std::min<uint32_t>(out->cbStruct, sizeof d);
    std::memcpy(out, &d, d.cbStruct);
    return VX_MMSYSERR_NOERROR;
}

const FormatTag* tag_named(uint32_t tag) {
    for (const FormatTag& t : module().tags())
        if (t.tag == tag) return &t;
    return nullptr;
}

uint32_t tag_details(VxAcmFormatTagDetailsW* d, intptr_t query) {
    if (d == nullptr || d->cbStruct < sizeof *d) return VX_MMSYSERR_INVALPARAM;
    const std::vector<FormatTag>& tags = module().tags();
    const FormatTag* found = nullptr;
    switch (query) {
        case VX_ACM_FORMATTAGDETAILSF_INDEX:
            if (d->dwFormatTagIndex < tags.size()) found = &tags[d->dwFormatTagIndex];
            break;
        case VX_ACM_FORMATTAGDETAILSF_FORMATTAG:
            found = tag_named(d->dwFormatTag);
            break;
        case VX_ACM_FORMATTAGDETAILSF_LARGESTSIZE:
            if (d->dwFormatTag != VX_WAVE_FORMAT_UNKNOWN) {
                found = tag_named(d->dwFormatTag);
                break;
            }
            for (const FormatTag& t : tags)
                if (found == nullptr || t.largest > found->largest) found = &t;
            break;
        default:
            return VX_MMSYSERR_NOTSUPPORTED;
    }
    if (found == nullptr) return VX_ACMERR_NOTPOSSIBLE;
    d->dwFormatTagIndex = static_cast<uint32_t>(found - tags.data());
    d->dwFormatTag = found->tag;
    d->cbFormatSize = found->largest;
    d->fdwSupport = found->support;
    d->cStandardFormats = static_cast<uint32_t>(found->standard.size());
    widen(found->name, d->szFormatTag, VX_ACMFORMATTAGDETAILS_FORMATTAG_CHARS);
    return VX_MMSYSERR_NOERROR;
}

uint32_t format_details(VxAcmFormatDetailsW* d, intptr_t query) {
    if (d == nullptr || d->cbStruct < sizeof *d || d->pwfx == nullptr)
        return VX_MMSYSERR_INVALPARAM;
    const FormatTag* tag = tag_named(d->dwFormatTag);
    if (query == VX_ACM_FORMATDETAILSF_INDEX) {
        if (tag == nullptr || d->dwFormatIndex >= tag->standard.size())
            return VX_ACMERR_NOTPOSSIBLE;
        const Format& f = tag->standard[d->dwFormatIndex];
        const uint32_t bytes = format_bytes(*as_wave(f));
        if (d->cbwfx < bytes) return VX_MMSYSERR_INVALPARAM;
        std::memcpy(d->pwfx, f.data(), bytes);
    } else if (query == VX_ACM_FORMATDETAILSF_FORMAT) {
        // The caller's format, with the bytes cbwfx says it has.
        if (d->cbwfx < kPcmBytes || d->cbwfx < format_bytes(*d->pwfx))
            return VX_MMSYSERR_INVALPARAM;
        if (!module().knows(*d->pwfx, format_bytes(*d->pwfx))) return VX_ACMERR_NOTPOSSIBLE;
        tag = tag_named(d->pwfx->wFormatTag);
        if (tag == nullptr) return VX_ACMERR_NOTPOSSIBLE;
    } else {
        return VX_MMSYSERR_NOTSUPPORTED;
    }
    d->dwFormatTag = tag->tag;
    d->fdwSupport = tag->support;
    describe(*d->pwfx, d->szFormat, VX_ACMFORMATDETAILS_FORMAT_CHARS);
    return VX_MMSYSERR_NOERROR;
}

// Both formats readable for what their headers say, by the sizes given.
bool readable(const WAVEFORMATEX* f, uint32_t bytes) {
    return f != nullptr && bytes >= kPcmBytes &&
           (f->wFormatTag == VX_WAVE_FORMAT_PCM ||
            (bytes >= kFormatBytes && bytes >= format_bytes(*f)));
}

uint32_t suggest(VxAcmDrvFormatSuggest* s) {
    if (s == nullptr || s->cbStruct < sizeof *s) return VX_MMSYSERR_INVALPARAM;
    if (!readable(s->pwfxSrc, s->cbwfxSrc) || s->pwfxDst == nullptr || s->cbwfxDst < kPcmBytes)
        return VX_MMSYSERR_INVALPARAM;
    if ((s->fdwSuggest & ~VX_ACM_FORMATSUGGESTF_TYPEMASK) != 0) return VX_MMSYSERR_NOTSUPPORTED;
    if (!module().knows(*s->pwfxSrc, s->cbwfxSrc)) return VX_ACMERR_NOTPOSSIBLE;
    return module().suggest(*s->pwfxSrc, s->cbwfxSrc, s->fdwSuggest, s->pwfxDst, s->cbwfxDst);
}

uint32_t stream_open(VxAcmDrvStreamInstance* si) {
    if (si == nullptr || si->cbStruct < sizeof *si || si->pwfxSrc == nullptr ||
        si->pwfxDst == nullptr)
        return VX_MMSYSERR_INVALPARAM;
    if (si->pwfltr != nullptr) return VX_ACMERR_NOTPOSSIBLE;  // no filters here
    const WAVEFORMATEX& src = *si->pwfxSrc;
    const WAVEFORMATEX& dst = *si->pwfxDst;
    const uint32_t r = module().converts(src, format_bytes(src), dst, format_bytes(dst));
    if (r != VX_MMSYSERR_NOERROR || (si->fdwOpen & VX_ACM_STREAMOPENF_QUERY) != 0) return r;
    uint32_t result = VX_MMSYSERR_NOMEM;
    std::unique_ptr<Converter> converter = module().open(src, dst, &result);
    if (!converter) return result;
    const uintptr_t id = open_stream(std::move(converter));
    if (id == 0) return VX_MMSYSERR_NOMEM;
    si->dwDriver = id;
    return VX_MMSYSERR_NOERROR;
}

Converter* stream_of(intptr_t p1) {
    const auto* si = reinterpret_cast<const VxAcmDrvStreamInstance*>(p1);
    if (si == nullptr || si->cbStruct < sizeof *si) return nullptr;
    return find_stream(si->dwDriver);
}

uint32_t stream_convert(Converter* c, VxAcmDrvStreamHeader* h) {
    if (h == nullptr || h->cbStruct < sizeof *h || (h->pbSrc == nullptr && h->cbSrcLength != 0) ||
        (h->pbDst == nullptr && h->cbDstLength != 0))
        return VX_MMSYSERR_INVALPARAM;
    h->cbSrcLengthUsed = h->cbDstLengthUsed = 0;
    return c->convert(h->pbSrc, h->cbSrcLength, h->pbDst, h->cbDstLength, h->fdwConvert,
                      &h->cbSrcLengthUsed, &h->cbDstLengthUsed);
}

uint32_t stream_message(uint32_t message, intptr_t p1, intptr_t p2) {
    if (message == VX_ACMDM_STREAM_OPEN)
        return stream_open(reinterpret_cast<VxAcmDrvStreamInstance*>(p1));
    Converter* c = stream_of(p1);
    if (c == nullptr) return VX_MMSYSERR_INVALHANDLE;
    switch (message) {
        case VX_ACMDM_STREAM_CLOSE:
            close_stream(reinterpret_cast<const VxAcmDrvStreamInstance*>(p1)->dwDriver);
            return VX_MMSYSERR_NOERROR;
        case VX_ACMDM_STREAM_SIZE: {
            auto* s = reinterpret_cast<VxAcmDrvStreamSize*>(p2);
            if (s == nullptr || s->cbStruct < sizeof *s) return VX_MMSYSERR_INVALPARAM;
            return c->size(s);
        }
        case VX_ACMDM_STREAM_CONVERT:
            return stream_convert(c, reinterpret_cast<VxAcmDrvStreamHeader*>(p2));
        case VX_ACMDM_STREAM_RESET:
            return VX_MMSYSERR_NOERROR;  // nothing converts in the background
        default:
            return VX_MMSYSERR_NOTSUPPORTED;  // prepare, unprepare: the manager's
    }
}

intptr_t open(VxAcmDrvOpenDesc* desc) {
    if (desc == nullptr) return 0;  // a configuration open: nothing to configure
    if (desc->cbStruct < sizeof *desc || desc->fccType != VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC) {
        desc->dwError = VX_MMSYSERR_NOTSUPPORTED;
        return 0;
    }
    const uintptr_t id = open_instance();
    desc->dwError = id != 0 ? VX_MMSYSERR_NOERROR : VX_MMSYSERR_NOMEM;
    return static_cast<intptr_t>(id);
}

intptr_t dispatch(uintptr_t id, uint32_t message, intptr_t p1, intptr_t p2) {
    switch (message) {
        case VX_DRV_LOAD:
        case VX_DRV_FREE:
        case VX_DRV_ENABLE:
        case VX_DRV_DISABLE:
            return 1;
        case VX_DRV_OPEN:
            return open(reinterpret_cast<VxAcmDrvOpenDesc*>(p2));
        case VX_DRV_CLOSE:
            return close_instance(id) ? 1 : 0;
        default:
            break;
    }
    if (message < VX_ACMDM_BASE || message > VX_ACMDM_STREAM_UNPREPARE) return 0;
    if (!instance_open(id)) return VX_MMSYSERR_INVALHANDLE;
    switch (message) {
        case VX_ACMDM_DRIVER_DETAILS:
            return driver_details(reinterpret_cast<VxAcmDriverDetailsW*>(p1));
        case VX_ACMDM_FORMATTAG_DETAILS:
            return tag_details(reinterpret_cast<VxAcmFormatTagDetailsW*>(p1), p2);
        case VX_ACMDM_FORMAT_DETAILS:
            return format_details(reinterpret_cast<VxAcmFormatDetailsW*>(p1), p2);
        case VX_ACMDM_FORMAT_SUGGEST:
            return suggest(reinterpret_cast<VxAcmDrvFormatSuggest*>(p1));
        case VX_ACMDM_STREAM_OPEN:
        case VX_ACMDM_STREAM_CLOSE:
        case VX_ACMDM_STREAM_SIZE:
        case VX_ACMDM_STREAM_CONVERT:
        case VX_ACMDM_STREAM_RESET:
        case VX_ACMDM_STREAM_PREPARE:
        case VX_ACMDM_STREAM_UNPREPARE:
            return stream_message(message, p1, p2);
        default:
            return VX_MMSYSERR_NOTSUPPORTED;
    }
}

}  // namespace
}  // namespace vxacm

extern "C" __attribute__((visibility("default"))) intptr_t DriverProc(uintptr_t driverId,
                                                                      void* /*driver*/,
                                                                      uint32_t message, intptr_t p1,
                                                                      intptr_t p2) {
    try {
        return vxacm::dispatch(driverId, message, p1, p2);
    } catch (const std::bad_alloc&) {
        return message == VX_DRV_OPEN ? 0 : VX_MMSYSERR_NOMEM;
    }
}
