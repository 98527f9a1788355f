// Where new chunks go: other writers' "JUNK" padding between the headers and
// the movie, and nowhere at all for an edit that has no room for one of its
// parts.
#include <functional>
#include <vector>

#include "unit/chunks_fixture.h"

namespace vxtest {
namespace {

// Where extra chunks go in a made-up file.
enum class Spot { kBeforeHeaders, kInHeaders, kAfterHeaders, kAfterMovie };

struct Extra {
    Spot spot;
    Fcc id;
    uint32_t size;
};

// A header list, a movie list of two frames and an index, with `extras`;
// `form` is the form type.
Bytes layout(const std::vector<Extra>& extras, Fcc form = "AVI ") {
    RiffBuilder b;
    auto put = [&](Spot s) {
        for (const Extra& e : extras) {
            if (e.spot == s) b.chunk(e.id, Bytes(e.size, 0));
        }
    };
    b.riff(form);
    put(Spot::kBeforeHeaders);
    b.list("hdrl");
    b.chunk("avih", Bytes(56, 0));
    put(Spot::kInHeaders);
    b.end();
    put(Spot::kAfterHeaders);
    b.list("movi");
    b.chunk("00dc", pattern(30, 1));
    b.chunk("00dc", pattern(31, 2));
    b.end();
    b.chunk("idx1", Bytes(32, 0));
    put(Spot::kAfterMovie);
    return b.finish();
}

TEST(ChunkPlacement, NewChunksGoIntoJunkBetweenTheHeadersAndTheMovieOnly) {
    struct Case {
        const char* name;
        std::vector<Extra> extras;
        Fcc form;
        Fcc takenFrom;  // 0: appended
        uint32_t rest;  // data bytes the filler keeps
    };
    const Case cases[] = {
        {"between", {{Spot::kAfterHeaders, "JUNK", 40}}, "AVI ", "JUNK", 20},
        {"used up", {{Spot::kAfterHeaders, "JUNK", 12}}, "AVI ", "JUNK", 0},
        {"too small", {{Spot::kAfterHeaders, "JUNK", 19}}, "AVI ", 0, 0},
        {"behind the movie", {{Spot::kAfterMovie, "JUNK", 400}}, "AVI ", 0, 0},
        {"before the headers", {{Spot::kBeforeHeaders, "JUNK", 400}}, "AVI ", 0, 0},
        {"in the headers", {{Spot::kInHeaders, "JUNK", 400}}, "AVI ", 0, 0},
        {"not an AVI form", {{Spot::kAfterHeaders, "JUNK", 400}}, "AVIX", 0, 0},
        // Our writer's filler first, wherever it is.
        {"JUNQ first",
         {{Spot::kAfterHeaders, "JUNK", 400}, {Spot::kAfterMovie, "JUNQ", 40}},
         "AVI ",
         "JUNQ",
         20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes before = layout(c.extras, c.form);
        TempAviFile file(before);
        ASSERT_EQ(vfwSetMetaData(file.handle(), Fcc("abcd"), "0123456789AB", 12), 0);
        const Bytes after = read_whole(file.path());
        EXPECT_EQ(check_well_formed(after), "");
        char got[12] = {};
        uint32_t size = sizeof got;
        ASSERT_EQ(vfwGetMetaData(file.handle(), Fcc("abcd"), got, &size), 0);
        EXPECT_EQ(std::string(got, 12), "0123456789AB");
        if (c.takenFrom == 0) {
            ASSERT_EQ(after.size(), before.size() + 20);
            EXPECT_EQ(le32_at(after, before.size()), Fcc("abcd"));
            continue;
        }
        ASSERT_EQ(after.size(), before.size());
        const auto at = static_cast<uint64_t>(find_chunk(before, c.takenFrom));
        EXPECT_EQ(le32_at(after, at), Fcc("abcd"));
        if (c.rest > 0) {
            EXPECT_EQ(le32_at(after, at + 20), c.takenFrom) << "the rest keeps its id";
            EXPECT_EQ(le32_at(after, at + 24), c.rest);
        }
    }
}

// A camera's header: the movie list is empty, the form claims more than the
// file holds (or bytes follow it), so nothing can be appended, and there is
// no padding. Its time data list lies behind the movie list.
Bytes camera_header(bool trailingByte) {
    RiffBuilder b;
    const std::size_t riff = b.riff("AVI ");
    b.list("hdrl");
    b.chunk("avih", Bytes(56, 0));
    b.chunk("ISMT", Bytes{'1', '2', ':', '0', '0', ':', '0', '0', ':', '0', '0', 0});
    b.end();
    b.list("movi");
    b.end();
    b.chunk("Xmet", Bytes{1, 2, 3, 4});
    b.list("Tdat");
    b.chunk("tc_O", Bytes(18, '1'));
    b.chunk("tc_A", Bytes(18, '2'));
    Bytes reel(40, 0xEE);  // bytes behind the text's end must stay too
    reel[0] = 'R';
    reel[1] = 0;
    b.chunk("rn_O", reel);
    b.chunk("rn_A", reel);
    b.end();
    b.end();
    if (trailingByte) {
        b.u8(0);
    } else {
        b.set_size(riff, 2767798u);
    }
    return b.finish();
}

TEST(ChunkPlacement, AnEditWithoutRoomForAPartWritesNothing) {
    using Edit = std::function<int32_t(HANDLE)>;
    const AviTimeData timecode = time_data("01:00:00:00", "", "R", "R", "");
    const AviTimeData comment = time_data("", "", "R", "R", "a comment");
    const AviTimeData texts = time_data("01:00:00:00", "02:00:00:00", "S", "T", "");
    const std::pair<const char*, Edit> edits[] = {
        {"timecode", [&](HANDLE h) { return vfwAddTimeData(h, &timecode); }},
        {"comment", [&](HANDLE h) { return vfwAddTimeData(h, &comment); }},
        {"texts", [&](HANDLE h) { return vfwAddTimeData(h, &texts); }},
        {"metadata of a new size",
         [](HANDLE h) { return vfwSetMetaData(h, Fcc("Xmet"), "123456", 6); }},
        {"new metadata", [](HANDLE h) { return vfwSetMetaData(h, Fcc("Xnew"), "123456", 6); }},
        {"pull-up", [](HANDLE h) { return vfwSetPullUpData(h, 1, 2); }},
        {"aspect", [](HANDLE h) { return vfwSetAspectData(h, 16, 9); }},
    };
    for (const bool trailing : {false, true}) {
        const Bytes before = camera_header(trailing);
        for (const auto& [name, edit] : edits) {
            SCOPED_TRACE(std::string(name) + (trailing ? ", trailing byte" : ", long form"));
            TempAviFile file(before);
            EXPECT_EQ(edit(file.handle()), 1);
            EXPECT_EQ(read_whole(file.path()), before);
        }
    }
}

// Both lists of the time data or neither: a filler that takes the first only
// is not written to.
TEST(ChunkPlacement, TheTimeDataListsArePlacedTogether) {
    const AviTimeData t = time_data("01:00:00:00", "", "reel", "", "comment");
    for (const uint32_t filler :
         {VX_TDAT_LIST_BYTES - 8u, VX_TDAT_LIST_BYTES + VX_CDAT_LIST_BYTES - 8u}) {
        SCOPED_TRACE(filler);
        Bytes before = layout({{Spot::kAfterHeaders, "JUNQ", filler}});
        before.push_back(0);  // nothing can be appended
        TempAviFile file(before);
        const bool room = filler > VX_TDAT_LIST_BYTES;
        EXPECT_EQ(vfwAddTimeData(file.handle(), &t), room ? 0 : 1);
        const Bytes after = read_whole(file.path());
        if (!room) {
            EXPECT_EQ(after, before);
            continue;
        }
        ASSERT_EQ(after.size(), before.size());
        const TimeTexts got = get_texts(file.handle());
        EXPECT_STREQ(got.tcO, "01:00:00:00");
        EXPECT_STREQ(got.rnO, "reel");
        EXPECT_STREQ(got.cmnt, "comment");
        EXPECT_LT(find_chunk(after, Fcc("cmnt")), find_chunk(after, Fcc("00dc")));
    }
}

}  // namespace
}  // namespace vxtest
