// Questions the Linux audio compression manager asks drivers on behalf of
// several calls, and the ways it picks the driver to ask.
#pragma once

#include <vxmedia/acm_driver.h>

#include <cstdint>
#include <vector>

#include "platform/posix/acm_handles.h"

namespace vx::platform::acm {

// The size of the driver's largest format of any tag; 0 when it does not say.
uint32_t largest_format(OpenDriver* driver);

// ACMDM_STREAM_OPEN with ACM_STREAMOPENF_QUERY: whether the driver converts
// `source` to `destination` (formats copied by the manager).
uint32_t query_conversion(OpenDriver* driver, std::vector<uint8_t>& source,
                          std::vector<uint8_t>& destination);

// ACMDM_FORMAT_SUGGEST into `destination`, whose size is the room given and
// whose fields named by `flags` are fixed.
uint32_t suggest(OpenDriver* driver, std::vector<uint8_t>& source,
                 std::vector<uint8_t>* destination, uint32_t flags);

// Calls fn with the driver a caller's handle names: an open driver, or a
// driver id opened for the call. fn's result, or the handle's error.
template <class Fn>
uint32_t with_driver(const void* handle, Fn fn) {
    if (OpenDriver* open = find_driver(handle)) return fn(open);
    DriverId* id = find_id(handle);
    if (id == nullptr) return VX_MMSYSERR_INVALHANDLE;
    uint32_t result = VX_MMSYSERR_NOERROR;
    OpenDriver* open = open_driver(id, &result);
    if (open == nullptr) return result;
    struct Closer {
        OpenDriver* d;
        ~Closer() { close_driver(d); }
    } closer{open};
    return fn(open);
}

// Calls fn with each enabled driver, opened for the call, in the profile's
// order until it returns true. Throws std::bad_alloc.
template <class Fn>
void for_each_driver(Fn fn) {
    for (DriverId* id : enabled_drivers()) {
        uint32_t result = VX_MMSYSERR_NOERROR;
        OpenDriver* open = open_driver(id, &result);
        if (open == nullptr) continue;
        struct Closer {
            OpenDriver* d;
            ~Closer() { close_driver(d); }
        } closer{open};
        if (fn(open)) return;
    }
}

}  // namespace vx::platform::acm
