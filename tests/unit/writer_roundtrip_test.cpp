// Files written by the writer and read back by the library's reader.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

class WriterRoundTrip : public WriterTest, public ::testing::WithParamInterface<bool> {};

// Odd and even video frames, a key frame every fifth, one audio chunk per
// frame; with records when interleaved.
TEST_P(WriterRoundTrip, VideoAndAudioReadBackFrameByFrame) {
    const bool records = GetParam();
    open(records ? AVIF_ISINTERLEAVED : 0);
    add_video();
    add_audio();
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    Bytes audio;
    for (uint32_t i = 0; i < 30; ++i) {
        frames.push_back(payload(0, i, 1001 + i * 37));
        keys.push_back(i % 5 == 0);
        ASSERT_EQ(write(0, frames[i], kDc, keys[i] ? AVIIF_KEYFRAME : 0), 0);
        const Bytes a = payload(1, i, 1600);
        audio.insert(audio.end(), a.begin(), a.end());
        ASSERT_EQ(write(1, a, kWb), 0);
        if (records) {
            ASSERT_EQ(avifileEndRecord(writer_), 0);
        }
    }
    ASSERT_EQ(close(30, static_cast<uint32_t>(audio.size() / 4)), 0);

    const Bytes b = file_bytes();
    EXPECT_EQ(le32_at(b, 0), Fcc("RIFF"));
    EXPECT_EQ(le32_at(b, 4) + 8u, b.size()) << "one segment";
    EXPECT_EQ(le32_at(b, 8), Fcc("AVI "));
    // The filler ends where the word-aligned movie list starts.
    const int64_t junq = find_chunk(b, Fcc("JUNQ"), 12, b.size());
    const int64_t movi = junq + 8 + le32_at(b, junq + 4);
    EXPECT_EQ(le32_at(b, movi + 8), Fcc("movi"));
    EXPECT_EQ(movi % 2, 0);
    EXPECT_LT(find_chunk(b, Fcc("indx"), 12, junq), 0);
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_EQ(le32_at(b, idx1 + 4), (records ? 90u : 60u) * 16);
    EXPECT_EQ(le32_at(b, idx1 + 16), 4u) << "offsets count from the list type";
    if (records) {
        EXPECT_EQ(le32_at(b, idx1 + 8), Fcc("rec "));
        EXPECT_EQ(le32_at(b, idx1 + 12), static_cast<uint32_t>(AVIIF_LIST));
        EXPECT_EQ(le32_at(b, idx1 + 20), 4 + 8 + 1002 + 8 + 1600u) << "the record's size";
    }
    expect_contents(frames, keys, audio);
    EXPECT_EQ(reader_->mainHeader.dwTotalFrames, 30u);
    EXPECT_TRUE(reader_->mainHeader.dwFlags & AVIF_HASINDEX);
    EXPECT_EQ(reader_->mainHeader.dwSuggestedBufferSize, frames.back().size());
    EXPECT_EQ(reader_->streams[0].header.dwSuggestedBufferSize, frames.back().size());
}

INSTANTIATE_TEST_SUITE_P(Writer, WriterRoundTrip, ::testing::Bool());

TEST_F(WriterTest, ChunksInPiecesEmptyAndUntimedChunks) {
    open();
    add_video();
    add_audio();
    std::vector<Bytes> frames;
    for (uint32_t i = 0; i < 4; ++i) {
        frames.push_back(payload(0, i, 4001 + i));
        const Bytes& f = frames.back();
        AviChunkInfo info{};
        ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 5000, kDc, 0, &info), 0);
        for (uint32_t at = 0, piece = 1; at < f.size(); at += piece, piece *= 40) {
            piece = std::min<uint32_t>(piece, static_cast<uint32_t>(f.size()) - at);
            ASSERT_EQ(avifileContinueWrite(writer_, f.data() + at, piece, &info), 0);
        }
        EXPECT_EQ(info.cksize, f.size());
        ASSERT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &info), 0);
    }
    // An empty frame counts; an untimed one (a palette change) does not.
    ASSERT_EQ(write(0, {}, kDc, 0), 0);
    frames.emplace_back();
    ASSERT_EQ(write(0, payload(9, 9, 33), 'p' | ('c' << 8), AVIIF_NO_TIME), 0);
    EXPECT_EQ(writer_->streams[0].header.dwLength, 5u);
    // An empty audio chunk is not written, and nothing follows it.
    const size_t before = file_bytes().size();
    AviChunkInfo skipped{};
    skipped.cksize = 77;
    ASSERT_EQ(avifileBeginWrite2(writer_, 1, nullptr, 0, 0, kWb, 0, &skipped), 0);
    EXPECT_EQ(skipped.cksize, 77u);
    EXPECT_EQ(avifileContinueWrite(writer_, "x", 1, &skipped), 0);
    EXPECT_EQ(avifileEndWrite(writer_, 1, 0, &skipped), 0);
    EXPECT_EQ(file_bytes().size(), before);
    ASSERT_EQ(close(5), 0);
    EXPECT_EQ(VxHostErrorCount(), 0u);

    const Bytes b = file_bytes();
    const int64_t first = find_chunk(b, Fcc("00dc"), 12, b.size());
    EXPECT_EQ(le32_at(b, first + 4), 4001u);
    EXPECT_EQ(le32_at(b, first + 8 + 4002), Fcc("00dc")) << "after one pad byte";
    EXPECT_GT(find_chunk(b, Fcc("00pc"), 12, b.size()), 0);
    expect_contents(frames, {true, true, true, true, false});
}

TEST_F(WriterTest, SixteenStreamsKeepTheirFormatsAndChunkIds) {
    open();
    std::vector<Bytes> formats;
    for (uint32_t i = 0; i < 16; ++i) {
        formats.push_back(payload(100 + i, 0, 40 + i));  // odd sizes too
        add(stream_header(i == 0 ? "vids" : "txts"), formats[i].data(), 40 + i);
    }
    int32_t n = 99;
    const AVIStreamHeader extra = stream_header("vids");
    EXPECT_EQ(avifileAddStream(writer_, &n, &extra, formats[0].data(), 40), AVIERR_BADPARAM);
    EXPECT_EQ(n, 99);
    EXPECT_EQ(VxHostErrorCount(), 0u) << "a 17th stream is not recorded";
    std::vector<Bytes> frames;
    for (uint32_t round = 0; round < 2; ++round) {
        for (uint32_t s = 0; s < 16; ++s) {
            if (s == 0) frames.push_back(payload(s, round, 100));
            ASSERT_EQ(write(s, payload(s, round, 100 + s), s == 11 ? 'd' | ('b' << 8) : 0), 0);
        }
    }
    ASSERT_EQ(close(2), 0);
    const Bytes b = file_bytes();
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    EXPECT_EQ(le32_at(b, idx1 + 8), Fcc("00xx")) << "type 0 is not printable";
    EXPECT_EQ(le32_at(b, idx1 + 8 + 16 * 11), Fcc("0Bdb"));
    EXPECT_EQ(le32_at(b, idx1 + 8 + 16 * 15), Fcc("0Fxx"));
    expect_contents(frames);
    ASSERT_EQ(reader_->mainHeader.dwStreams, 16u);
    for (uint32_t s = 0; s < 16; ++s) {
        const AviStreamRecord* rec = aviGetAVIStream(reader_, s);
        ASSERT_EQ(rec->formatSize, formats[s].size());
        EXPECT_EQ(std::memcmp(rec->format, formats[s].data(), formats[s].size()), 0);
    }
}

TEST_F(WriterTest, FileClosedBeforeAnyChunkIsAnEmptyMovie) {
    open();
    add_video();
    ASSERT_EQ(close(0), 0);
    const Bytes b = file_bytes();
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    EXPECT_EQ(le32_at(b, idx1 + 4), 0u);
    EXPECT_EQ(idx1 + 8, static_cast<int64_t>(b.size()));
    expect_contents({});
}

TEST_F(WriterTest, UnclosedFileKeepsPlaceholderTypeAndData) {
    open();
    add_video();
    const Bytes f0 = payload(0, 0, 777);
    ASSERT_EQ(write(0, f0), 0);
    const uint32_t movi = writer_->headerReserve;
    // What another process sees before the writer is closed.
    const Bytes b = file_bytes();
    EXPECT_EQ(b.size(), movi + 12 + 8 + 778u) << "the pad byte is on disk";
    EXPECT_EQ(le32_at(b, 8), Fcc("JUNQ"));
    EXPECT_EQ(le32_at(b, movi + 8), Fcc("movi"));
    EXPECT_EQ(le32_at(b, movi + 16), 777u);
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + movi + 20));
}

}  // namespace
