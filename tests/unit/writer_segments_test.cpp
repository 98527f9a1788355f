// Segment budgets: AVIX extensions with OpenDML indexes, the size allowance
// and the arithmetic that sizes them, all with 1 MiB segments.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

class WriterSegments : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        vx::writer::set_segment_mib_for_testing(1);
    }
    // Writes 20 KB frames until one is refused; returns those accepted.
    std::vector<Bytes> fill() {
        std::vector<Bytes> frames;
        for (uint32_t i = 0; i < 1000; ++i) {
            const Bytes f = payload(0, i, 20000);
            if (const VXRESULT rc = write(0, f)) {
                EXPECT_EQ(rc, AVIERR_USERABORT);
                break;
            }
            frames.push_back(f);
        }
        EXPECT_EQ(host_log(), (Log{{AVIERR_USERABORT, site::easy::kExtension}}));
        EXPECT_EQ(write(0, payload(0, 0, 10)), AVIERR_USERABORT) << "and so are later ones";
        return frames;
    }
};

class WriterExtensions : public WriterSegments, public ::testing::WithParamInterface<bool> {};

TEST_P(WriterExtensions, ReadBackThroughTheOpenDmlIndex) {
    open(GetParam() ? AVIF_ISINTERLEAVED : 0, 400);
    add_video();
    add_audio();
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    Bytes audio;
    uint32_t firstRiffFrames = 0;
    for (uint32_t i = 0; i < 150; ++i) {
        frames.push_back(payload(0, i, 40001 + (i % 3) * 1000));
        keys.push_back(i % 4 == 0);
        ASSERT_EQ(write(0, frames.back(), kDc, keys.back() ? AVIIF_KEYFRAME : 0), 0);
        firstRiffFrames += writer_->extensionCount == 0;
        const Bytes a = payload(1, i, 3200);
        audio.insert(audio.end(), a.begin(), a.end());
        ASSERT_EQ(write(1, a, kWb), 0);
        ASSERT_EQ(avifileEndRecord(writer_), 0);
    }
    const uint32_t extensions = writer_->extensionCount;
    EXPECT_GE(extensions, 4u);
    ASSERT_EQ(close(150, static_cast<uint32_t>(audio.size() / 4)), 0);
    EXPECT_EQ(VxHostErrorCount(), 0u);

    const Bytes b = file_bytes();
    const std::vector<vx::RiffChunk> forms = RiffView(b).top();
    ASSERT_EQ(forms.size(), extensions + 1);
    for (uint32_t segment = 0; segment <= extensions; ++segment) {
        EXPECT_EQ(forms[segment].listType, segment == 0 ? Fcc("AVI ") : Fcc("AVIX"));
        EXPECT_LE(forms[segment].size + 8u, kMiB) << "within the budget";
    }
    EXPECT_EQ(forms.back().next(), b.size());
    // Stream 0's super index: one entry per segment, each at an ix00 chunk.
    const int64_t indx = find_chunk(b, Fcc("indx"), 12, b.size());
    EXPECT_EQ(le32_at(b, indx + 12), extensions + 1);
    const uint64_t ix = vx::ByteReader(b.data(), b.size()).u64(indx + 32);
    EXPECT_EQ(le32_at(b, ix), Fcc("ix00"));
    EXPECT_EQ(le32_at(b, indx + 44), firstRiffFrames) << "duration of the first segment";
    EXPECT_EQ(le32_at(b, ix + 44), 0x80000000u | static_cast<uint32_t>(frames[1].size()))
        << "a delta frame";
    EXPECT_EQ(le32_at(b, find_chunk(b, Fcc("dmlh"), 12, b.size()) + 8), 150u);

    expect_contents(frames, keys, audio);
    EXPECT_EQ(reader_->mainHeader.dwTotalFrames, firstRiffFrames);
}

INSTANTIATE_TEST_SUITE_P(Writer, WriterExtensions, ::testing::Bool());

TEST_F(WriterSegments, AllowanceBelowOneSegmentEndsTheFile) {
    set_env("VEXAINFO_MAX_FILE_SIZE", "300000");
    open(0, 1000);
    add_video();
    EXPECT_EQ(writer_->segmentSize, 300000u);
    EXPECT_EQ(avifileCheckSpace(writer_, 300000), 0);
    EXPECT_EQ(avifileCheckSpace(writer_, 300001), 1);
    const std::vector<Bytes> frames = fill();
    EXPECT_EQ(avifileCheckSpace(writer_, 20000), 1);
    ASSERT_EQ(close(static_cast<uint32_t>(frames.size())), 0);
    EXPECT_LE(file_bytes().size(), 300000u);
    expect_contents(frames);
}

TEST_F(WriterSegments, SegmentLimitEndsTheFileAfterItsLastExtension) {
    open(0, 0);  // no frame count expected: room for one extension only
    add_video();
    const std::vector<Bytes> frames = fill();
    EXPECT_EQ(writer_->extensionCount, 1u);
    ASSERT_EQ(close(static_cast<uint32_t>(frames.size())), 0);
    expect_contents(frames);
}

TEST_F(WriterSegments, PiecesBeyondTheirBudgetFillTheSegmentWithoutWrapping) {
    open(0, 100);
    add_video();
    const Bytes big = payload(0, 0, 1100000), small = payload(0, 1, 99);
    AviChunkInfo info{};
    ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 10, kDc, 0, &info), 0);
    ASSERT_EQ(avifileContinueWrite(writer_, big.data(), 1100000, &info), 0);
    EXPECT_EQ(writer_->segmentLeft, 0u);
    ASSERT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &info), 0);
    ASSERT_EQ(write(0, small), 0);
    EXPECT_EQ(writer_->extensionCount, 1u) << "the next chunk starts a new segment";
    ASSERT_EQ(close(2), 0);
    expect_contents({big, small});
}

TEST_F(WriterSegments, ChunksChargeTheirOverheads) {
    open(AVIF_ISINTERLEAVED, 0);
    add_video();
    add_audio();
    ASSERT_EQ(write(0, {}), 0);
    // Less 40 per stream, the header space (two super index slots), 20 for
    // the RIFF and movi headers, 32 for the chunk and 28 twice for its record.
    EXPECT_EQ(writer_->headerReserve, 800u + 2 * (2 * 16 + 116) + 40 + 18);
    EXPECT_EQ(writer_->segmentLeft, kMiB - 80 - 1154 - 20 - 32 - 56);
    uint32_t left = writer_->segmentLeft;
    for (int i = 1; i < 4028; ++i) ASSERT_EQ(write(0, {}), 0);
    EXPECT_EQ(left - writer_->segmentLeft, 4027u * 32 + 32) << "the 4028th pays 32 more";
    for (int i = 0; i < 80; ++i) ASSERT_EQ(write(0, {}), 0);
    EXPECT_EQ(writer_->entryCapacity % 2048, 0u) << "the index grows by blocks";
    EXPECT_GE(writer_->entryCapacity, writer_->entryCount);
    EXPECT_LT(writer_->entryCapacity - writer_->entryCount, 2048u) << "at most one block spare";
    // A new record keeps room for twice the other streams' largest chunks.
    ASSERT_EQ(write(1, payload(1, 0, 8000), kWb), 0);
    ASSERT_EQ(avifileEndRecord(writer_), 0);
    left = writer_->segmentLeft;
    ASSERT_EQ(write(0, payload(0, 0, 1000)), 0);
    EXPECT_EQ(left - writer_->segmentLeft, 1000u + 32 + 28 + 16000 + 28);
    EXPECT_EQ(close(4109), 0);
}

TEST(WriterPlan, SegmentLimitsAndSuperIndexSlots) {
    using vx::writer::plan_segments;
    auto plan = [](uint64_t allowance, uint32_t mib, uint32_t frames) {
        const auto p = plan_segments(allowance, mib, frames);
        return std::vector<uint64_t>{p.segmentSize, p.segmentLimit, p.superIndexSlots};
    };
    using V = std::vector<uint64_t>;
    EXPECT_EQ(plan(10 * 1024 * kMiB, 2048, 100000), (V{0x80000000u, 14, 25}));
    EXPECT_EQ(plan(3 * 1024 * kMiB, 2048, 0), (V{0x80000000u, 2, 2}));
    EXPECT_EQ(plan(5000, 1, 100), (V{5000, 0, 0}));
    // A huge allowance neither wraps the segment count nor caps it at 2.
    EXPECT_EQ(plan(UINT64_MAX, 1, 1000), (V{kMiB, 1002, 1002}));
    EXPECT_EQ(plan(kMiB << 32, 1, 50), (V{kMiB, 52, 52}));
    EXPECT_EQ(plan(UINT64_MAX, 2048, UINT32_MAX), (V{0x80000000u, UINT32_MAX, UINT32_MAX}));
}

TEST(WriterPlan, HeaderReserveSizesAndLimits) {
    AviWriter w{};
    auto reserve = [&w](std::initializer_list<uint32_t> formats, uint32_t slots, uint64_t need) {
        w.mainHeader.dwStreams = 0;
        for (uint32_t f : formats) w.streams[w.mainHeader.dwStreams++].formatSize = f;
        w.streamsEnd = w.streams + w.mainHeader.dwStreams;
        w.superIndexSlots = w.segmentLimit = slots;
        return vx::writer::header_reserve(&w, need);
    };
    w.segmentSize = 0x80000000u;
    EXPECT_EQ(reserve({40, 18}, 25, 1000), 1890u);
    EXPECT_EQ(reserve({40}, 0, 1000), 956u);
    EXPECT_EQ(reserve({41}, 0, 1000), 958u) << "kept even";
    // Slots that would crowd out the first chunk go, and the segment limit
    // with them.
    w.segmentSize = static_cast<uint32_t>(kMiB);
    const uint64_t r = reserve({40, 18}, UINT32_MAX, 500000);
    EXPECT_LE(r + 2 * 40 + 20 + 500000, kMiB);
    EXPECT_GT(r + 2 * 40 + 20 + 500000 + 32, kMiB);
    EXPECT_EQ(w.superIndexSlots, w.segmentLimit);
}

}  // namespace
