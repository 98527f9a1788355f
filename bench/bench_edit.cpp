// Editing: vfwAddTimeData plus vfwSetAspectData on a 2 GiB file against the
// same edit of a 2 MiB file, side by side in one run, and against rewriting
// the 2 GiB file with `ffmpeg -c copy -metadata comment=x`.
//
// Two kinds of file, each at both sizes:
//  - written by avifileWrite: the new chunks go into the "JUNQ" filler the
//    writer leaves behind the header list (the 2 GiB one spans RIFF "AVI "
//    and "AVIX" forms with an OpenDML index);
//  - written by avi_gen, which leaves no filler: the new chunks are appended
//    behind the last form (at 2 GiB, in a new "AVIX" form).
//
// Every round times a first edit of a pristine file and a second edit with
// other values, which replaces the chunks the first one added. Between
// rounds the first and last MiB of each file are put back and the file is cut
// to its old size (not timed); once per file a checksum of the whole file
// proves that this restores it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vxmedia/avichunks.h>
#include <vxmedia/avireader.h>
#include <vxmedia/aviwriter.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "benchmarks.h"

namespace vxbench {

namespace {

constexpr double kGoalBigVsSmall = 1.5;      // at most
constexpr double kGoalFfmpegVsEdit = 100.0;  // at least

constexpr uint32_t kBigFrame = 1u << 20;     // 2048 of them: 2 GiB
constexpr uint32_t kSmallFrame = 16u << 10;  // 128 of them: 2 MiB
constexpr uint64_t kKeep = 1u << 20;         // bytes saved at each end of a file

constexpr uint32_t fcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

uint64_t file_size(int fd) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool pread_all(int fd, void* p, size_t n, uint64_t at) {
    auto* b = static_cast<char*>(p);
    while (n != 0) {
        const ssize_t r = ::pread(fd, b, n, static_cast<off_t>(at));
        if (r <= 0) return false;
        b += r;
        n -= static_cast<size_t>(r);
        at += static_cast<uint64_t>(r);
    }
    return true;
}

bool pwrite_all(int fd, const void* p, size_t n, uint64_t at) {
    const auto* b = static_cast<const char*>(p);
    while (n != 0) {
        const ssize_t r = ::pwrite(fd, b, n, static_cast<off_t>(at));
        if (r <= 0) return false;
        b += r;
        n -= static_cast<size_t>(r);
        at += static_cast<uint64_t>(r);
    }
    return true;
}

// A checksum of every byte of the file (and its size).
uint64_t checksum(int fd) {
    std::vector<uint64_t> buf((8u << 20) / sizeof(uint64_t));
    uint64_t h = 1469598103934665603ull, at = 0;
    for (;;) {
        const ssize_t r =
            ::pread(fd, buf.data(), buf.size() * sizeof(uint64_t), static_cast<off_t>(at));
        if (r <= 0) break;
        const size_t words = (static_cast<size_t>(r) + 7) / 8;
        if (r % 8 != 0) std::memset(reinterpret_cast<char*>(buf.data()) + r, 0, words * 8 - r);
        for (size_t i = 0; i < words; ++i) h = (h ^ buf[i]) * 1099511628211ull + i;
        at += static_cast<uint64_t>(r);
    }
    return h ^ at;
}

// The library's writer: one video stream of `frames` key frames of `size`
// bytes. False on any failure.
bool writer_file(const std::string& path, uint64_t frames, uint32_t size) {
    MainAVIHeader m{};
    m.dwTotalFrames = static_cast<uint32_t>(frames);
    m.dwWidth = 1920;
    m.dwHeight = 1080;
    AviWriter* w = nullptr;
    if (avifileOpen(&w, path.c_str(), &m) != 0) return false;
    AVIStreamHeader h{};
    h.fccType = fcc("vids");
    h.fccHandler = fcc("FMP4");
    h.dwScale = 1;
    h.dwRate = 25;
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = 1920;
    f.biHeight = 1080;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = fcc("FMP4");
    std::vector<uint8_t> data(size, 0x5a);
    int32_t stream = -1;
    bool ok = avifileAddStream(w, &stream, &h, &f, sizeof f) == 0;
    for (uint64_t i = 0; ok && i < frames; ++i) {
        std::memcpy(data.data(), &i, sizeof i);
        ok = avifileWrite(w, stream, data.data(), size, 'd' | ('c' << 8), AVIIF_KEYFRAME) == 0;
    }
    const bool closed = avifileClose(w, static_cast<uint32_t>(frames), 0) == 0;
    return ok && closed;
}

bool generated_file(const std::string& path, uint64_t frames, uint32_t size) {
    AviPlan plan;
    plan.index = IndexKind::kOpenDml;
    plan.frameSizes.assign(frames, size);
    plan.standardIndexChunks = 4;
    AviLayout layout;
    return write_avi(path, plan, &layout);
}

// One file under edit, kept open read-write as a host would keep it.
struct Subject {
    std::string path;
    uint64_t frames = 0;
    int fd = -1;
    uint64_t size = 0;     // before any edit
    uint64_t grownBy = 0;  // by the first edit
    std::vector<char> head, tail;
    Rounds first, again;

    bool save() {
        size = file_size(fd);
        head.resize(std::min(size, kKeep));
        tail.resize(std::min(size, kKeep));
        return pread_all(fd, head.data(), head.size(), 0) &&
               pread_all(fd, tail.data(), tail.size(), size - tail.size());
    }
    bool restore() const {
        return ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
               pwrite_all(fd, head.data(), head.size(), 0) &&
               pwrite_all(fd, tail.data(), tail.size(), size - tail.size());
    }
};

AviTimeData time_data(int variant) {
    AviTimeData t{};
    std::snprintf(t.tc_O, sizeof t.tc_O, "%02d:00:00:00", 1 + variant);
    std::snprintf(t.tc_A, sizeof t.tc_A, "%02d:00:00;00", 1 + variant);
    std::snprintf(t.rn_O, sizeof t.rn_O, "Reel %03d", variant);
    std::snprintf(t.rn_A, sizeof t.rn_A, "B%03d", variant);
    std::snprintf(t.cmnt, sizeof t.cmnt, "take %d, edited in place", variant);
    return t;
}

// The edit under test: seconds, negative on failure.
double edit(int fd, int variant) {
    const AviTimeData t = time_data(variant);
    const double t0 = seconds();
    const bool ok = vfwAddTimeData(handle_of(fd), &t) == 0 &&
                    vfwSetAspectData(handle_of(fd), 10 + variant, 11) == 0;
    const double t1 = seconds();
    return ok ? t1 - t0 : -1;
}

// The reader opens the edited file with every frame, and the getters return
// what the latest edit set.
bool edit_reads_back(const Subject& s, int variant) {
    AviReader* r = nullptr;
    bool ok = aviOpen(&r, handle_of(s.fd), nullptr) == 0;
    ok = ok && r->videoIndex.count == s.frames;
    if (r != nullptr) aviClose(r);
    char tcO[18] = {}, tcA[18] = {}, rnO[40] = {}, rnA[40] = {}, cmnt[256] = {};
    vfwGetTimeCode(handle_of(s.fd), tcO, tcA, rnO, rnA, cmnt);
    const AviTimeData want = time_data(variant);
    int32_t num = 0, den = 0;
    return ok && std::strcmp(tcO, want.tc_O) == 0 && std::strcmp(rnO, want.rn_O) == 0 &&
           std::strcmp(cmnt, want.cmnt) == 0 &&
           vfwGetAspectData(handle_of(s.fd), &num, &den) == 1 && num == 10 + variant && den == 11;
}

// Edits once, checks, and puts the file back; the checksum must come back.
bool check_subject(Subject& s) {
    const uint64_t before = checksum(s.fd);
    bool ok = edit(s.fd, 0) >= 0 && edit_reads_back(s, 0);
    s.grownBy = file_size(s.fd) - s.size;
    ok = ok && edit(s.fd, 1) >= 0 && edit_reads_back(s, 1);
    return ok && s.restore() && checksum(s.fd) == before;
}

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// Seconds of one `ffmpeg -c copy` rewrite with a new comment; negative on
// failure. The output is deleted.
double ffmpeg_rewrite(const std::string& in, const std::string& out) {
    // The parser complains about the made-up frames it copies; what it said
    // is shown only when it fails.
    const std::string log = out + ".log";
    const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + in +
                            "' -c copy -map 0 -metadata comment=x '" + out + "' 2>'" + log + "'";
    const double t0 = seconds();
    const int rc = std::system(cmd.c_str());
    const double t = seconds() - t0;
    ::unlink(out.c_str());
    if (rc != 0) std::system(("cat '" + log + "' >&2").c_str());
    ::unlink(log.c_str());
    return rc == 0 ? t : -1;
}

void edit_2gib(benchmark::State& state) {
    const std::string dir = temp_dir();
    const uint64_t bigFrames = scaled(2048), smallFrames = 128;
    Subject subjects[4];
    const char* names[4] = {"writer_small", "writer_big", "gen_small", "gen_big"};
    for (int i = 0; i < 4; ++i) {
        subjects[i].path = dir + "/edit_" + names[i] + ".avi";
        subjects[i].frames = i % 2 ? bigFrames : smallFrames;
    }
    const double t0 = seconds();
    bool made = writer_file(subjects[0].path, smallFrames, kSmallFrame) &&
                writer_file(subjects[1].path, bigFrames, kBigFrame) &&
                generated_file(subjects[2].path, smallFrames, kSmallFrame) &&
                generated_file(subjects[3].path, bigFrames, kBigFrame);
    for (Subject& s : subjects) {
        s.fd = made ? ::open(s.path.c_str(), O_RDWR | O_CLOEXEC) : -1;
        made = made && s.fd >= 0 && s.save();
    }
    std::printf("# generated 4 files to edit (%.1f and %.1f MiB) in %.1f s\n",
                subjects[0].size / 1048576.0, subjects[1].size / 1048576.0, seconds() - t0);
    std::fflush(stdout);
    bool ok = made;
    for (Subject& s : subjects) ok = ok && check_subject(s);
    // Filler for the writer's files, growth for the others.
    ok = ok && subjects[0].grownBy == 0 && subjects[1].grownBy == 0 && subjects[2].grownBy != 0 &&
         subjects[3].grownBy != 0;
    if (!ok) {
        state.SkipWithError(made ? "an edit failed, did not read back or was not undone"
                                 : "cannot write the files to edit");
    }

    int64_t rounds = 0;
    if (ok) {
        for (auto _ : state) {
            // Rotate the order so that no file always follows the same one.
            for (int k = 0; k < 4 && ok; ++k) {
                Subject& s = subjects[(rounds + k) % 4];
                const int variant = static_cast<int>(rounds % 50) * 2;
                const double a = edit(s.fd, variant);
                const double b = edit(s.fd, variant + 1);
                ok = a >= 0 && b >= 0 && s.restore();
                s.first.add(a);
                s.again.add(b);
                if (&s == &subjects[1]) state.SetIterationTime(a);
            }
            if (!ok) {
                state.SkipWithError("an edit failed");
                break;
            }
            ++rounds;
        }
    }

    double ffmpeg = -1;
    const bool ffmpegThere = have_ffmpeg();
    if (ok && rounds > 0 && ffmpegThere) {
        ffmpeg = ffmpeg_rewrite(subjects[1].path, dir + "/edit_ffmpeg.avi");
    }
    for (Subject& s : subjects) {
        if (s.fd >= 0) ::close(s.fd);
        ::unlink(s.path.c_str());
    }
    if (!ok || rounds == 0) return;

    const Subject &ws = subjects[0], &wb = subjects[1], &gs = subjects[2], &gb = subjects[3];
    const double writerRatio = wb.first.median() / ws.first.median();
    const double appendRatio = gb.first.median() / gs.first.median();
    state.counters["writer_small_us"] = ws.first.median() * 1e6;
    state.counters["writer_big_us"] = wb.first.median() * 1e6;
    state.counters["append_small_us"] = gs.first.median() * 1e6;
    state.counters["append_big_us"] = gb.first.median() * 1e6;
    state.counters["again_writer_big_us"] = wb.again.median() * 1e6;
    state.counters["again_append_big_us"] = gb.again.median() * 1e6;
    state.counters["ratio_writer"] = writerRatio;
    state.counters["ratio_append"] = appendRatio;

    const char* note = scale() < 1 ? "; judge at full size" : "";
    char detail[240];
    std::snprintf(detail, sizeof detail,
                  "%.0f / %.0f us (%.2f GiB / %.1f MiB, filler); again %.0f / %.0f us%s",
                  wb.first.median() * 1e6, ws.first.median() * 1e6, wb.size / 1073741824.0,
                  ws.size / 1048576.0, wb.again.median() * 1e6, ws.again.median() * 1e6, note);
    report("edit time+aspect: 2 GiB / 2 MiB, writer file", writerRatio, kGoalBigVsSmall, false,
           detail);
    std::snprintf(detail, sizeof detail,
                  "%.0f / %.0f us (%.2f GiB / %.1f MiB, +%llu / +%llu B); again %.0f / %.0f us%s",
                  gb.first.median() * 1e6, gs.first.median() * 1e6, gb.size / 1073741824.0,
                  gs.size / 1048576.0, static_cast<unsigned long long>(gb.grownBy),
                  static_cast<unsigned long long>(gs.grownBy), gb.again.median() * 1e6,
                  gs.again.median() * 1e6, note);
    report("edit time+aspect: 2 GiB / 2 MiB, appended", appendRatio, kGoalBigVsSmall, false,
           detail);
    if (ffmpeg > 0) {
        state.counters["ffmpeg_s"] = ffmpeg;
        state.counters["ratio_vs_ffmpeg"] = ffmpeg / wb.first.median();
        std::snprintf(detail, sizeof detail,
                      "ffmpeg -c copy %.2f s once, edit %.0f us (writer file)%s", ffmpeg,
                      wb.first.median() * 1e6, note);
        report("edit time+aspect: ffmpeg rewrite / edit, 2 GiB", ffmpeg / wb.first.median(),
               kGoalFfmpegVsEdit, true, detail);
    } else {
        std::printf("# edit: ffmpeg %s; the rewrite is not compared\n",
                    ffmpegThere ? "failed" : "is not on PATH");
    }
}

}  // namespace

void register_edit_benchmarks() {
    benchmark::RegisterBenchmark("Edit/TimeAndAspect_2GiB_vs_2MiB", edit_2gib)
        ->Iterations(201)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace vxbench
