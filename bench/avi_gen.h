// A minimal AVI file writer for benchmark inputs: one video stream, every
// frame a key frame, indexed either by "idx1" or by an OpenDML "indx" super
// index over "ix00" standard index chunks. Just enough for the benchmarks;
// it is not a general writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vxbench {

enum class IndexKind { kClassic, kOpenDml };

struct AviPlan {
    IndexKind index = IndexKind::kClassic;
    std::vector<uint32_t> frameSizes;
    // OpenDML only: how many standard index chunks share the frames.
    uint32_t standardIndexChunks = 64;
};

// Where each frame's data landed in the file.
struct FrameRange {
    uint64_t offset;
    uint32_t size;
};

struct AviLayout {
    std::vector<FrameRange> frames;
    uint64_t fileSize = 0;
};

// Writes the file; false (with errno set by the failing call) on an I/O error.
bool write_avi(const std::string& path, const AviPlan& plan, AviLayout* layout);

}  // namespace vxbench
