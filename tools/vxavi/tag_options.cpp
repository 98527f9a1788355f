#include "tag_options.h"

#include <vxmedia/vxtypes.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace vxavi {

namespace {

// "A<sep>B" with two whole 32-bit numbers.
bool parse_pair(const std::string& text, char sep, std::pair<int32_t, int32_t>* out) {
    const std::size_t at = text.find(sep);
    if (at == std::string::npos) return false;
    auto number = [](const std::string& s, int32_t* v) {
        if (s.empty()) return false;
        errno = 0;
        char* end = nullptr;
        const long long n = std::strtoll(s.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
        *v = static_cast<int32_t>(n);
        return true;
    };
    return number(text.substr(0, at), &out->first) && number(text.substr(at + 1), &out->second);
}

bool text_option(const std::string& arg, const char* value, std::size_t max,
                 std::optional<std::string>* field, std::string* error) {
    const std::string text = value;
    if (text.size() > max) {
        *error = arg + " takes at most " + std::to_string(max) + " characters";
        return false;
    }
    *field = text;
    return true;
}

}  // namespace

TagOption parse_tag_option(const std::string& arg, const char* value, TagEdits* e,
                           std::string* error) {
    struct Text {
        const char* name;
        std::optional<std::string> TagEdits::*field;
        std::size_t max;
    };
    static const Text kTexts[] = {
        {"--timecode", &TagEdits::timecode, 17}, {"--timecode-alt", &TagEdits::timecodeAlt, 17},
        {"--reel", &TagEdits::reel, 39},         {"--reel-alt", &TagEdits::reelAlt, 39},
        {"--comment", &TagEdits::comment, 255},
    };
    const bool known = arg == "--pullup" || arg == "--aspect" || arg == "--meta" ||
                       std::any_of(std::begin(kTexts), std::end(kTexts),
                                   [&](const Text& t) { return arg == t.name; });
    if (!known) return TagOption::kNotMine;
    if (value == nullptr) {
        *error = arg + " needs a value";
        return TagOption::kBad;
    }
    for (const Text& t : kTexts) {
        if (arg == t.name) {
            return text_option(arg, value, t.max, &(e->*t.field), error) ? TagOption::kTaken
                                                                         : TagOption::kBad;
        }
    }
    const std::string text = value;
    if (arg == "--pullup" || arg == "--aspect") {
        std::pair<int32_t, int32_t> pair;
        if (!parse_pair(text, arg == "--pullup" ? ',' : ':', &pair)) {
            *error = arg == "--pullup" ? "--pullup takes two whole numbers: A,B"
                                       : "--aspect takes two whole numbers: N:D";
            return TagOption::kBad;
        }
        (arg == "--pullup" ? e->pullup : e->aspect) = pair;
        return TagOption::kTaken;
    }
    // --meta ID=TEXT or ID=@FILE, with a four-character id.
    if (text.size() < 5 || text[4] != '=') {
        *error = "--meta takes ID=TEXT or ID=@FILE with a four-character ID";
        return TagOption::kBad;
    }
    MetaEdit m;
    m.id = VX_MAKEFOURCC(text[0], text[1], text[2], text[3]);
    if (m.id == VX_MAKEFOURCC('R', 'I', 'F', 'F') || m.id == VX_MAKEFOURCC('L', 'I', 'S', 'T') ||
        m.id == VX_MAKEFOURCC('m', 'o', 'v', 'i')) {
        *error = "--meta cannot set RIFF, LIST or movi";
        return TagOption::kBad;
    }
    const std::string rest = text.substr(5);
    if (!rest.empty() && rest[0] == '@') {
        m.file = rest.substr(1);
    } else {
        m.text = rest;
    }
    e->meta.push_back(m);
    return TagOption::kTaken;
}

}  // namespace vxavi
