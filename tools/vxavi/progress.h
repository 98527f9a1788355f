// Progress of a long run on standard error: frames done, bytes and rate,
// redrawn in place at most ten times a second. Silent when standard error
// is not a terminal, so that logs and pipes get no control characters.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vxavi {

class Progress {
public:
    // `totalFrames` 0 when unknown.
    Progress(std::string label, uint64_t totalFrames);
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(uint64_t frames, uint64_t bytes);
    // Removes the line; later updates draw it again.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void draw(uint64_t frames, uint64_t bytes);

    std::string label_;
    uint64_t totalFrames_;
    bool enabled_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    std::size_t drawn_ = 0;  // characters on the line now
};

}  // namespace vxavi
