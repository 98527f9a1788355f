// vxavi: inspects AVI files through the VxMedia reader.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

constexpr const char* kUsage =
    "usage: vxavi info FILE [--json]\n"
    "       vxavi frames FILE [--json]\n"
    "       vxavi --help\n"
    "\n"
    "  info    file size, segments, main header, streams and the video and\n"
    "          audio indexes of an AVI file\n"
    "  frames  one line per video index entry: number, file offset, size,\n"
    "          key flag and CRC-32 of the frame's bytes\n"
    "  --json  print JSON instead of text (an object for info, an array for\n"
    "          frames)\n"
    "\n"
    "Exit status: 0 success, 1 the file cannot be read or is not a usable\n"
    "AVI file, 2 wrong usage.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "vxavi: %s\n%s", message.c_str(), kUsage);
    return vxavi::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return vxavi::kExitOk;
    }
    int (*run)(const vxavi::Options&) = nullptr;
    if (command == "info")
        run = vxavi::run_info;
    else if (command == "frames")
        run = vxavi::run_frames;
    else
        return usage_error("unknown command '" + command + "'");

    vxavi::Options options;
    bool havePath = false;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--json") {
            options.json = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return vxavi::kExitOk;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option '" + arg + "'");
        } else if (havePath) {
            return usage_error("more than one file given");
        } else {
            options.path = arg;
            havePath = true;
        }
    }
    if (!havePath) return usage_error("no file given");
    return run(options);
}
