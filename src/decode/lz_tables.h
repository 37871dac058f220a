// Constant tables of the LZ alphabet.
#pragma once

#include "platform/types.h"

constexpr uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Distance slots: 4 without extra bits, 2 for each of 1 .. 15 bits, 14 with 16 bits and
// 12 with 18 bits; each base is the sum of the ranges of the slots before it.
struct DistanceSlots {
  uint32_t base[60];
  uint8_t bits[60];
};

constexpr DistanceSlots make_distance_slots() {
  DistanceSlots t{};
  int slot = 0;
  uint32_t base = 0;
  auto add = [&](int count, int b) {
    for (int k = 0; k < count; k++) {
      t.base[slot] = base;
      t.bits[slot] = static_cast<uint8_t>(b);
      base += 1u << b;
      slot++;
    }
  };
  add(4, 0);
  for (int b = 1; b <= 15; b++) add(2, b);
  add(14, 16);
  add(12, 18);
  return t;
}

constexpr DistanceSlots kDistanceSlots = make_distance_slots();
static_assert(kDistanceSlots.base[26] == 8192 && kDistanceSlots.bits[26] == 12, "distance slots");
static_assert(kDistanceSlots.base[34] == 131072 && kDistanceSlots.base[48] == 1048576, "distance slots");
static_assert(kDistanceSlots.base[59] + (1u << 18) == 4194304, "distance slots");
