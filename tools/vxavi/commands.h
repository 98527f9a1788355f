// The commands of the tool and what they share: the parsed options and the
// opened file with its reader.
#pragma once

#include <vxmedia/avichunks.h>
#include <vxmedia/avireader.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "avi_file.h"

namespace vxavi {

// A metadata chunk to set: its id and its text, or the file holding its bytes.
struct MetaEdit {
    uint32_t id = 0;
    std::string text;
    std::string file;
};

// What vxavi tag changes; unset fields stay as they are.
struct TagEdits {
    std::optional<std::string> timecode, timecodeAlt, reel, reelAlt, comment;
    std::optional<std::pair<int32_t, int32_t>> pullup, aspect;
    std::vector<MetaEdit> meta;
    bool any() const {
        return timecode || timecodeAlt || reel || reelAlt || comment || pullup || aspect ||
               !meta.empty();
    }
};

struct Options {
    std::string path;    // the file read; for demo the file written, may be empty
    std::string output;  // the file written by remux and frame
    uint32_t frame = 0;  // the frame frame writes, from 0
    uint32_t bits = 0;   // the depth frame converts to; 0: as decoded
    bool json = false;
    bool interleave = false;
    std::optional<uint32_t> segmentMb;
    TagEdits tags;
    // convert: the compressor's handler code, quality (0 to 10000), frames
    // from one asked key frame to the next (0: the first only), audio tag.
    uint32_t videoCodec = 0;
    std::optional<uint32_t> quality;
    uint32_t keyInterval = 0;
    std::optional<uint16_t> audioTag;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;

int run_info(const Options& options);
int run_frames(const Options& options);
int run_remux(const Options& options);
int run_demo(const Options& options);
int run_tags(const Options& options);
int run_tag(const Options& options);
int run_decode(const Options& options);
int run_frame(const Options& options);
int run_convert(const Options& options);
int run_codecs(const Options& options);

// "vxavi: <message>" on standard error.
void print_error(const std::string& message);

// Whether the output names the file being read (creating it would empty
// it), after printing `message` when it does.
bool writes_over_input(const Options& options, const std::string& message);

// The file a chunk command reads or edits (InputFile or EditFile); null
// after printing why when it cannot be opened or is not a RIFF file.
template <class File>
std::unique_ptr<File> open_riff(const std::string& path) {
    std::string error;
    std::unique_ptr<File> file = File::open(path, &error);
    if (file == nullptr) {
        print_error(path + ": " + error);
        return nullptr;
    }
    uint32_t size = 0;
    if (vfwGetMetaData(file->handle(), 0, nullptr, &size) != 0) {
        print_error(path + ": not a RIFF file");
        return nullptr;
    }
    return file;
}

}  // namespace vxavi
