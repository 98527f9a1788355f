// vxavi tag: sets timecodes, reel names, the comment, pull-up values, the
// pixel aspect ratio and metadata chunks of an existing file: all that was
// asked for, or on a failure none of it.
#include <vxmedia/vxmedia.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "edit_file.h"
#include "riff_scan.h"

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
    const auto file = open_riff<EditFile>(options.path);
    if (file == nullptr) return kExitFileError;
    const HANDLE h = file->handle();
    // Metadata files are read before the first edit: a tag that fails
    // leaves the file as it was.
    std::vector<std::vector<char>> meta;
    for (const MetaEdit& m : e.meta) {
        std::vector<char> data(m.text.begin(), m.text.end());
        if (!m.file.empty()) {
            std::ifstream in(m.file, std::ios::binary);
            if (!in) {
                print_error(m.file + ": cannot be read");
                return kExitFileError;
            }
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (data.size() > kMaxMetaFile) {
                print_error(m.file + ": larger than 16 MiB");
                return kExitFileError;
            }
        }
        meta.push_back(std::move(data));
    }
    // Each setter either makes its change or, when the file has no room for
    // it, writes nothing; the copy undoes the ones before a failure.
    std::vector<std::pair<uint64_t, uint64_t>> movie;
    std::string error;
    if (const auto input = InputFile::open(options.path, &error)) {
        for (const Segment& s : scan_layout(*input).segments)
            if (s.moviEnd > s.moviBegin) movie.emplace_back(s.moviBegin, s.moviEnd);
    }
    const bool undoable = file->keep(movie);
    bool ok = true, changed = false;
    auto set = [&](const char* what, int32_t rc) {
        ok = report(options.path, what, rc);
        changed = changed || ok;
    };
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
        set("the time data", vfwAddTimeData(h, &t));
    }
    if (ok && e.pullup) {
        set("the pull-up values", vfwSetPullUpData(h, e.pullup->first, e.pullup->second));
    }
    if (ok && e.aspect) {
        set("the aspect ratio", vfwSetAspectData(h, e.aspect->first, e.aspect->second));
    }
    for (std::size_t i = 0; ok && i < meta.size(); ++i) {
        set("a metadata chunk",
            vfwSetMetaData(h, e.meta[i].id, meta[i].data(), static_cast<uint32_t>(meta[i].size())));
    }
    if (!ok && undoable) {
        print_error(options.path +
                    (file->undo() ? ": left as it was" : ": cannot be put back as it was"));
    } else if (!ok && changed) {
        print_error(options.path + ": the settings before the failure were made");
    }
    return ok ? kExitOk : kExitFileError;
}

}  // namespace vxavi
