#include "util/failure_detail.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/host.h"

namespace vx {

namespace {

struct KeptDetail {
    const ErrorSite* site = nullptr;
    char text[sizeof(FailureText)] = {};
};

thread_local KeptDetail t_kept;

}  // namespace

void FailureText::set(const char* format, ...) {
    va_list args;
    va_start(args, format);
    set_v(format, args);
    va_end(args);
}

void FailureText::set_v(const char* format, std::va_list args) {
    std::vsnprintf(text_, sizeof text_, format, args);
}

VXRESULT record(VXRESULT code, const ErrorSite& site) {
    // A later failure at the same site without a reason must not show the
    // earlier one's; the echoes of callers at other sites leave it in place.
    if (t_kept.site == &site) t_kept.site = nullptr;
    return RecordAVIError(code, site.source, site.line);
}

VXRESULT record(VXRESULT code, const ErrorSite& site, const char* detail) {
    t_kept.site = &site;
    std::snprintf(t_kept.text, sizeof t_kept.text, "%s", detail != nullptr ? detail : "");
    return RecordAVIError(code, site.source, site.line);
}

}  // namespace vx

VXAPI const char* VXCALL vxInternalFailureDetail(const char* source, int32_t line) {
    const vx::KeptDetail& kept = vx::t_kept;
    if (source == nullptr || kept.site == nullptr) return "";
    return vx::find_error_site(source, line) == kept.site ? kept.text : "";
}
