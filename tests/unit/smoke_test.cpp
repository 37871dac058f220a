#include <gtest/gtest.h>

#include <cstring>

#include "app/report.h"
#include "crypto/crc32.h"
#include "ui/catalogue.h"

TEST(Crc32, CheckValue) {
  EXPECT_EQ(crc32_of("123456789", 9), 0xCBF43926u);
}

TEST(ExitCode, PrecedenceTable) {
  struct Case {
    int first, second, expected;
  } cases[] = {
      {3, 9, 9}, {9, 3, 3}, {3, 1, 3}, {1, 2, 2}, {3, 2, 3}, {0, 255, 255}, {3, 255, 3}, {1, 255, 1}, {2, 1, 2},
  };
  for (const Case& c : cases) {
    reset_exit_status();
    if (c.first) raise_exit_code(c.first);
    raise_exit_code(c.second);
    EXPECT_EQ(exit_code(), c.expected) << c.first << " then " << c.second;
    EXPECT_EQ(run_state.exit_status.raises, c.first ? 2 : 1);
  }
  reset_exit_status();
}

TEST(Catalogue, MessagesWithoutTextAreEmpty) {
  for (int id : {516, 835, 996, 1030, 1110, 1135, 1136, 1137}) EXPECT_STREQ(message_text(id), "") << id;
  EXPECT_STRNE(message_text(120), "");
}
