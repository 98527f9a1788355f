// The driver's open instances. The codec manager passes an instance back as
// its driverId; only ids handed out and not yet closed are accepted, so a
// stale or made-up id gets an error instead of a wild pointer.
#pragma once

#include <cstdint>
#include <memory>

#include "decoder.h"

namespace vxlavc {

struct Instance {
    std::unique_ptr<Decoder> decoder;  // set between BEGIN and END
};

// The new instance's id, or 0 when out of memory.
uintptr_t open_instance();
// The instance, or null for an id that is not open.
Instance* find_instance(uintptr_t id);
// False for an id that is not open.
bool close_instance(uintptr_t id);

}  // namespace vxlavc
