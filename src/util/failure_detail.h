// The reason behind the last failure at a site that stands for several
// faults (the OpenDML index loader reports all of its failures at one line).
// The host's log keeps code, source and line only, so the text stays here,
// per thread, keyed by the site it was recorded with.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace vx {

// Text built where a fault is found, before it is recorded. Fixed size and
// never allocating: it is also filled when memory ran out.
class FailureText {
public:
    [[gnu::format(printf, 2, 3)]] void set(const char* format, ...);
    void set_v(const char* format, std::va_list args);
    const char* c_str() const { return text_; }

private:
    char text_[192] = {};
};

}  // namespace vx

// Internal, for the vxavi tool (which links the shared library) and tests;
// not part of the public interface. The detail this thread recorded for the
// site the host logged as `source`:`line`, or "" when the last failure there
// had none. The text stays valid until the thread records again.
VXAPI const char* VXCALL vxInternalFailureDetail(const char* source, int32_t line);
