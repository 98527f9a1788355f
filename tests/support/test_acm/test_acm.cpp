// Test audio drivers with the shapes the audio codec list must cope with,
// one per profile key the module is listed under ("msacm.<name>"):
//
//   three   PCM, 0x2001, 0x2002; PCM at 8000 and 11025 Hz, mono and stereo
//   zero    0x2009 at index 0, then PCM
//   single  PCM only
//   iis     manufacturer 172, PCM and 0x2005
//   norate  PCM without formats, 0x2003
//   excl    PCM at 8000 Hz mono, then tags 17, 2 and 85
//   many    PCM at 20 rates, mono, then 39 tags from 0x3000
//
// Every non-PCM tag has one format of its own (8000 Hz mono).
#include <vxmedia/acm_driver.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Driver {
    std::string name;
    uint16_t mid = 1;
    std::vector<uint16_t> tags;
    std::vector<uint32_t> pcmRates;
    bool stereo = false;
};

Driver make(const std::string& alias) {
    const std::string name = alias.rfind("msacm.", 0) == 0 ? alias.substr(6) : alias;
    Driver d;
    d.name = name;
    if (name == "three") {
        d.tags = {1, 0x2001, 0x2002};
        d.pcmRates = {8000, 11025};
        d.stereo = true;
    } else if (name == "zero") {
        d.tags = {0x2009, 1};
        d.pcmRates = {8000};
    } else if (name == "single") {
        d.tags = {1};
        d.pcmRates = {8000};
    } else if (name == "iis") {
        d.mid = 172;
        d.tags = {1, 0x2005};
        d.pcmRates = {8000};
    } else if (name == "norate") {
        d.tags = {1, 0x2003};
    } else if (name == "excl") {
        d.tags = {1, 17, 2, 85};
        d.pcmRates = {8000};
    } else if (name == "many") {
        d.tags = {1};
        for (uint16_t t = 0; t < 39; ++t) d.tags.push_back(static_cast<uint16_t>(0x3000 + t));
        for (uint32_t r = 0; r < 20; ++r) d.pcmRates.push_back(8000 + 1000 * r);
    }
    return d;
}

void put_text(uint16_t* out, std::size_t room, const std::string& text) {
    for (std::size_t i = 0; i < text.size() && i + 1 < room; ++i)
        out[i] = static_cast<unsigned char>(text[i]);
}

uint32_t formats_of(const Driver& d, uint16_t tag) {
    if (tag != 1) return 1;
    return static_cast<uint32_t>(d.pcmRates.size() * (d.stereo ? 2 : 1));
}

intptr_t driver_details(const Driver& d, VxAcmDriverDetailsW* out) {
    if (out == nullptr || out->cbStruct < 8) return VX_MMSYSERR_INVALPARAM;
    VxAcmDriverDetailsW full{};
    full.cbStruct = sizeof full;
    full.fccType = VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    full.wMid = d.mid;
    full.wPid = 1;
    full.vdwACM = VX_ACM_VERSION;
    full.fdwSupport = VX_ACMDRIVERDETAILS_SUPPORTF_CODEC;
    full.cFormatTags = static_cast<uint32_t>(d.tags.size());
    put_text(full.szShortName, VX_ACMDRIVERDETAILS_SHORTNAME_CHARS, "test " + d.name);
    const uint32_t n = out->cbStruct < sizeof full ? out->cbStruct : sizeof full;
    std::memcpy(out, &full, n);
    out->cbStruct = n;
    return VX_MMSYSERR_NOERROR;
}

intptr_t tag_details(const Driver& d, VxAcmFormatTagDetailsW* t, uint32_t query) {
    if (t == nullptr) return VX_MMSYSERR_INVALPARAM;
    std::size_t i = 0;
    if (query == VX_ACM_FORMATTAGDETAILSF_INDEX) {
        i = t->dwFormatTagIndex;
    } else if (query == VX_ACM_FORMATTAGDETAILSF_FORMATTAG) {
        while (i < d.tags.size() && d.tags[i] != t->dwFormatTag) ++i;
    } else {
        return VX_MMSYSERR_NOTSUPPORTED;
    }
    if (i >= d.tags.size()) return VX_ACMERR_NOTPOSSIBLE;
    const uint16_t tag = d.tags[i];
    t->dwFormatTagIndex = static_cast<uint32_t>(i);
    t->dwFormatTag = tag;
    t->cbFormatSize = sizeof(WAVEFORMATEX);
    t->fdwSupport = VX_ACMDRIVERDETAILS_SUPPORTF_CODEC;
    t->cStandardFormats = formats_of(d, tag);
    std::memset(t->szFormatTag, 0, sizeof t->szFormatTag);
    put_text(t->szFormatTag, VX_ACMFORMATTAGDETAILS_FORMATTAG_CHARS,
             tag == 1 ? "PCM" : "Test tag " + std::to_string(tag));
    return VX_MMSYSERR_NOERROR;
}

intptr_t format_details(const Driver& d, VxAcmFormatDetailsW* f, uint32_t query) {
    if (f == nullptr || f->pwfx == nullptr || f->cbwfx < sizeof(WAVEFORMATEX) - 2)
        return VX_MMSYSERR_INVALPARAM;
    if (query != VX_ACM_FORMATDETAILSF_INDEX) return VX_MMSYSERR_NOTSUPPORTED;
    const auto tag = static_cast<uint16_t>(f->dwFormatTag);
    bool known = false;
    for (uint16_t t : d.tags) known = known || t == tag;
    if (!known || f->dwFormatIndex >= formats_of(d, tag)) return VX_ACMERR_NOTPOSSIBLE;
    WAVEFORMATEX w{};
    w.wFormatTag = tag;
    w.nChannels = 1;
    w.nSamplesPerSec = 8000;
    w.wBitsPerSample = 16;
    if (tag == 1) {
        const uint32_t i = f->dwFormatIndex;
        w.nChannels = static_cast<uint16_t>(d.stereo ? 1 + i % 2 : 1);
        w.nSamplesPerSec = d.pcmRates[d.stereo ? i / 2 : i];
    }
    w.nBlockAlign = static_cast<uint16_t>(2 * w.nChannels);
    w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
    std::memcpy(f->pwfx, &w, f->cbwfx < sizeof w ? f->cbwfx : sizeof w);
    f->fdwSupport = VX_ACMDRIVERDETAILS_SUPPORTF_CODEC;
    std::memset(f->szFormat, 0, sizeof f->szFormat);
    return VX_MMSYSERR_NOERROR;
}

}  // namespace

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
            const auto* open = reinterpret_cast<const VxAcmDrvOpenDesc*>(p2);
            std::string alias;
            if (open != nullptr && open->pszAliasName != nullptr)
                for (const uint16_t* c = open->pszAliasName; *c != 0 && alias.size() < 64; ++c)
                    alias += static_cast<char>(*c);
            return reinterpret_cast<intptr_t>(new Driver(make(alias)));
        }
        case VX_DRV_CLOSE:
            delete reinterpret_cast<Driver*>(id);
            return 1;
        default:
            break;
    }
    if (id == 0) return VX_MMSYSERR_NOTSUPPORTED;
    const Driver& d = *reinterpret_cast<const Driver*>(id);
    switch (message) {
        case VX_ACMDM_DRIVER_DETAILS:
            return driver_details(d, reinterpret_cast<VxAcmDriverDetailsW*>(p1));
        case VX_ACMDM_FORMATTAG_DETAILS:
            return tag_details(d, reinterpret_cast<VxAcmFormatTagDetailsW*>(p1),
                               static_cast<uint32_t>(p2));
        case VX_ACMDM_FORMAT_DETAILS:
            return format_details(d, reinterpret_cast<VxAcmFormatDetailsW*>(p1),
                                  static_cast<uint32_t>(p2));
        default:
            return VX_MMSYSERR_NOTSUPPORTED;
    }
}
