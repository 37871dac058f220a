#include <gtest/gtest.h>

#include "app/progress.h"

TEST(ProgressPercent, Rule) {
  struct Case {
    uint64_t total, done;
    uint32_t percent;
  } cases[] = {
      {0, 0, 0},
      {0, 5, 0},
      {200, 50, 25},
      {3, 2, 66},                      // truncating
      {100, 101, 100},
      {1000000, 1000000, 100},         // not scaled: done is not above 1,000,000
      {4000000, 1000001, 24},          // both scaled by 256: 3906 of 15625
      {1000100, 1000001, 100},         // scaled to 3906 of 3906
      {300, 1000001, 100},             // total scales to 1, done to 3906
      {600, 1000001, 100},
      {0xFFFFFFFFu, 0xFFFFFFFEu, 100},  // scaled to equal counts
      {0xFFFFFFFFu, 0x7FFFFFFFu, 49},  // no overflow of done x 100
      {0x100000000ull + 200, 50, 25},  // only the low 32 bits count
      {0x1000000C8ull, 0x100000032ull, 25},
  };
  for (const Case& c : cases)
    EXPECT_EQ(progress_percent(c.total, c.done), c.percent) << c.total << " " << c.done;
}
