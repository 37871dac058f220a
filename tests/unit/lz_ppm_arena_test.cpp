// The PPM model's unit allocator: size classes, layout, merging and the fallbacks.
#include <gtest/gtest.h>

#include "decode/ppm_arena.h"

namespace {

constexpr uint32_t kU = PpmArena::kUnit;
constexpr uint32_t kMb = 1u << 20;

class PpmArenaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a.start_arena(kMb);
    // Stale contents that look like merge stamps everywhere.
    std::memset(a.heap, 0xFF, a.heap_end);
    a.lay_out();
  }
  // Uses up the room between the two unit areas with contexts (whose first field, as
  // the first bytes of every block in use, never reads as a merge stamp).
  void fill_gap() {
    while (a.area_low != a.area_high) a.set16(a.alloc_context(), 1);
  }
  uint32_t in_use(uint32_t units) {
    uint32_t b = a.alloc_units(units);
    a.set16(b, 0x0101);
    return b;
  }
  PpmArena a;
};

TEST_F(PpmArenaTest, RequestsTakeTheSmallestClassThatFits) {
  struct Case {
    uint32_t units, taken;
  } cases[] = {{1, 1}, {4, 4}, {5, 6}, {7, 8}, {11, 12}, {13, 15}, {25, 28}, {29, 32}, {125, 128}, {128, 128}};
  for (const Case& c : cases) {
    uint32_t before = a.area_low;
    uint32_t b = a.alloc_units(c.units);
    EXPECT_EQ(b, before) << c.units;
    EXPECT_EQ(a.area_low - b, c.taken * kU) << c.units;
    a.free_units(b, c.units);
    EXPECT_EQ(a.free_head(PpmArena::class_of(c.taken)), b) << c.units;
    EXPECT_EQ(a.alloc_units(c.taken), b) << c.units;  // the freed block serves its class again
  }
}

TEST_F(PpmArenaTest, LayoutGivesAnEighthToTheText) {
  for (uint32_t mb : {1u, 3u, 7u}) {
    a.start_arena(mb * kMb);
    a.lay_out();
    uint32_t s = mb * kMb;
    EXPECT_EQ(a.text, 0u);
    EXPECT_EQ(a.area_base, s - 84 * (s / 96)) << mb;
    EXPECT_EQ(a.area_floor, a.area_base);
    EXPECT_EQ(a.area_low, a.area_base);
    EXPECT_EQ(a.area_high, s);
    EXPECT_EQ(a.heap_end, s / 12 * 12);
    EXPECT_EQ(a.alloc_context(), s - kU);  // contexts come from the top
  }
}

TEST_F(PpmArenaTest, MergeJoinsAdjacentFreeBlocks) {
  uint32_t b1 = a.alloc_units(64), b2 = a.alloc_units(64), b3 = a.alloc_units(64);
  in_use(2);
  uint32_t lone = a.alloc_units(1);  // directly below the unused gap
  ASSERT_EQ(b2, b1 + 64 * kU);
  a.free_units(b1, 64);
  a.free_units(b2, 64);
  a.merge_free_blocks();
  EXPECT_EQ(a.free_head(PpmArena::class_of(128)), b1);
  EXPECT_EQ(a.free_head(PpmArena::class_of(64)), 0u);

  // 128 + 64 units become blocks of 128 and 64; the gap's stale contents are no block.
  a.free_units(b3, 64);
  a.free_units(lone, 1);
  a.merge_free_blocks();
  EXPECT_EQ(a.free_head(PpmArena::class_of(128)), b1);
  EXPECT_EQ(a.u32(b1), 0u);
  EXPECT_EQ(a.free_head(PpmArena::class_of(64)), b1 + 128 * kU);
  EXPECT_EQ(a.free_head(0), lone);
  EXPECT_EQ(a.u32(lone), 0u);
}

TEST_F(PpmArenaTest, MergedRunsSplitIntoExistingClasses) {
  // 5 + 6 free units in a row: 11 has no class, so 10 units and 1 unit.
  uint32_t b = a.alloc_units(4);
  uint32_t c = a.alloc_units(1);
  uint32_t d = a.alloc_units(6);
  in_use(1);
  a.free_units(b, 4);
  a.free_units(c, 1);
  a.free_units(d, 6);
  a.merge_free_blocks();
  EXPECT_EQ(a.free_head(PpmArena::class_of(10)), b);
  EXPECT_EQ(a.free_head(0), b + 10 * kU);
  EXPECT_EQ(a.free_head(PpmArena::class_of(4)), 0u);
  EXPECT_EQ(a.free_head(PpmArena::class_of(6)), 0u);
}

TEST_F(PpmArenaTest, FallbackSplitsALargerBlock) {
  uint32_t big = a.alloc_units(128);
  fill_gap();
  a.free_units(big, 128);
  EXPECT_EQ(a.merge_credit, 0);
  uint32_t b = a.alloc_units(5);  // merges first (nothing to join), then splits the 128
  EXPECT_EQ(b, big);
  EXPECT_EQ(a.merge_credit, 255);
  // 122 units left: no class of 122, so 120 and 2.
  EXPECT_EQ(a.free_head(PpmArena::class_of(120)), big + 6 * kU);
  EXPECT_EQ(a.free_head(1), big + 126 * kU);
}

TEST_F(PpmArenaTest, FallbackTakesUnitsFromTheTextArea) {
  uint32_t one = a.alloc_units(1);
  fill_gap();
  a.free_units(one, 1);
  EXPECT_EQ(a.alloc_context(), one);  // a free unit before any fallback
  uint32_t floor = a.area_floor;
  uint32_t b = a.alloc_units(2);
  EXPECT_EQ(b, floor - 2 * kU);
  EXPECT_EQ(a.area_base, b);
  EXPECT_EQ(a.area_floor, b);
  EXPECT_EQ(a.merge_credit, 254);

  // Only while the text area keeps more than the request.
  a.text = a.area_floor - 2 * kU;
  EXPECT_EQ(a.alloc_units(2), 0u);
  uint32_t unit = a.alloc_units(1);
  EXPECT_EQ(unit, a.area_floor);
  a.text = a.area_floor - kU;
  EXPECT_EQ(a.alloc_context(), 0u);
}

TEST_F(PpmArenaTest, ExpandAndShrinkMoveOnlyAcrossClasses) {
  uint32_t b = a.alloc_units(5);
  std::memset(a.at(b), 0x11, 5 * kU);
  EXPECT_EQ(a.expand_units(b, 5), b);  // 6 units: same class
  uint32_t moved = a.expand_units(b, 6);  // 7 units: class of 8
  EXPECT_NE(moved, b);
  EXPECT_EQ(a.at(moved)[5 * kU - 1], 0x11);
  EXPECT_EQ(a.free_head(PpmArena::class_of(6)), b);

  // 8 -> 3 units with no free block of 3: split in place, tail of 5 = 4 + 1.
  EXPECT_EQ(a.shrink_units(moved, 8, 3), moved);
  EXPECT_EQ(a.free_head(PpmArena::class_of(4)), moved + 3 * kU);
  EXPECT_EQ(a.free_head(0), moved + 7 * kU);

  // With a free block of the smaller class the states move there.
  uint32_t small = a.alloc_units(2);
  uint32_t wide = a.alloc_units(12);
  std::memset(a.at(wide), 0x22, 12 * kU);
  a.free_units(small, 2);
  EXPECT_EQ(a.shrink_units(wide, 12, 2), small);
  EXPECT_EQ(a.at(small)[2 * kU - 1], 0x22);
  EXPECT_EQ(a.free_head(PpmArena::class_of(12)), wide);
  EXPECT_EQ(a.shrink_units(small, 2, 2), small);
}

}  // namespace
