// A small bounded walk over the RIFF structure, for what the reader does not
// report: the top-level forms (segments) and their movie lists, the "indx"
// chunk of each stream list and the presence of "idx1".
#pragma once

#include <cstdint>
#include <vector>

#include "input_file.h"

namespace vxavi {

struct Segment {
    uint32_t form = 0;  // "AVI ", "AVIX", ...
    uint64_t offset = 0;
    uint32_t size = 0;       // declared
    bool truncated = false;  // declared size runs past the end of the file
    // The contents of the form's top-level movie list, bounded by the file;
    // empty (begin == end) when it has none.
    uint64_t moviBegin = 0, moviEnd = 0;
};

// The header of a stream's "indx" chunk and whether it can index anything.
struct IndxInfo {
    bool present = false;
    uint8_t indexType = 0;  // 0 super index, 1 standard index
    uint32_t entries = 0;
    uint32_t chunkId = 0;
    // A well-formed index with entries whose chunks lie in the file.
    bool usable = false;
};

struct RiffLayout {
    std::vector<Segment> segments;  // top-level "RIFF" chunks in file order
    std::vector<IndxInfo> indx;     // per "strl" of the first "AVI " form
    bool moviTruncated = false;     // the first movie list runs past the end
    bool hasIdx1 = false;           // an "idx1" with at least one whole entry
};

RiffLayout scan_layout(const InputFile& file);

}  // namespace vxavi
