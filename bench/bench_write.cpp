// Writing: 1 GiB of 100 KB video chunks through avifileWrite against a plain
// write() loop of the same chunks and against libavformat's AVI muxer given
// the same packets; and the writer's heap per indexed chunk.
//
// Nothing here syncs: every contender's bytes end in the page cache, and each
// file is deleted as soon as its contender is done, before the next one
// starts, so that dirty pages of one contender are never written back on the
// time of another.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
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
#include "heap_meter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vxbench {

namespace {

constexpr double kGoalVsRaw = 0.9;
constexpr double kGoalVsLavf = 2.0;
constexpr double kGoalBytesPerChunk = 16.0;

constexpr uint32_t kChunkSize = 100000;
constexpr uint32_t kKeyEvery = 10;
constexpr uint32_t kWidth = 1920, kHeight = 1080;

constexpr uint32_t fcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

bool is_key(uint64_t i) { return i % kKeyEvery == 0; }

// The chunks every contender writes: one buffer, its first 8 bytes the chunk
// number so that no two chunks are alike.
struct Source {
    uint64_t chunks;
    std::vector<uint8_t> data;

    explicit Source(uint64_t n) : chunks(n), data(kChunkSize) {
        uint32_t x = 12345;
        for (uint8_t& c : data) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    }
    const uint8_t* chunk(uint64_t i) {
        std::memcpy(data.data(), &i, sizeof i);
        return data.data();
    }
    uint64_t bytes() const { return chunks * kChunkSize; }
};

uint64_t file_size(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

struct Written {
    double seconds = -1;
    uint64_t fileSize = 0;
};

// Seconds from avifileOpen to the end of avifileClose; negative on failure.
double vx_write(Source& src, const std::string& path) {
    const double t0 = seconds();
    MainAVIHeader m{};
    m.dwTotalFrames = static_cast<uint32_t>(src.chunks);
    m.dwWidth = kWidth;
    m.dwHeight = kHeight;
    AviWriter* w = nullptr;
    if (avifileOpen(&w, path.c_str(), &m) != 0) return -1;
    AVIStreamHeader h{};
    h.fccType = fcc("vids");
    h.fccHandler = fcc("FMP4");
    h.dwScale = 1;
    h.dwRate = 25;
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = kWidth;
    f.biHeight = kHeight;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = fcc("FMP4");
    int32_t stream = -1;
    bool ok = avifileAddStream(w, &stream, &h, &f, sizeof f) == 0;
    for (uint64_t i = 0; ok && i < src.chunks; ++i) {
        ok = avifileWrite(w, stream, src.chunk(i), kChunkSize, 'd' | ('c' << 8),
                          is_key(i) ? AVIIF_KEYFRAME : 0) == 0;
    }
    const bool closed = avifileClose(w, static_cast<uint32_t>(src.chunks), 0) == 0;
    return ok && closed ? seconds() - t0 : -1;
}

// One write() per chunk (looping only on a short write): the peer.
double raw_write(Source& src, const std::string& path) {
    const double t0 = seconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = true;
    for (uint64_t i = 0; ok && i < src.chunks; ++i) {
        const uint8_t* p = src.chunk(i);
        uint32_t done = 0;
        while (ok && done < kChunkSize) {
            const ssize_t n = ::write(fd, p + done, kChunkSize - done);
            ok = n > 0;
            if (ok) done += static_cast<uint32_t>(n);
        }
    }
    const bool closed = ::close(fd) == 0;
    return ok && closed ? seconds() - t0 : -1;
}

bool write_all(int fd, const uint8_t* p, size_t size) {
    while (size != 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// For information: the same bytes gathered into a 256 KiB buffer and written
// in whole, page-aligned blocks, as libavformat's file output does.
double buffered_write(Source& src, const std::string& path) {
    constexpr size_t kBlock = 256 << 10;
    static std::vector<uint8_t> buffer(kBlock);
    const double t0 = seconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = true;
    size_t used = 0;
    for (uint64_t i = 0; ok && i < src.chunks; ++i) {
        const uint8_t* p = src.chunk(i);
        for (size_t left = kChunkSize; ok && left != 0;) {
            const size_t n = std::min(left, kBlock - used);
            std::memcpy(buffer.data() + used, p, n);
            used += n;
            p += n;
            left -= n;
            if (used == kBlock) {
                ok = write_all(fd, buffer.data(), used);
                used = 0;
            }
        }
    }
    ok = ok && write_all(fd, buffer.data(), used);
    const bool closed = ::close(fd) == 0;
    return ok && closed ? seconds() - t0 : -1;
}

// The physical limit: the same number of bytes from one page-aligned buffer
// in 256 KiB writes (no per-chunk work, no copy in user space). Of the block
// sizes tried here (64 KiB to 2 MiB) it was the fastest that was also steady
// from round to round; no writer that puts its bytes into the page cache of a
// file is much faster.
double ceiling_write(Source& src, const std::string& path) {
    constexpr size_t kBlock = 256 << 10;
    static uint8_t* block = [] {
        auto* p = static_cast<uint8_t*>(std::aligned_alloc(4096, kBlock));
        if (p != nullptr) std::memset(p, 0x5A, kBlock);
        return p;
    }();
    if (block == nullptr) return -1;
    const double t0 = seconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = true;
    for (uint64_t left = src.bytes(); ok && left != 0;) {
        const size_t n = left < kBlock ? static_cast<size_t>(left) : kBlock;
        ok = write_all(fd, block, n);
        left -= n;
    }
    const bool closed = ::close(fd) == 0;
    return ok && closed ? seconds() - t0 : -1;
}

// libavformat's AVI muxer with one MPEG-4 tagged video stream, packets handed
// to av_write_frame without a copy; from allocating the context to closing
// the file.
double lavf_write(Source& src, const std::string& path) {
    const double t0 = seconds();
    AVFormatContext* ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, nullptr, "avi", path.c_str()) < 0) return -1;
    bool ok = false;
    AVPacket* pkt = av_packet_alloc();
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (pkt != nullptr && st != nullptr) {
        st->time_base = AVRational{1, 25};
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = AV_CODEC_ID_MPEG4;
        st->codecpar->codec_tag = fcc("FMP4");
        st->codecpar->width = kWidth;
        st->codecpar->height = kHeight;
        ok = avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
             avformat_write_header(ctx, nullptr) >= 0;
        for (uint64_t i = 0; ok && i < src.chunks; ++i) {
            pkt->data = const_cast<uint8_t*>(src.chunk(i));
            pkt->size = kChunkSize;
            pkt->stream_index = 0;
            pkt->pts = pkt->dts =
                av_rescale_q(static_cast<int64_t>(i), AVRational{1, 25}, st->time_base);
            pkt->duration = 0;
            pkt->flags = is_key(i) ? AV_PKT_FLAG_KEY : 0;
            ok = av_write_frame(ctx, pkt) >= 0;
        }
        ok = ok && av_write_trailer(ctx) >= 0;
    }
    if (pkt != nullptr) {
        pkt->data = nullptr;
        pkt->size = 0;
        av_packet_free(&pkt);
    }
    if (ctx->pb != nullptr) ok = avio_closep(&ctx->pb) >= 0 && ok;
    avformat_free_context(ctx);
    return ok ? seconds() - t0 : -1;
}

// Runs one contender, notes its file size and deletes the file.
template <class F>
Written run(F&& write, Source& src, const std::string& path) {
    Written r;
    r.seconds = write(src, path);
    r.fileSize = file_size(path);
    ::unlink(path.c_str());
    return r;
}

// The file avifileWrite made must read back with every chunk and key flag.
bool vx_file_reads_back(Source& src, const std::string& path) {
    if (vx_write(src, path) < 0) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0;
    AviReader* r = nullptr;
    ok = ok && aviOpen(&r, reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)), nullptr) == 0;
    if (ok) {
        ok = r->videoIndex.count == src.chunks;
        for (uint32_t i = 0; ok && i < r->videoIndex.count; ++i) {
            const AviIndexEntry& e = r->videoIndex.entries[i];
            uint64_t first = ~0ull;
            ok = e.size == kChunkSize && ((e.flags & AVIIF_KEYFRAME) != 0) == is_key(i) &&
                 ::pread(fd, &first, sizeof first, static_cast<off_t>(e.offset)) == 8 && first == i;
        }
        aviClose(r);
    }
    if (fd >= 0) ::close(fd);
    ::unlink(path.c_str());
    return ok;
}

void write_1gib(benchmark::State& state) {
    Source src(scaled((1ull << 30) / kChunkSize));
    const std::string dir = temp_dir();
    const std::string vxPath = dir + "/write_vx.avi", rawPath = dir + "/write_raw.bin",
                      lavfPath = dir + "/write_lavf.avi";
    if (!vx_file_reads_back(src, vxPath)) {
        state.SkipWithError("the file written does not read back");
        return;
    }

    using Writer = double (*)(Source&, const std::string&);
    constexpr int kContenders = 5;
    const Writer writers[kContenders] = {vx_write, raw_write, lavf_write, buffered_write,
                                         ceiling_write};
    const std::string paths[kContenders] = {vxPath, rawPath, lavfPath, dir + "/write_buffered.bin",
                                            dir + "/write_limit.bin"};
    Rounds times[kContenders];
    Written last[kContenders];
    int64_t rounds = 0;
    for (auto _ : state) {
        // Rotate the order so that no contender always follows the same one.
        Written w[kContenders];
        for (int k = 0; k < kContenders; ++k) {
            const int c = static_cast<int>((rounds + k) % kContenders);
            w[c] = run(writers[c], src, paths[c]);
        }
        bool ok = w[1].fileSize == src.bytes() && w[3].fileSize == src.bytes() &&
                  w[4].fileSize == src.bytes();
        for (const Written& x : w) ok = ok && x.seconds >= 0 && x.fileSize >= src.bytes();
        if (!ok) {
            state.SkipWithError("a contender failed to write the whole file");
            break;
        }
        state.SetIterationTime(w[0].seconds);
        for (int c = 0; c < kContenders; ++c) {
            times[c].add(w[c].seconds);
            last[c] = w[c];
        }
        ++rounds;
    }
    const Rounds &vx = times[0], &raw = times[1], &lavf = times[2], &buffered = times[3],
                 &limit = times[4];
    const Written& lastVx = last[0];
    const Written& lastLavf = last[2];
    if (rounds == 0) return;

    const double gib = src.bytes() / double(1u << 30);
    const double vsRaw = raw.median() / vx.median();
    const double vsLavf = lavf.median() / vx.median();
    state.counters["chunks"] = static_cast<double>(src.chunks);
    state.counters["vx_GiB_per_s"] = gib / vx.median();
    state.counters["write_GiB_per_s"] = gib / raw.median();
    state.counters["lavf_GiB_per_s"] = gib / lavf.median();
    state.counters["buffered_GiB_per_s"] = gib / buffered.median();
    state.counters["limit_GiB_per_s"] = gib / limit.median();
    state.counters["ratio_vs_limit"] = limit.median() / vx.median();
    state.counters["ratio_vs_write"] = vsRaw;
    state.counters["ratio_vs_lavf"] = vsLavf;
    state.SetBytesProcessed(static_cast<int64_t>(src.bytes()) * rounds);

    char detail[200];
    std::snprintf(detail, sizeof detail,
                  "vx %.2f GiB/s, write() %.2f GiB/s (%.2f GiB of data); 256 KiB blocks %.2f GiB/s",
                  gib / vx.median(), gib / raw.median(), gib, gib / buffered.median());
    report("write 100 KB chunks: throughput vs write()", vsRaw, kGoalVsRaw, true, detail);
    std::snprintf(detail, sizeof detail,
                  "vx %.2f GiB/s, lavf %.2f GiB/s (2x: %.2f GiB/s); page-cache limit %.2f GiB/s; "
                  "files %.1f / %.1f MiB (vx / lavf)",
                  gib / vx.median(), gib / lavf.median(), 2 * gib / lavf.median(),
                  gib / limit.median(), lastVx.fileSize / 1048576.0, lastLavf.fileSize / 1048576.0);
    report("write 100 KB chunks: throughput vs lavf", vsLavf, kGoalVsLavf, true, detail);
}

// Heap of a writer that has written `chunks` chunks of 16 bytes, measured
// before avifileClose (peak and held) and over the close.
struct WriterHeap {
    heap::Usage beforeClose;
    int64_t peak = 0;
    bool ok = false;
};

WriterHeap vx_heap(Source& src, uint64_t chunks, const std::string& path) {
    WriterHeap r;
    MainAVIHeader m{};
    m.dwTotalFrames = static_cast<uint32_t>(chunks);
    AVIStreamHeader h{};
    h.fccType = fcc("vids");
    h.dwScale = 1;
    h.dwRate = 25;
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    heap::start();
    AviWriter* w = nullptr;
    bool ok = avifileOpen(&w, path.c_str(), &m) == 0;
    int32_t stream = -1;
    ok = ok && avifileAddStream(w, &stream, &h, &f, sizeof f) == 0;
    for (uint64_t i = 0; ok && i < chunks; ++i)
        ok = avifileWrite(w, stream, src.chunk(i), 16, 'd' | ('c' << 8),
                          is_key(i) ? AVIIF_KEYFRAME : 0) == 0;
    r.beforeClose = heap::now();
    if (w != nullptr) ok = avifileClose(w, static_cast<uint32_t>(chunks), 0) == 0 && ok;
    r.peak = heap::stop().peak;
    ::unlink(path.c_str());
    r.ok = ok;
    return r;
}

// The muxer's heap for the same tiny packets, for comparison.
int64_t lavf_heap(uint64_t chunks, const std::string& path) {
    Source tiny(chunks);
    tiny.data.resize(16);
    heap::start();
    AVFormatContext* ctx = nullptr;
    int64_t peak = -1;
    if (avformat_alloc_output_context2(&ctx, nullptr, "avi", path.c_str()) >= 0) {
        AVStream* st = avformat_new_stream(ctx, nullptr);
        AVPacket* pkt = av_packet_alloc();
        bool ok = st != nullptr && pkt != nullptr;
        if (ok) {
            st->time_base = AVRational{1, 25};
            st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
            st->codecpar->codec_id = AV_CODEC_ID_MPEG4;
            st->codecpar->width = kWidth;
            st->codecpar->height = kHeight;
            ok = avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
                 avformat_write_header(ctx, nullptr) >= 0;
        }
        for (uint64_t i = 0; ok && i < chunks; ++i) {
            std::memcpy(tiny.data.data(), &i, sizeof i);
            pkt->data = tiny.data.data();
            pkt->size = 16;
            pkt->stream_index = 0;
            pkt->pts = pkt->dts = static_cast<int64_t>(i);
            pkt->flags = is_key(i) ? AV_PKT_FLAG_KEY : 0;
            ok = av_write_frame(ctx, pkt) >= 0;
        }
        ok = ok && av_write_trailer(ctx) >= 0;
        if (pkt != nullptr) {
            pkt->data = nullptr;
            pkt->size = 0;
            av_packet_free(&pkt);
        }
        if (ctx->pb != nullptr) avio_closep(&ctx->pb);
        avformat_free_context(ctx);
        if (ok) peak = heap::now().peak;
    }
    heap::stop();
    ::unlink(path.c_str());
    return peak;
}

void write_heap(benchmark::State& state) {
    const uint64_t n = scaled(1000000);
    Source src(1);
    src.data.resize(64);
    const std::string path = temp_dir() + "/write_heap.avi";
    WriterHeap judged, worst;
    int64_t peer = -1;
    // The index grows by blocks of 2048 entries, so its slack is largest
    // just past a block; measured there too.
    const uint64_t pastBlock = (n + 2047) / 2048 * 2048 + 1;
    for (auto _ : state) {
        judged = vx_heap(src, n, path);
        worst = vx_heap(src, pastBlock, path);
        peer = lavf_heap(n, path);
    }
    if (!judged.ok || !worst.ok || peer < 0) {
        state.SkipWithError("writing the tiny chunks failed");
        return;
    }
    // Whatever its form, an index of n chunks needs their offsets and sizes.
    if (judged.beforeClose.net < static_cast<int64_t>(n * 8)) {
        state.SkipWithError("the heap meter does not see the writer's allocations");
        return;
    }
    const double perChunk = judged.peak / double(n);
    const double worstPerChunk = worst.peak / double(pastBlock);
    state.counters["chunks"] = static_cast<double>(n);
    state.counters["vx_peak_B_per_chunk"] = perChunk;
    state.counters["vx_held_B_per_chunk"] = judged.beforeClose.net / double(n);
    state.counters["vx_worst_peak_B_per_chunk"] = worstPerChunk;
    state.counters["lavf_peak_B_per_chunk"] = peer / double(n);

    char detail[220];
    std::snprintf(detail, sizeof detail,
                  "%.0f chunks; held before close %.2f B; just past a block (%llu) %.2f B; "
                  "lavf peak %.2f B%s",
                  double(n), judged.beforeClose.net / double(n),
                  static_cast<unsigned long long>(pastBlock), worstPerChunk, peer / double(n),
                  scale() < 1 ? "; judge at full size" : "");
    report("write tiny chunks: peak heap B/chunk", perChunk, kGoalBytesPerChunk, false, detail);
}

}  // namespace

void register_write_benchmarks() {
    benchmark::RegisterBenchmark("Write/1GiB_100KB", write_1gib)
        ->Iterations(15)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Write/HeapPerChunk", write_heap)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace vxbench
