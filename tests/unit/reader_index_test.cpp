// Index loading: the classic "idx1" index (its offset base, the split by
// stream, files cut short, rebuilding from the movie list) and the OpenDML
// super and standard indexes.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/avireader.h>

#include <functional>
#include <string>
#include <vector>

#include "support/reader_fixture.h"
#include "support/riff_builder.h"
#include "util/failure_detail.h"

namespace {

using namespace vxtest;

struct Entry {
    uint64_t offset;
    uint32_t size;
    uint32_t flags;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os) {
    *os << "{offset " << e.offset << ", size " << e.size << ", flags 0x" << std::hex << e.flags
        << std::dec << "}";
}

std::vector<Entry> entries_of(const AviStreamIndex& index) {
    std::vector<Entry> out;
    for (uint32_t i = 0; i < index.count; ++i)
        out.push_back({index.entries[i].offset, index.entries[i].size, index.entries[i].flags});
    return out;
}

MainAVIHeader main_header(uint32_t streams, uint32_t flags = 0) {
    MainAVIHeader h{};
    h.dwMicroSecPerFrame = 40000;
    h.dwFlags = flags;
    h.dwStreams = streams;
    return h;
}

// A stream list with whatever `inside` adds after the format (an "indx").
struct StreamList {
    StreamLayout layout;
    std::function<void(RiffBuilder&)> inside = {};
};

void header_list(RiffBuilder& b, const std::vector<StreamList>& streams, uint32_t flags = 0) {
    b.list("hdrl");
    b.avih(main_header(static_cast<uint32_t>(streams.size()), flags));
    for (const StreamList& s : streams) {
        b.begin_stream_list(s.layout.header);
        b.strf_raw(s.layout.format);
        if (s.inside) s.inside(b);
        b.end();
    }
    b.end();
}

// A form with one stream whose list holds a super index of `slots` free
// slots, closed, so that standard index chunks follow it; returns the super
// index's header position.
std::size_t super_index_form(RiffBuilder& b, const StreamLayout& s, Fcc id, uint32_t slots) {
    std::size_t indx = 0;
    b.riff("AVI ");
    header_list(
        b, {{s, [&](RiffBuilder& b) { indx = b.super_index({.chunkId = id, .slots = slots}); }}});
    b.end();
    return indx;
}

using ReaderIndex = ReaderTest;

// ---- classic index ----

// Two frames and two audio chunks, interleaved.
AviLayout av_layout() {
    AviLayout layout;
    layout.streams = {video_stream(2), audio_stream(15)};
    layout.samples = {{0, pattern(10, 1), AVIIF_KEYFRAME},
                    {1, pattern(40, 2), AVIIF_KEYFRAME},
                    {0, pattern(7, 3), 0},
                    {1, pattern(20, 4), AVIIF_KEYFRAME}};
    return layout;
}

TEST_F(ReaderIndex, Idx1OffsetBaseIsFoundWhateverTheWriterChose) {
    struct Case {
        uint32_t avihFlags;
        Idx1Offsets offsets;
        bool junkFirst;
    };
    // The header flag and the first entry suggest a base; a JUNK chunk at
    // the start of the movie list (not indexed) or a flag that does not fit
    // the offsets make that suggestion wrong, and the chunk ids decide.
    for (const uint32_t flags : {0u, static_cast<uint32_t>(AVIF_MUSTUSEINDEX)}) {
        for (const Idx1Offsets offsets : {Idx1Offsets::kRelative, Idx1Offsets::kAbsolute}) {
            for (const bool junk : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "flags " << flags << " absolute "
                             << (offsets == Idx1Offsets::kAbsolute) << " junk " << junk);
                AviLayout layout = av_layout();
                layout.avihFlags = flags;
                layout.index = offsets;
                layout.junkFirst = junk;
                const BuiltAvi built = layout.build();
                ASSERT_EQ(open(built.bytes), 0);
                // Flags from idx1 show that it was used, not rebuilt.
                EXPECT_EQ(entries_of(reader_->videoIndex),
                          (std::vector<Entry>{{built.dataPos[0], 10, AVIIF_KEYFRAME},
                                              {built.dataPos[2], 7, 0}}));
                EXPECT_EQ(entries_of(reader_->audioIndex),
                          (std::vector<Entry>{{built.dataPos[1], 40, AVIIF_KEYFRAME},
                                              {built.dataPos[3], 20, AVIIF_KEYFRAME}}));
                EXPECT_EQ(reader_->videoIndex.chunkId, Fcc("00dc"));
                EXPECT_EQ(reader_->audioIndex.chunkId, Fcc("01wb"));
                EXPECT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);
            }
        }
    }
}

TEST_F(ReaderIndex, SplitKeepsTheChosenStreamsOnly) {
    AviLayout layout;
    layout.streams = {video_stream(3), audio_stream(10), video_stream(1)};
    layout.samplesPerRecord = 2;  // "rec " entries in idx1 match no stream
    layout.samples = {
        {0, pattern(6, 1), AVIIF_KEYFRAME, "00db"},  // type letters are not examined
        {2, pattern(5, 2)},
        {1, pattern(8, 3)},
        {0, pattern(4, 4), AVIIF_KEYFRAME | 0x40000000u},  // bit 30 is dropped
        {0, pattern(3, 5)},
        {1, pattern(12, 6), 0},
    };
    const BuiltAvi built = layout.build();
    ASSERT_EQ(open(built.bytes), 0);
    EXPECT_EQ(reader_->videoStream, 0);
    EXPECT_EQ(reader_->audioStream, 1);
    EXPECT_EQ(entries_of(reader_->videoIndex),
              (std::vector<Entry>{{built.dataPos[0], 6, AVIIF_KEYFRAME},
                                  {built.dataPos[3], 4, AVIIF_KEYFRAME},
                                  {built.dataPos[4], 3, AVIIF_KEYFRAME}}));
    EXPECT_EQ(
        entries_of(reader_->audioIndex),
        (std::vector<Entry>{{built.dataPos[2], 8, AVIIF_KEYFRAME}, {built.dataPos[5], 12, 0}}));
    EXPECT_EQ(reader_->videoIndex.chunkId, Fcc("00db"));
    // Audio without key flags is not a reason to search for key frames.
    EXPECT_EQ(reader_->indexFlags, 0u);
}

TEST_F(ReaderIndex, IndexFlagsDescribeTheTimedVideoEntries) {
    struct Case {
        const char* name;
        std::vector<Sample> extra;  // after a key frame of 4 bytes
        uint32_t videoEntries;
        uint32_t indexFlags;
    };
    const Case cases[] = {
        {"all key frames", {{0, pattern(4, 1)}}, 2, 0},
        {"a delta frame", {{0, pattern(4, 1), 0}}, 2, AVI_INDEXFLAG_NOTKEY},
        {"an empty frame", {{0, {}, 0}}, 2, AVI_INDEXFLAG_EMPTY},
        {"both",
         {{0, {}, 0}, {0, pattern(4, 1), 0}},
         3,
         AVI_INDEXFLAG_NOTKEY | AVI_INDEXFLAG_EMPTY},
        // A palette change takes no time: it is not a frame.
        {"untimed entry", {{0, pattern(4, 1), AVIIF_NO_TIME, "00pc"}}, 1, 0},
        {"audio without key flags", {{1, pattern(4, 1), 0}}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviLayout layout;
        layout.streams = {video_stream(3), audio_stream(2)};
        layout.samples = {{0, pattern(4, 0)}};
        layout.samples.insert(layout.samples.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(open(layout.build().bytes), 0);
        EXPECT_EQ(reader_->videoIndex.count, c.videoEntries);
        EXPECT_EQ(reader_->indexFlags, c.indexFlags);
    }
}

TEST_F(ReaderIndex, StreamTenMatchesHexChunkIds) {
    AviLayout layout;
    layout.streams.push_back(video_stream(1));
    StreamLayout text = video_stream(1);
    text.header.fccType = Fcc("txts");
    for (int i = 1; i < 10; ++i) layout.streams.push_back(text);
    layout.streams.push_back(audio_stream(4));  // stream 10
    layout.samples = {{0, pattern(4, 1)},
                    {10, pattern(8, 2), AVIIF_KEYFRAME, "0Awb"},
                    {10, pattern(8, 3), AVIIF_KEYFRAME, "10wb"},  // decimal: not stream 10
                    {1, pattern(8, 4), AVIIF_KEYFRAME, "01tx"}};
    const BuiltAvi built = layout.build();
    ASSERT_EQ(open(built.bytes), 0);
    EXPECT_EQ(reader_->audioStream, 10);
    EXPECT_EQ(entries_of(reader_->audioIndex),
              (std::vector<Entry>{{built.dataPos[1], 8, AVIIF_KEYFRAME}}));
    EXPECT_EQ(reader_->audioIndex.chunkId, Fcc("0Awb"));
    EXPECT_EQ(reader_->videoIndex.count, 1u);
}

TEST_F(ReaderIndex, RebuiltIndexWalksRecordsAndHasNoKeyFrames) {
    // Rebuilt offsets are absolute: the header flag must not shift them.
    for (const uint32_t flags : {0u, static_cast<uint32_t>(AVIF_MUSTUSEINDEX)}) {
        SCOPED_TRACE(flags);
        AviLayout layout = av_layout();
        layout.avihFlags = flags;
        layout.index = Idx1Offsets::kNone;
        layout.samplesPerRecord = 2;
        layout.samples.push_back({0, pattern(5, 9)});  // odd: followed by a pad byte
        layout.streams[0].header.dwLength = 3;
        const BuiltAvi built = layout.build();
        ASSERT_EQ(open(built.bytes), 0);
        EXPECT_EQ(entries_of(reader_->videoIndex), (std::vector<Entry>{{built.dataPos[0], 10, 0},
                                                                       {built.dataPos[2], 7, 0},
                                                                       {built.dataPos[4], 5, 0}}));
        EXPECT_EQ(entries_of(reader_->audioIndex),
                  (std::vector<Entry>{{built.dataPos[1], 40, 0}, {built.dataPos[3], 20, 0}}));
        EXPECT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);
        // Without key flags the search ends at the first frame.
        uint32_t position = 2;
        EXPECT_EQ(aviFindKeyFrame(reader_, &position), 0);
        EXPECT_EQ(position, 0u);
    }
}

TEST_F(ReaderIndex, RecordEntriesInIdx1LocateTheBase) {
    // The first idx1 entry is the record list itself, found by its type.
    for (const bool junk : {false, true}) {
        for (const Idx1Offsets offsets : {Idx1Offsets::kRelative, Idx1Offsets::kAbsolute}) {
            SCOPED_TRACE(testing::Message()
                         << "junk " << junk << " absolute " << (offsets == Idx1Offsets::kAbsolute));
            AviLayout layout = av_layout();
            layout.index = offsets;
            layout.junkFirst = junk;
            layout.samplesPerRecord = 2;
            const BuiltAvi built = layout.build();
            ASSERT_EQ(open(built.bytes), 0);
            ASSERT_EQ(reader_->videoIndex.count, 2u);
            EXPECT_EQ(reader_->videoIndex.entries[1].offset, built.dataPos[2]);
            EXPECT_EQ(reader_->videoIndex.entries[1].flags, 0u);  // from idx1
            EXPECT_EQ(reader_->audioIndex.entries[1].offset, built.dataPos[3]);
        }
    }
}

// Writers that round odd sizes up in idx1 are caught by the chunk headers;
// any other disagreement leaves the index as written.
TEST_F(ReaderIndex, PaddedIdx1SizesGiveWayToChunkHeaders) {
    const BuiltAvi full = av_layout().build();
    // The length of idx1's third entry: the 7-byte video chunk.
    const std::size_t length = full.dataPos[3] + 20 + 8 + 2 * 16 + 12;
    const struct {
        const char* name;
        uint8_t indexed, read;
    } cases[] = {
        {"odd chunk indexed with its pad byte", 8, 7},
        {"index size as written", 7, 7},
        {"index larger by more than the pad byte", 10, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = full.bytes;
        b[length] = c.indexed;
        ASSERT_EQ(open(b), 0);
        EXPECT_EQ(entries_of(reader_->videoIndex),
                  (std::vector<Entry>{{full.dataPos[0], 10, AVIIF_KEYFRAME},
                                      {full.dataPos[2], c.read, 0}}));
        uint32_t size = 0;
        ASSERT_EQ(aviReadFrame(reader_, 1, nullptr, &size, nullptr), 0);
        EXPECT_EQ(size, c.read);
        EXPECT_EQ(reader_->audioIndex.entries[0].size, 40u);
    }
}

TEST_F(ReaderIndex, FilesCutShortKeepWhatTheyHold) {
    const BuiltAvi full = av_layout().build();
    const std::size_t idx1At = full.dataPos[3] + 20;  // behind the last chunk
    // The file with a chunk of `size` zero bytes in place of idx1.
    const auto instead_of_idx1 = [&](Fcc id, std::size_t size) {
        RiffBuilder b;
        b.raw(full.bytes.data(), idx1At);
        b.chunk(id, Bytes(size, 0));
        return b.data();
    };
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        std::vector<Entry> video;
        uint32_t audioEntries;
    };
    const std::vector<Entry> rebuiltVideo = {{full.dataPos[0], 10, 0}, {full.dataPos[2], 7, 0}};
    const Case cases[] = {
        {"movie list cut inside its third chunk",
         [&] { return Bytes(full.bytes.begin(), full.bytes.begin() + full.dataPos[2] + 3); },
         {{full.dataPos[0], 10, 0}, {full.dataPos[2], 3, 0}},
         1},
        {"movie list size past the end of the file",
         [&] {
             Bytes b = full.bytes;
             const std::size_t movi = full.moviWord - 8;
             b[movi + 6] = 0x10;  // size now far beyond the file
             return b;
         },
         rebuiltVideo, 2},
        // The movie list after the last whole entry gives the rest; the added
        // frame is a key frame like every indexed one.
        {"idx1 cut inside its third entry",
         [&] { return Bytes(full.bytes.begin(), full.bytes.begin() + idx1At + 8 + 2 * 16 + 5); },
         {{full.dataPos[0], 10, AVIIF_KEYFRAME}, {full.dataPos[2], 7, AVIIF_KEYFRAME}},
         2},
        {"idx1 too small for one entry", [&] { return instead_of_idx1("idx1", 8); }, rebuiltVideo,
         2},
        {"idx1 size not a multiple of 16",
         [&] {
             Bytes b = full.bytes;
             b[idx1At + 4] = 3 * 16 + 7;  // the rest of an entry is ignored
             return b;
         },
         {{full.dataPos[0], 10, AVIIF_KEYFRAME}, {full.dataPos[2], 7, 0}},
         2},
        {"no idx1, only JUNK after the movie list", [&] { return instead_of_idx1("JUNK", 32); },
         rebuiltVideo, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(open(c.make()), 0);
        EXPECT_EQ(entries_of(reader_->videoIndex), c.video);
        EXPECT_EQ(reader_->audioIndex.count, c.audioEntries);
        EXPECT_EQ(host_log(), Log{});
    }
}

TEST_F(ReaderIndex, ChunkCutByTheEndOfTheFileReadsWhatIsThere) {
    const BuiltAvi full = av_layout().build();
    ASSERT_EQ(open(Bytes(full.bytes.begin(), full.bytes.begin() + full.dataPos[2] + 3)), 0);
    Bytes frame(7, 0xFF);
    uint32_t size = 7;
    ASSERT_EQ(aviReadFrame(reader_, 1, frame.data(), &size, nullptr), 0);
    EXPECT_EQ(size, 3u);
    const Bytes written = pattern(7, 3);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), Bytes(written.begin(), written.begin() + 3));
}

TEST_F(ReaderIndex, EmptyMovieListWithoutIdx1OpensWithEmptyIndexes) {
    AviLayout layout = av_layout();
    layout.samples.clear();
    layout.index = Idx1Offsets::kNone;
    ASSERT_EQ(open(layout.build().bytes), 0);
    EXPECT_EQ(reader_->videoIndex.count, 0u);
    EXPECT_EQ(reader_->videoIndex.entries, nullptr);
    EXPECT_EQ(reader_->audioIndex.count, 0u);
    EXPECT_EQ(host_log(), Log{});
}

// A file of just over 4 GiB, mostly holes: the movie list spans it, a frame
// of 16 bytes stands at each of `frames` and idx1 lists them with 32-bit
// absolute offsets.
std::unique_ptr<TempAviFile> file_over_4gib(const std::vector<uint64_t>& frames) {
    RiffBuilder b;
    b.riff("AVI ");
    header_list(b, {{video_stream(static_cast<uint32_t>(frames.size()))}});
    const std::size_t movi = b.list("movi");
    b.end();
    b.finish();
    const uint64_t moviEnd = movi + 8 + 0xFFFFFFF0ull;
    b.set_size(movi, 0xFFFFFFF0u);

    auto file = std::make_unique<TempAviFile>(b.data());
    std::vector<Idx1Entry> entries;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        RiffBuilder chunk;
        chunk.chunk("00dc", pattern(16, static_cast<uint8_t>(i)));
        file->write_at(frames[i], chunk.data());
        entries.push_back({"00dc", AVIIF_KEYFRAME, static_cast<uint32_t>(frames[i]), 16});
    }
    RiffBuilder idx1;
    idx1.idx1(entries);
    file->write_at(moviEnd, idx1.data());
    return file;
}

constexpr uint64_t k4GiB = 1ull << 32;

TEST_F(ReaderIndex, OffsetsThatWrappedPast4GiBAreCarried) {
    const std::vector<uint64_t> frames = {0x1000, 0x80000000u, k4GiB + 0x40};
    file_ = file_over_4gib(frames);
    ASSERT_EQ(open_file(nullptr), 0);
    ASSERT_EQ(reader_->videoIndex.count, 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reader_->videoIndex.entries[i].offset, frames[i] + 8);
    Bytes frame(16);
    uint32_t size = 16;
    ASSERT_EQ(aviReadFrame(reader_, 2, frame.data(), &size, nullptr), 0);
    EXPECT_EQ(frame, pattern(16, 2));
}

TEST_F(ReaderIndex, MoreWrapsThanTheFileHasAreNotWraps) {
    // Three steps back in a file with one 4 GiB part: the index is just out
    // of order.
    const std::vector<uint64_t> frames = {0x90000000u, 0x80000000u, 0x70000000u, 0x60000000u};
    file_ = file_over_4gib(frames);
    ASSERT_EQ(open_file(nullptr), 0);
    ASSERT_EQ(reader_->videoIndex.count, 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(reader_->videoIndex.entries[i].offset, frames[i] + 8);
}

// ---- OpenDML indexes ----

TEST_F(ReaderIndex, SuperIndexesReachIntoExtensionSegments) {
    RiffBuilder b;
    std::size_t videoIndx = 0, audioIndx = 0;
    b.riff("AVI ");
    header_list(
        b, {{video_stream(3),
             [&](RiffBuilder& b) { videoIndx = b.super_index({.chunkId = "00dc", .slots = 4}); }},
            {audio_stream(30),
             [&](RiffBuilder& b) { audioIndx = b.super_index({.chunkId = "01wb", .slots = 4}); }}});
    const std::size_t moviWord = b.list("movi") + 8;
    const uint32_t v0 = b.chunk("00dc", pattern(10, 1)) + 8;
    const uint32_t a0 = b.chunk("01wb", pattern(40, 2)) + 8;
    const uint32_t v1 = b.chunk("00dc", pattern(7, 3)) + 8;
    // Offsets relative to a base in one segment, absolute in the other.
    const std::size_t ix00 = b.standard_index(
        {.chunkId = "00dc",
         .base = moviWord,
         .entries = {StdEntry::key(v0 - moviWord, 10), StdEntry::key(v1 - moviWord, 7)}},
        "ix00");
    const std::size_t ix01 =
        b.standard_index({.chunkId = "01wb", .entries = {StdEntry::key(a0, 40)}}, "ix01");
    b.end();
    b.idx1({{"00dc", AVIIF_KEYFRAME, 4, 10}});  // not used: the OpenDML index wins
    b.end();
    b.riff("AVIX");
    b.list("movi");
    const uint32_t v2 = b.chunk("00dc", pattern(9, 4)) + 8;
    const uint32_t a1 = b.chunk("01wb", pattern(80, 5)) + 8;
    const std::size_t ix00x =
        b.standard_index({.chunkId = "00dc", .entries = {StdEntry::delta(v2, 9)}}, "ix00");
    const std::size_t ix01x =
        b.standard_index({.chunkId = "01wb", .entries = {StdEntry::key(a1, 80)}}, "ix01");
    b.finish();
    b.set_super_entry(videoIndx, 0, b.super_entry_for(ix00, 2));
    b.set_super_entry(videoIndx, 1, b.super_entry_for(ix00x, 1));
    b.set_super_entry(audioIndx, 0, b.super_entry_for(ix01, 10));
    b.set_super_entry(audioIndx, 1, b.super_entry_for(ix01x, 20));

    ASSERT_EQ(open(b.data()), 0);
    EXPECT_EQ(entries_of(reader_->videoIndex),
              (std::vector<Entry>{{v0, 10, AVIIF_KEYFRAME}, {v1, 7, AVIIF_KEYFRAME}, {v2, 9, 0}}));
    EXPECT_EQ(entries_of(reader_->audioIndex),
              (std::vector<Entry>{{a0, 40, AVIIF_KEYFRAME}, {a1, 80, AVIIF_KEYFRAME}}));
    EXPECT_EQ(reader_->videoIndex.chunkId, Fcc("00dc"));
    EXPECT_EQ(reader_->audioIndex.chunkId, Fcc("01wb"));
    EXPECT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);

    // The samples are where the index says.
    Bytes frame(9);
    uint32_t size = 9;
    ASSERT_EQ(aviReadFrame(reader_, 2, frame.data(), &size, nullptr), 0);
    EXPECT_EQ(frame, pattern(9, 4));
    Bytes audio(100);
    uint32_t count = 0, bytes = 100;
    ASSERT_EQ(aviReadAudSamples(reader_, 5, &count, audio.data(), &bytes), 0);
    EXPECT_EQ(count, 25u);
    const Bytes head = pattern(40, 2), tail = pattern(80, 5);
    Bytes expected(head.begin() + 20, head.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(audio, expected);
}

TEST_F(ReaderIndex, InlineStandardIndexNeedsNoMovieList) {
    for (const bool twoField : {false, true}) {
        SCOPED_TRACE(twoField);
        RiffBuilder b;
        b.riff("AVI ");
        header_list(b, {{video_stream(3), [&](RiffBuilder& b) {
                             b.standard_index({.chunkId = "00dc",
                                               .base = 0x100010000ull,  // past 4 GiB
                                               .entries = {{0x100, 5, 0x180},
                                                           {0x200, 0x80000006u, 0x280},
                                                           {0x300, 0x7FFFFFFFu, 0x380}},
                                               .twoField = twoField},
                                              "indx");
                         }}});
        ASSERT_EQ(open(b.finish()), 0);
        // The second field's offset is not an entry of its own.
        EXPECT_EQ(entries_of(reader_->videoIndex),
                  (std::vector<Entry>{{0x100010100ull, 5, AVIIF_KEYFRAME},
                                      {0x100010200ull, 6, 0},
                                      {0x100010300ull, 0x7FFFFFFFu, AVIIF_KEYFRAME}}));
        EXPECT_EQ(reader_->indexFlags, AVI_INDEXFLAG_NOTKEY);
    }
}

TEST_F(ReaderIndex, OpenDmlIndexOfVideoOnlyLeavesAudioUnindexed) {
    RiffBuilder b;
    b.riff("AVI ");
    header_list(b, {{video_stream(1),
                     [](RiffBuilder& b) {
                         b.standard_index({.chunkId = "00dc", .entries = {{0x100, 4}}}, "indx");
                     }},
                    {audio_stream(1)}});
    b.list("movi");
    b.chunk("00dc", pattern(4, 1));
    b.chunk("01wb", pattern(4, 2));
    b.end();
    b.idx1({{"00dc", AVIIF_KEYFRAME, 4, 4}, {"01wb", AVIIF_KEYFRAME, 16, 4}});
    ASSERT_EQ(open(b.finish()), 0);
    EXPECT_EQ(reader_->videoIndex.count, 1u);
    EXPECT_EQ(reader_->videoIndex.entries[0].offset, 0x100u);
    EXPECT_EQ(reader_->audioIndex.count, 0u);
}

// Writes a stream's "indx" and returns its header position.
using IndexWriter = std::function<std::size_t(RiffBuilder&)>;
// Writes chunks behind the first segment, given the "indx" position.
using TailWriter = std::function<void(RiffBuilder&, std::size_t indx)>;

// A video stream with the "indx" that `indx` writes, and a movie list whose
// idx1 lists its single frame of 4 bytes.
Bytes odml_file(const IndexWriter& indx, const TailWriter& tail = {}) {
    RiffBuilder b;
    std::size_t at = 0;
    b.riff("AVI ");
    header_list(b, {{video_stream(1), [&](RiffBuilder& b) { at = indx(b); }}});
    b.list("movi");
    b.chunk("00dc", pattern(4, 1));
    b.end();
    b.idx1({{"00dc", AVIIF_KEYFRAME, 4, 4}});
    b.end();
    if (tail) tail(b, at);
    return b.finish();
}

TEST_F(ReaderIndex, EmptyOpenDmlIndexesFallBackToIdx1) {
    const std::pair<const char*, IndexWriter> cases[] = {
        {"super index without entries",
         [](RiffBuilder& b) { return b.super_index({.chunkId = "00dc", .slots = 2}); }},
        {"super index whose durations are 0",
         [](RiffBuilder& b) {
             return b.super_index({.chunkId = "00dc", .entries = {{0x100, 64, 0}, {0x200, 64, 0}}});
         }},
        {"super index whose slots are all unused",
         [](RiffBuilder& b) {
             return b.super_index(
                 {.chunkId = "00dc", .entries = {{0, 64, 1}, {0x100, 8, 1}, {0x100, 0, 1}}});
         }},
        {"standard index without entries",
         [](RiffBuilder& b) { return b.standard_index({.chunkId = "00dc"}, "indx"); }},
    };
    for (const auto& [name, indx] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(open(odml_file(indx)), 0);
        ASSERT_EQ(reader_->videoIndex.count, 1u);
        EXPECT_EQ(reader_->videoIndex.entries[0].size, 4u);
        EXPECT_EQ(host_log(), Log{});
    }
}

TEST_F(ReaderIndex, UnusableSuperIndexSlotsAreSkipped) {
    RiffBuilder b;
    const std::size_t indx = super_index_form(b, video_stream(3), "00dc", 6);
    const std::size_t ixA = b.standard_index({.chunkId = "00dc", .entries = {{0x100, 1}}}, "ix00");
    const std::size_t ixB =
        b.standard_index({.chunkId = "00dc", .entries = {{0x200, 2}, {0x300, 3}}}, "ix00");
    const std::size_t fileSize = b.finish().size();
    b.set_super_entry(indx, 0, {0, 32, 1});  // no position
    b.set_super_entry(indx, 1, b.super_entry_for(ixA, 1));
    b.set_super_entry(indx, 2, {ixA, 8, 1});             // no room for a header
    b.set_super_entry(indx, 3, {fileSize - 16, 48, 1});  // beyond the end of the file
    b.set_super_entry(indx, 4, b.super_entry_for(ixB, 2));
    b.set_super_entry(indx, 5, {fileSize + 100, 48, 1});  // entirely beyond
    ASSERT_EQ(open(b.data()), 0);
    EXPECT_EQ(entries_of(reader_->videoIndex), (std::vector<Entry>{{0x100, 1, AVIIF_KEYFRAME},
                                                                   {0x200, 2, AVIIF_KEYFRAME},
                                                                   {0x300, 3, AVIIF_KEYFRAME}}));
    EXPECT_EQ(host_log(), Log{});
}

TEST_F(ReaderIndex, EntryArrayGrowsBeyondTheAnnouncedDurations) {
    // Durations announce one sample per chunk; the chunks hold many more.
    for (const bool audio : {false, true}) {
        SCOPED_TRACE(audio ? "audio (sample size set)" : "video");
        RiffBuilder b;
        const Fcc id = audio ? Fcc("00wb") : Fcc("00dc");
        const std::size_t indx =
            super_index_form(b, audio ? audio_stream(500) : video_stream(500), id, 3);
        std::vector<std::size_t> chunks;
        uint32_t next = 0;
        for (const uint32_t n : {1u, 60u, 200u}) {
            StandardIndex ix{.chunkId = id};
            for (uint32_t i = 0; i < n; ++i, ++next) ix.entries.push_back({next * 16, 4});
            chunks.push_back(b.standard_index(ix, "ix00"));
        }
        b.finish();
        for (uint32_t i = 0; i < 3; ++i)
            b.set_super_entry(indx, i, b.super_entry_for(chunks[i], 1));
        ASSERT_EQ(open(b.data()), 0);
        const AviStreamIndex& index = audio ? reader_->audioIndex : reader_->videoIndex;
        ASSERT_EQ(index.count, 261u);
        for (uint32_t i = 0; i < index.count; ++i) ASSERT_EQ(index.entries[i].offset, i * 16u);
    }
}

TEST_F(ReaderIndex, AnnouncedDurationsDoNotSizeMemoryBeyondTheFile) {
    // Four billion frames announced per slot, for a file of a few hundred
    // bytes: the index is sized by what the file can hold.
    RiffBuilder b;
    const std::size_t indx = super_index_form(b, video_stream(3), "00dc", 2);
    const std::size_t ix =
        b.standard_index({.chunkId = "00dc", .entries = {{0x100, 4}, {0x200, 4}}}, "ix00");
    b.finish();
    for (uint32_t slot = 0; slot < 2; ++slot)
        b.set_super_entry(indx, slot, b.super_entry_for(ix, 0xFFFFFFFFu));
    ASSERT_EQ(open(b.data()), 0);
    EXPECT_EQ(reader_->videoIndex.count, 4u);
}

TEST_F(ReaderIndex, MalformedOpenDmlIndexFailsTheOpen) {
    const IndexWriter superIndex = [](RiffBuilder& b) {
        return b.super_index({.chunkId = "00dc", .slots = 2});
    };
    // A standard index chunk behind the segment, in the super index's first
    // slot; `shortenSlot` makes the slot's size smaller than the chunk.
    auto chunk_in_slot = [](StandardIndex ix, uint32_t shortenSlot = 0) -> TailWriter {
        return [ix, shortenSlot](RiffBuilder& b, std::size_t indx) {
            SuperEntry e = b.super_entry_for(b.standard_index(ix, "ix00"), 1);
            e.size -= shortenSlot;
            b.set_super_entry(indx, 0, e);
        };
    };
    auto inline_index = [](StandardIndex ix) -> IndexWriter {
        return [ix](RiffBuilder& b) { return b.standard_index(ix, "indx"); };
    };
    auto super_index = [](SuperIndex ix) -> IndexWriter {
        return [ix](RiffBuilder& b) { return b.super_index(ix); };
    };
    const std::vector<StdEntry> one = {{0x100, 4}};
    const SuperEntry slot{0x100, 64, 1};
    struct Case {
        const char* name;
        const char* detail;  // what the library keeps for the tool
        IndexWriter indx;
        TailWriter tail = {};
    };
    const Case cases[] = {
        {"standard index chunk with 3 longs per entry but plain sub-type",
         "stream 0: super index entry 0: standard index of sub-type 0 with 3-long entries",
         superIndex, chunk_in_slot({.chunkId = "00dc", .entries = one, .longsPerEntry = 3})},
        {"standard index chunk with field sub-type but 2 longs per entry",
         "stream 0: super index entry 0: standard index of sub-type 1 with 2-long entries",
         superIndex, chunk_in_slot({.chunkId = "00dc", .entries = one, .subType = 1})},
        {"standard index chunk claiming more entries than it holds",
         "stream 0: super index entry 0: 2 entries need 40 bytes, 32 available", superIndex,
         chunk_in_slot({.chunkId = "00dc", .entries = one, .entriesInUse = 2})},
        {"super index slot too small for a standard index header",
         "stream 0: super index entry 0: standard index of 20 bytes, shorter than its 24-byte "
         "header",
         superIndex, chunk_in_slot({.chunkId = "00dc", .entries = one}, 12)},
        {"inline standard index with 3 longs per entry but plain sub-type",
         "stream 0: indx: 1 entries need 36 bytes, 32 available",
         inline_index({.chunkId = "00dc", .entries = one, .longsPerEntry = 3})},
        {"inline standard index claiming more entries than it holds",
         "stream 0: indx: 9 entries need 96 bytes, 32 available",
         inline_index({.chunkId = "00dc", .entries = one, .entriesInUse = 9})},
        {"super index with 3 longs per entry",
         "stream 0: super index of sub-type 0 with 3-long entries",
         super_index({.chunkId = "00dc", .slots = 2, .longsPerEntry = 3})},
        {"super index of sub-type 2", "stream 0: super index of sub-type 2 with 4-long entries",
         super_index({.chunkId = "00dc", .entries = {slot}, .subType = 2})},
        {"super index claiming more entries than it holds",
         "stream 0: indx: 2 entries need 56 bytes, 40 available",
         super_index({.chunkId = "00dc", .entries = {slot}, .entriesInUse = 2})},
        {"unknown index type", "stream 0: indx: index type 2 unknown",
         super_index({.chunkId = "00dc", .entries = {slot}, .type = 2})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VxHostErrorClear();
        EXPECT_EQ(open(odml_file(c.indx, c.tail)), AVIERR_FILEREAD);
        EXPECT_EQ(host_log(), (Log{{AVIERR_BADFORMAT, site::odml::kIndex},
                                   {AVIERR_FILEREAD, site::vfw::kOdmlIndex}}));
        // The reason stays with its site, also past the caller's echo.
        EXPECT_STREQ(vxInternalFailureDetail(kOdml, site::odml::kIndex.line), c.detail);
        EXPECT_STREQ(vxInternalFailureDetail(kVfw, site::vfw::kOdmlIndex.line), "");
    }
}

TEST_F(ReaderIndex, OnlyTheChosenStreamsIndexesAreLoaded) {
    // The first video and the first audio stream have no "indx"; later
    // streams of the same kinds do, but do not describe the chosen ones.
    auto inline_index = [](Fcc id) {
        return [id](RiffBuilder& b) {
            b.standard_index({.chunkId = id, .entries = {{0x100, 4}, {0x200, 4}}}, "indx");
        };
    };
    RiffBuilder b;
    b.riff("AVI ");
    header_list(b, {{video_stream(1)},
                    {audio_stream(1)},
                    {video_stream(2), inline_index("02dc")},
                    {audio_stream(2), inline_index("03wb")}});
    b.list("movi");
    b.chunk("00dc", pattern(4, 1));
    b.chunk("01wb", pattern(4, 2));
    b.end();
    b.idx1({{"00dc", AVIIF_KEYFRAME, 4, 4}, {"01wb", AVIIF_KEYFRAME, 16, 4}});
    ASSERT_EQ(open(b.finish()), 0);
    EXPECT_EQ(reader_->videoStream, 0);
    EXPECT_EQ(reader_->audioStream, 1);
    EXPECT_EQ(reader_->videoIndex.count, 1u);
    EXPECT_EQ(reader_->videoIndex.chunkId, Fcc("00dc"));
    EXPECT_EQ(reader_->audioIndex.count, 1u);
    EXPECT_EQ(reader_->audioIndex.chunkId, Fcc("01wb"));
}

TEST_F(ReaderIndex, FirstIndexOfAStreamWins) {
    RiffBuilder b;
    b.riff("AVI ");
    header_list(
        b, {{video_stream(1), [](RiffBuilder& b) {
                 b.standard_index({.chunkId = "00dc", .entries = {{0x100, 4}}}, "indx");
                 b.standard_index({.chunkId = "00dc", .entries = {{0x200, 8}, {0, 1}}}, "indx");
             }}});
    ASSERT_EQ(open(b.finish()), 0);
    EXPECT_EQ(entries_of(reader_->videoIndex), (std::vector<Entry>{{0x100, 4, AVIIF_KEYFRAME}}));
}

}  // namespace
