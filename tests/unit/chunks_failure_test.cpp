// Host write failures part way through adding chunks: the export reports the
// failure and the movie the file held is still read in full.
#include "unit/chunks_fixture.h"
#include "unit/writer_fixture.h"

namespace vxtest {
namespace {

class ChunkFailure : public WriterTest {
protected:
    void write_file() {
        open(0, 6);
        add_video();
        for (uint32_t i = 0; i < 6; ++i) {
            frames_.push_back(payload(0, i, 300 + i));
            ASSERT_EQ(write(0, frames_.back()), 0);
        }
        ASSERT_EQ(close(6), 0);
        original_ = file_bytes();
    }
    void restore(const Bytes& bytes) {
        HANDLE raw = open_file(path_, Access::kCreate);
        ASSERT_TRUE(write_all(raw, bytes.data(), bytes.size(), 0));
        close_file(raw);
    }
    // Runs `edit` with the `k`-th write failing, for every k until the edit
    // gets through; each failure must be reported and keep every frame.
    template <class Edit>
    void fail_each_write(const Bytes& start, int32_t kind, bool stayWellFormed, Edit edit) {
        int failures = 0;
        for (uint32_t k = 0; k < 16; ++k) {
            SCOPED_TRACE("write " + std::to_string(k));
            restore(start);
            int32_t rc = 0;
            {
                Opened h(path_);
                VxHostInjectFault(kind, k);
                rc = edit(h.get());
                VxHostClearFaults();
            }
            if (rc == 0) break;
            ++failures;
            if (stayWellFormed) {
                EXPECT_EQ(check_well_formed(file_bytes()), "");
            }
            expect_contents(frames_);
            close_reader();
        }
        EXPECT_GE(failures, 2) << "the edit writes more than once";
    }

    std::vector<Bytes> frames_;
    Bytes original_;
};

TEST_F(ChunkFailure, AddingListsIntoFillerReportsFailuresAndLosesNoFrame) {
    write_file();
    const AviTimeData t = time_data("01:02:03:04", "x", "reel", "alt", "comment");
    for (const int32_t kind : {VX_FAULT_WRITE, VX_FAULT_SHORT_WRITE}) {
        fail_each_write(original_, kind, true, [&](HANDLE h) {
            const int32_t rc = vfwAddTimeData(h, &t);
            EXPECT_TRUE(rc == 0 || rc == 1 || rc == VXHOST_IOERR) << rc;
            return rc;
        });
        fail_each_write(original_, kind, true, [&](HANDLE h) { return vfwSetPullUpData(h, 5, 6); });
        fail_each_write(original_, kind, true,
                        [&](HANDLE h) { return vfwSetMetaData(h, Fcc("meta"), "abcdef", 6); });
    }
}

TEST_F(ChunkFailure, AppendingReportsFailuresAndLosesNoFrame) {
    write_file();
    // Use up the filler first so that the next list is appended.
    {
        Opened h(path_);
        const Bytes big = pattern(100000, 1);
        ASSERT_EQ(vfwSetMetaData(h, Fcc("fill"), big.data(), 100000), 0);
    }
    const Bytes start = file_bytes();
    ASSERT_GT(start.size(), original_.size());
    const AviTimeData t = time_data("01:02:03:04", "", "reel", "", "comment");
    // A failed append may leave bytes behind the form: never well formed
    // then, but never read as part of the movie either.
    fail_each_write(start, VX_FAULT_WRITE, false, [&](HANDLE h) { return vfwAddTimeData(h, &t); });
    fail_each_write(start, VX_FAULT_SHORT_WRITE, false,
                    [&](HANDLE h) { return vfwSetAspectData(h, 1, 2); });
}

}  // namespace
}  // namespace vxtest
