#include "avi_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "md5.h"

namespace vxtest {

namespace {

// Reports the first few mismatches in full and then only a count, so that
// one broken file does not bury the log.
class Mismatches {
public:
    explicit Mismatches(std::string what) : what_(std::move(what)) {}
    ~Mismatches() {
        if (count_ > kShown)
            ADD_FAILURE() << what_ << ": " << count_ << " mismatches in all (first " << kShown
                          << " shown)";
    }
    void add(const std::string& detail) {
        if (++count_ <= kShown) ADD_FAILURE() << what_ << ": " << detail;
    }

private:
    static constexpr int kShown = 5;
    std::string what_;
    int count_ = 0;
};

std::string describe(const Packet& p) {
    return "size " + std::to_string(p.size) + " md5 " + p.md5 + " pos " + std::to_string(p.pos) +
           (p.key ? " key" : "");
}

}  // namespace

void check_video(const std::string& path, const std::vector<Packet>& packets, bool withName,
                 const CheckOptions& options) {
    OpenedAvi avi(path, withName);
    ASSERT_TRUE(avi.ok()) << path << ": aviOpen failed " << first_logged_site();
    AviReader* r = avi.reader();
    ASSERT_GE(r->videoStream, 0) << path << ": no video stream";
    const AviStreamIndex& index = r->videoIndex;
    const AVIStreamHeader& h = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream))->header;
    const std::vector<Packet> expected = packets_of(packets, r->videoStream);
    Mismatches bad(path + (withName ? " (cached)" : " (direct)") + " video");

    std::size_t next = 0;
    std::vector<unsigned char> buffer;
    for (uint32_t p = 0; p < index.count; ++p) {
        const AviIndexEntry& e = index.entries[p];
        const int32_t frame = static_cast<int32_t>(static_cast<int64_t>(p) - h.dwStart);
        const std::string at = "entry " + std::to_string(p) + ": ";
        uint32_t size = 0, flags = 0;
        if (aviReadFrame(r, frame, nullptr, &size, &flags) != 0 || size != e.size) {
            bad.add(at + "size query gave " + std::to_string(size) + ", index says " +
                    std::to_string(e.size));
            continue;
        }
        buffer.assign(std::max<uint32_t>(size, 1), 0);
        uint32_t got = size;
        if (aviReadFrame(r, frame, buffer.data(), &got, &flags) != 0 || got != e.size) {
            bad.add(at + "aviReadFrame failed " + first_logged_site());
            continue;
        }
        const std::string copyMd5 = md5_hex(buffer.data(), got);

        // The pointer read clamps to the header's length; entries past it
        // would read another frame.
        const bool inLength =
            static_cast<uint64_t>(p) < static_cast<uint64_t>(h.dwStart) + h.dwLength;
        if (options.pointers && inLength) {
            unsigned char* data = nullptr;
            uint32_t ptrSize = 0, ptrFlags = 0;
            if (aviReadFramePtr(r, frame, &data, &ptrSize, &ptrFlags, 0) != 0) {
                bad.add(at + "aviReadFramePtr failed " + first_logged_site());
            } else if (ptrSize != got || ptrFlags != flags ||
                       (got != 0 && (data == nullptr || md5_hex(data, got) != copyMd5))) {
                bad.add(at + "pointer read differs from the copy (size " + std::to_string(ptrSize) +
                        ")");
            }
            aviReadFramePtrRelease(data);
        }

        if (e.size == 0) continue;  // ffprobe has no packet for an empty chunk
        if (next >= expected.size()) {
            bad.add(at + "no ffprobe packet left for it (size " + std::to_string(e.size) + ")");
            continue;
        }
        const Packet& want = expected[next++];
        const bool keyOk = !options.keyFlags || want.key == ((flags & AVIIF_KEYFRAME) != 0);
        const bool posOk = want.pos < 0 || static_cast<uint64_t>(want.pos) == e.offset;
        const std::string& md5 = copyMd5;
        if (want.size != got || want.md5 != md5 || !keyOk || !posOk) {
            char b[64];
            std::snprintf(b, sizeof b, " pos %lld", static_cast<long long>(e.offset));
            bad.add(at + "expected " + describe(want) + ", got size " + std::to_string(got) +
                    " md5 " + md5 + b + ((flags & AVIIF_KEYFRAME) ? " key" : ""));
        }
    }
    if (next != expected.size())
        bad.add("ffprobe has " + std::to_string(expected.size()) + " packets, the index " +
                std::to_string(next) + " non-empty entries");
}

void check_audio(const std::string& path, const std::vector<Packet>& packets, bool keyFlags,
                 bool bySampleNumber) {
    OpenedAvi avi(path, false);
    ASSERT_TRUE(avi.ok()) << path << ": aviOpen failed " << first_logged_site();
    AviReader* r = avi.reader();
    ASSERT_GE(r->audioStream, 0) << path << ": no audio stream";
    const AviStreamIndex& index = r->audioIndex;
    const AVIStreamHeader& h = aviGetAVIStream(r, static_cast<uint32_t>(r->audioStream))->header;
    const uint32_t d = h.dwSampleSize;
    const uint64_t endSample = static_cast<uint64_t>(h.dwStart) + h.dwLength;
    const std::vector<Packet> expected = packets_of(packets, r->audioStream);
    Mismatches bad(path + " audio");
    struct Placed {
        uint32_t sample, entry;
    };
    std::vector<Placed> bySample;

    // Whole samples of each entry within the header's length, concatenated:
    // what a sequential read of the stream must give.
    Md5 stream;
    uint64_t streamBytes = 0;
    uint64_t sample = h.dwStart;
    std::size_t next = 0;
    for (uint32_t i = 0; i < index.count; ++i) {
        const AviIndexEntry& e = index.entries[i];
        const uint64_t n = d ? e.size / d : 1;
        const std::string at = "entry " + std::to_string(i) + ": ";
        std::vector<unsigned char> bytes;
        // Read by sample numbers where the entry is whole samples (a chunk
        // is one sample of variable-rate audio); else straight from the file
        // at the indexed place.
        const bool bySamples =
            n != 0 && (d == 0 || e.size % d == 0) && sample + n <= endSample;
        if (bySamples) bySample.push_back({static_cast<uint32_t>(sample), i});
        if (bySamples) {
            bytes.assign(e.size, 0);
            uint32_t size = e.size, flags = 0, chunkId = 0;
            const VXRESULT res =
                aviReadData(r, 1, static_cast<uint32_t>(sample), static_cast<uint32_t>(n),
                            bytes.data(), &size, &flags, &chunkId);
            if (res != 0 || size != e.size || chunkId != index.chunkId) {
                bad.add(at + "aviReadData failed " + first_logged_site());
                sample += n;
                continue;
            }
        } else {
            // Only entries past the header's length may be out of reach.
            if (bySampleNumber && sample < endSample && e.size != 0)
                bad.add(at + "not a whole number of samples of " + std::to_string(d) + " bytes");
            bytes = read_range(path, e.offset, e.size);
        }
        if (d != 0 && sample < endSample) {
            const uint64_t whole = std::min<uint64_t>(n, endSample - sample) * d;
            stream.update(bytes.data(), static_cast<std::size_t>(whole));
            streamBytes += whole;
        }
        sample += n;
        if (e.size == 0) continue;
        if (next >= expected.size()) {
            bad.add(at + "no ffprobe packet left for it");
            continue;
        }
        const Packet& want = expected[next++];
        const std::string md5 = md5_hex(bytes.data(), bytes.size());
        const bool posOk = want.pos < 0 || static_cast<uint64_t>(want.pos) == e.offset;
        const bool keyOk = !keyFlags || want.key == ((e.flags & AVIIF_KEYFRAME) != 0);
        if (want.size != bytes.size() || want.md5 != md5 || !posOk || !keyOk)
            bad.add(at + "expected " + describe(want) + ", got size " +
                    std::to_string(bytes.size()) + " md5 " + md5 + " pos " +
                    std::to_string(e.offset) + ((e.flags & AVIIF_KEYFRAME) ? " key" : ""));
    }
    if (next != expected.size())
        bad.add("ffprobe has " + std::to_string(expected.size()) + " packets, the index " +
                std::to_string(next) + " non-empty entries");

    // The same entries again in a shuffled order: each lookup by sample
    // number must land on its own chunk wherever the last one ended.
    std::mt19937 shuffle(12345);
    std::shuffle(bySample.begin(), bySample.end(), shuffle);
    for (const Placed& p : bySample) {
        const AviIndexEntry& e = index.entries[p.entry];
        std::vector<unsigned char> bytes(e.size);
        uint32_t size = e.size;
        const uint32_t n = d ? e.size / d : 1;
        const VXRESULT res = aviReadData(r, 1, p.sample, n, bytes.data(), &size, nullptr, nullptr);
        if (res != 0 || size != e.size || bytes != read_range(path, e.offset, e.size))
            bad.add("sample " + std::to_string(p.sample) + " read out of order gives another chunk");
    }

    if (d == 0) {
        // Whole chunks are no count of blocks: the call says so.
        uint32_t count = 0, size = 4096;
        std::vector<unsigned char> buffer(size);
        EXPECT_EQ(aviReadAudSamples(r, h.dwStart, &count, buffer.data(), &size), 1) << path;
        return;
    }

    // 7 blocks of 1000 bytes (rounded to whole samples) cross chunk edges.
    const uint32_t bufferSize = std::max<uint32_t>(7000 / d, 1) * d;
    std::vector<unsigned char> buffer(bufferSize);
    Md5 sequential;
    uint64_t total = 0;
    for (uint64_t start = h.dwStart; start < endSample && total < streamBytes;) {
        // Ask for no more than the index holds: the header's length may
        // promise more (a writer that could not go back to fix it).
        uint32_t count = 0;
        uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(bufferSize, streamBytes - total));
        if (aviReadAudSamples(r, static_cast<uint32_t>(start), &count, buffer.data(), &size) != 0) {
            bad.add("aviReadAudSamples at sample " + std::to_string(start) + " failed " +
                    first_logged_site());
            return;
        }
        if (count == 0) break;
        sequential.update(buffer.data(), size);
        total += size;
        start += count;
    }
    EXPECT_EQ(total, streamBytes) << path << ": bytes read sample by sample";
    EXPECT_EQ(sequential.hex(), stream.hex()) << path << ": audio read sample by sample";
}

}  // namespace vxtest
