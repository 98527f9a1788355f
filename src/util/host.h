// The library's side of the host support library: error recording at the
// fixed sites (source identifier and line number) the host logs.
#pragma once

#include <VexaInfo.h>

#include <vxmedia/vxtypes.h>

#include "util/error_sites.h"

namespace vx {

// Reports a failure to the host; the export returns what the host returns.
inline VXRESULT record(VXRESULT code, const ErrorSite& site) {
    return RecordAVIError(code, site.source, site.line);
}

}  // namespace vx
