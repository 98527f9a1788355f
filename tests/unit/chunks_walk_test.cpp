// The chunk map: what the walk records, how it bounds bad sizes, iteration
// with vfwGetNextChunk and the quick type test.
#include <vxmedia/vxutil.h>

#include <utility>
#include <vector>

#include "chunks/chunk_tree.h"
#include "unit/chunks_fixture.h"
#include "unit/writer_fixture.h"

namespace vxtest {
namespace {

using Entry = std::pair<std::string, std::string>;  // id, container type

std::string text(uint32_t v) {
    if (v == 0) return "0";
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::vector<Entry> map_of(HANDLE h) {
    vx::chunks::ChunkTree tree;
    EXPECT_EQ(tree.build(h), vx::chunks::BuildResult::kOk);
    std::vector<Entry> out;
    for (std::size_t i = 0; i < tree.count(); ++i) {
        out.emplace_back(text(tree[i].ckid), text(tree[i].parentType));
    }
    return out;
}

class ChunkMapOfWriterFile : public WriterTest {};

TEST_F(ChunkMapOfWriterFile, RecordsEveryHeaderChunkOfBothSegments) {
    vx::writer::set_segment_mib_for_testing(1);
    open(0, 100);
    add_video();
    for (uint32_t i = 0; i < 8; ++i) ASSERT_EQ(write(0, payload(0, i, 200000)), 0);
    ASSERT_EQ(close(8), 0);
    const HANDLE h = open_file(path_, Access::kRead);
    const std::vector<Entry> map = map_of(h);
    close_file(h);
    const std::vector<Entry> want = {
        {"RIFF", "0"},    {"LIST", "AVI "}, {"avih", "hdrl"}, {"LIST", "hdrl"}, {"strh", "strl"},
        {"strf", "strl"}, {"indx", "strl"}, {"LIST", "hdrl"}, {"dmlh", "odml"}, {"JUNQ", "AVI "},
        {"movi", "AVI "}, {"idx1", "AVI "}, {"RIFF", "0"},    {"movi", "AVIX"},
    };
    EXPECT_EQ(map, want);
}

TEST(ChunkMap, BadListSizesNeverLeaveTheirParent) {
    RiffBuilder b = avi_header_start(MainAVIHeader{});
    b.chunk("LIST", Bytes{'a', 'b'});  // a list without room for its type
    b.chunk("strl", Bytes(8, 1));      // never reached
    b.end();
    b.list("INFO");
    const std::size_t big = b.list("strl");
    b.chunk("strh", Bytes(8, 2));
    b.end();
    b.end();
    b.chunk("JUNQ", Bytes(16, 0));
    Bytes bytes = b.finish();
    // "strl" claims far more than "INFO" holds: its walk stops at INFO's end.
    std::memcpy(bytes.data() + big + 4, "\x00\x00\x01\x00", 4);
    TempAviFile f(bytes);
    const std::vector<Entry> want = {
        {"RIFF", "0"},    {"LIST", "AVI "}, {"avih", "hdrl"}, {"LIST", "AVI "},
        {"LIST", "INFO"}, {"strh", "strl"}, {"JUNQ", "AVI "},
    };
    EXPECT_EQ(map_of(f.handle()), want);

    // Cut inside the inner list: the walk ends at the file's end.
    bytes.resize(bytes.size() - 30);
    TempAviFile cut(bytes);
    const std::vector<Entry> map = map_of(cut.handle());
    ASSERT_FALSE(map.empty());
    EXPECT_NE(map.back(), (Entry{"JUNQ", "AVI "}));
}

// Preallocated, never-written space is not walked 8 bytes at a time.
TEST(ChunkMap, ZeroFilledSpaceEndsItsListsWalk) {
    RiffBuilder b = avi_header_start(MainAVIHeader{});
    b.zeros(4096);
    b.chunk("strl", Bytes(8, 1));
    b.end();
    b.chunk("JUNQ", Bytes(16, 0));
    TempAviFile f(b.finish());
    const std::vector<Entry> want = {
        {"RIFF", "0"}, {"LIST", "AVI "}, {"avih", "hdrl"}, {"JUNQ", "AVI "}};
    EXPECT_EQ(map_of(f.handle()), want);
}

TEST(ChunkMap, NothingButRiffFormsStartsAMap) {
    TempAviFile text_file(Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'});
    EXPECT_TRUE(map_of(text_file.handle()).empty());
    EXPECT_TRUE(map_of(INVALID_HANDLE_VALUE).empty());
}

TEST(ChunkIteration, YieldsStreamHeadersInStreamOrderThenFreesTheMap) {
    AviLayout layout;
    layout.streams = {video_stream(1), audio_stream(1), video_stream(1)};
    layout.streams[2].header.fccHandler = Fcc("xyz2");
    TempAviFile f(layout.build().bytes);
    void* it = nullptr;
    std::vector<uint32_t> types, handlers;
    for (int guard = 0; guard < 10; ++guard) {
        void* data = reinterpret_cast<void*>(uintptr_t{16});
        uint32_t size = 0;
        if (vfwGetNextChunk(f.handle(), &it, &data, &size, Fcc("strh"), 0) == 0) break;
        ASSERT_NE(it, nullptr);
        ASSERT_GE(size, 8u);
        ASSERT_NE(data, nullptr);
        const Bytes head(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 8);
        types.push_back(le32_at(head, 0));
        handlers.push_back(le32_at(head, 4));
        VxDisposeData(data);
    }
    EXPECT_EQ(it, nullptr);
    EXPECT_EQ(types, (std::vector<uint32_t>{Fcc("vids"), Fcc("auds"), Fcc("vids")}));
    EXPECT_EQ(handlers.back(), Fcc("xyz2"));
}

TEST(ChunkIteration, EmptyMapsAndUnreadableDataLeaveNothingBehind) {
    TempAviFile text_file(Bytes(40, 'x'));
    void* it = nullptr;
    void* data = nullptr;
    uint32_t size = 7;
    EXPECT_EQ(vfwGetNextChunk(text_file.handle(), &it, &data, &size, 0, 0), 0);
    EXPECT_EQ(it, nullptr);
    EXPECT_EQ(size, 7u);

    // A chunk that claims to run past the end: its size, but no copy.
    Bytes bytes = small_avi(-1);
    bytes.insert(bytes.end(), {'b', 'i', 'g', '!', 0, 0, 0, 0x40});
    const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
    std::memcpy(bytes.data() + 4, &riff, 4);
    TempAviFile f(bytes);
    data = reinterpret_cast<void*>(uintptr_t{16});
    ASSERT_EQ(vfwGetNextChunk(f.handle(), &it, &data, &size, Fcc("big!"), 0), 1);
    EXPECT_EQ(size, 0x40000000u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(vfwGetNextChunk(f.handle(), &it, &data, &size, Fcc("big!"), 0), 0);
    EXPECT_EQ(it, nullptr);
}

// An allocation failure fails each export instead of working on part of a map.
TEST(ChunkMap, RunningOutOfMemoryFailsEveryExport) {
    const Bytes before = small_avi(64);
    TempAviFile f(before);
    vx::chunks::ChunkTree::set_record_limit_for_testing(3);
    void* it = nullptr;
    void* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(vfwGetNextChunk(f.handle(), &it, &data, &size, 0, 0), 0);
    EXPECT_EQ(it, nullptr);
    EXPECT_EQ(vfwGetMetaData(f.handle(), Fcc("strh"), nullptr, &size), -1);
    EXPECT_EQ(vfwSetMetaData(f.handle(), Fcc("abcd"), "1234", 4), 1);
    EXPECT_EQ(vfwSetAspectData(f.handle(), 4, 3), 1);
    EXPECT_EQ(vfwSetPullUpData(f.handle(), 1, 2), 1);
    const AviTimeData t = time_data("01:00:00:00", "", "reel", "", "c");
    EXPECT_EQ(vfwAddTimeData(f.handle(), &t), 1);
    vx::chunks::ChunkTree::set_record_limit_for_testing(0);
    EXPECT_EQ(read_whole(f.path()), before);
}

Bytes type2_file(Fcc streamType, uint32_t avihSize) {
    RiffBuilder b = avi_header_start(MainAVIHeader{});
    AVIStreamHeader s{};
    s.fccType = streamType;
    s.fccHandler = Fcc("dvsd");
    b.begin_stream_list(s, 64);
    Bytes bytes = b.finish();
    std::memcpy(bytes.data() + 28, &avihSize, 4);
    return bytes;
}

TEST(Type2File, OnlyAnInterleavedFirstStreamAnswersOne) {
    TempAviFile dv(type2_file("iavs", 56));
    unsigned char header[64] = {};
    EXPECT_EQ(IsAVIType2File(dv.path().c_str(), header), 1);
    EXPECT_EQ(le32_at(Bytes(header, header + 8), 0), Fcc("iavs"));
    EXPECT_EQ(le32_at(Bytes(header, header + 8), 4), Fcc("dvsd"));
    EXPECT_EQ(IsAVIType2File(dv.path().c_str(), nullptr), 1);

    TempAviFile plain(type2_file("vids", 56));
    EXPECT_EQ(IsAVIType2File(plain.path().c_str(), header), 0);
    // Main header sizes that no file can have: no skip wraps round.
    for (uint32_t absurd : {0x7FFFFFFCu, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
        TempAviFile bad(type2_file("iavs", absurd));
        EXPECT_EQ(IsAVIType2File(bad.path().c_str(), header), 0) << absurd;
    }
    EXPECT_EQ(IsAVIType2File(nullptr, header), 0);
    const std::string gone = plain.path() + ".none";
    EXPECT_EQ(IsAVIType2File(gone.c_str(), header), 0);
}

}  // namespace
}  // namespace vxtest
