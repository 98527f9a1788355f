#include "quiet_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <mutex>

namespace vxlavc {
namespace {

// A depth rather than a flag: a message may reach DriverProc again from
// inside it on the same thread.
thread_local unsigned t_depth = 0;

std::mutex g_lock;
// DRV_LOAD may come more than once (the same module named under two keys,
// or loaded by its own tests besides the codec manager).
unsigned g_loads = 0;

void filter(void* context, int level, const char* format, va_list args) {
    if (t_depth != 0) return;
    av_log_default_callback(context, level, format, args);
}

}  // namespace

void quiet_log_load() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_loads++ == 0) av_log_set_callback(filter);
}

void quiet_log_free() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_loads == 0) return;
    if (--g_loads == 0) av_log_set_callback(av_log_default_callback);
}

QuietLogScope::QuietLogScope() { ++t_depth; }
QuietLogScope::~QuietLogScope() { --t_depth; }

}  // namespace vxlavc
