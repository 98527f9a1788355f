// The library's side of the host support library: error recording with the
// fixed source identifiers and line numbers the host logs.
#pragma once

#include <VexaInfo.h>

#include <vxmedia/vxtypes.h>

namespace vx {

inline constexpr const char* kSrcVfw = "Src/VFW/vfw";
inline constexpr const char* kSrcOdml = "Src/VFW/odml";
inline constexpr const char* kSrcAviEasy = "Src/VFW/VfwAviEasy";
inline constexpr const char* kSrcVfwCodec = "Src/VFW/vfwcodec";

// Reports a failure to the host; the export returns what the host returns.
inline VXRESULT record(VXRESULT code, const char* source, int line) {
    return RecordAVIError(code, source, line);
}

}  // namespace vx
