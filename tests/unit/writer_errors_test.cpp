// Refused calls and failing file operations: the codes, the host's log, and
// what is left in the file.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

class WriterErrors : public WriterTest {
protected:
    void open_video() {
        open();
        add_video();
    }
};

TEST_F(WriterErrors, StreamNumbersOutOfRangeAreRefused) {
    open_video();
    const Bytes d = payload(0, 0, 10);
    EXPECT_EQ(write(1, d, kDc, 0), AVIERR_BADPARAM);
    EXPECT_EQ(write(-1, d, kDc, 0), AVIERR_BADPARAM);
    EXPECT_EQ(file_bytes().size(), 0u) << "nothing written, not even the header space";
    EXPECT_EQ(writer_->headerReserve, 0u);
    AviChunkInfo info{};
    EXPECT_EQ(avifileEndWrite(writer_, 1, 0, &info), AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log{{AVIERR_BADPARAM, kAviEasy, 479},
                               {AVIERR_BADPARAM, kAviEasy, 479},
                               {AVIERR_BADPARAM, kAviEasy, 479}}));
    // Without a chunk begun, continuing and ending do nothing.
    EXPECT_EQ(avifileContinueWrite(writer_, d.data(), 10, &info), 0);
    EXPECT_EQ(avifileEndWrite(writer_, 0, 0, &info), 0);
    EXPECT_EQ(file_bytes().size(), 0u);
}

TEST_F(WriterErrors, StreamsCannotBeAddedOnceDataWasWritten) {
    open_video();
    ASSERT_EQ(write(0, payload(0, 0, 10), kDc, AVIIF_KEYFRAME), 0);
    const AVIStreamHeader h = audio_header();
    const WAVEFORMATEX f = audio_format();
    int32_t n = -1;
    EXPECT_EQ(avifileAddStream(writer_, &n, &h, &f, sizeof f), AVIERR_BADPARAM);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(writer_->mainHeader.dwStreams, 1u);
    EXPECT_EQ(VxHostErrorCount(), 0u);
    EXPECT_EQ(close(1, 0), 0);
    ASSERT_NE(read_back(), nullptr);
}

TEST_F(WriterErrors, FileThatCannotBeCreated) {
    const MainAVIHeader m = main_header();
    AviWriter* w = reinterpret_cast<AviWriter*>(uintptr_t{8});
    const std::string bad = path_ + "/no/such/folder/x.avi";
    EXPECT_EQ(avifileOpen(&w, bad.c_str(), &m), AVIERR_FILEOPEN);
    EXPECT_EQ(w, reinterpret_cast<AviWriter*>(uintptr_t{8})) << "left untouched";
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEOPEN, kAviEasy, 287}}));
}

TEST_F(WriterErrors, FailedFirstSegmentCanBeRetried) {
    open_video();
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    const Bytes f0 = payload(0, 0, 10);
    EXPECT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), AVIERR_FILEWRITE);
    EXPECT_EQ(writer_->headerReserve, 0u) << "not set before the segment really started";
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, kAviEasy, 483}}));
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(close(1, 0), 0);
    ASSERT_NE(read_back(), nullptr);
    expect_frames({f0}, {true});
}

TEST_F(WriterErrors, ShortDataWriteIsReportedAndTheFileStaysReadable) {
    open_video();
    const Bytes f0 = payload(0, 0, 1000);
    const Bytes f1 = payload(0, 1, 1000);
    const Bytes f2 = payload(0, 2, 1000);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    // Header, then the data: the second write of the chunk moves half.
    VxHostInjectFault(VX_FAULT_SHORT_WRITE, 1);
    EXPECT_EQ(write(0, f1, kDc, AVIIF_KEYFRAME), AVIERR_FILEWRITE);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, kAviEasy, 572}}));
    ASSERT_EQ(write(0, f2, kDc, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(close(3, 0), 0);
    ASSERT_NE(read_back(), nullptr);
    const Bytes half(f1.begin(), f1.begin() + 500);
    expect_frames({f0, half, f2}, {true, true, true});
}

TEST_F(WriterErrors, FailedHeaderWriteOfAChunk) {
    open_video();
    const Bytes f0 = payload(0, 0, 100);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    VxHostInjectFault(VX_FAULT_WRITE, 0);
    EXPECT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), AVIERR_FILEWRITE);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, kAviEasy, 553}}));
    ASSERT_EQ(close(1, 0), 0);
    ASSERT_NE(read_back(), nullptr);
    expect_frames({f0}, {true});
}

TEST_F(WriterErrors, FailedSeekWhileCompletingAChunkStopsFurtherWrites) {
    open_video();
    const Bytes f0 = payload(0, 0, 100);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    const uint32_t reserve = writer_->headerReserve;
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    EXPECT_EQ(write(0, payload(0, 1, 100), kDc, AVIIF_KEYFRAME), AVIERR_FILEWRITE);
    // Writing on would overwrite the chunk just written.
    EXPECT_EQ(write(0, payload(0, 2, 100), kDc, AVIIF_KEYFRAME), AVIERR_FILEWRITE);
    EXPECT_EQ(close(3, 0), AVIERR_FILEWRITE);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, kAviEasy, 614},
                               {AVIERR_FILEWRITE, kAviEasy, 553},
                               {AVIERR_FILEWRITE, kAviEasy, 1250},
                               {AVIERR_FILEWRITE, kAviEasy, 831}}));
    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 8), Fcc("JUNQ")) << "never taken for a finished file";
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + reserve + 20));
}

TEST_F(WriterErrors, FailedHeaderRewriteKeepsThePlaceholder) {
    open_video();
    const Bytes f0 = payload(0, 0, 100);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    // Ending the segment writes movi's size, idx1 (two writes) and the RIFF
    // size; the fifth write is the header list.
    VxHostInjectFault(VX_FAULT_WRITE, 4);
    EXPECT_EQ(close(1, 0), AVIERR_FILEWRITE);
    EXPECT_EQ(VxHostErrorCount(), 0u) << "a failed rewrite is not recorded";
    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 8), Fcc("JUNQ"));
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    EXPECT_GT(idx1, 0) << "the movie data and its index are complete";
}

TEST_F(WriterErrors, HeaderListLargerThanTheReserveIsNotWrittenOverTheMovie) {
    open_video();
    const Bytes f0 = payload(0, 0, 100);
    ASSERT_EQ(write(0, f0, kDc, AVIIF_KEYFRAME), 0);
    const uint32_t reserve = writer_->headerReserve;
    writer_->headerReserve = 100;  // as if the streams had outgrown it
    EXPECT_EQ(close(1, 0), AVIERR_FILEWRITE);
    const Bytes b = file_bytes();
    EXPECT_EQ(rd32(b, 8), Fcc("JUNQ"));
    EXPECT_EQ(rd32(b, 12), 0u) << "the header space stays unwritten";
    EXPECT_EQ(rd32(b, reserve + 8), Fcc("movi"));
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + reserve + 20));
}

}  // namespace
