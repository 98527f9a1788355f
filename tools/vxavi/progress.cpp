#include "progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vxavi {

namespace {

bool stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(::fileno(stderr)) != 0;
#endif
}

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

Progress::Progress(std::string label, uint64_t totalFrames)
    : label_(std::move(label)),
      totalFrames_(totalFrames),
      enabled_(stderr_is_terminal()),
      start_(Clock::now()),
      lastDraw_(start_) {}

void Progress::update(uint64_t frames, uint64_t bytes) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    draw(frames, bytes);
}

void Progress::draw(uint64_t frames, uint64_t bytes) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    char line[160];
    int n;
    if (totalFrames_ != 0)
        n = std::snprintf(line, sizeof line, "%s: %llu/%llu frames, %.1f MiB, %.1f MiB/s",
                          label_.c_str(), static_cast<unsigned long long>(frames),
                          static_cast<unsigned long long>(totalFrames_), mib,
                          seconds > 0 ? mib / seconds : 0.0);
    else
        n = std::snprintf(line, sizeof line, "%s: %llu frames, %.1f MiB, %.1f MiB/s",
                          label_.c_str(), static_cast<unsigned long long>(frames), mib,
                          seconds > 0 ? mib / seconds : 0.0);
    if (n < 0) return;
    std::size_t length =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    // Spaces over what a longer previous line left, no terminal escapes:
    // the Windows console shows those literally.
    const std::size_t pad = drawn_ > length ? drawn_ - length : 0;
    std::fprintf(stderr, "\r%s%*s", line, static_cast<int>(pad), "");
    std::fflush(stderr);
    drawn_ = length;
}

void Progress::finish() {
    if (!enabled_ || drawn_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
    std::fflush(stderr);
    drawn_ = 0;
}

}  // namespace vxavi
