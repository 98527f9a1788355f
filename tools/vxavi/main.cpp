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
};

constexpr Command kCommands[] = {
    {"info", vxavi::run_info, 1, 1, true, false, false, false, false},
    {"frames", vxavi::run_frames, 1, 1, true, false, false, false, false},
    {"decode", vxavi::run_decode, 1, 1, true, false, false, false, false},
    {"frame", vxavi::run_frame, 3, 3, false, false, false, false, true},
    {"remux", vxavi::run_remux, 2, 2, false, true, true, false, false},
    {"demo", vxavi::run_demo, 0, 1, false, true, false, false, false},
    {"tags", vxavi::run_tags, 1, 1, false, false, false, false, false},
    {"tag", vxavi::run_tag, 1, 1, false, false, false, true, false},
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
