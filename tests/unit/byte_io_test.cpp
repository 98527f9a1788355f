// The bounded byte reader and writer and the RIFF walker over bytes in memory.
#include "util/byte_io.h"

#include <gtest/gtest.h>

#include <vector>

#include "util/riff_walker.h"

namespace vx {
namespace {

TEST(ByteReader, ReadsPastTheEndGiveZeroAndMarkTheCursorShort) {
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.u32(), 0x04030201u);
    EXPECT_FALSE(r.short_read());
    EXPECT_EQ(r.u16(), 0x0605u);
    EXPECT_EQ(r.u32(), 0u);  // three bytes short
    EXPECT_TRUE(r.short_read());
    EXPECT_EQ(r.u32(3), 0x07060504u);  // offset reads stay independent of the cursor
    EXPECT_EQ(r.u64(0), 0u);

    unsigned char out[4] = {9, 9, 9, 9};
    r.seek(5);
    r.bytes(out, 4);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 4), (std::vector<unsigned char>{6, 7, 0, 0}));

    ByteReader none(nullptr, 100);  // a missing block has no bytes
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.u8(0), 0u);
}

// A build into a block too small must drop what does not fit, keep counting,
// and never write past the block.
TEST(ByteWriter, OverflowIsStickyAndNothingIsWrittenPastTheBlock) {
    struct Case {
        std::size_t capacity;
        bool overflow;
    };
    for (const Case c : {Case{36, false}, Case{35, true}, Case{12, true}, Case{0, true}}) {
        SCOPED_TRACE(c.capacity);
        std::vector<unsigned char> block(c.capacity + 8, 0xEE);
        ByteWriter w(block.data(), c.capacity);
        const std::size_t list = w.open_list(fourcc("LIST"), fourcc("strl"));
        w.chunk(fourcc("strf"), "abcde", 5);  // padded to 6
        w.u16(0x1234);
        w.u64(0);
        w.close_list(list);
        EXPECT_EQ(w.size(), 36u);
        EXPECT_EQ(w.overflow(), c.overflow);
        for (std::size_t i = c.capacity; i < block.size(); ++i) ASSERT_EQ(block[i], 0xEE) << i;
        if (!c.overflow) {
            EXPECT_EQ(le32(block.data() + 4), 28u);
            EXPECT_EQ(block[24], 'e');
            EXPECT_EQ(block[25], 0);
        }
    }
    ByteWriter m = ByteWriter::measure();
    m.zeros(1000);
    m.chunk(fourcc("JUNK"), nullptr, 3);
    EXPECT_EQ(m.size(), 1012u);
    EXPECT_FALSE(m.overflow());
}

// Walks built files: a list's members stay inside it, a chunk declared past
// the end of the file ends at the file, and a list too short for its type is
// a plain chunk.
TEST(RiffWalker, StaysInsideParentsAndTheFile) {
    std::vector<unsigned char> f(64, 0);
    ByteWriter w(f.data(), f.size());
    const std::size_t riff = w.open_list(fourcc("RIFF"), fourcc("AVI "));
    const std::size_t hdrl = w.open_list(fourcc("LIST"), fourcc("hdrl"));
    w.chunk(fourcc("avih"), "0123", 4);
    w.close_list(hdrl);
    w.u32(fourcc("LIST"));
    w.u32(2);  // too short for a type
    w.zeros(2);
    w.u32(fourcc("JUNK"));
    w.u32(1000);  // runs past the end
    w.close_list(riff);
    f.resize(w.size() + 4);

    MemorySource src(f.data(), f.size());
    BasicRiffWalker<MemorySource> walker(src);
    RiffChunk form;
    ASSERT_TRUE(walker.enter(f.size(), &form));
    EXPECT_EQ(form.listType, fourcc("AVI "));
    std::vector<uint32_t> ids;
    walker.members(form, [&](const RiffChunk& c) {
        ids.push_back(c.isList() ? c.listType : c.id);
        if (c.id == fourcc("JUNK")) {
            EXPECT_TRUE(c.truncated());
            EXPECT_EQ(c.end, f.size());
        }
        return true;
    });
    EXPECT_EQ(ids, (std::vector<uint32_t>{fourcc("hdrl"), fourcc("LIST"), fourcc("JUNK")}));

    RiffChunk list, avih;
    ASSERT_TRUE(walker.find(form.end, fourcc("LIST"), fourcc("hdrl"), &list));
    EXPECT_FALSE(walker.find(list.end, fourcc("strh"), 0, &avih));
    walker.seek(list.membersPos());
    ASSERT_TRUE(walker.find(list.end, fourcc("avih"), 0, &avih));
    char text[5] = {};
    EXPECT_TRUE(walker.read(avih, 0, text, 4));
    EXPECT_STREQ(text, "0123");
    EXPECT_FALSE(walker.read(avih, 1, text, 4));
}

}  // namespace
}  // namespace vx
