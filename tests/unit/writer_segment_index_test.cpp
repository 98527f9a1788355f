// The writer's compact segment index: every entry must come back with its own
// id and flags, however many distinct pairs there are and across blocks.
#include <gtest/gtest.h>

#include "writer/segment_index.h"

namespace {

using vx::writer::SegmentIndex;

uint32_t id_of(uint32_t i) { return 0x63643030u + ((i % 7) << 8); }
// Mostly a few values, with a long run of distinct ones to grow the table.
uint32_t flags_of(uint32_t i) { return i % 5 == 0 ? 0x10 : (i >= 3000 && i < 4000 ? i : 0); }

TEST(WriterSegmentIndex, EntriesKeepTheirOwnIdAndFlagsAcrossBlocks) {
    SegmentIndex index{};
    ASSERT_TRUE(index.grow());
    EXPECT_EQ(index.capacity(), SegmentIndex::kBlockEntries);
    const uint32_t n = 3 * SegmentIndex::kBlockEntries + 5;
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_TRUE(index.add(id_of(i), flags_of(i), 8 * i, i ^ 0x80000000u));
    EXPECT_EQ(index.count(), n);
    EXPECT_EQ(index.capacity(), 4u * SegmentIndex::kBlockEntries) << "one block of slack at most";
    EXPECT_EQ(index.kind_count(), 7u * 2 + 800) << "each distinct pair kept once";
    for (uint32_t i = 0; i < n; ++i) {
        const auto& e = index.at(i);
        ASSERT_EQ(e.offset, 8 * i);
        ASSERT_EQ(e.length, i ^ 0x80000000u);
        ASSERT_EQ(index.kind(e.kind).ckid, id_of(i)) << i;
        ASSERT_EQ(index.kind(e.kind).flags, flags_of(i)) << i;
    }

    // A new segment reuses the blocks and the pairs already known.
    const uint32_t kinds = index.kind_count();
    index.clear();
    EXPECT_EQ(index.count(), 0u);
    ASSERT_TRUE(index.add(id_of(3), flags_of(3), 4, 5));
    EXPECT_EQ(index.kind_count(), kinds);
    EXPECT_EQ(index.capacity(), 4u * SegmentIndex::kBlockEntries);
    index.release();
    EXPECT_EQ(index.capacity(), 0u);
    EXPECT_EQ(index.count(), 0u);
}

}  // namespace
