// Segment budgets: AVIX extensions with OpenDML indexes, the size allowance
// and the arithmetic that sizes them.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;
using vx::writer::header_reserve;
using vx::writer::plan_segments;
using vx::writer::SegmentPlan;

constexpr uint64_t kMiB = 1u << 20;

class WriterSegments : public WriterTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        vx::writer::set_segment_mib_for_testing(1);
    }
};

TEST_P(WriterSegments, ManyExtensionsReadBackThroughTheOpenDmlIndex) {
    const bool records = GetParam();
    open(records ? AVIF_ISINTERLEAVED : 0, 400);
    add_video();
    add_audio();
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    Bytes audio;
    uint32_t firstRiffFrames = 0;
    for (uint32_t i = 0; i < 150; ++i) {
        frames.push_back(payload(0, i, 40001 + (i % 3) * 1000));
        keys.push_back(i % 4 == 0);
        ASSERT_EQ(write(0, frames.back(), kDc, keys.back() ? AVIIF_KEYFRAME : 0), 0) << i;
        if (writer_->extensionCount == 0) ++firstRiffFrames;
        const Bytes a = payload(1, i, 3200);
        audio.insert(audio.end(), a.begin(), a.end());
        ASSERT_EQ(write(1, a, kWb, AVIIF_KEYFRAME), 0);
        if (records) {
            ASSERT_EQ(avifileEndRecord(writer_), 0);
        }
    }
    const uint32_t extensions = writer_->extensionCount;
    EXPECT_GE(extensions, 4u);
    ASSERT_EQ(close(150, static_cast<uint32_t>(audio.size() / 4)), 0);
    EXPECT_EQ(VxHostErrorCount(), 0u);

    const Bytes b = file_bytes();
    const auto top = top_chunks(b);
    ASSERT_EQ(top.size(), extensions + 1);
    EXPECT_EQ(top[0].type, Fcc("AVI "));
    for (size_t i = 1; i < top.size(); ++i) {
        EXPECT_EQ(top[i].id, Fcc("RIFF"));
        EXPECT_EQ(top[i].type, Fcc("AVIX"));
        // Every segment stays within its 1 MiB budget.
        EXPECT_LE(top[i].size + 8u, kMiB);
    }
    EXPECT_LE(top[0].size + 8u, kMiB);
    EXPECT_EQ(top.back().position + top.back().size + 8, b.size());

    // Super index of stream 0: one entry per segment, pointing at ix00 chunks.
    const int64_t indx = find_chunk(b, Fcc("indx"), 12, top[0].position + top[0].size);
    ASSERT_GT(indx, 0);
    EXPECT_EQ(rd32(b, indx + 8 + 4), extensions + 1);
    EXPECT_EQ(rd32(b, indx + 8 + 8), Fcc("00dc"));
    const uint64_t ix = rd64(b, indx + 8 + 24);
    EXPECT_EQ(rd32(b, ix), Fcc("ix00"));
    EXPECT_EQ(rd32(b, indx + 8 + 24 + 12), firstRiffFrames);
    // The second frame is a delta frame: bit 31 of its size.
    EXPECT_EQ(rd32(b, ix + 8 + 24 + 12), 0x80000000u | static_cast<uint32_t>(frames[1].size()));
    const int64_t dmlh = find_chunk(b, Fcc("dmlh"), 12, top[0].position + top[0].size);
    ASSERT_GT(dmlh, 0);
    EXPECT_EQ(rd32(b, dmlh + 4), 248u);
    EXPECT_EQ(rd32(b, dmlh + 8), 150u);

    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, firstRiffFrames);
    expect_frames(frames, keys);
    expect_audio(audio);
}

INSTANTIATE_TEST_SUITE_P(Writer, WriterSegments, ::testing::Bool());

class WriterAllowance : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        vx::writer::set_segment_mib_for_testing(1);
    }
    // Writes 20 KB frames until the writer refuses one; returns the frames
    // that were accepted.
    std::vector<Bytes> fill() {
        std::vector<Bytes> frames;
        for (uint32_t i = 0; i < 1000; ++i) {
            const Bytes f = payload(0, i, 20000);
            const VXRESULT rc = write(0, f, kDc, AVIIF_KEYFRAME);
            if (rc != 0) {
                EXPECT_EQ(rc, AVIERR_USERABORT);
                break;
            }
            frames.push_back(f);
        }
        return frames;
    }
    void expect_refused_and_readable(const std::vector<Bytes>& frames) {
        EXPECT_EQ(host_log(), (Log{{AVIERR_USERABORT, kAviEasy, 529}}));
        // Later chunks are refused the same way.
        EXPECT_EQ(write(0, payload(0, 0, 10), kDc, AVIIF_KEYFRAME), AVIERR_USERABORT);
        ASSERT_EQ(close(static_cast<uint32_t>(frames.size()), 0), 0);
        ASSERT_NE(read_back(), nullptr);
        expect_frames(frames, std::vector<bool>(frames.size(), true));
    }
};

TEST_F(WriterAllowance, AllowanceBelowOneSegmentEndsTheFile) {
    set_env("VEXAINFO_MAX_FILE_SIZE", "300000");
    open(0, 1000);
    add_video();
    EXPECT_EQ(writer_->segmentSize, 300000u);
    EXPECT_EQ(writer_->segmentLimit, 0u);
    EXPECT_EQ(avifileCheckSpace(writer_, 0), 0);
    EXPECT_EQ(avifileCheckSpace(writer_, 300000), 0);
    EXPECT_EQ(avifileCheckSpace(writer_, 300001), 1);
    const std::vector<Bytes> frames = fill();
    EXPECT_GT(frames.size(), 10u);
    EXPECT_EQ(avifileCheckSpace(writer_, 20000), 1);
    expect_refused_and_readable(frames);
    EXPECT_LE(file_bytes().size(), 300000u);
}

TEST_F(WriterAllowance, SegmentLimitEndsTheFileAfterItsLastExtension) {
    open(0, 0);  // no frame count expected: room for one extension only
    add_video();
    EXPECT_EQ(writer_->segmentLimit, 2u);
    const std::vector<Bytes> frames = fill();
    EXPECT_GT(frames.size(), 60u);
    EXPECT_EQ(writer_->extensionCount, 1u);
    expect_refused_and_readable(frames);
}

TEST_F(WriterAllowance, PiecesBeyondTheirBudgetFillTheSegmentWithoutWrapping) {
    open(0, 100);
    add_video();
    const Bytes big = payload(0, 0, 1100000);  // more than the whole segment
    AviChunkInfo info{};
    ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 10, kDc, 0, &info), 0);
    ASSERT_EQ(avifileContinueWrite(writer_, big.data(), static_cast<uint32_t>(big.size()), &info),
              0);
    EXPECT_EQ(writer_->segmentLeft, 0u);
    ASSERT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &info), 0);
    const Bytes small = payload(0, 1, 99);
    ASSERT_EQ(write(0, small, kDc, AVIIF_KEYFRAME), 0);
    EXPECT_EQ(writer_->extensionCount, 1u) << "the next chunk starts a new segment";
    ASSERT_EQ(close(2, 0), 0);
    ASSERT_NE(read_back(), nullptr);
    expect_frames({big, small}, {true, true});
}

TEST_F(WriterAllowance, ChunksChargeTheirOverheadAndIndexHeaders) {
    open(0, 0);
    add_video();
    ASSERT_EQ(write(0, {}, kDc, AVIIF_KEYFRAME), 0);
    // 1 MiB, less 40 per stream, the header space (two super index slots),
    // 20 for the RIFF and movi headers, and 32 for the empty chunk.
    EXPECT_EQ(writer_->headerReserve, 800u + 40 + 2 * 16 + 116);
    EXPECT_EQ(writer_->segmentLeft, kMiB - 40 - 988 - 20 - 32);
    const uint32_t after1 = writer_->segmentLeft;
    for (int i = 1; i < 4027; ++i) ASSERT_EQ(write(0, {}, kDc, AVIIF_KEYFRAME), 0);
    EXPECT_EQ(after1 - writer_->segmentLeft, 4026u * 32);
    ASSERT_EQ(write(0, {}, kDc, AVIIF_KEYFRAME), 0);
    EXPECT_EQ(after1 - writer_->segmentLeft, 4027u * 32 + 32) << "every 4028th chunk pays 32 more";
    for (int i = 4028; i < 4100; ++i) ASSERT_EQ(write(0, {}, kDc, AVIIF_KEYFRAME), 0);
    EXPECT_EQ(writer_->entryCapacity, 8192u) << "the index grows by doubling";
    EXPECT_EQ(close(4100, 0), 0);
}

TEST_F(WriterAllowance, RecordsReserveRoomForTheOtherStreams) {
    vx::writer::set_segment_mib_for_testing(4);
    open(AVIF_ISINTERLEAVED, 0);
    add_video();
    add_audio();
    ASSERT_EQ(write(0, payload(0, 0, 100000), kDc, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(write(1, payload(1, 0, 8000), kWb, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(avifileEndRecord(writer_), 0);
    const uint32_t before = writer_->segmentLeft;
    AviChunkInfo info{};
    ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 1000, kDc, 0, &info), 0);
    // The chunk's 32, the record's 28 charged twice, twice audio's largest.
    EXPECT_EQ(before - writer_->segmentLeft, 32u + 28 + 16000 + 28);
    ASSERT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &info), 0);
    EXPECT_EQ(close(2, 0), 0);
}

TEST(WriterPlan, SegmentLimitsAndSuperIndexSlots) {
    auto eq = [](SegmentPlan a, SegmentPlan b) {
        return a.segmentSize == b.segmentSize && a.segmentLimit == b.segmentLimit &&
               a.superIndexSlots == b.superIndexSlots;
    };
    EXPECT_TRUE(eq(plan_segments(10 * 1024 * kMiB, 2048, 100000), {0x80000000u, 14, 25}));
    EXPECT_TRUE(eq(plan_segments(3 * 1024 * kMiB, 2048, 0), {0x80000000u, 2, 2}));
    EXPECT_TRUE(eq(plan_segments(5000, 1, 100), {5000, 0, 0}));
    // A huge allowance neither wraps the segment count nor caps it at 2.
    EXPECT_TRUE(eq(plan_segments(UINT64_MAX, 1, 1000), {kMiB, 1002, 1002}));
    EXPECT_TRUE(
        eq(plan_segments(UINT64_MAX, 2048, 0xFFFFFFFFu), {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFFu}));
    // 2^32 segments: the low 32 bits of q alone would be 0.
    EXPECT_TRUE(eq(plan_segments(kMiB << 32, 1, 50), {kMiB, 52, 52}));
}

TEST(WriterPlan, HeaderReserveSizesAndLimits) {
    AviWriter w{};
    auto streams = [&w](std::initializer_list<uint32_t> formats) {
        w.mainHeader.dwStreams = 0;
        for (uint32_t f : formats) w.streams[w.mainHeader.dwStreams++].formatSize = f;
        w.streamsEnd = w.streams + w.mainHeader.dwStreams;
    };
    w.segmentSize = 0x80000000u;
    streams({40, 18});
    w.superIndexSlots = 25;
    EXPECT_EQ(header_reserve(&w, 1000), 1890u);
    streams({40});
    w.superIndexSlots = 0;
    EXPECT_EQ(header_reserve(&w, 1000), 956u);
    streams({41});
    EXPECT_EQ(header_reserve(&w, 1000), 958u) << "kept even";
    // Slots that leave no room for the first chunk are given up, and the
    // segment limit with them.
    streams({40, 18});
    w.segmentSize = static_cast<uint32_t>(kMiB);
    w.superIndexSlots = 0xFFFFFFFFu;
    w.segmentLimit = 0xFFFFFFFFu;
    const uint32_t reserve = header_reserve(&w, 500000);
    EXPECT_LE(uint64_t{reserve} + 2 * 40 + 20 + 500000, kMiB);
    EXPECT_GT(uint64_t{reserve} + 2 * 40 + 20 + 500000 + 32, kMiB);
    EXPECT_EQ(w.superIndexSlots, w.segmentLimit);
    EXPECT_EQ(reserve % 2, 0u);
}

}  // namespace
