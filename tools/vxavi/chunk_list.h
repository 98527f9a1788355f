// The plain chunks of a file that may carry tags: those at the top level of
// each RIFF form and those in "INFO" lists. A bounded walk of headers only.
#pragma once

#include <cstdint>
#include <vector>

#include "input_file.h"

namespace vxavi {

struct TagChunk {
    uint32_t list = 0;  // type of the form or list holding it
    uint32_t id = 0;
    uint32_t size = 0;
    uint64_t data = 0;  // position of its data
};

std::vector<TagChunk> list_tag_chunks(const InputFile& file);

}  // namespace vxavi
