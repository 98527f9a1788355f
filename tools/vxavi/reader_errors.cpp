#include "reader_errors.h"

#include <VexaInfo.h>
#include <vxmedia/vxtypes.h>

#include <cstring>
#include <string_view>

#include "printing.h"

namespace vxavi {

namespace {

struct Site {
    std::string_view source;  // "vfw" or "odml", the tail of the source name
    int line;
    const char* detail;
};

// The reporting sites of the reader that describe a file's structure.
constexpr Site kSites[] = {
    {"vfw", 81, "cannot move to the start of the file"},
    {"vfw", 97, "cannot read the file"},
    {"vfw", 108, "no RIFF AVI form"},
    {"vfw", 117, "no header list"},
    {"vfw", 126, "no main header"},
    {"vfw", 136, "main header cut short"},
    {"vfw", 142, "main header cut short"},
    {"vfw", 148, "stream count is 0 or above 255"},
    {"vfw", 173, "fewer stream lists than the main header declares"},
    {"vfw", 191, "header list cut short"},
    {"vfw", 200, "more stream lists than the main header declares"},
    {"vfw", 214, "stream list cut short"},
    {"vfw", 224, "stream list cut short"},
    {"vfw", 233, "a stream has no stream header"},
    {"vfw", 238, "a stream has no format"},
    {"vfw", 269, "header list cut short"},
    {"vfw", 289, "no movie list"},
    {"vfw", 296, "movie list cut short"},
    {"vfw", 302, "unreadable index"},
    {"vfw", 352, "stream header cut short"},
    {"vfw", 363, "stream format cut short"},
    {"vfw", 378, "codec data cut short"},
    {"vfw", 389, "OpenDML header cut short"},
    {"vfw", 409, "unreadable OpenDML index"},
    {"vfw", 449, "unreadable idx1 index"},
    {"vfw", 459, "unreadable idx1 index"},
    {"vfw", 483, "movie list cut short"},
    {"vfw", 489, "empty movie list and no index"},
    {"vfw", 1359, "frame data outside the file"},
    {"vfw", 1420, "frame data outside the file"},
    {"vfw", 1222, "sample data outside the file"},
    {"vfw", 940, "sample data outside the file"},
    {"odml", 205, "bad OpenDML index"},
};

const char* site_detail(const VxHostErrorRecord& r) {
    const void* nul = std::memchr(r.source, '\0', sizeof r.source);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - r.source) : sizeof r.source;
    const std::string_view source(r.source, length);
    const std::size_t slash = source.rfind('/');
    const std::string_view tail =
        slash == std::string_view::npos ? source : source.substr(slash + 1);
    for (const Site& s : kSites)
        if (s.source == tail && s.line == r.line) return s.detail;
    return nullptr;
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
    const char* detail = logged ? site_detail(first) : nullptr;

    std::string kind = action;
    if (kind.empty()) {
        if (logged && detail != nullptr && first.line == 108)
            kind = "not an AVI file:";
        else if (code == AVIERR_MEMORY)
            kind = "out of memory reading";
        else if (code == AVIERR_FILEREAD && (!logged || first.line == 81 || first.line == 97))
            kind = "cannot read";
        else
            kind = "damaged AVI file:";
    }
    std::string msg = kind + " " + path + " (";
    if (detail != nullptr) msg += std::string(detail) + "; ";
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
