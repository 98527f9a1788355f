// Files written by the writer and read back by the library's reader.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

// Video frames of odd and even sizes with a key frame every fifth frame, and
// one audio chunk per frame.
struct Movie {
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    Bytes audio;
};

Movie make_movie(uint32_t count, uint32_t frameBase, uint32_t audioChunk) {
    Movie m;
    for (uint32_t i = 0; i < count; ++i) {
        m.frames.push_back(payload(0, i, frameBase + i * 37));
        m.keys.push_back(i % 5 == 0);
    }
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes a = payload(1, i, audioChunk);
        m.audio.insert(m.audio.end(), a.begin(), a.end());
    }
    return m;
}

void write_movie(AviWriter* w, const Movie& m, uint32_t audioChunk, bool records) {
    for (size_t i = 0; i < m.frames.size(); ++i) {
        ASSERT_EQ(avifileWrite(w, 0, m.frames[i].data(), static_cast<uint32_t>(m.frames[i].size()),
                               kDc, m.keys[i] ? AVIIF_KEYFRAME : 0),
                  0);
        ASSERT_EQ(
            avifileWrite(w, 1, m.audio.data() + i * audioChunk, audioChunk, kWb, AVIIF_KEYFRAME),
            0);
        if (records) {
            ASSERT_EQ(avifileEndRecord(w), 0);
        }
    }
}

class WriterRoundTrip : public WriterTest {};

TEST_F(WriterRoundTrip, PlainFileReadsBackFrameByFrame) {
    open();
    add_video();
    add_audio();
    const Movie m = make_movie(30, 1001, 1920);
    write_movie(writer_, m, 1920, false);
    ASSERT_EQ(close(30, static_cast<uint32_t>(m.audio.size() / 4)), 0);

    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 0), Fcc("RIFF"));
    EXPECT_EQ(rd32(b, 8), Fcc("AVI "));
    const auto top = top_chunks(b);
    ASSERT_EQ(top.size(), 1u) << "one segment";
    EXPECT_EQ(top[0].size + 8u, b.size());
    // hdrl, the filler, the movie list and idx1, in that order.
    const int64_t junq = find_chunk(b, Fcc("JUNQ"), 12, b.size());
    const int64_t movi = find_chunk(b, Fcc("LIST"), junq, b.size());
    ASSERT_GT(junq, 0);
    EXPECT_EQ(rd32(b, movi + 8), Fcc("movi"));
    EXPECT_EQ(movi % 2, 0);
    EXPECT_EQ(junq + 8 + rd32(b, junq + 4), movi);
    EXPECT_LT(find_chunk(b, Fcc("indx"), 12, junq), 0);
    EXPECT_LT(find_chunk(b, Fcc("odml"), 12, junq), 0);
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(rd32(b, idx1 + 4), 60u * 16);
    EXPECT_EQ(rd32(b, idx1 + 8), Fcc("00dc"));
    EXPECT_EQ(rd32(b, idx1 + 16), 4u) << "offsets count from the list type";

    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, 30u);
    EXPECT_EQ(r->mainHeader.dwStreams, 2u);
    EXPECT_TRUE(r->mainHeader.dwFlags & AVIF_HASINDEX);
    EXPECT_EQ(r->mainHeader.dwSuggestedBufferSize, m.frames.back().size());
    EXPECT_EQ(r->streams[0].header.dwLength, 30u);
    EXPECT_EQ(r->streams[1].header.dwLength, m.audio.size() / 4);
    EXPECT_EQ(r->streams[0].header.dwSuggestedBufferSize, m.frames.back().size());
    expect_frames(m.frames, m.keys);
    expect_audio(m.audio);
}

TEST_F(WriterRoundTrip, InterleavedFileGroupsChunksInRecords) {
    open(AVIF_ISINTERLEAVED);
    add_video();
    add_audio();
    const Movie m = make_movie(12, 501, 1601);  // odd audio chunks too
    write_movie(writer_, m, 1601, true);
    ASSERT_EQ(close(12, 0), 0);

    const Bytes b = file_bytes();
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_GT(idx1, 0);
    ASSERT_EQ(rd32(b, idx1 + 4), 36u * 16) << "a record entry and two chunks per frame";
    for (uint32_t i = 0; i < 12; ++i) {
        const uint64_t e = idx1 + 8 + 48ull * i;
        EXPECT_EQ(rd32(b, e), Fcc("rec "));
        EXPECT_EQ(rd32(b, e + 4), static_cast<uint32_t>(AVIIF_LIST));
        const uint32_t video = static_cast<uint32_t>(m.frames[i].size());
        EXPECT_EQ(rd32(b, e + 12), 4 + 8 + video + (video & 1) + 8 + 1601 + 1) << "record " << i;
    }
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->streams[1].header.dwLength, 0u) << "closed with audio length 0";
    expect_frames(m.frames, m.keys);
}

TEST_F(WriterRoundTrip, ChunksInPiecesEmptyChunksAndUntimedChunks) {
    open();
    add_video();
    add_audio();
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    for (uint32_t i = 0; i < 6; ++i) {
        const Bytes f = payload(0, i, 4001 + i);
        AviChunkInfo info{};
        ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 5000, kDc, 0, &info), 0);
        // Three uneven pieces.
        ASSERT_EQ(avifileContinueWrite(writer_, f.data(), 1, &info), 0);
        ASSERT_EQ(avifileContinueWrite(writer_, f.data() + 1, 2000, &info), 0);
        ASSERT_EQ(avifileContinueWrite(writer_, f.data() + 2001,
                                       static_cast<uint32_t>(f.size()) - 2001, &info),
                  0);
        EXPECT_EQ(info.cksize, f.size());
        ASSERT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &info), 0);
        frames.push_back(f);
        keys.push_back(true);
        if (i == 2) {
            // An empty frame is still a frame; a palette change takes no time.
            ASSERT_EQ(write(0, {}, kDc, 0), 0);
            frames.push_back({});
            keys.push_back(false);
            ASSERT_EQ(write(0, payload(9, 9, 33), kDc, AVIIF_NO_TIME), 0);
        }
    }
    // An empty audio chunk is not written at all, and nothing follows it.
    const uint64_t before = file_bytes().size();
    AviChunkInfo skipped{};
    skipped.cksize = 77;
    ASSERT_EQ(avifileBeginWrite2(writer_, 1, nullptr, 0, 0, kWb, 0, &skipped), 0);
    EXPECT_EQ(skipped.cksize, 77u) << "untouched";
    EXPECT_EQ(avifileContinueWrite(writer_, "x", 1, &skipped), 0);
    EXPECT_EQ(avifileEndWrite(writer_, 1, 0, &skipped), 0);
    EXPECT_EQ(write(1, {}, kWb, 0), 0);
    EXPECT_EQ(file_bytes().size(), before);
    EXPECT_EQ(writer_->streams[0].header.dwLength, 7u) << "the untimed chunk does not count";
    ASSERT_EQ(close(7, 0), 0);
    EXPECT_EQ(VxHostErrorCount(), 0u);

    const Bytes b = file_bytes();
    // The 4001-byte chunk: odd size kept, one real zero pad byte after it.
    const int64_t first = find_chunk(b, Fcc("00dc"), 12, b.size());
    ASSERT_GT(first, 0);
    EXPECT_EQ(rd32(b, first + 4), 4001u);
    EXPECT_EQ(b[first + 8 + 4001], 0);
    EXPECT_EQ(rd32(b, first + 8 + 4002), Fcc("00dc"));

    ASSERT_NE(read_back(), nullptr);
    expect_frames(frames, keys);
}

TEST_F(WriterRoundTrip, SixteenStreamsKeepTheirFormatsAndChunks) {
    open();
    std::vector<Bytes> formats;
    for (int32_t i = 0; i < 16; ++i) {
        int32_t n = -1;
        if (i == 1) {
            n = add_audio();
            const WAVEFORMATEX f = audio_format();
            formats.emplace_back(reinterpret_cast<const uint8_t*>(&f),
                                 reinterpret_cast<const uint8_t*>(&f) + sizeof f);
        } else {
            AVIStreamHeader h = video_header();
            if (i > 1) h.fccType = Fcc("txts");
            formats.push_back(payload(100 + i, 0, 20 + i));  // some of odd size
            ASSERT_EQ(avifileAddStream(writer_, &n, &h, formats.back().data(),
                                       static_cast<uint32_t>(formats.back().size())),
                      0);
        }
        EXPECT_EQ(n, i);
    }
    const AVIStreamHeader extra = video_header();
    int32_t n = 99;
    EXPECT_EQ(avifileAddStream(writer_, &n, &extra, formats[0].data(), 20), AVIERR_BADPARAM);
    EXPECT_EQ(n, 99);
    EXPECT_EQ(VxHostErrorCount(), 0u) << "a 17th stream is not recorded";

    std::vector<Bytes> frames;
    for (uint32_t round = 0; round < 3; ++round) {
        for (int32_t s = 0; s < 16; ++s) {
            const Bytes d = payload(s, round, 100 + s);
            if (s == 0) frames.push_back(d);
            ASSERT_EQ(write(s, d, s == 1 ? kWb : kDc, AVIIF_KEYFRAME), 0);
        }
    }
    ASSERT_EQ(close(3, 3 * 101 / 4), 0);

    const Bytes b = file_bytes();
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_GT(idx1, 0);
    ASSERT_EQ(rd32(b, idx1 + 4), 48u * 16);
    // Stream numbers in chunk ids are upper-case hex: 0A..0F.
    EXPECT_EQ(rd32(b, idx1 + 8 + 16 * 15), Fcc("0Fdc"));
    EXPECT_EQ(rd32(b, idx1 + 8 + 16 * 10), Fcc("0Adc"));

    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->mainHeader.dwStreams, 16u);
    for (uint32_t s = 0; s < 16; ++s) {
        const AviStreamRecord* rec = aviGetAVIStream(r, s);
        ASSERT_NE(rec, nullptr);
        ASSERT_EQ(rec->formatSize, formats[s].size()) << "stream " << s;
        EXPECT_EQ(std::memcmp(rec->format, formats[s].data(), formats[s].size()), 0);
    }
    expect_frames(frames, {true, true, true});
}

TEST_F(WriterRoundTrip, FileClosedBeforeAnyChunkIsAnEmptyMovie) {
    open();
    add_video();
    ASSERT_EQ(close(0, 0), 0);
    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 8), Fcc("AVI "));
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(rd32(b, idx1 + 4), 0u);
    EXPECT_EQ(static_cast<uint64_t>(idx1) + 8, b.size());
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, 0u);
    EXPECT_EQ(r->videoIndex.count, 0u);
}

TEST_F(WriterRoundTrip, UnclosedFileKeepsPlaceholderTypeAndData) {
    open();
    add_video();
    const Bytes f0 = payload(0, 0, 777);
    const Bytes f1 = payload(0, 1, 778);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    EXPECT_EQ(file_bytes().size(), writer_->headerReserve + 12 + 8 + 778u)
        << "the odd chunk's pad byte is on disk";
    ASSERT_EQ(write(0, f1, kDc, 0), 0);
    // What another process sees before the writer is closed.
    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 0), Fcc("RIFF"));
    EXPECT_EQ(rd32(b, 8), Fcc("JUNQ"));
    const uint32_t reserve = writer_->headerReserve;
    EXPECT_EQ(rd32(b, reserve), Fcc("LIST"));
    EXPECT_EQ(rd32(b, reserve + 8), Fcc("movi"));
    EXPECT_EQ(rd32(b, reserve + 12), Fcc("00dc"));
    EXPECT_EQ(rd32(b, reserve + 16), 777u);
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + reserve + 20));
    EXPECT_TRUE(std::equal(f1.begin(), f1.end(), b.begin() + reserve + 20 + 778 + 8));
}

}  // namespace
