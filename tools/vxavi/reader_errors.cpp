#include "reader_errors.h"

#include <VexaInfo.h>
#include <vxmedia/vxtypes.h>

#include <cstring>
#include <string_view>

#include "printing.h"
#include "util/error_sites.h"
#include "util/failure_detail.h"

namespace vxavi {

namespace {

// The library's entry for the site the host logged, or null.
const vx::ErrorSite* logged_site(const VxHostErrorRecord& r) {
    const void* nul = std::memchr(r.source, '\0', sizeof r.source);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - r.source) : sizeof r.source;
    return vx::find_error_site(std::string_view(r.source, length), r.line);
}

}  // namespace

void begin_reader_call() { VxHostErrorClear(); }

const char* code_name(int32_t code) {
    switch (code) {
        case AVIERR_UNSUPPORTED:
            return "AVIERR_UNSUPPORTED";
        case AVIERR_BADFORMAT:
            return "AVIERR_BADFORMAT";
        case AVIERR_MEMORY:
            return "AVIERR_MEMORY";
        case AVIERR_INTERNAL:
            return "AVIERR_INTERNAL";
        case AVIERR_BADPARAM:
            return "AVIERR_BADPARAM";
        case AVIERR_FILEREAD:
            return "AVIERR_FILEREAD";
        case AVIERR_BUFFERTOOSMALL:
            return "AVIERR_BUFFERTOOSMALL";
        default:
            return nullptr;
    }
}

std::string describe_failure(int32_t result, const std::string& path, const std::string& action) {
    VxHostErrorRecord first{};
    const bool logged = VxHostErrorCount() != 0 && VxHostErrorGet(0, &first) != 0;
    // The first record is the root cause; later ones are the callers' echoes.
    const int32_t code = logged ? first.code : result;
    const vx::ErrorSite* site = logged ? logged_site(first) : nullptr;
    namespace vfw = vx::site::vfw;

    std::string kind = action;
    if (kind.empty()) {
        if (site == &vfw::kNoRiffForm)
            kind = "not an AVI file:";
        else if (code == AVIERR_MEMORY)
            kind = "out of memory reading";
        else if (code == AVIERR_FILEREAD &&
                 (!logged || site == &vfw::kRewind || site == &vfw::kFileSize))
            kind = "cannot read";
        else
            kind = "damaged AVI file:";
    }
    std::string msg = kind + " " + path + " (";
    if (site != nullptr) {
        msg += site->meaning;
        // Which of the faults the site stands for, where the library kept it.
        const char* detail = vxInternalFailureDetail(site->source, site->line);
        if (*detail != '\0') msg += std::string(": ") + detail;
        msg += "; ";
    }
    if (logged) {
        first.source[sizeof first.source - 1] = '\0';
        msg += std::string(first.source) + ":" + std::to_string(first.line) + " ";
    }
    const char* name = code_name(code);
    msg += name != nullptr ? name : hex32(static_cast<uint32_t>(code));
    msg += ")";
    return msg;
}

}  // namespace vxavi
