// aviOpen: the header walk, what it keeps of each stream, the choice of the
// video and audio streams, and every way a file can make it fail.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/avireader.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/reader_fixture.h"
#include "support/riff_builder.h"

namespace {

using namespace vxtest;

MainAVIHeader main_header(uint32_t streams) {
    MainAVIHeader h{};
    h.dwMicroSecPerFrame = 40000;
    h.dwStreams = streams;
    h.dwTotalFrames = 1;
    return h;
}

void stream_list(RiffBuilder& b, const StreamLayout& s) {
    b.begin_stream_list(s.header);
    b.strf_raw(s.format);
    b.end();
}

void movie_list(RiffBuilder& b) {
    b.list("movi");
    b.chunk("00dc", pattern(4, 1));
    b.end();
}

// The start of a hand-built file: "RIFF" "AVI " and its header list, holding
// a main header (of one stream unless given).
RiffBuilder start(const std::optional<MainAVIHeader>& main = main_header(1)) {
    return avi_header_start(main);
}

// Closes the lists still open in the form, then a movie list of one frame.
Bytes with_movie(RiffBuilder& b) {
    b.end_to(1);
    movie_list(b);
    return b.finish();
}

// "RIFF" "AVI " with a header list of one video stream; `extra` adds chunks
// at the end of the header list.
Bytes one_stream_file(const std::function<void(RiffBuilder&)>& extra = {}) {
    RiffBuilder b = start();
    stream_list(b, video_stream(1));
    if (extra) extra(b);
    return with_movie(b);
}

// Cuts the built file `into` bytes into the data of the chunk at `header`.
Bytes cut_into(RiffBuilder& b, std::size_t header, std::size_t into) {
    b.finish();
    b.truncate(header + 8 + into);
    return b.data();
}

using ReaderOpen = ReaderTest;

struct BadFile {
    const char* name;
    std::function<Bytes()> make;
    Log expected;  // the open fails with the code of the last record
};

TEST_F(ReaderOpen, EachStructuralFaultFailsAtItsOwnLine) {
    const BadFile cases[] = {
        {"empty file", [] { return Bytes{}; }, {{AVIERR_BADFORMAT, site::vfw::kNoRiffForm}}},
        {"not an AVI form",
         [] {
             RiffBuilder b;
             b.riff("WAVE");
             b.chunk("fmt ", pattern(16, 0));
             return b.finish();
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoRiffForm}}},
        {"no header list",
         [] {
             RiffBuilder b;
             b.riff("AVI ");
             movie_list(b);
             return b.finish();
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoHeaderList}}},
        {"no main header",
         [] {
             RiffBuilder b = start(std::nullopt);
             stream_list(b, video_stream(1));
             return b.finish();
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoMainHeader}}},
        {"no streams",
         [] { return start(main_header(0)).finish(); },
         {{AVIERR_BADFORMAT, site::vfw::kStreamCount}}},
        {"256 streams",
         [] {
             RiffBuilder b = start(main_header(256));
             for (int i = 0; i < 256; ++i) stream_list(b, video_stream(1));
             return b.finish();
         },
         {{AVIERR_BADFORMAT, site::vfw::kStreamCount}}},
        {"fewer stream lists than streams",
         [] {
             RiffBuilder b = start(main_header(2));
             stream_list(b, video_stream(1));
             return with_movie(b);
         },
         {{AVIERR_BADFORMAT, site::vfw::kFewerStreamLists}}},
        {"more stream lists than streams",
         [] { return one_stream_file([](RiffBuilder& b) { stream_list(b, audio_stream(1)); }); },
         {{AVIERR_BADFORMAT, site::vfw::kMoreStreamLists}}},
        {"stream list without a stream header",
         [] {
             RiffBuilder b = start();
             b.list("strl");
             b.strf(bitmap_info(4, 2));
             return with_movie(b);
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoStreamHeader}}},
        {"stream list without a format",
         [] {
             RiffBuilder b = start();
             b.begin_stream_list(video_stream(1).header);
             return with_movie(b);
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoFormat}}},
        {"no movie list and no OpenDML index",
         [] {
             RiffBuilder b = start();
             stream_list(b, video_stream(1));
             b.end();
             b.idx1({{"00dc", AVIIF_KEYFRAME, 4, 4}});
             return b.finish();
         },
         {{AVIERR_BADFORMAT, site::vfw::kNoMovieList}}},
        {"main header cut off by the end of the file",
         [] {
             RiffBuilder b = start(std::nullopt);
             return cut_into(b, b.avih(main_header(1)), 30);
         },
         {{AVIERR_FILEREAD, site::vfw::kMainHeaderCut}}},
        {"stream header cut off",
         [] {
             RiffBuilder b = start();
             b.list("strl");
             return cut_into(b, b.strh(video_stream(1).header), 20);
         },
         {{AVIERR_FILEREAD, site::vfw::kStreamHeaderCut}}},
        {"format cut off",
         [] {
             RiffBuilder b = start();
             b.begin_stream_list(video_stream(1).header);
             return cut_into(b, b.strf(bitmap_info(4, 2)), 39);
         },
         {{AVIERR_FILEREAD, site::vfw::kFormatCut}}},
        {"codec data cut off",
         [] {
             RiffBuilder b = start();
             b.begin_stream_list(video_stream(1).header);
             b.strf(bitmap_info(4, 2));
             return cut_into(b, b.strd(pattern(100, 3)), 50);
         },
         {{AVIERR_FILEREAD, site::vfw::kCodecDataCut}}},
        {"extended header cut off",
         [] {
             RiffBuilder b = start();
             return cut_into(b, b.dmlh(5), 2);
         },
         {{AVIERR_FILEREAD, site::vfw::kOdmlHeaderCut}}},
        {"OpenDML index chunk smaller than its header",
         [] {
             RiffBuilder b = start();
             b.begin_stream_list(video_stream(1).header);
             b.strf(bitmap_info(4, 2));
             b.chunk("indx", Bytes(16, 0));
             return with_movie(b);
         },
         {{AVIERR_BADFORMAT, site::odml::kIndex}, {AVIERR_FILEREAD, site::vfw::kOdmlIndex}}},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.name);
        VxHostErrorClear();
        EXPECT_EQ(open(c.make()), c.expected.back().code);
        EXPECT_EQ(reader_, nullptr);
        EXPECT_EQ(host_log(), c.expected);
    }
}

TEST_F(ReaderOpen, HostSeekFailuresAreReadErrors) {
    const Bytes file = AviLayout{{video_stream(1)}, {{0, pattern(4, 1)}}}.build().bytes;
    // The first seek rewinds the host's file; the next ones measure it.
    for (const auto& [afterCalls, where] :
         {std::pair{0u, &site::vfw::kRewind}, std::pair{1u, &site::vfw::kFileSize}}) {
        SCOPED_TRACE(where->line);
        VxHostErrorClear();
        VxHostInjectFault(VX_FAULT_SEEK, afterCalls);
        EXPECT_EQ(open(file), AVIERR_FILEREAD);
        EXPECT_EQ(host_log(), (Log{{AVIERR_FILEREAD, *where}}));
        VxHostClearFaults();
    }
}

TEST_F(ReaderOpen, TwoHundredFiftyFiveStreamsOpen) {
    RiffBuilder b = start(main_header(255));
    for (int i = 0; i < 255; ++i) stream_list(b, i % 2 ? audio_stream(1) : video_stream(1));
    b.end();
    b.list("movi");
    b.end();
    ASSERT_EQ(open(b.finish()), 0);
    EXPECT_EQ(aviGetStreamCount(reader_), 255u);
    ASSERT_NE(aviGetAVIStream(reader_, 254), nullptr);
    EXPECT_EQ(aviGetAVIStream(reader_, 254)->header.fccType, Fcc("vids"));
    EXPECT_EQ(aviGetAVIStream(reader_, 255), nullptr);
    EXPECT_EQ(reader_->videoStream, 0);
    EXPECT_EQ(reader_->audioStream, 1);
    // An empty movie list without idx1 gives empty indexes.
    EXPECT_EQ(reader_->videoIndex.count, 0u);
    EXPECT_EQ(reader_->audioIndex.count, 0u);
    EXPECT_EQ(host_log(), Log{});
}

TEST_F(ReaderOpen, HeaderAccessors) {
    ASSERT_EQ(open(AviLayout{{video_stream(1)}, {{0, pattern(4, 1)}}}.build().bytes), 0);
    EXPECT_EQ(static_cast<void*>(aviGetAVIHeader(reader_)), static_cast<void*>(reader_));
    EXPECT_EQ(aviGetAVIStream(reader_, 0), &reader_->streams[0]);
    EXPECT_EQ(aviGetAVIStream(reader_, 1), nullptr);
    EXPECT_EQ(aviGetAVIStream(reader_, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(reader_->audioCursorSample, -1);
    EXPECT_EQ(reader_->audioCursorEntry, -1);
    EXPECT_EQ(reader_->riffParser, nullptr);
    EXPECT_EQ(reader_->fileRef, file_->handle());
}

TEST_F(ReaderOpen, MainHeaderIsReadUpTo56Bytes) {
    MainAVIHeader h = main_header(1);
    h.dwFlags = AVIF_HASINDEX;
    h.dwWidth = 320;
    h.dwHeight = 240;
    h.dwReserved[0] = 7;
    h.dwReserved[3] = 9;
    for (const uint32_t length : {40u, 56u, 72u}) {
        SCOPED_TRACE(length);
        Bytes avih(length, 0xEE);  // bytes past 56 must be skipped, not parsed
        std::memcpy(avih.data(), &h, std::min<size_t>(length, sizeof h));
        RiffBuilder b = start(std::nullopt);
        b.chunk("avih", avih);
        stream_list(b, video_stream(1));
        ASSERT_EQ(open(with_movie(b)), 0);
        MainAVIHeader expected = h;
        if (length < 56) std::memset(&expected.dwReserved, 0, sizeof expected.dwReserved);
        EXPECT_EQ(std::memcmp(&reader_->mainHeader, &expected, sizeof expected), 0);
        EXPECT_EQ(reader_->videoStream, 0);
    }
}

TEST_F(ReaderOpen, StreamHeaderKeepsWhatTheChunkHolds) {
    StreamLayout video = video_stream(3);
    video.header.dwSuggestedBufferSize = 1234;
    video.header.dwQuality = 9000;
    video.header.rcFrame = {1, 2, 3, 4};
    struct Case {
        uint32_t length;
        uint32_t quality;
        RECT frame;
    };
    // Shorter than 44 bytes: no quality, which reads as -1. 56 bytes hold the
    // rectangle as four 16-bit values, i.e. the first two 32-bit ones here.
    for (const Case& c : {Case{40, 0xFFFFFFFFu, {0, 0, 0, 0}}, Case{48, 9000, {0, 0, 0, 0}},
                          Case{56, 9000, {1, 2, 0, 0}}, Case{64, 9000, {1, 2, 3, 4}},
                          Case{80, 9000, {1, 2, 3, 4}}}) {
        SCOPED_TRACE(c.length);
        RiffBuilder b = start();
        b.begin_stream_list(video.header, c.length);
        b.strf(bitmap_info(4, 2));
        ASSERT_EQ(open(with_movie(b)), 0);
        const AVIStreamHeader& got = reader_->streams[0].header;
        EXPECT_EQ(got.fccType, Fcc("vids"));
        EXPECT_EQ(got.dwLength, 3u);
        EXPECT_EQ(got.dwSuggestedBufferSize, 1234u);
        EXPECT_EQ(got.dwQuality, c.quality);
        EXPECT_EQ(got.rcFrame.left, c.frame.left);
        EXPECT_EQ(got.rcFrame.top, c.frame.top);
        EXPECT_EQ(got.rcFrame.right, c.frame.right);
        EXPECT_EQ(got.rcFrame.bottom, c.frame.bottom);
    }
}

TEST_F(ReaderOpen, FormatAndCodecDataAreKeptRaw) {
    const Bytes codec = pattern(5, 40);  // odd: a pad byte follows
    RiffBuilder b = start(main_header(2));
    b.begin_stream_list(video_stream(1).header);
    b.strf(bitmap_info(320, 240));
    b.strf(bitmap_info(640, 480));  // a second format is ignored
    b.strd(codec);
    b.end();
    stream_list(b, audio_stream(1));
    ASSERT_EQ(open(with_movie(b)), 0);

    const AviStreamRecord& v = reader_->streams[0];
    ASSERT_EQ(v.formatSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(static_cast<const BITMAPINFOHEADER*>(v.format)->biWidth, 320);
    ASSERT_EQ(v.codecDataSize, codec.size());
    EXPECT_EQ(Bytes(static_cast<uint8_t*>(v.codecData),
                    static_cast<uint8_t*>(v.codecData) + v.codecDataSize),
              codec);
    const AviStreamRecord& a = reader_->streams[1];
    EXPECT_EQ(a.header.fccType, Fcc("auds"));
    EXPECT_EQ(a.formatSize, sizeof(WAVEFORMATEX));
    EXPECT_EQ(a.codecData, nullptr);
    EXPECT_EQ(a.codecDataSize, 0u);
}

StreamLayout with_sample_size(StreamLayout s, uint32_t size) {
    s.header.dwSampleSize = size;
    return s;
}

StreamLayout with_type(StreamLayout s, Fcc type) {
    s.header.fccType = type;
    return s;
}

StreamLayout audio_with_block_align(uint16_t align, uint32_t storedSampleSize) {
    StreamLayout s = audio_stream(1);
    WAVEFORMATEX wf = wave_format(1, 8000, 8);
    wf.nBlockAlign = align;
    s.format = as_bytes(wf);
    s.header.dwSampleSize = storedSampleSize;
    return s;
}

TEST_F(ReaderOpen, FirstVideoAndFirstAudioStreamAreChosen) {
    AviLayout layout;
    layout.streams = {audio_with_block_align(4, 1), with_sample_size(video_stream(1), 99),
                    audio_with_block_align(6, 1), with_sample_size(video_stream(1), 77),
                    with_type(with_sample_size(video_stream(1), 55), "iavs")};
    layout.samples = {{1, pattern(4, 1)}};
    ASSERT_EQ(open(layout.build().bytes), 0);
    EXPECT_EQ(reader_->audioStream, 0);
    EXPECT_EQ(reader_->videoStream, 1);
    // Every audio stream takes its block size; only the chosen video stream
    // is reset to whole-chunk samples.
    const uint32_t expected[] = {4, 0, 6, 77, 55};
    for (uint32_t j = 0; j < 5; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(reader_->streams[j].header.dwSampleSize, expected[j]);
    }
}

TEST_F(ReaderOpen, InterleavedDvStreamIsVideo) {
    AviLayout layout;
    layout.streams = {with_type(with_sample_size(video_stream(1), 8), "iavs"), video_stream(1)};
    layout.samples = {{0, pattern(4, 1), AVIIF_KEYFRAME, "00db"}};
    ASSERT_EQ(open(layout.build().bytes), 0);
    EXPECT_EQ(reader_->videoStream, 0);
    EXPECT_EQ(reader_->audioStream, -1);
    EXPECT_EQ(reader_->streams[0].header.dwSampleSize, 0u);
    EXPECT_EQ(reader_->videoIndex.count, 1u);
}

TEST_F(ReaderOpen, AudioFormatTooShortForBlockAlignGivesSampleSizeZero) {
    StreamLayout audio = audio_stream(1);
    audio.format.resize(12);  // ends before nBlockAlign
    ASSERT_EQ(open(AviLayout{{video_stream(1), audio}, {{0, pattern(4, 1)}}}.build().bytes), 0);
    EXPECT_EQ(reader_->audioStream, 1);
    EXPECT_EQ(reader_->streams[1].formatSize, 12u);
    EXPECT_EQ(reader_->streams[1].header.dwSampleSize, 0u);
}

TEST_F(ReaderOpen, ExtendedHeaderCountsOnlyOutsideOtherLists) {
    struct Case {
        const char* where;
        std::function<void(RiffBuilder&)> put;
        uint32_t totalFrames;
    };
    // The main header says 0x00010005 frames.
    const Case cases[] = {
        {"inside LIST odml",
         [](RiffBuilder& b) {
             b.list("odml");
             b.dmlh(500);
             b.end();
         },
         0x00010005u},
        {"directly in hdrl", [](RiffBuilder& b) { b.dmlh(500); }, 500u},
        {"in a stream list",
         [](RiffBuilder& b) {
             b.begin_stream_list(video_stream(1).header);
             b.strf(bitmap_info(4, 2));
             b.dmlh(600);
             b.end();
         },
         600u},
        // Only the bytes the chunk has replace the count's low end.
        {"two bytes directly in hdrl", [](RiffBuilder& b) { b.dmlh(0x0007, 2); }, 0x00010007u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        const bool ownStreamList = std::string(c.where) == "in a stream list";
        MainAVIHeader h = main_header(1);
        h.dwTotalFrames = 0x00010005u;
        RiffBuilder b = start(h);
        if (!ownStreamList) stream_list(b, video_stream(1));
        c.put(b);
        ASSERT_EQ(open(with_movie(b)), 0);
        EXPECT_EQ(reader_->mainHeader.dwTotalFrames, c.totalFrames);
    }
}

TEST_F(ReaderOpen, StreamChunksAfterTheLastStreamListAreSkipped) {
    const Bytes file = one_stream_file([](RiffBuilder& b) {
        b.chunk("JUNK", Bytes(3, 0));
        b.list("INFO");
        b.chunk("ISFT", Bytes(5, 'x'));
        b.end();
        // No stream record is left for these.
        b.strh(audio_stream(9).header);
        b.strf(wave_format(1, 8000, 8));
        b.strd(pattern(4, 0));
        b.standard_index({"01wb", 0, {StdEntry::key(0, 4)}}, "indx");
    });
    ASSERT_EQ(open(file), 0);
    EXPECT_EQ(aviGetStreamCount(reader_), 1u);
    EXPECT_EQ(reader_->streams[0].header.fccType, Fcc("vids"));
    EXPECT_EQ(reader_->streams[0].formatSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(reader_->streams[0].codecData, nullptr);
    EXPECT_EQ(reader_->audioStream, -1);
    EXPECT_EQ(reader_->audioIndex.count, 0u);
    EXPECT_EQ(reader_->videoIndex.count, 1u);  // from the movie list
    EXPECT_EQ(host_log(), Log{});
}

TEST_F(ReaderOpen, FileNameSelectsCachedReadsOnlyWhenItFits) {
    const BuiltAvi built = AviLayout{{video_stream(1)}, {{0, pattern(10, 3)}}}.build();
    const std::string fits(259, 'n');
    const std::string tooLong(260, 'n');
    struct Case {
        const char* name;
        uint8_t useCache;
    };
    for (const Case& c : {Case{nullptr, 0}, Case{fits.c_str(), 1}, Case{tooLong.c_str(), 0}}) {
        SCOPED_TRACE(c.name ? std::strlen(c.name) : 0);
        close();
        file_ = std::make_unique<TempAviFile>(built.bytes);
        ASSERT_EQ(open_file(c.name), 0);
        EXPECT_EQ(reader_->useCache, c.useCache);
        EXPECT_STREQ(reader_->fileName, c.useCache ? c.name : "");
        // Either way frames are read correctly (a name that cannot be opened
        // falls back to the host's handle).
        Bytes frame(10);
        uint32_t size = 10;
        ASSERT_EQ(aviReadFrame(reader_, 0, frame.data(), &size, nullptr), 0);
        EXPECT_EQ(frame, pattern(10, 3));
    }
}

}  // namespace
