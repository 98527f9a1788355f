// The driver's open instances and streams. The manager passes them back as
// ids; only ids handed out and not yet closed are accepted, so a stale or
// made-up id gets an error instead of a wild pointer.
#pragma once

#include <cstdint>
#include <memory>

#include "acm_module.h"

namespace vxacm {

// The new instance's id, or 0 when out of memory.
uintptr_t open_instance();
bool instance_open(uintptr_t id);
// False for an id that is not open.
bool close_instance(uintptr_t id);

// The stream's id (the dwDriver of its stream instance), or 0.
uintptr_t open_stream(std::unique_ptr<Converter> converter);
// The stream's converter, or null for an id that is not open.
Converter* find_stream(uintptr_t id);
void close_stream(uintptr_t id);

}  // namespace vxacm
