// vxavi tags: the auxiliary chunks of a file, as the chunk exports read them,
// with the INFO texts and the ids of other chunks that may be metadata.
#include <vxmedia/vxmedia.h>

#include <cstdio>
#include <string>

#include "chunk_list.h"
#include "commands.h"
#include "printing.h"

namespace vxavi {

namespace {

// Chunks of the file's own structure or shown above, not metadata.
bool shown_otherwise(uint32_t id) {
    switch (id) {
        case VX_MAKEFOURCC('J', 'U', 'N', 'K'):
        case VX_CKID_FILLER:
        case VX_MAKEFOURCC('i', 'd', 'x', '1'):
        case VX_CKID_ASPECT:
            return true;
        default:
            return false;
    }
}

void line(const std::string& name, const std::string& value) {
    if (!value.empty()) std::printf("%-14s %s\n", name.c_str(), value.c_str());
}

// At most this much of an INFO text is shown.
constexpr uint32_t kMaxText = 1024;

}  // namespace

int run_tags(const Options& options) {
    const auto file = open_riff<InputFile>(options.path);
    if (file == nullptr) return kExitFileError;
    const HANDLE h = file->handle();
    char tcO[18], tcA[18], rnO[40], rnA[40], comment[256];
    vfwGetTimeCode(h, tcO, tcA, rnO, rnA, comment);
    line("timecode", tcO);
    line("timecode-alt", tcA);
    line("reel", rnO);
    line("reel-alt", rnA);
    line("comment", comment);
    int32_t a = 0, b = 0;
    if (vfwGetPullUpData(h, &a, &b)) line("pullup", std::to_string(a) + "," + std::to_string(b));
    if (vfwGetAspectData(h, &a, &b)) line("aspect", std::to_string(a) + ":" + std::to_string(b));

    for (const TagChunk& c : list_tag_chunks(*file)) {
        if (c.list == VX_MAKEFOURCC('I', 'N', 'F', 'O')) {
            std::string text(std::min(c.size, kMaxText), '\0');
            if (!file->read(c.data, text.data(), static_cast<uint32_t>(text.size()))) continue;
            text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
            line("INFO " + fourcc_text(c.id), text);
        } else if (!shown_otherwise(c.id)) {
            line("meta " + fourcc_text(c.id), std::to_string(c.size) + " bytes");
        }
    }
    return kExitOk;
}

}  // namespace vxavi
