// An instance's answers about itself (ICM_GETINFO, the default quality and
// key-frame rate, the configuration dialog it lacks) and the ICM_COMPRESS_
// messages of instances opened with a compressor's handler.
#pragma once

#include <cstdint>

#include "instance_registry.h"

namespace vxlavc {

// ICM_GETINFO: the bytes of `info` filled (at most `size`); with a null
// `info`, the bytes the record needs.
intptr_t get_info(const Instance& instance, void* info, intptr_t size);

// ICM_COMPRESS_*, ICM_GETDEFAULTQUALITY, ICM_GETDEFAULTKEYFRAMERATE and
// ICM_CONFIGURE. Instances of the catch-all decompressor compress nothing.
intptr_t compress_message(Instance& instance, uint32_t message, intptr_t p1, intptr_t p2);

}  // namespace vxlavc
