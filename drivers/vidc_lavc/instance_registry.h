// The driver's open instances. The codec manager passes an instance back as
// its driverId; only ids handed out and not yet closed are accepted, so a
// stale or made-up id gets an error instead of a wild pointer.
#pragma once

#include <cstdint>
#include <memory>

#include "compressors.h"
#include "decoder.h"
#include "encoder.h"

namespace vxlavc {

struct Instance {
    // What the instance was opened as: a compressor's handler, or null for
    // the catch-all decompressor.
    const Compressor* compressor = nullptr;
    std::unique_ptr<Decoder> decoder;  // set between DECOMPRESS_BEGIN and END
    std::unique_ptr<Encoder> encoder;  // set between COMPRESS_BEGIN and END
};

// The new instance's id, or 0 when out of memory.
uintptr_t open_instance(const Compressor* compressor);
// The instance, or null for an id that is not open.
Instance* find_instance(uintptr_t id);
// False for an id that is not open.
bool close_instance(uintptr_t id);

}  // namespace vxlavc
