// Index load: aviOpen + aviClose against avformat_open_input +
// avformat_close_input on files whose index has a million entries, and the
// heap aviOpen needs per entry.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <vxmedia/avireader.h>

#include <cstdio>
#include <exception>
#include <string>

#include "bench_common.h"
#include "benchmarks.h"
#include "heap_meter.h"
#include "lavf_peer.h"

namespace vxbench {

namespace {

constexpr double kGoalSpeedup = 2.0;
constexpr double kGoalBytesPerEntry = 24.0;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

// Seconds for one aviOpen + aviClose; negative on failure.
double time_vx(const TestFile& f, HANDLE h, uint64_t* entries) {
    const double t0 = seconds();
    AviReader* r = nullptr;
    if (aviOpen(&r, h, f.path.c_str()) != 0) return -1;
    *entries = r->videoIndex.count;
    aviClose(r);
    return seconds() - t0;
}

double time_lavf(const TestFile& f, uint64_t* entries) {
    const double t0 = seconds();
    LavfFile peer;
    if (!peer.open(f.path)) return -1;
    *entries = peer.index_entries();
    peer.close();
    return seconds() - t0;
}

// The loaded index must be the file's own, entry for entry (a rebuilt one
// would carry no key frame flags).
bool index_matches(const TestFile& f, HANDLE h) {
    AviReader* r = nullptr;
    if (aviOpen(&r, h, f.path.c_str()) != 0) return false;
    const AviStreamIndex& index = r->videoIndex;
    bool ok = index.count == f.layout.frames.size();
    for (uint32_t i = 0; ok && i < index.count; ++i) {
        const AviIndexEntry& e = index.entries[i];
        ok = e.offset == f.layout.frames[i].offset && e.size == f.layout.frames[i].size &&
             (e.flags & AVIIF_KEYFRAME) != 0;
    }
    aviClose(r);
    return ok;
}

void index_load(benchmark::State& state, const TestFile& (*make)(), std::string label) {
    const TestFile* file;
    try {
        file = &make();
        warm_page_cache(file->path);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const TestFile& f = *file;
    const uint64_t want = f.layout.frames.size();
    const int fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the test file");
        return;
    }
    const HANDLE h = handle_of(fd);
    if (!index_matches(f, h)) {
        state.SkipWithError("the index read does not match the file written");
        ::close(fd);
        return;
    }

    Rounds vx, lavf;
    int64_t rounds = 0;
    for (auto _ : state) {
        uint64_t vxEntries = 0, lavfEntries = 0;
        double tv, tl;
        // Alternate who goes first so that neither always follows the other.
        if (rounds % 2 == 0) {
            tv = time_vx(f, h, &vxEntries);
            tl = time_lavf(f, &lavfEntries);
        } else {
            tl = time_lavf(f, &lavfEntries);
            tv = time_vx(f, h, &vxEntries);
        }
        if (tv < 0 || tl < 0 || vxEntries != want || lavfEntries != want) {
            state.SkipWithError("an index did not load in full");
            break;
        }
        state.SetIterationTime(tv);
        vx.add(tv);
        lavf.add(tl);
        ++rounds;
    }

    // Heap, measured apart from the timed rounds.
    AviReader* r = nullptr;
    heap::start();
    const bool opened = aviOpen(&r, h, f.path.c_str()) == 0;
    const heap::Usage vxHeap = heap::now();
    if (opened) aviClose(r);
    heap::stop();
    LavfFile peer;
    heap::start();
    const bool peerOpened = peer.open(f.path);
    const heap::Usage lavfHeap = heap::now();
    peer.close();
    heap::stop();
    ::close(fd);
    if (rounds == 0 || !opened || !peerOpened) return;
    if (vxHeap.net < static_cast<int64_t>(want * sizeof(AviIndexEntry))) {
        state.SkipWithError("the heap meter does not see the library's allocations");
        return;
    }

    const double n = static_cast<double>(want);
    const double speedup = lavf.median() / vx.median();
    const double vxPeak = vxHeap.peak / n;
    state.counters["entries"] = n;
    state.counters["vx_ms"] = vx.median() * 1e3;
    state.counters["lavf_ms"] = lavf.median() * 1e3;
    state.counters["speedup_vs_lavf"] = speedup;
    state.counters["vx_peak_B_per_entry"] = vxPeak;
    state.counters["vx_kept_B_per_entry"] = vxHeap.net / n;
    state.counters["lavf_peak_B_per_entry"] = lavfHeap.peak / n;

    char detail[160];
    std::snprintf(detail, sizeof detail, "vx %.1f ms, lavf %.1f ms, %.0f entries",
                  vx.median() * 1e3, lavf.median() * 1e3, n);
    report("index load " + label + ": speedup vs lavf", speedup, kGoalSpeedup, true, detail);
    // The fixed read window of idx1 loading weighs on small files only.
    std::snprintf(detail, sizeof detail, "kept %.1f B/entry; lavf peak %.1f B/entry%s",
                  vxHeap.net / n, lavfHeap.peak / n, scale() < 1 ? "; judge at full size" : "");
    report("index load " + label + ": peak heap B/entry", vxPeak, kGoalBytesPerEntry, false,
           detail);
}

}  // namespace

void register_index_benchmarks() {
    for (auto [name, make] : {std::pair{"idx1", &tiny_classic}, std::pair{"odml", &tiny_odml}}) {
        benchmark::RegisterBenchmark((std::string("IndexLoad/") + name).c_str(), index_load, make,
                                     std::string(name))
            ->Iterations(20)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace vxbench
