#include "platform/posix/acm_records.h"

#include <cstring>

namespace vx::platform::acm {

namespace {

// One character's UTF-8 bytes; 0 at the end of the text.
std::size_t next_character(const uint16_t* text, std::size_t chars, std::size_t* at,
                           char bytes[4]) {
    if (*at >= chars || text[*at] == 0) return 0;
    uint32_t c = text[(*at)++];
    if (c >= 0xD800 && c < 0xDC00 && *at < chars && text[*at] >= 0xDC00 && text[*at] < 0xE000)
        c = 0x10000 + ((c - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
        c = 0xFFFD;  // a lone half of a pair
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

template <std::size_t N, std::size_t M>
void narrow_into(const uint16_t (&wide)[N], char (&out)[M]) {
    narrow(wide, N, out, M);
}

}  // namespace

uint32_t format_bytes(const WAVEFORMATEX& format) {
    return format.wFormatTag == kWaveFormatPcm ? kPcmFormatBytes : kFormatBytes + format.cbSize;
}

uint32_t copy_format(const WAVEFORMATEX* format, uint32_t limit, std::vector<uint8_t>* out) {
    if (format == nullptr || limit < kPcmFormatBytes) return kMmErrorInvalidParam;
    // The tag is in the first bytes of every format; cbSize is read only
    // for tags that have it, and only once the record is known to hold it.
    const bool pcm = format->wFormatTag == kWaveFormatPcm;
    if (!pcm && limit < kFormatBytes) return kMmErrorInvalidParam;
    const uint32_t bytes = pcm ? kPcmFormatBytes : kFormatBytes + format->cbSize;
    if (bytes > limit) return kMmErrorInvalidParam;
    out->assign(bytes < kFormatBytes ? kFormatBytes : bytes, 0);
    std::memcpy(out->data(), format, bytes);
    return kMmNoError;
}

void narrow(const uint16_t* text, std::size_t chars, char* out, std::size_t size) {
    if (size == 0) return;
    std::size_t at = 0, used = 0;
    char bytes[4];
    while (std::size_t n = next_character(text, chars, &at, bytes)) {
        if (used + n > size - 1) break;
        std::memcpy(out + used, bytes, n);
        used += n;
    }
    out[used] = '\0';
}

AcmDriverDetails ansi_details(const VxAcmDriverDetailsW& wide) {
    AcmDriverDetails a{};
    a.cbStruct = sizeof a;
    a.fccType = wide.fccType;
    a.fccComp = wide.fccComp;
    a.wMid = wide.wMid;
    a.wPid = wide.wPid;
    a.vdwACM = wide.vdwACM;
    a.vdwDriver = wide.vdwDriver;
    a.fdwSupport = wide.fdwSupport;
    a.cFormatTags = wide.cFormatTags;
    a.cFilterTags = wide.cFilterTags;
    a.hicon = nullptr;  // no icons on Linux
    narrow_into(wide.szShortName, a.szShortName);
    narrow_into(wide.szLongName, a.szLongName);
    narrow_into(wide.szCopyright, a.szCopyright);
    narrow_into(wide.szLicensing, a.szLicensing);
    narrow_into(wide.szFeatures, a.szFeatures);
    return a;
}

void copy_tag_details(const VxAcmFormatTagDetailsW& wide, AcmFormatTagDetails* out) {
    out->dwFormatTagIndex = wide.dwFormatTagIndex;
    out->dwFormatTag = wide.dwFormatTag;
    out->cbFormatSize = wide.cbFormatSize;
    out->fdwSupport = wide.fdwSupport;
    out->cStandardFormats = wide.cStandardFormats;
    narrow_into(wide.szFormatTag, out->szFormatTag);
}

void copy_format_details(const VxAcmFormatDetailsW& wide, AcmFormatDetails* out) {
    out->dwFormatIndex = wide.dwFormatIndex;
    out->dwFormatTag = wide.dwFormatTag;
    out->fdwSupport = wide.fdwSupport;
    narrow_into(wide.szFormat, out->szFormat);
}

}  // namespace vx::platform::acm
