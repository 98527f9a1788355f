// libav's log lines made while the driver works are dropped: the host sees
// decoding failures in the results, and a damaged frame or a conversion
// swscale warns about must not fill its standard error. Lines logged on
// other threads (the host's own use of libav) still reach libav's default
// output.
#pragma once

namespace vxlavc {

// DRV_LOAD and DRV_FREE: the first load installs the filter as libav's log
// callback, the last free puts libav's default back before the module can
// be unloaded.
void quiet_log_load();
void quiet_log_free();

// Lines logged by this thread while one exists are dropped.
class QuietLogScope {
public:
    QuietLogScope();
    ~QuietLogScope();
    QuietLogScope(const QuietLogScope&) = delete;
    QuietLogScope& operator=(const QuietLogScope&) = delete;
};

}  // namespace vxlavc
