// vxavi tag: sets timecodes, reel names, the comment, pull-up values, the
// pixel aspect ratio and metadata chunks of an existing file.
#include <vxmedia/vxmedia.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "edit_file.h"

namespace vxavi {

namespace {

// Metadata read from a file is kept in memory whole; more than this is not a tag.
constexpr std::size_t kMaxMetaFile = 16u << 20;

void put(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

bool report(const std::string& path, const char* what, int32_t rc) {
    if (rc == 0) return true;
    print_error(path + ": cannot set " + what + " (result " + std::to_string(rc) + ")");
    return false;
}

}  // namespace

int run_tag(const Options& options) {
    const TagEdits& e = options.tags;
    std::string error;
    const auto file = EditFile::open(options.path, &error);
    if (file == nullptr) {
        print_error(options.path + ": " + error);
        return kExitFileError;
    }
    const HANDLE h = file->handle();
    uint32_t size = 0;
    if (vfwGetMetaData(h, 0, nullptr, &size) != 0) {
        print_error(options.path + ": not a RIFF file");
        return kExitFileError;
    }
    bool ok = true;
    if (e.timecode || e.timecodeAlt || e.reel || e.reelAlt || e.comment) {
        // Reel names and the comment are always rewritten: keep the stored
        // ones that are not being changed. Empty timecodes keep theirs.
        AviTimeData t{};
        char tcO[18], tcA[18];
        vfwGetTimeCode(h, tcO, tcA, t.rn_O, t.rn_A, t.cmnt);
        if (e.timecode) put(t.tc_O, sizeof t.tc_O, *e.timecode);
        if (e.timecodeAlt) put(t.tc_A, sizeof t.tc_A, *e.timecodeAlt);
        if (e.reel) put(t.rn_O, sizeof t.rn_O, *e.reel);
        if (e.reelAlt) put(t.rn_A, sizeof t.rn_A, *e.reelAlt);
        if (e.comment) put(t.cmnt, sizeof t.cmnt, *e.comment);
        ok = report(options.path, "the time data", vfwAddTimeData(h, &t)) && ok;
    }
    if (e.pullup) {
        ok = report(options.path, "the pull-up values",
                    vfwSetPullUpData(h, e.pullup->first, e.pullup->second)) &&
             ok;
    }
    if (e.aspect) {
        ok = report(options.path, "the aspect ratio",
                    vfwSetAspectData(h, e.aspect->first, e.aspect->second)) &&
             ok;
    }
    for (const MetaEdit& m : e.meta) {
        std::vector<char> data(m.text.begin(), m.text.end());
        if (!m.file.empty()) {
            std::ifstream in(m.file, std::ios::binary);
            if (!in) {
                print_error(m.file + ": cannot be read");
                ok = false;
                continue;
            }
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (data.size() > kMaxMetaFile) {
                print_error(m.file + ": larger than 16 MiB");
                ok = false;
                continue;
            }
        }
        ok = report(options.path, "a metadata chunk",
                    vfwSetMetaData(h, m.id, data.data(), static_cast<uint32_t>(data.size()))) &&
             ok;
    }
    return ok ? kExitOk : kExitFileError;
}

}  // namespace vxavi
