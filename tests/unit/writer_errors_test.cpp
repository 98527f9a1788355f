// Refused calls and failing file operations: the codes, the host's log, and
// what is left in the file.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

class WriterErrors : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        open();
        add_video();
    }
    const Bytes f0 = payload(0, 0, 100);
};

TEST_F(WriterErrors, RefusedCalls) {
    EXPECT_EQ(write(1, f0), AVIERR_BADPARAM);
    EXPECT_EQ(write(-1, f0), AVIERR_BADPARAM);
    AviChunkInfo info{};
    EXPECT_EQ(avifileEndWrite(writer_, 1, 0, &info), AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log(3, {AVIERR_BADPARAM, site::easy::kBadStream})));
    // Without a chunk begun, continuing and ending do nothing.
    EXPECT_EQ(avifileContinueWrite(writer_, f0.data(), 10, &info), 0);
    EXPECT_EQ(avifileEndWrite(writer_, 0, 0, &info), 0);
    EXPECT_EQ(file_bytes().size(), 0u) << "nothing written, not even the header space";

    ASSERT_EQ(write(0, f0), 0);
    const WAVEFORMATEX f = audio_format();
    const AVIStreamHeader h = stream_header("auds");
    EXPECT_EQ(avifileAddStream(writer_, nullptr, &h, &f, sizeof f), AVIERR_BADPARAM)
        << "too late once the header space is sized";
    EXPECT_EQ(VxHostErrorCount(), 3u);
    ASSERT_EQ(close(1), 0);
    expect_contents({f0});

    AviWriter* w = reinterpret_cast<AviWriter*>(uintptr_t{8});
    const MainAVIHeader m{};
    EXPECT_EQ(avifileOpen(&w, (path_ + "/no/such/dir.avi").c_str(), &m), AVIERR_FILEOPEN);
    EXPECT_EQ(w, reinterpret_cast<AviWriter*>(uintptr_t{8})) << "left untouched";
    EXPECT_EQ(host_log().back(), (LogRecord{AVIERR_FILEOPEN, site::easy::kOpen}));
}

TEST_F(WriterErrors, FailedFirstSegmentCanBeRetried) {
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    EXPECT_EQ(write(0, f0), AVIERR_FILEWRITE);
    EXPECT_EQ(writer_->headerReserve, 0u) << "not set before the segment really started";
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, site::easy::kFirstSegment}}));
    ASSERT_EQ(write(0, f0), 0);
    ASSERT_EQ(close(1), 0);
    expect_contents({f0});
}

TEST_F(WriterErrors, FailedWritesOfChunksAreReportedAndTheFileStaysReadable) {
    const Bytes f1 = payload(0, 1, 1000), f2 = payload(0, 2, 100);
    ASSERT_EQ(write(0, f0), 0);
    // The chunk's header goes through, then only half of its data.
    VxHostInjectFault(VX_FAULT_SHORT_WRITE, 1);
    EXPECT_EQ(write(0, f1), AVIERR_FILEWRITE);
    VxHostInjectFault(VX_FAULT_WRITE, 0);
    EXPECT_EQ(write(0, f2), AVIERR_FILEWRITE);
    ASSERT_EQ(write(0, f2), 0);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, site::easy::kChunkData},
                               {AVIERR_FILEWRITE, site::easy::kChunkHeader}}));
    ASSERT_EQ(close(3), 0);
    expect_contents({f0, Bytes(f1.begin(), f1.begin() + 500), f2});
}

TEST_F(WriterErrors, ChunksWrittenWholeNeverSeekBack) {
    ASSERT_EQ(write(0, f0), 0);
    // Their size is in the header from the start: no seek to fix it up.
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    ASSERT_EQ(write(0, payload(0, 1, 1000)), 0);
    ASSERT_EQ(write(0, payload(0, 2, 777)), 0);
    VxHostClearFaults();
    ASSERT_EQ(close(3), 0);
    expect_contents({f0, payload(0, 1, 1000), payload(0, 2, 777)});
}

TEST_F(WriterErrors, FailedSeekWhileCompletingAChunkStopsFurtherWrites) {
    ASSERT_EQ(write(0, f0), 0);
    const uint32_t movi = writer_->headerReserve;
    // A chunk whose size is not known when it is begun has its header
    // rewritten when it ends, and the seek back behind it fails.
    const Bytes f1 = payload(0, 1, 100);
    AviChunkInfo piece{};
    ASSERT_EQ(avifileBeginWrite2(writer_, 0, nullptr, 0, 100, kDc, 0, &piece), 0);
    ASSERT_EQ(avifileContinueWrite(writer_, f1.data(), 100, &piece), 0);
    VxHostInjectFault(VX_FAULT_SEEK, 0);
    EXPECT_EQ(avifileEndWrite(writer_, 0, AVIIF_KEYFRAME, &piece), AVIERR_FILEWRITE);
    // Writing on would overwrite the chunk just written.
    EXPECT_EQ(write(0, payload(0, 2, 100)), AVIERR_FILEWRITE);
    EXPECT_EQ(close(3), AVIERR_FILEWRITE);
    EXPECT_EQ(host_log(), (Log{{AVIERR_FILEWRITE, site::easy::kChunkEnd},
                               {AVIERR_FILEWRITE, site::easy::kChunkHeader},
                               {AVIERR_FILEWRITE, site::easy::kSegmentEnd},
                               {AVIERR_FILEWRITE, site::easy::kClose}}));
    const Bytes b = file_bytes();
    EXPECT_EQ(le32_at(b, 8), Fcc("JUNQ")) << "never taken for a finished file";
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + movi + 20));
}

TEST_F(WriterErrors, HeaderListIsNotWrittenWhenItFailsOrDoesNotFit) {
    ASSERT_EQ(write(0, f0), 0);
    // Ending the segment writes movi's size, idx1 (one write while it is
    // small) and the RIFF size; the fourth write is the header list.
    VxHostInjectFault(VX_FAULT_WRITE, 3);
    EXPECT_EQ(close(1), AVIERR_FILEWRITE);
    EXPECT_EQ(VxHostErrorCount(), 0u) << "a failed rewrite is not recorded";
    Bytes b = file_bytes();
    EXPECT_EQ(le32_at(b, 8), Fcc("JUNQ"));
    EXPECT_GT(find_chunk(b, Fcc("idx1"), 12, b.size()), 0) << "the movie data is complete";

    open();
    add_video();
    ASSERT_EQ(write(0, f0), 0);
    const uint32_t movi = writer_->headerReserve;
    writer_->headerReserve = 100;  // as if the streams had outgrown it
    EXPECT_EQ(close(1), AVIERR_FILEWRITE);
    b = file_bytes();
    EXPECT_EQ(le32_at(b, 12), 0u) << "the header space stays unwritten";
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + movi + 20));
}

}  // namespace
