// vxavi: inspects AVI files through the VxMedia reader and writes them
// through its writer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "tag_options.h"

namespace {

constexpr const char* kUsage =
    "usage: vxavi info FILE [--json]\n"
    "       vxavi frames FILE [--json]\n"
    "       vxavi decode FILE [--json]\n"
    "       vxavi frame FILE N OUT [--bits 24|32]\n"
    "       vxavi remux IN OUT [--interleave] [--segment-mb N]\n"
    "       vxavi convert IN OUT --video CODE [--quality Q] [--keyint N] [--audio TAG]\n"
    "                [--segment-mb N]\n"
    "       vxavi codecs [--json]\n"
    "       vxavi demo [OUT] [--segment-mb N]\n"
    "       vxavi tags FILE\n"
    "       vxavi tag FILE [--timecode T] [--timecode-alt T] [--reel R] [--reel-alt R]\n"
    "                [--comment C] [--pullup A,B] [--aspect N:D] [--meta ID=TEXT|ID=@FILE]\n"
    "       vxavi --help\n"
    "\n"
    "  info    file size, segments, main header, streams and the video and\n"
    "          audio indexes of an AVI file\n"
    "  frames  one line per video index entry: number, file offset, size,\n"
    "          key flag and CRC-32 of the frame's bytes\n"
    "  decode  every video frame decoded (through the installed codecs when\n"
    "          the stream is compressed): picture size, depth and CRC-32 of\n"
    "          its blue, green and red bytes (of 8 bits and fewer through\n"
    "          the colour table), top row first\n"
    "  frame   frame N (from 0) decoded as by decode and written to OUT as a\n"
    "          BMP file in the depth it was decoded to, palettised pictures\n"
    "          with their colour table\n"
    "  remux   copies the video stream and the first audio stream of IN into\n"
    "          a new AVI file OUT, chunk by chunk in the order of IN, with\n"
    "          their key flags\n"
    "  convert decodes every video frame of IN and compresses it again with the\n"
    "          installed compressor whose handler code is CODE (e.g. MJPG); the\n"
    "          first audio stream is copied, or converted to the format tag TAG\n"
    "          (decimal or 0x hex) by an installed audio codec\n"
    "  codecs  the installed video compressors and audio codecs, as the host\n"
    "          sees them\n"
    "  demo    writes a 4-second test pattern with a tone to OUT (default\n"
    "          vxavi-demo.avi) and an interleaved copy beside it (name ending\n"
    "          in -interleaved), then shows their info\n"
    "  tags    timecodes, reel names, comment, pull-up values, pixel aspect\n"
    "          ratio, INFO texts and the ids of other metadata chunks\n"
    "  tag     sets them in the file itself: into its filler when there is\n"
    "          room, else at its end (--meta may be given more than once)\n"
    "  --json          print JSON instead of text (an object for info, an\n"
    "                  array for frames)\n"
    "  --interleave    group each video chunk with the audio up to the next\n"
    "                  one in an interleave record\n"
    "  --segment-mb N  start a new RIFF segment every N MiB (1 to 2048;\n"
    "                  Linux only, default 2048)\n"
    "  --bits B        write the frame converted to 24 or 32 bits\n"
    "  --quality Q     compression quality, 0 to 10000 (default: the codec's)\n"
    "  --keyint N      ask for a key frame every N frames (default: the first\n"
    "                  only, and where the codec puts them itself)\n"
    "\n"
    "Progress is shown on standard error when it is a terminal.\n"
    "\n"
    "Exit status: 0 success, 1 a file cannot be read or written or is not a\n"
    "usable AVI file, 2 wrong usage.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "vxavi: %s\n%s", message.c_str(), kUsage);
    return vxavi::kExitUsage;
}

struct Command {
    const char* name;
    int (*run)(const vxavi::Options&);
    std::size_t minFiles, maxFiles;
    bool json;    // takes --json
    bool writes;  // takes --segment-mb
    bool interleave;
    bool tags;   // takes the options of tag
    bool frame;  // FILE N OUT, takes --bits
    bool convert;  // takes --video, --quality, --keyint, --audio
};

constexpr Command kCommands[] = {
    {"info", vxavi::run_info, 1, 1, true, false, false, false, false, false},
    {"frames", vxavi::run_frames, 1, 1, true, false, false, false, false, false},
    {"decode", vxavi::run_decode, 1, 1, true, false, false, false, false, false},
    {"frame", vxavi::run_frame, 3, 3, false, false, false, false, true, false},
    {"remux", vxavi::run_remux, 2, 2, false, true, true, false, false, false},
    {"demo", vxavi::run_demo, 0, 1, false, true, false, false, false, false},
    {"tags", vxavi::run_tags, 1, 1, false, false, false, false, false, false},
    {"tag", vxavi::run_tag, 1, 1, false, false, false, true, false, false},
    {"convert", vxavi::run_convert, 2, 2, false, true, false, false, false, true},
    {"codecs", vxavi::run_codecs, 0, 0, true, false, false, false, false, false},
};

// A whole decimal number in [1, 2048].
bool parse_megabytes(const std::string& text, uint32_t* out) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v < 1 || v > 2048) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// A whole decimal number that aviGetFrame takes: 0 to INT32_MAX.
bool parse_frame(const std::string& text, uint32_t* out) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// A whole decimal number from 0 to `max`.
bool parse_number(const char* text, uint32_t max, uint32_t* out) {
    const std::string t = text != nullptr ? text : "";
    if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::strtoull(t.c_str(), nullptr, 10);
    if (v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// A four-character handler code; shorter codes are padded with blanks.
bool parse_code(const char* text, uint32_t* out) {
    const std::string t = text != nullptr ? text : "";
    if (t.empty() || t.size() > 4) return false;
    uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i)
        code |= static_cast<uint32_t>(static_cast<unsigned char>(i < t.size() ? t[i] : ' '))
                << (8 * i);
    *out = code;
    return true;
}

// A format tag: decimal, or hexadecimal after 0x; 1 to 65535.
bool parse_tag(const char* text, uint16_t* out) {
    const std::string t = text != nullptr ? text : "";
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const std::string digits = hex ? t.substr(2) : t;
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos)
        return false;
    const unsigned long v = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    if (v < 1 || v > 0xFFFF) return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return vxavi::kExitOk;
    }
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (name == c.name) command = &c;
    if (command == nullptr) return usage_error("unknown command '" + name + "'");

    vxavi::Options options;
    std::vector<std::string> files;
    bool optionsEnded = false;
    std::string tagError;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--json" && command->json) {
            options.json = true;
        } else if (!optionsEnded && arg == "--interleave" && command->interleave) {
            options.interleave = true;
        } else if (!optionsEnded && arg == "--segment-mb" && command->writes) {
            uint32_t mb = 0;
            if (i + 1 >= argc || !parse_megabytes(argv[i + 1], &mb))
                return usage_error("--segment-mb takes a whole number of MiB from 1 to 2048");
            options.segmentMb = mb;
            ++i;
        } else if (!optionsEnded && arg == "--bits" && command->frame) {
            const std::string bits = i + 1 < argc ? argv[i + 1] : "";
            if (bits != "24" && bits != "32") return usage_error("--bits takes 24 or 32");
            options.bits = bits == "24" ? 24 : 32;
            ++i;
        } else if (!optionsEnded && command->convert &&
                   (arg == "--video" || arg == "--quality" || arg == "--keyint" ||
                    arg == "--audio")) {
            const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
            uint32_t number = 0;
            uint16_t tag = 0;
            if (arg == "--video") {
                if (!parse_code(value, &options.videoCodec))
                    return usage_error("--video takes a handler code of 1 to 4 characters");
            } else if (arg == "--quality") {
                if (!parse_number(value, 10000, &number))
                    return usage_error("--quality takes a whole number from 0 to 10000");
                options.quality = number;
            } else if (arg == "--keyint") {
                if (!parse_number(value, INT32_MAX, &options.keyInterval))
                    return usage_error("--keyint takes a whole number of frames");
            } else {
                if (!parse_tag(value, &tag))
                    return usage_error(
                        "--audio takes a format tag from 1 to 65535 (or 0x1 to 0xffff)");
                options.audioTag = tag;
            }
            ++i;
        } else if (const vxavi::TagOption t =
                       !optionsEnded && command->tags
                           ? vxavi::parse_tag_option(arg, i + 1 < argc ? argv[i + 1] : nullptr,
                                                     &options.tags, &tagError)
                           : vxavi::TagOption::kNotMine;
                   t != vxavi::TagOption::kNotMine) {
            if (t == vxavi::TagOption::kBad) return usage_error(tagError);
            ++i;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return vxavi::kExitOk;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (command->frame && files.size() != 3) return usage_error("frame takes FILE N OUT");
    if (files.size() < command->minFiles)
        return usage_error(command->minFiles == 1 ? "no file given" : "too few files given");
    if (files.size() > command->maxFiles)
        return usage_error(command->maxFiles == 1 ? "more than one file given"
                                                  : "too many files given");
    if (command->tags && !options.tags.any()) return usage_error("tag: nothing to set");
    if (command->convert && options.videoCodec == 0)
        return usage_error("convert: --video CODE names the compressor");
    if (!files.empty()) options.path = files[0];
    if (command->frame) {
        if (!parse_frame(files[1], &options.frame))
            return usage_error("frame: N is a frame number from 0 to 2147483647");
        options.output = files[2];
    } else if (files.size() > 1) {
        options.output = files[1];
    }
    return command->run(options);
}
