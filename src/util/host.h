// The library's side of the host support library: error recording at the
// fixed sites (source identifier and line number) the host logs.
#pragma once

#include <VexaInfo.h>
#include <vxmedia/vxtypes.h>

#include "util/error_sites.h"

namespace vx {

// Reports a failure to the host; the export returns what the host returns.
VXRESULT record(VXRESULT code, const ErrorSite& site);

// The same for a site that stands for several faults: `detail` says which one
// and with what values, for this thread's failure detail (failure_detail.h).
VXRESULT record(VXRESULT code, const ErrorSite& site, const char* detail);

}  // namespace vx
