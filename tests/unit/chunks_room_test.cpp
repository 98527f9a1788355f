// Where new chunks go (filler, end of the last form, a new form) and the
// getters and setters of single values on small built files.
#include <vector>

#include "chunks/chunk_io.h"
#include "chunks/chunk_tree.h"
#include "chunks/room.h"
#include "unit/chunks_fixture.h"

namespace vxtest {
namespace {

// The filler's header position in small_avi.
uint64_t filler_at(const Bytes& b) {
    return static_cast<uint64_t>(std::max<int64_t>(find_chunk(b, Fcc("JUNQ")), 0));
}

class ChunkRoom : public ::testing::Test {
protected:
    void SetUp() override { VxHostClearFaults(); }
    void TearDown() override { VxHostClearFaults(); }
    std::unique_ptr<TempAviFile> file_;
    Bytes before_;
    void make(const Bytes& b) {
        before_ = b;
        file_ = std::make_unique<TempAviFile>(b);
    }
    Bytes now() const { return read_whole(file_->path()); }
    HANDLE h() const { return file_->handle(); }
};

TEST_F(ChunkRoom, NewBytesSplitAFillerThatLeavesRoomForAHeader) {
    for (const auto& [filler, rest] : std::vector<std::pair<int, uint32_t>>{{20, 8}, {12, 0}}) {
        make(small_avi(filler));
        const uint64_t at = filler_at(before_);
        ASSERT_EQ(vfwSetMetaData(h(), Fcc("abcd"), "WXYZ", 4), 0);  // 12 bytes in all
        const Bytes after = now();
        ASSERT_EQ(after.size(), before_.size()) << "the filler took it all";
        EXPECT_EQ(le32_at(after, at), Fcc("abcd"));
        EXPECT_EQ(le32_at(after, at + 4), 4u);
        EXPECT_EQ(le32_at(after, at + 8), Fcc("WXYZ"));
        EXPECT_EQ(le32_at(after, at + 12), Fcc("JUNQ"));
        EXPECT_EQ(le32_at(after, at + 16), rest);
        EXPECT_EQ(check_well_formed(after), "");
    }
}

TEST_F(ChunkRoom, AFillerThatWouldLeaveAFragmentIsSkipped) {
    make(small_avi(15));  // 23 bytes in all, with a pad byte
    const uint64_t at = filler_at(before_);
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("abcd"), "0123456789AB", 12), 0);  // 20 bytes in all
    const Bytes after = now();
    ASSERT_EQ(after.size(), before_.size() + 20);
    EXPECT_TRUE(std::equal(before_.begin() + 8, before_.end(), after.begin() + 8)) << "appended";
    EXPECT_EQ(le32_at(after, 4), le32_at(before_, 4) + 20);
    EXPECT_EQ(le32_at(after, at), Fcc("JUNQ"));
    EXPECT_EQ(check_well_formed(after), "");
}

TEST_F(ChunkRoom, AFillerUsedUpExactlyIsNeverHandedOutAgain) {
    make(small_avi(4));  // 12 bytes in all
    vx::chunks::ChunkTree tree;
    ASSERT_EQ(tree.build(h()), vx::chunks::BuildResult::kOk);
    unsigned char a[12] = {'a', 'a', 'a', 'a', 4, 0, 0, 0, '1', '2', '3', '4'};
    unsigned char b[8] = {'b', 'b', 'b', 'b', 0, 0, 0, 0};
    ASSERT_EQ(vx::chunks::add_chunk(h(), tree, a, 8, a + 8, 4), 0);
    ASSERT_EQ(vx::chunks::add_chunk(h(), tree, b, 8, nullptr, 0), 0);
    const Bytes after = now();
    ASSERT_EQ(after.size(), before_.size() + 8);
    EXPECT_EQ(le32_at(after, filler_at(before_)), Fcc("aaaa"));
    EXPECT_EQ(le32_at(after, before_.size()), Fcc("bbbb"));
    EXPECT_EQ(check_well_formed(after), "");
}

TEST_F(ChunkRoom, UnclosedFormsAndTrailingBytesAreHandledSafely) {
    // A writer that never finished leaves "JUNQ" as the form type: its filler
    // is not the header filler, so new bytes are appended.
    make(small_avi(64, "JUNQ"));
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("abcd"), "WXYZ", 4), 0);
    EXPECT_EQ(now().size(), before_.size() + 12);
    EXPECT_EQ(check_well_formed(now()), "");

    // Zero-filled space ends the walk of a form: bytes added behind it would
    // never be found, so they go into a new form.
    RiffBuilder zeroed;
    zeroed.riff("AVI ");
    zeroed.chunk("avih", Bytes(56, 1));
    zeroed.zeros(64);
    make(zeroed.finish());
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("abcd"), "WXYZ", 4), 0);
    EXPECT_EQ(le32_at(now(), before_.size() + 8), Fcc("AVIX"));
    uint32_t size = 0;
    EXPECT_EQ(vfwGetMetaData(h(), Fcc("abcd"), nullptr, &size), 0);
    EXPECT_EQ(size, 4u);

    // Bytes after the last form: appending would bury them, so nothing is written.
    Bytes trailing = small_avi(-1);
    trailing.insert(trailing.end(), 10, 0xEE);
    make(trailing);
    EXPECT_EQ(vfwSetMetaData(h(), Fcc("abcd"), "WXYZ", 4), 1);
    EXPECT_EQ(vfwSetPullUpData(h(), 1, 2), 1);
    EXPECT_EQ(now(), before_);
}

TEST_F(ChunkRoom, FormsGrowToTwoGibibytesThenANewFormStarts) {
    struct Case {
        uint32_t riffSize;
        bool newForm;
    };
    for (const Case c : {Case{0x7FFFFF94u, false}, Case{0x7FFFFFF0u, true}}) {
        make(small_avi(-1));
        const uint64_t end = 8 + static_cast<uint64_t>(c.riffSize);
        unsigned char size[4];
        vx::chunks::put32(size, c.riffSize);
        file_->write_at(4, Bytes(size, size + 4));
        // One chunk stands for the movie data up to the form's end; the file
        // is sparse, so its hole costs nothing.
        unsigned char junk[8] = {'J', 'U', 'N', 'K'};
        vx::chunks::put32(junk + 4, static_cast<uint32_t>(end - before_.size() - 8));
        file_->write_at(before_.size(), Bytes(junk, junk + 8));
        file_->resize(end);
        const Bytes data = pattern(92, 3);
        ASSERT_EQ(vfwSetMetaData(h(), Fcc("big "), data.data(), 92), 0);  // 100 bytes in all
        Bytes head(12);
        ASSERT_EQ(read_at(h(), head.data(), 12, 0), 12);
        Bytes tail(112);
        ASSERT_EQ(read_at(h(), tail.data(), tail.size(), end), c.newForm ? 112 : 100);
        if (c.newForm) {
            EXPECT_EQ(le32_at(head, 4), c.riffSize);
            EXPECT_EQ(le32_at(tail, 0), Fcc("RIFF"));
            EXPECT_EQ(le32_at(tail, 4), 104u);
            EXPECT_EQ(le32_at(tail, 8), Fcc("AVIX"));
            EXPECT_EQ(le32_at(tail, 12), Fcc("big "));
        } else {
            EXPECT_EQ(le32_at(head, 4), 0x7FFFFFF8u);
            EXPECT_EQ(le32_at(tail, 0), Fcc("big "));
        }
        Bytes got(92);
        uint32_t n = 92;
        ASSERT_EQ(vfwGetMetaData(h(), Fcc("big "), got.data(), &n), 0);
        EXPECT_EQ(got, data);
        file_.reset();
    }
}

// Forms past 4 GiB: every position is 64-bit, from the walk to the size
// rewrite of the last form.
TEST_F(ChunkRoom, FormsPastFourGibibytesAreFoundAndExtended) {
    make(small_avi(-1));
    auto form = [&](uint64_t at, uint32_t size, const char* type, uint64_t coveredFrom) {
        unsigned char h[12] = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
        vx::chunks::put32(h + 4, size);
        std::memcpy(h + 8, type, 4);
        if (at > 0) file_->write_at(at, Bytes(h, h + 12));
        if (at == 0) file_->write_at(4, Bytes(h + 4, h + 8));
        // One chunk stands for the rest of the form (a hole in the file).
        unsigned char junk[8] = {'J', 'U', 'N', 'K'};
        vx::chunks::put32(junk + 4, static_cast<uint32_t>(at + 8 + size - coveredFrom - 8));
        file_->write_at(coveredFrom, Bytes(junk, junk + 8));
    };
    const uint32_t big = 0x7FFFFFF0u;
    const uint64_t second = 8 + uint64_t{big}, third = 3 * second;
    form(0, big, "AVI ", before_.size());
    form(second, big, "AVIX", second + 12);
    form(2 * second, big, "AVIX", 2 * second + 12);
    const Bytes last = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', 'X'};
    file_->write_at(third, last);
    ASSERT_GT(third, uint64_t{1} << 32);

    ASSERT_EQ(vfwSetMetaData(h(), Fcc("far "), "12345678", 8), 0);
    Bytes tail(28);
    ASSERT_EQ(read_at(h(), tail.data(), tail.size(), third), 28);
    EXPECT_EQ(le32_at(tail, 4), 20u) << "the last form grew in place";
    EXPECT_EQ(le32_at(tail, 12), Fcc("far "));
    char got[8];
    uint32_t size = 8;
    ASSERT_EQ(vfwGetMetaData(h(), Fcc("far "), got, &size), 0);
    EXPECT_EQ(std::string(got, 8), "12345678");
}

TEST_F(ChunkRoom, MetadataIdsOfStructureAreRefused) {
    make(small_avi(200));
    for (const uint32_t id :
         {0u, uint32_t{Fcc("RIFF")}, uint32_t{Fcc("LIST")}, uint32_t{Fcc("movi")}}) {
        EXPECT_EQ(vfwSetMetaData(h(), id, "abcd", 4), 1);
    }
    EXPECT_EQ(now(), before_);
    TempAviFile text_file(Bytes(64, 'x'));
    EXPECT_EQ(vfwSetMetaData(text_file.handle(), Fcc("abcd"), "abcd", 4), -1);
    EXPECT_EQ(vfwSetPullUpData(text_file.handle(), 1, 2), 0);
    const AviTimeData t = time_data("01:00:00:00", "", "", "", "");
    EXPECT_EQ(vfwAddTimeData(text_file.handle(), &t), 0);
    EXPECT_EQ(read_whole(text_file.path()), Bytes(64, 'x'));
}

TEST_F(ChunkRoom, MetadataOfANewSizeReplacesTheOldChunkWhichBecomesFiller) {
    make(small_avi(-1));
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("meta"), "odd", 3), 0);
    Bytes after = now();
    const uint64_t first = before_.size();
    EXPECT_EQ(le32_at(after, first + 4), 3u) << "the size field keeps the odd size";
    EXPECT_EQ(after.size(), first + 12) << "with a pad byte";
    EXPECT_EQ(after.back(), 0);
    EXPECT_EQ(check_well_formed(after), "");

    ASSERT_EQ(vfwSetMetaData(h(), Fcc("meta"), "longer text", 11), 0);
    after = now();
    EXPECT_EQ(le32_at(after, first), Fcc("JUNQ"));
    char got[32] = {};
    uint32_t size = 0;
    ASSERT_EQ(vfwGetMetaData(h(), Fcc("meta"), nullptr, &size), 0);
    EXPECT_EQ(size, 11u);
    size = 4;
    ASSERT_EQ(vfwGetMetaData(h(), Fcc("meta"), got, &size), 0);
    EXPECT_STREQ(got, "long");
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(vfwGetMetaData(h(), Fcc("none"), nullptr, &size), -1);

    // Same size: rewritten in place.
    const std::size_t length = after.size();
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("meta"), "other text!", 11), 0);
    EXPECT_EQ(now().size(), length);
    EXPECT_EQ(check_well_formed(now()), "");
}

TEST_F(ChunkRoom, AFailedMetadataReadIsReported) {
    make(small_avi(-1));
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("meta"), "abcd", 4), 0);
    char got[4];
    uint32_t size = 4;
    const uint64_t reads = VxHostReadCalls();
    ASSERT_EQ(vfwGetMetaData(h(), Fcc("meta"), got, &size), 0);
    const auto used = static_cast<uint32_t>(VxHostReadCalls() - reads);
    VxHostInjectFault(VX_FAULT_READ, used - 1);  // the data read, after the walk
    EXPECT_EQ(vfwGetMetaData(h(), Fcc("meta"), got, &size), -1);
}

TEST_F(ChunkRoom, AspectRecordBytesAndValidation) {
    make(small_avi(100));
    ASSERT_EQ(vfwSetAspectData(h(), 10, 11), 0);
    const uint8_t want[20] = {0x50, 0x41, 0x52, 0x66, 0, 0,    0, 0x14, 0, 1,
                              0,    0,    0,    0,    0, 0x0A, 0, 0,    0, 0x0B};
    uint8_t got[20] = {};
    uint32_t size = 20;
    ASSERT_EQ(vfwGetMetaData(h(), 0x56786D41u, got, &size), 0);
    EXPECT_EQ(Bytes(got, got + 20), Bytes(want, want + 20));
    int32_t n = 0, d = 0;
    ASSERT_EQ(vfwGetAspectData(h(), &n, &d), 1);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(d, 11);
    const std::size_t length = now().size();
    ASSERT_EQ(vfwSetAspectData(h(), -4, 3), 0);
    EXPECT_EQ(now().size(), length) << "one aspect chunk, rewritten in place";
    ASSERT_EQ(vfwGetAspectData(h(), &n, &d), 1);
    EXPECT_EQ(n, -4);
    EXPECT_EQ(d, 3);

    // Version 2 is not ours; a longer chunk is read only as far as the record.
    Bytes v2(want, want + 20);
    v2[9] = 2;
    ASSERT_EQ(vfwSetMetaData(h(), 0x56786D41u, v2.data(), 20), 0);
    EXPECT_EQ(vfwGetAspectData(h(), &n, &d), 0);
    Bytes longer(want, want + 20);
    longer.resize(24, 0xEE);
    ASSERT_EQ(vfwSetMetaData(h(), 0x56786D41u, longer.data(), 24), 0);
    n = d = 0;
    ASSERT_EQ(vfwGetAspectData(h(), &n, &d), 1);
    EXPECT_EQ(n, 10);
    ASSERT_EQ(vfwSetMetaData(h(), 0x56786D41u, want, 19), 0);
    EXPECT_EQ(vfwGetAspectData(h(), &n, &d), 0);
    EXPECT_EQ(check_well_formed(now()), "");
}

TEST_F(ChunkRoom, PullUpNeedsBothValues) {
    RiffBuilder b;
    b.riff("AVI ");
    b.list("Pdat");
    b.chunk("pulT", Bytes{7, 0, 0, 0});
    b.chunk("pulS", Bytes{1, 0});  // too short to hold a value
    b.end();
    make(b.finish());
    int32_t t = 99, s = 99;
    EXPECT_EQ(vfwGetPullUpData(h(), &t, &s), 0);
    EXPECT_EQ(t, 99);
    EXPECT_EQ(s, 99);
    // Existing chunks are rewritten in place, never past their size.
    ASSERT_EQ(vfwSetPullUpData(h(), 0x01020304, -1), 0);
    const Bytes after = now();
    ASSERT_EQ(after.size(), before_.size());
    EXPECT_EQ(le32_at(after, 32), 0x01020304u);
    EXPECT_EQ(after[44], 0xFF);
    EXPECT_EQ(after[45], 0xFF);
    EXPECT_EQ(check_well_formed(after), "");
}

TEST_F(ChunkRoom, TimecodeTextsStayInsideTheirChunksAndFields) {
    RiffBuilder b;
    b.riff("AVI ");
    b.list("hdrl");
    b.chunk("ISMT", Bytes{'0', '1', ':', '0', '0', ':', '0', '0', ':', '0', '0', 0});
    b.end();
    b.list("Tdat");
    b.chunk("rn_O", Bytes{'a', 'b', 'c'});  // no NUL: the text ends with the chunk
    b.chunk("zzzz", Bytes{'d', 'e', 'f', 0});
    b.end();
    make(b.finish());
    TimeTexts got = get_texts(h());
    EXPECT_STREQ(got.tcO, "01:00:00:00");
    EXPECT_STREQ(got.tcA, "");
    EXPECT_STREQ(got.rnO, "abc");
    EXPECT_STREQ(got.cmnt, "");

    // A new "Tdat" (no "tc_O" yet) and "Cdat"; "ISMT" takes the new timecode.
    const AviTimeData t = time_data("12345678901234567890", "", "reel one", "", "hello");
    ASSERT_EQ(vfwAddTimeData(h(), &t), 0);
    got = get_texts(h());
    EXPECT_STREQ(got.tcO, "12345678901234567");
    EXPECT_STREQ(got.rnO, "abc") << "the first rn_O is the old one";
    EXPECT_STREQ(got.cmnt, "hello");
    const Bytes after = now();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(after.data()) + 32, 12),
              std::string("12345678901\0", 12));
    EXPECT_EQ(check_well_formed(after), "");
}

TEST(ChunkResults, HostFailuresNeverReadAsSuccess) {
    EXPECT_EQ(vx::chunks::setter_result(0), 0);
    EXPECT_EQ(vx::chunks::setter_result(0x10000), 1);
    EXPECT_EQ(vx::chunks::setter_result(VXHOST_IOERR), VXHOST_IOERR);
    EXPECT_EQ(vx::chunks::setter_result(0x12345), 0x2345);
}

}  // namespace
}  // namespace vxtest
