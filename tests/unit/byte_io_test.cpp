// The bounded byte reader and writer and the RIFF walker over bytes in memory.
#include "util/byte_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "formats/stored_records.h"
#include "util/riff_walker.h"

namespace vx {
namespace {

TEST(ByteReader, ReadsPastTheEndGiveZero) {
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7};
    const ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.u32(3), 0x07060504u);
    EXPECT_EQ(r.u32(4), 0u);
    EXPECT_EQ(r.u64(0), 0u);
    EXPECT_EQ(r.u16(SIZE_MAX), 0u);       // no offset wraps round
    const ByteReader none(nullptr, 100);  // a missing block has no bytes
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

// A stream header read from its stored bytes: every field in order, and a
// record cut short sets only the bytes it holds.
TEST(StoredRecords, StreamHeaderFieldsAndShortRecords) {
    unsigned char stored[56];
    ByteWriter w(stored, sizeof stored);
    w.u32(fourcc("vids"));
    w.u32(fourcc("MJPG"));
    w.u32(0x10);
    w.u16(2);
    w.u16(9);
    for (uint32_t v : {1u, 1001u, 30000u, 5u, 300u, 65536u, 7500u, 0u}) w.u32(v);
    for (uint16_t v : {1, 2, 640, 480}) w.u16(v);
    ASSERT_FALSE(w.overflow());

    AVIStreamHeader h{};
    read_stream_header(stored, sizeof stored, &h);
    EXPECT_EQ(h.fccHandler, fourcc("MJPG"));
    EXPECT_EQ(h.wLanguage, 9u);
    EXPECT_EQ(h.dwScale, 1001u);
    EXPECT_EQ(h.dwRate, 30000u);
    EXPECT_EQ(h.dwSampleSize, 0u);
    EXPECT_EQ(h.rcFrame.left, 0x00020001);  // the stored 16-bit words, in order
    EXPECT_EQ(h.rcFrame.top, 0x01E00280);

    struct Case {
        std::size_t size;
        uint32_t rate, length;
    };
    for (const Case c : {Case{24, 0xFFFFFFFFu, 0xFFFFFFFFu}, Case{26, 0xFFFF7530u, 0xFFFFFFFFu},
                         Case{36, 30000u, 300u}}) {
        SCOPED_TRACE(c.size);
        AVIStreamHeader cut;
        std::memset(&cut, 0xFF, sizeof cut);
        read_stream_header(stored, c.size, &cut);
        EXPECT_EQ(cut.dwScale, 1001u);
        EXPECT_EQ(cut.dwRate, c.rate);
        EXPECT_EQ(cut.dwLength, c.length);
        EXPECT_EQ(cut.dwQuality, 0xFFFFFFFFu);
    }
}

}  // namespace
}  // namespace vx
