// Frame reads through the block cache against FFmpeg's packet reads and a raw
// pread loop over the same byte ranges, on a warm page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <vxmedia/avireader.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench_common.h"
#include "benchmarks.h"
#include "lavf_peer.h"

namespace vxbench {

namespace {

constexpr double kGoalSequentialVsLavf = 2.0;
constexpr double kGoalSequentialVsPread = 0.7;
constexpr double kGoalTinyVsLavf = 4.0;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

// What a loop saw: the checks that every contender read the same frames.
struct Pass {
    double seconds = -1;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t sum = 0;  // first and last byte of every frame

    bool same_as(const Pass& o) const {
        return frames == o.frames && bytes == o.bytes && sum == o.sum;
    }
};

// Each loop looks at the first and last byte of every frame, so that the
// bytes are there, and no more: the cost measured is the read.
void consume(Pass& p, const unsigned char* data, uint32_t size) {
    ++p.frames;
    p.bytes += size;
    if (size != 0) p.sum += data[0] + data[size - 1];
}

const TestFile* prepare(benchmark::State& state, const TestFile& (*make)()) {
    try {
        const TestFile& f = make();
        warm_page_cache(f.path);
        return &f;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// The reader is opened with the file name (so reads go through the block
// cache) before the clock starts.
Pass vx_by_pointer(const TestFile& f, HANDLE h) {
    Pass p;
    AviReader* r = nullptr;
    if (aviOpen(&r, h, f.path.c_str()) != 0) return p;
    const auto n = static_cast<int32_t>(r->videoIndex.count);
    const double t0 = seconds();
    for (int32_t i = 0; i < n; ++i) {
        unsigned char* data = nullptr;
        uint32_t size = 0, flags = 0;
        if (aviReadFramePtr(r, i, &data, &size, &flags, 0) != 0) {
            aviClose(r);
            return Pass{};
        }
        consume(p, data, size);
        aviReadFramePtrRelease(data);
    }
    p.seconds = seconds() - t0;
    aviClose(r);
    return p;
}

Pass vx_into_buffer(const TestFile& f, HANDLE h, std::vector<unsigned char>& buffer) {
    Pass p;
    AviReader* r = nullptr;
    if (aviOpen(&r, h, f.path.c_str()) != 0) return p;
    const auto n = static_cast<int32_t>(r->videoIndex.count);
    const double t0 = seconds();
    for (int32_t i = 0; i < n; ++i) {
        uint32_t size = static_cast<uint32_t>(buffer.size()), flags = 0;
        if (aviReadFrame(r, i, buffer.data(), &size, &flags) != 0) {
            aviClose(r);
            return Pass{};
        }
        consume(p, buffer.data(), size);
    }
    p.seconds = seconds() - t0;
    aviClose(r);
    return p;
}

// Opened (and its index read) before the clock starts.
Pass lavf_packets(const TestFile& f) {
    Pass p;
    LavfFile peer;
    if (!peer.open(f.path)) return p;
    const double t0 = seconds();
    const int64_t n =
        peer.for_each_packet([&](const unsigned char* d, uint32_t s) { consume(p, d, s); });
    if (n < 0) return Pass{};
    p.seconds = seconds() - t0;
    return p;
}

// The same byte ranges, read with pread into one reused buffer.
Pass raw_pread(const TestFile& f, int fd, std::vector<unsigned char>& buffer) {
    Pass p;
    const double t0 = seconds();
    for (const FrameRange& r : f.layout.frames) {
        uint32_t done = 0;
        while (done < r.size) {
            const ssize_t got = ::pread(fd, buffer.data() + done, r.size - done,
                                        static_cast<off_t>(r.offset + done));
            if (got <= 0) return Pass{};
            done += static_cast<uint32_t>(got);
        }
        consume(p, buffer.data(), r.size);
    }
    p.seconds = seconds() - t0;
    return p;
}

uint32_t largest_frame(const TestFile& f) {
    uint32_t m = 0;
    for (const FrameRange& r : f.layout.frames) m = std::max(m, r.size);
    return m;
}

void sequential_by_pointer(benchmark::State& state) {
    const TestFile* file = prepare(state, big_classic);
    if (file == nullptr) return;
    const TestFile& f = *file;
    const int fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the test file");
        return;
    }
    // The advice the block cache gives for its own handle.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<unsigned char> buffer(largest_frame(f));

    Rounds vx, lavf, raw;
    Pass reference;
    int64_t rounds = 0;
    for (auto _ : state) {
        Pass a, b, c;
        // Rotate the order so that no contender always runs first or last.
        switch (rounds % 3) {
            case 0:
                a = vx_by_pointer(f, handle_of(fd));
                b = lavf_packets(f);
                c = raw_pread(f, fd, buffer);
                break;
            case 1:
                b = lavf_packets(f);
                c = raw_pread(f, fd, buffer);
                a = vx_by_pointer(f, handle_of(fd));
                break;
            default:
                c = raw_pread(f, fd, buffer);
                a = vx_by_pointer(f, handle_of(fd));
                b = lavf_packets(f);
                break;
        }
        if (rounds == 0) reference = c;
        if (a.seconds < 0 || b.seconds < 0 || c.seconds < 0 || !a.same_as(reference) ||
            !b.same_as(reference) || !c.same_as(reference) ||
            reference.frames != f.layout.frames.size()) {
            state.SkipWithError("the contenders did not read the same frames");
            break;
        }
        state.SetIterationTime(a.seconds);
        vx.add(a.seconds);
        lavf.add(b.seconds);
        raw.add(c.seconds);
        ++rounds;
    }
    ::close(fd);
    if (rounds == 0) return;

    const double gib = reference.bytes / double(1u << 30);
    const double vsLavf = lavf.median() / vx.median();
    const double vsPread = raw.median() / vx.median();
    state.counters["frames"] = static_cast<double>(reference.frames);
    state.counters["vx_GiB_per_s"] = gib / vx.median();
    state.counters["lavf_GiB_per_s"] = gib / lavf.median();
    state.counters["pread_GiB_per_s"] = gib / raw.median();
    state.counters["ratio_vs_lavf"] = vsLavf;
    state.counters["ratio_vs_pread"] = vsPread;
    state.SetBytesProcessed(static_cast<int64_t>(reference.bytes) * rounds);

    char detail[200];
    std::snprintf(detail, sizeof detail, "vx %.2f GiB/s, lavf %.2f GiB/s (%.2f GiB read)",
                  gib / vx.median(), gib / lavf.median(), gib);
    report("sequential by pointer: throughput vs lavf", vsLavf, kGoalSequentialVsLavf, true,
           detail);
    std::snprintf(detail, sizeof detail, "vx %.2f GiB/s, pread %.2f GiB/s", gib / vx.median(),
                  gib / raw.median());
    report("sequential by pointer: throughput vs pread", vsPread, kGoalSequentialVsPread, true,
           detail);
}

void tiny_frames(benchmark::State& state) {
    const TestFile* file = prepare(state, tiny_classic);
    if (file == nullptr) return;
    const TestFile& f = *file;
    const int fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the test file");
        return;
    }
    std::vector<unsigned char> buffer(std::max<uint32_t>(largest_frame(f), 64));

    Rounds vx, lavf, raw, vxPtr;
    Pass reference;
    int64_t rounds = 0;
    for (auto _ : state) {
        Pass a, b, c, d;
        if (rounds % 2 == 0) {
            a = vx_into_buffer(f, handle_of(fd), buffer);
            b = lavf_packets(f);
        } else {
            b = lavf_packets(f);
            a = vx_into_buffer(f, handle_of(fd), buffer);
        }
        c = raw_pread(f, fd, buffer);
        // For information: the same frames by pointer.
        d = vx_by_pointer(f, handle_of(fd));
        if (rounds == 0) reference = c;
        if (a.seconds < 0 || b.seconds < 0 || c.seconds < 0 || d.seconds < 0 ||
            !a.same_as(reference) || !b.same_as(reference) || !c.same_as(reference) ||
            !d.same_as(reference) || reference.frames != f.layout.frames.size()) {
            state.SkipWithError("the contenders did not read the same frames");
            break;
        }
        state.SetIterationTime(a.seconds);
        vx.add(a.seconds);
        lavf.add(b.seconds);
        raw.add(c.seconds);
        vxPtr.add(d.seconds);
        ++rounds;
    }
    ::close(fd);
    if (rounds == 0) return;

    const double frames = static_cast<double>(reference.frames);
    const double ratio = lavf.median() / vx.median();
    state.counters["frames"] = static_cast<double>(reference.frames);
    state.counters["vx_fps"] = frames / vx.median();
    state.counters["lavf_fps"] = frames / lavf.median();
    state.counters["pread_fps"] = frames / raw.median();
    state.counters["vx_ptr_fps"] = frames / vxPtr.median();
    state.counters["ratio_vs_lavf"] = ratio;
    state.SetItemsProcessed(static_cast<int64_t>(frames) * rounds);

    char detail[200];
    std::snprintf(detail, sizeof detail,
                  "vx %.2f M frames/s, lavf %.2f M/s, pread %.2f M/s, vx by pointer %.2f M/s",
                  frames / vx.median() / 1e6, frames / lavf.median() / 1e6,
                  frames / raw.median() / 1e6, frames / vxPtr.median() / 1e6);
    report("tiny frames: frames/s vs lavf", ratio, kGoalTinyVsLavf, true, detail);
}

}  // namespace

void register_read_benchmarks() {
    benchmark::RegisterBenchmark("SequentialByPointer/1GiB", sequential_by_pointer)
        ->Iterations(15)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TinyFrames/idx1", tiny_frames)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace vxbench
