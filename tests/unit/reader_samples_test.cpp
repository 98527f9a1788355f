// Sample reads of an open reader: frames (copied or by pointer), raw data of
// either stream, audio by sample number, key-frame search and index
// statistics, and how each refuses bad arguments.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/avireader.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "reader/block_cache.h"
#include "support/reader_fixture.h"
#include "support/riff_builder.h"

namespace {

using namespace vxtest;

// Audio sample s is four bytes that name it, so any misplaced byte shows.
Bytes audio_bytes(uint32_t first, uint32_t count) {
    Bytes b;
    for (uint32_t s = first; s < first + count; ++s) {
        // Byte by byte: GCC 12 at -O3 misreads an initializer-list insert as an overflow.
        for (const uint8_t v : {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), uint8_t{0xA0},
                                uint8_t{0x5A}})
            b.push_back(v);
    }
    return b;
}

const uint32_t kAudioChunks[] = {10, 7, 100, 100, 83};  // samples per chunk
constexpr uint32_t kAudioSamples = 300;

struct Frame {
    uint32_t size;
    uint32_t flags;
};
const Frame kFrames[] = {{10, AVIIF_KEYFRAME}, {7, 0}, {12, 0}, {5, AVIIF_KEYFRAME}};

Bytes frame_bytes(int i) { return pattern(kFrames[i].size, static_cast<uint8_t>(0x10 * i + 1)); }

// Video stream 0 with four frames (key, delta, delta, key), audio stream 1
// with 300 samples of four bytes in chunks of 10, 7, 100, 100 and 83, and a
// text stream 2 that has no index.
AviLayout standard_layout() {
    AviLayout layout;
    StreamLayout text = video_stream(1);
    text.header.fccType = Fcc("txts");
    layout.streams = {video_stream(4), audio_stream(kAudioSamples), text};
    uint32_t sample = 0;
    for (int i = 0; i < 5; ++i) {
        if (i < 4) layout.samples.push_back({0, frame_bytes(i), kFrames[i].flags});
        layout.samples.push_back({1, audio_bytes(sample, kAudioChunks[i])});
        sample += kAudioChunks[i];
    }
    layout.samples.push_back({2, pattern(3, 9)});
    return layout;
}

// Points idx1 entry `entry` (in sample order) at `offset`.
void patch_idx1_offset(Bytes& file, std::size_t entry, uint32_t offset) {
    const std::string text(file.begin(), file.end());
    const std::size_t idx1 = text.rfind("idx1");
    ASSERT_NE(idx1, std::string::npos);
    const std::size_t at = idx1 + 8 + 16 * entry + 8;
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(offset >> (8 * i));
}

class ReaderSamples : public ReaderTest {
protected:
    VXRESULT open_standard(bool withName = false) {
        return open(standard_layout().build().bytes, withName);
    }
};

// ---- frames ----

TEST_F(ReaderSamples, ReadFrameClampsTheFrameNumberToTheIndex) {
    ASSERT_EQ(open_standard(), 0);
    const std::pair<int32_t, int> cases[] = {{0, 0},  {2, 2},         {3, 3},        {4, 3},
                                             {-5, 0}, {INT32_MAX, 3}, {INT32_MIN, 0}};
    for (const auto& [frame, entry] : cases) {
        SCOPED_TRACE(frame);
        Bytes buffer(16, 0xCC);
        uint32_t size = 16, flags = 0xDEAD;
        ASSERT_EQ(aviReadFrame(reader_, frame, buffer.data(), &size, &flags), 0);
        EXPECT_EQ(size, kFrames[entry].size);
        EXPECT_EQ(flags, kFrames[entry].flags);
        buffer.resize(size);
        EXPECT_EQ(buffer, frame_bytes(entry));
    }
}

TEST_F(ReaderSamples, FrameNumbersCountFromTheStreamStart) {
    AviLayout layout = standard_layout();
    layout.streams[0].header.dwStart = 2;
    ASSERT_EQ(open(layout.build().bytes), 0);
    // Frame f is index entry f + dwStart, in 64 bits.
    const std::pair<int32_t, int> cases[] = {{0, 2}, {-2, 0}, {-1, 1}, {INT32_MAX, 3}};
    for (const auto& [frame, entry] : cases) {
        SCOPED_TRACE(frame);
        uint32_t size = 0;
        ASSERT_EQ(aviReadFrame(reader_, frame, nullptr, &size, nullptr), 0);
        EXPECT_EQ(size, kFrames[entry].size);
    }
}

TEST_F(ReaderSamples, ReadFrameChecksTheBufferSize) {
    ASSERT_EQ(open_standard(), 0);
    uint32_t size = 0, flags = 0;
    ASSERT_EQ(aviReadFrame(reader_, 2, nullptr, &size, &flags), 0);  // size query
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(flags, 0u);

    Bytes buffer(12, 0xCC);
    size = 11;
    EXPECT_EQ(aviReadFrame(reader_, 2, buffer.data(), &size, nullptr), AVIERR_FILEREAD);
    EXPECT_EQ(buffer, Bytes(12, 0xCC));
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kFrameRead}}));

    size = 12;
    ASSERT_EQ(aviReadFrame(reader_, 2, buffer.data(), &size, nullptr), 0);
    EXPECT_EQ(buffer, frame_bytes(2));
}

TEST_F(ReaderSamples, ReadFramePtrWithAndWithoutTheBlockCache) {
    for (const bool withName : {false, true}) {
        SCOPED_TRACE(withName ? "cached" : "uncached");
        ASSERT_EQ(open_standard(withName), 0);
        ASSERT_EQ(reader_->useCache, withName ? 1 : 0);
        const uint64_t loadsBefore = vx::cache::block_loads();
        for (const int frame : {1, 3, 0}) {
            unsigned char* data = nullptr;
            uint32_t size = 0, flags = 0xDEAD;
            ASSERT_EQ(aviReadFramePtr(reader_, frame, &data, &size, &flags, 0), 0);
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(size, kFrames[frame].size);
            EXPECT_EQ(flags, kFrames[frame].flags);
            EXPECT_EQ(Bytes(data, data + size), frame_bytes(frame));
            EXPECT_EQ(aviReadFramePtrRelease(data), 0);
        }
        // All frames lie in the first block of the file.
        EXPECT_EQ(vx::cache::block_loads() - loadsBefore, withName ? 1u : 0u);

        // Without a cache a pointer can only be a copy, which noCopy refuses.
        unsigned char* data = reinterpret_cast<unsigned char*>(&data);
        uint32_t size = 0;
        const VXRESULT rc = aviReadFramePtr(reader_, 0, &data, &size, nullptr, 1);
        if (withName) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(Bytes(data, data + size), frame_bytes(0));
            aviReadFramePtrRelease(data);
            EXPECT_EQ(host_log(), Log{});
        } else {
            EXPECT_EQ(rc, AVIERR_FILEREAD);
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kFramePointer}}));
        }
        VxHostErrorClear();
    }
}

TEST_F(ReaderSamples, ReadFramePtrAlsoClampsToTheStreamLength) {
    AviLayout layout = standard_layout();
    layout.streams[0].header.dwLength = 3;  // the fourth indexed frame is not part of the stream
    ASSERT_EQ(open(layout.build().bytes), 0);
    unsigned char* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(aviReadFramePtr(reader_, 10, &data, &size, nullptr, 0), 0);
    EXPECT_EQ(Bytes(data, data + size), frame_bytes(2));
    aviReadFramePtrRelease(data);
    // The size-only query and aviReadFrame clamp to the index alone.
    ASSERT_EQ(aviReadFramePtr(reader_, 10, nullptr, &size, nullptr, 0), 0);
    EXPECT_EQ(size, kFrames[3].size);
    ASSERT_EQ(aviReadFramePtr(reader_, -3, &data, &size, nullptr, 0), 0);
    EXPECT_EQ(Bytes(data, data + size), frame_bytes(0));
    aviReadFramePtrRelease(data);
}

TEST_F(ReaderSamples, PinnedFrameOutlivesItsReader) {
    ASSERT_EQ(open_standard(true), 0);
    unsigned char* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(aviReadFramePtr(reader_, 2, &data, &size, nullptr, 1), 0);
    close();
    EXPECT_EQ(Bytes(data, data + size), frame_bytes(2));
    EXPECT_EQ(aviReadFramePtrRelease(data), 0);
}

TEST_F(ReaderSamples, CachedFrameReadsFromSeveralThreads) {
    ASSERT_EQ(open_standard(true), 0);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t, &wrong] {
            for (int i = 0; i < 200; ++i) {
                const int frame = (i + t) % 4;
                Bytes buffer(16);
                uint32_t size = 16;
                if (i % 2) {
                    if (aviReadFrame(reader_, frame, buffer.data(), &size, nullptr) != 0) {
                        ++wrong[t];
                        continue;
                    }
                    buffer.resize(size);
                } else {
                    unsigned char* data = nullptr;
                    if (aviReadFramePtr(reader_, frame, &data, &size, nullptr, 0) != 0) {
                        ++wrong[t];
                        continue;
                    }
                    buffer.assign(data, data + size);
                    aviReadFramePtrRelease(data);
                }
                if (buffer != frame_bytes(frame)) ++wrong[t];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(ReaderSamples, SetFileRefRedirectsReads) {
    ASSERT_EQ(open_standard(), 0);
    // The same layout with other sample bytes.
    AviLayout other = standard_layout();
    for (Sample& s : other.samples) {
        for (uint8_t& byte : s.data) byte = static_cast<uint8_t>(~byte);
    }
    const BuiltAvi built = other.build();
    TempAviFile second(built.bytes);
    ASSERT_EQ(aviSetFileRef(reader_, second.handle()), 0);
    EXPECT_EQ(reader_->fileRef, second.handle());
    Bytes buffer(12);
    uint32_t size = 12;
    ASSERT_EQ(aviReadFrame(reader_, 2, buffer.data(), &size, nullptr), 0);
    EXPECT_EQ(buffer, other.samples[4].data);
}

// ---- raw data ----

struct DataRead {
    int32_t stream;
    uint32_t start;
    uint32_t count;
    Bytes expected;
    uint32_t flags;
    Fcc chunkId;
};

void expect_read_data(AviReader* reader, const DataRead& r) {
    Bytes buffer(r.expected.size() + 8, 0xCC);
    uint32_t size = static_cast<uint32_t>(buffer.size()), flags = 0xDEAD, chunkId = 0;
    ASSERT_EQ(
        aviReadData(reader, r.stream, r.start, r.count, buffer.data(), &size, &flags, &chunkId), 0);
    ASSERT_EQ(size, r.expected.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), r.expected);
    EXPECT_EQ(buffer[size], 0xCC);  // nothing written past the request
    EXPECT_EQ(flags, r.flags);
    EXPECT_EQ(chunkId, r.chunkId);
}

TEST_F(ReaderSamples, ReadDataOfEitherStream) {
    ASSERT_EQ(open_standard(), 0);
    const DataRead cases[] = {
        {0, 1, 1, frame_bytes(1), 0, "00dc"},
        {0, 3, 1, frame_bytes(3), AVIIF_KEYFRAME, "00dc"},
        {1, 0, 10, audio_bytes(0, 10), AVIIF_KEYFRAME, "01wb"},
        // From the middle of a chunk to the middle of a later one: the
        // boundary chunks' other samples are skipped.
        {1, 5, 120, audio_bytes(5, 120), AVIIF_KEYFRAME, "01wb"},
        {1, 299, 1, audio_bytes(299, 1), AVIIF_KEYFRAME, "01wb"},
    };
    for (const DataRead& r : cases) {
        SCOPED_TRACE(testing::Message() << "stream " << r.stream << " start " << r.start);
        expect_read_data(reader_, r);
    }
    uint32_t size = 0;
    ASSERT_EQ(aviReadData(reader_, 1, 5, 120, nullptr, &size, nullptr, nullptr), 0);
    EXPECT_EQ(size, 480u);
    size = 77;
    ASSERT_EQ(aviReadData(reader_, 1, 5, 0, nullptr, &size, nullptr, nullptr), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(host_log(), Log{});
}

TEST_F(ReaderSamples, StreamOneIsAudioEvenWhenTheVideoStreamIsOne) {
    AviLayout layout;
    layout.streams = {audio_stream(10), video_stream(1)};
    layout.samples = {{0, audio_bytes(0, 10)}, {1, frame_bytes(0)}};
    ASSERT_EQ(open(layout.build().bytes), 0);
    ASSERT_EQ(reader_->videoStream, 1);
    ASSERT_EQ(reader_->audioStream, 0);
    expect_read_data(reader_, {1, 2, 3, audio_bytes(2, 3), AVIIF_KEYFRAME, "00wb"});
    expect_read_data(reader_, {0, 0, 1, frame_bytes(0), AVIIF_KEYFRAME, "01dc"});
}

TEST_F(ReaderSamples, OtherStreamNumbersNameTheStreamItself) {
    AviLayout layout;
    StreamLayout text = video_stream(1);
    text.header.fccType = Fcc("txts");
    layout.streams = {text, video_stream(1), audio_stream(10)};
    layout.samples = {{1, frame_bytes(0)}, {2, audio_bytes(0, 10)}};
    ASSERT_EQ(open(layout.build().bytes), 0);
    expect_read_data(reader_, {2, 4, 2, audio_bytes(4, 2), AVIIF_KEYFRAME, "02wb"});
    expect_read_data(reader_, {1, 4, 2, audio_bytes(4, 2), AVIIF_KEYFRAME, "02wb"});
    expect_read_data(reader_, {0, 0, 1, frame_bytes(0), AVIIF_KEYFRAME, "01dc"});
}

TEST_F(ReaderSamples, PartialSampleAtTheEndOfAChunkIsNotRead) {
    AviLayout layout;
    layout.streams = {video_stream(1), audio_stream(4)};
    Bytes ragged = audio_bytes(0, 2);
    ragged.insert(ragged.end(), {0xEE, 0xEE});  // half a sample
    layout.samples = {{0, frame_bytes(0)}, {1, ragged}, {1, audio_bytes(2, 2)}};
    ASSERT_EQ(open(layout.build().bytes), 0);
    Bytes buffer(16);
    uint32_t count = 0, size = 16;
    ASSERT_EQ(aviReadAudSamples(reader_, 1, &count, buffer.data(), &size), 0);
    EXPECT_EQ(count, 3u);
    buffer.resize(size);
    EXPECT_EQ(buffer, audio_bytes(1, 3));
}

TEST_F(ReaderSamples, ReadDataRefusesBadRequests) {
    AviLayout layout = standard_layout();
    layout.streams[0].header.dwStart = 2;  // video samples 2..5
    ASSERT_EQ(open(layout.build().bytes), 0);
    struct Case {
        const char* name;
        int32_t stream;
        uint32_t start, count, bufferSize;
        VXRESULT rc;
        const vx::ErrorSite& where;
    };
    namespace vfw = site::vfw;
    const Case cases[] = {
        {"negative stream", -1, 0, 1, 64, AVIERR_BADPARAM, vfw::kDataStream},
        {"no such stream", 7, 0, 1, 64, AVIERR_BADPARAM, vfw::kDataStream},
        {"stream without index", 2, 0, 1, 64, AVIERR_BADPARAM, vfw::kDataStream},
        {"before the stream start", 0, 1, 1, 64, AVIERR_BADPARAM, vfw::kDataBeforeStart},
        {"past the stream end", 0, 5, 2, 64, AVIERR_BADPARAM, vfw::kDataPastEnd},
        {"past the end in 32 bits", 1, 0xFFFFFFF0u, 0x20, 64, AVIERR_BADPARAM, vfw::kDataPastEnd},
        {"two whole-chunk samples", 0, 2, 2, 64, AVIERR_UNSUPPORTED, vfw::kDataVariable},
        {"buffer too small for a frame", 0, 2, 1, 9, AVIERR_BUFFERTOOSMALL, vfw::kDataBuffer},
        {"buffer too small for audio", 1, 0, 16, 63, AVIERR_BUFFERTOOSMALL, vfw::kDataBuffer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VxHostErrorClear();
        Bytes buffer(64);
        uint32_t size = c.bufferSize, flags = 0xDEAD, chunkId = 0xDEAD;
        EXPECT_EQ(aviReadData(reader_, c.stream, c.start, c.count, buffer.data(), &size, &flags,
                              &chunkId),
                  c.rc);
        EXPECT_EQ(host_log(), (Log{{c.rc, c.where}}));
        // Results are written only on success.
        EXPECT_EQ(size, c.bufferSize);
        EXPECT_EQ(flags, 0xDEADu);
        EXPECT_EQ(chunkId, 0xDEADu);
    }
    // The first and last video samples are in range.
    expect_read_data(reader_, {0, 2, 1, frame_bytes(0), AVIIF_KEYFRAME, "00dc"});
    expect_read_data(reader_, {0, 5, 1, frame_bytes(3), AVIIF_KEYFRAME, "00dc"});
}

TEST_F(ReaderSamples, FailedReadsKeepWhatWasRead) {
    Bytes file = standard_layout().build().bytes;
    // Sample order: v0 a0 v1 a1 v2 a2 v3 a3 a4 t0; a1 (samples 10..16) now
    // points past the end of the file.
    patch_idx1_offset(file, 3, 0x7FFFFF00u);
    ASSERT_EQ(open(file), 0);

    Bytes buffer(200, 0xCC);
    uint32_t size = 200;
    EXPECT_EQ(aviReadData(reader_, 1, 4, 20, buffer.data(), &size, nullptr, nullptr),
              AVIERR_FILEREAD);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kDataRead}}));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 24), audio_bytes(4, 6));
    EXPECT_EQ(size, 200u);

    VxHostErrorClear();
    uint32_t count = 0;
    size = 80;
    EXPECT_EQ(aviReadAudSamples(reader_, 4, &count, buffer.data(), &size), AVIERR_FILEREAD);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kAudioRead}}));
    EXPECT_EQ(count, 20u);  // stored before reading
    EXPECT_EQ(size, 80u);
}

TEST_F(ReaderSamples, FramePastTheEndOfTheFileFailsToRead) {
    Bytes file = standard_layout().build().bytes;
    patch_idx1_offset(file, 2, 0x7FFFFF00u);  // v1
    ASSERT_EQ(open(file), 0);
    Bytes buffer(16);
    uint32_t size = 16;
    EXPECT_EQ(aviReadFrame(reader_, 1, buffer.data(), &size, nullptr), AVIERR_FILEREAD);
    unsigned char* data = reinterpret_cast<unsigned char*>(&data);
    EXPECT_EQ(aviReadFramePtr(reader_, 1, &data, &size, nullptr, 0), AVIERR_FILEREAD);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kFrameRead},
                               {AVIERR_FILEREAD, site::vfw::kFramePointer}}));
}

TEST_F(ReaderSamples, SampleNotInTheIndexIsAnInternalError) {
    AviLayout layout = standard_layout();
    layout.streams[1].header.dwLength = 400;  // 100 more than indexed
    ASSERT_EQ(open(layout.build().bytes), 0);
    Bytes buffer(1000);
    uint32_t size = 4;
    EXPECT_EQ(aviReadData(reader_, 1, 350, 1, buffer.data(), &size, nullptr, nullptr),
              AVIERR_INTERNAL);
    uint32_t count = 0;
    size = 1000;
    // Runs out of index after 10 samples.
    EXPECT_EQ(aviReadAudSamples(reader_, 290, &count, buffer.data(), &size), AVIERR_INTERNAL);
    EXPECT_EQ(count, 110u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 40), audio_bytes(290, 10));
    EXPECT_EQ(host_log(), (Log{{AVIERR_INTERNAL, site::vfw::kDataNotIndexed},
                               {AVIERR_INTERNAL, site::vfw::kAudioSamples}}));
}

// ---- audio by sample number ----

TEST_F(ReaderSamples, ReadAudSamplesFillsTheBufferWithWholeSamples) {
    ASSERT_EQ(open_standard(), 0);
    struct Case {
        uint32_t start, bufferSize, count;
    };
    const Case cases[] = {
        {0, 1000, 250}, {17, 1000, 250}, {290, 1000, 10}, {0, 1003, 250},
        {0, 3, 0},      {300, 1000, 0},  {5000, 1000, 0}, {0xFFFFFFFFu, 1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " buffer " << c.bufferSize);
        Bytes buffer(c.bufferSize, 0xCC);
        uint32_t count = 0xDEAD, size = c.bufferSize;
        ASSERT_EQ(aviReadAudSamples(reader_, c.start, &count, buffer.data(), &size), 0);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(size, c.count * 4);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), audio_bytes(c.start, c.count));
    }
    EXPECT_EQ(host_log(), Log{});
}

TEST_F(ReaderSamples, AudioCursorSurvivesBackwardReads) {
    ASSERT_EQ(open_standard(), 0);
    // Forward, a jump back into an earlier chunk, then forward again.
    const std::pair<uint32_t, uint32_t> reads[] = {{0, 12},  {12, 12},  {150, 40}, {20, 12},
                                                   {32, 90}, {122, 30}, {3, 1},    {280, 20}};
    for (const auto& [start, count] : reads) {
        SCOPED_TRACE(start);
        Bytes buffer(count * 4);
        uint32_t got = 0, size = count * 4;
        ASSERT_EQ(aviReadAudSamples(reader_, start, &got, buffer.data(), &size), 0);
        ASSERT_EQ(got, count);
        EXPECT_EQ(buffer, audio_bytes(start, count));
        EXPECT_GE(reader_->audioCursorEntry, 0);
    }
}

TEST_F(ReaderSamples, AudioWithoutSampleSizeIsNotReadBySample) {
    AviLayout layout = standard_layout();
    WAVEFORMATEX wf = wave_format(2, 8000, 16);
    wf.nBlockAlign = 0;
    layout.streams[1].format = as_bytes(wf);
    ASSERT_EQ(open(layout.build().bytes), 0);
    ASSERT_EQ(reader_->streams[1].header.dwSampleSize, 0u);
    Bytes buffer(1000);
    uint32_t count = 0, size = 1000;
    EXPECT_EQ(aviReadAudSamples(reader_, 0, &count, buffer.data(), &size), 1);
    EXPECT_EQ(host_log(), Log{});
    // Each chunk is one sample then.
    expect_read_data(reader_, {1, 1, 1, audio_bytes(10, 7), AVIIF_KEYFRAME, "01wb"});
    size = 1000;
    EXPECT_EQ(aviReadData(reader_, 1, 0, 2, buffer.data(), &size, nullptr, nullptr),
              AVIERR_UNSUPPORTED);
}

TEST_F(ReaderSamples, StreamsThatAreMissingFailCleanly) {
    AviLayout videoOnly;
    videoOnly.streams = {video_stream(1)};
    videoOnly.samples = {{0, frame_bytes(0)}};
    ASSERT_EQ(open(videoOnly.build().bytes), 0);
    Bytes buffer(100);
    uint32_t count = 0, size = 100;
    EXPECT_EQ(aviReadAudSamples(reader_, 0, &count, buffer.data(), &size), AVIERR_INTERNAL);
    EXPECT_EQ(aviReadData(reader_, 1, 0, 1, buffer.data(), &size, nullptr, nullptr),
              AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log{{AVIERR_INTERNAL, site::vfw::kAudioSamples},
                               {AVIERR_BADPARAM, site::vfw::kDataStream}}));

    VxHostErrorClear();
    AviLayout audioOnly;
    audioOnly.streams = {audio_stream(10)};
    audioOnly.samples = {{0, audio_bytes(0, 10)}};
    ASSERT_EQ(open(audioOnly.build().bytes), 0);
    size = 100;
    EXPECT_EQ(aviReadFrame(reader_, 0, buffer.data(), &size, nullptr), AVIERR_FILEREAD);
    unsigned char* data = nullptr;
    EXPECT_EQ(aviReadFramePtr(reader_, 0, &data, &size, nullptr, 0), AVIERR_FILEREAD);
    EXPECT_EQ(aviReadFramePtr(reader_, 0, nullptr, &size, nullptr, 0), AVIERR_FILEREAD);
    EXPECT_EQ(aviReadData(reader_, 0, 0, 1, buffer.data(), &size, nullptr, nullptr),
              AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, site::vfw::kFrameRead},
                               {AVIERR_FILEREAD, site::vfw::kFramePointer},
                               {AVIERR_FILEREAD, site::vfw::kFrameRead},
                               {AVIERR_BADPARAM, site::vfw::kDataStream}}));
    size = 99;
    EXPECT_EQ(aviGetVideoFrameData(reader_, nullptr, &size), 0);
    EXPECT_EQ(size, 0u);
}

// ---- key frames and statistics ----

TEST_F(ReaderSamples, FindKeyFrameStepsBackToAKeyFrame) {
    AviLayout layout = standard_layout();
    layout.streams[0].header.dwStart = 1;  // video samples 1..4
    ASSERT_EQ(open(layout.build().bytes), 0);
    ASSERT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);
    // Positions are index positions, clamped to the stream and the index.
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 0}, {2, 0}, {3, 3}, {4, 3}, {99, 3}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(from);
        uint32_t position = from;
        ASSERT_EQ(aviFindKeyFrame(reader_, &position), 0);
        EXPECT_EQ(position, to);
    }
    uint32_t position = 0;
    EXPECT_EQ(aviFindKeyFrame(reader_, &position), AVIERR_BADPARAM);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(host_log(), (Log{{AVIERR_BADPARAM, site::vfw::kKeyFrameBeforeStart}}));
}

TEST_F(ReaderSamples, FindKeyFrameWhenEveryFrameIsKey) {
    AviLayout layout = standard_layout();
    for (Sample& s : layout.samples) s.flags = AVIIF_KEYFRAME;
    ASSERT_EQ(open(layout.build().bytes), 0);
    ASSERT_EQ(reader_->indexFlags, 0u);
    uint32_t position = 1234;
    EXPECT_EQ(aviFindKeyFrame(reader_, &position), 0);
    EXPECT_EQ(position, 1234u);
}

TEST_F(ReaderSamples, FindKeyFrameWithoutVideoIndex) {
    // Delta entries in the audio's OpenDML index set the flag; the video
    // stream has no index at all.
    MainAVIHeader h{};
    h.dwStreams = 2;
    RiffBuilder b = avi_header_start(h);
    b.begin_stream_list(video_stream(2).header);
    b.strf(bitmap_info(4, 2));
    b.end();
    b.begin_stream_list(audio_stream(2).header);
    b.strf(wave_format(2, 8000, 16));
    b.standard_index({.chunkId = "01wb", .entries = {StdEntry::delta(0x100, 4)}}, "indx");
    b.end();
    ASSERT_EQ(open(b.finish()), 0);
    ASSERT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);
    ASSERT_EQ(reader_->videoIndex.count, 0u);
    uint32_t position = 1;
    EXPECT_EQ(aviFindKeyFrame(reader_, &position), AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log{{AVIERR_BADPARAM, site::vfw::kKeyFrame}}));
}

TEST_F(ReaderSamples, VideoFrameDataListsFlagsAndSizes) {
    ASSERT_EQ(open_standard(), 0);
    uint32_t size = 0;
    ASSERT_EQ(aviGetVideoFrameData(reader_, nullptr, &size), 0);
    EXPECT_EQ(size, 4 * sizeof(AviFrameInfo));
    std::vector<AviFrameInfo> info(5, AviFrameInfo{0xDEAD, 0xDEAD});
    ASSERT_EQ(aviGetVideoFrameData(reader_, info.data(), nullptr), 0);
    const uint32_t flags[] = {0x80000001u, 1, 1, 0x80000001u};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(info[i].flags, flags[i]);
        EXPECT_EQ(info[i].size, kFrames[i].size);
    }
    EXPECT_EQ(info[4].flags, 0xDEADu);  // nothing past the index
}

TEST_F(ReaderSamples, StreamSummaryCountsEntries) {
    AviLayout layout = standard_layout();
    layout.samples.push_back({0, {}, AVIIF_KEYFRAME});  // an empty frame counts only as empty
    layout.streams[0].header.dwLength = 5;
    ASSERT_EQ(open(layout.build().bytes), 0);

    AviStreamSummary s{};
    ASSERT_EQ(aviGetStreamSummary(reader_, 0, &s), 0);
    EXPECT_EQ(s.entries, 5u);
    EXPECT_EQ(s.emptyEntries, 1u);
    EXPECT_EQ(s.keyEntries, 2u);
    EXPECT_EQ(s.deltaEntries, 2u);
    EXPECT_EQ(s.totalBytesLow, 10u + 7 + 12 + 5);
    EXPECT_EQ(s.totalBytesHigh, 0u);

    ASSERT_EQ(aviGetStreamSummary(reader_, 1, &s), 0);
    EXPECT_EQ(s.entries, 5u);
    EXPECT_EQ(s.keyEntries, 5u);
    EXPECT_EQ(s.totalBytesLow, kAudioSamples * 4);

    for (const int32_t stream : {2, -1, 9}) {
        SCOPED_TRACE(stream);
        VxHostErrorClear();
        std::memset(&s, 0xFF, sizeof s);
        EXPECT_EQ(aviGetStreamSummary(reader_, stream, &s), AVIERR_BADPARAM);
        EXPECT_EQ(s.entries | s.emptyEntries | s.keyEntries | s.deltaEntries | s.totalBytesLow |
                      s.totalBytesHigh,
                  0u);
        EXPECT_EQ(host_log(), (Log{{AVIERR_BADPARAM, site::vfw::kSummary}}));
    }
}

TEST_F(ReaderSamples, StreamSummaryTotalsPast4GiB) {
    // Sizes alone: the entries need not point at real data for statistics.
    MainAVIHeader h{};
    h.dwStreams = 1;
    RiffBuilder b = avi_header_start(h);
    b.begin_stream_list(video_stream(3).header);
    b.strf(bitmap_info(4, 2));
    b.standard_index(
        {.chunkId = "00dc", .entries = {{0, 0x7FFFFFFFu}, {0, 0x7FFFFFFFu}, {0, 0x80000000u | 5}}},
        "indx");
    b.end();
    ASSERT_EQ(open(b.finish()), 0);
    AviStreamSummary s{};
    ASSERT_EQ(aviGetStreamSummary(reader_, 0, &s), 0);
    const uint64_t total = 2 * 0x7FFFFFFFull + 5;
    EXPECT_EQ(s.totalBytesLow, static_cast<uint32_t>(total));
    EXPECT_EQ(s.totalBytesHigh, static_cast<uint32_t>(total >> 32));
    EXPECT_EQ(s.keyEntries, 2u);
    EXPECT_EQ(s.deltaEntries, 1u);
}

// ---- a null reader ----

TEST_F(ReaderSamples, NullReaderIsRefusedByEveryExport) {
    Bytes buffer(16);
    uint32_t size = 16, count = 0, position = 0;
    unsigned char* data = nullptr;
    AviStreamSummary summary{};
    const std::pair<const char*, std::function<VXRESULT()>> calls[] = {
        {"aviSetFileRef", [] { return aviSetFileRef(nullptr, nullptr); }},
        {"aviClose", [] { return aviClose(nullptr); }},
        {"aviReadFrame", [&] { return aviReadFrame(nullptr, 0, buffer.data(), &size, nullptr); }},
        {"aviReadFramePtr", [&] { return aviReadFramePtr(nullptr, 0, &data, &size, nullptr, 0); }},
        {"aviReadData",
         [&] { return aviReadData(nullptr, 0, 0, 1, buffer.data(), &size, nullptr, nullptr); }},
        {"aviReadAudSamples",
         [&] { return aviReadAudSamples(nullptr, 0, &count, buffer.data(), &size); }},
        {"aviFindKeyFrame", [&] { return aviFindKeyFrame(nullptr, &position); }},
        {"aviGetVideoFrameData", [&] { return aviGetVideoFrameData(nullptr, nullptr, &size); }},
        {"aviGetStreamSummary", [&] { return aviGetStreamSummary(nullptr, 0, &summary); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        VxHostErrorClear();
        EXPECT_EQ(call(), AVIERR_BADPARAM);
        const Log log = host_log();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].source, kVfw);
    }
    EXPECT_EQ(aviGetStreamCount(nullptr), 0u);
    EXPECT_EQ(aviGetAVIHeader(nullptr), nullptr);
    EXPECT_EQ(aviGetAVIStream(nullptr, 0), nullptr);
    EXPECT_EQ(aviReadFramePtrRelease(nullptr), 0);
}

}  // namespace
