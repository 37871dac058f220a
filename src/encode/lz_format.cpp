#include "encode/lz_format.h"

namespace lzf {

const uint8_t kLenBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                              24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t kLenBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

namespace {
struct SlotTables {
  uint8_t len_index[256];
  uint8_t short_index[256];
  SlotTables() {
    for (int v = 0, i = 0; v < 256; ++v) {
      while (i < 27 && v >= kLenBase[i + 1]) ++i;
      len_index[v] = uint8_t(i);
    }
    for (int v = 0, i = 0; v < 256; ++v) {
      while (i < 7 && v >= kShortBase[i + 1]) ++i;
      short_index[v] = uint8_t(i);
    }
  }
};
const SlotTables& tables() {
  static const SlotTables t;
  return t;
}
}  // namespace

const uint32_t kDistBase[60] = {
    0,       1,       2,       3,       4,       6,       8,       12,      16,      24,      32,      48,
    64,      96,      128,     192,     256,     384,     512,     768,     1024,    1536,    2048,    3072,
    4096,    6144,    8192,    12288,   16384,   24576,   32768,   49152,   65536,   98304,   131072,  196608,
    262144,  327680,  393216,  458752,  524288,  589824,  655360,  720896,  786432,  851968,  917504,  983040,
    1048576, 1310720, 1572864, 1835008, 2097152, 2359296, 2621440, 2883584, 3145728, 3407872, 3670016, 3932160};
const uint8_t kDistBits[60] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,
                               9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16,
                               16, 16, 16, 16, 16, 16, 16, 16, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18};

int length_index(uint32_t value) { return tables().len_index[value]; }

int short_index(uint32_t dist) { return tables().short_index[dist - 1]; }

int distance_slot(uint32_t dist) {
  uint32_t d = dist - 1;
  if (d < 4) return int(d);
  if (d >= 1048576) return 48 + int((d - 1048576) >> 18);
  if (d >= 131072) return 34 + int((d - 131072) >> 16);
  // Slots 4..33: two per bit count; the top bit gives the pair, the next bit the member.
  int top = 31 - __builtin_clz(d);
  return 2 * top + int((d >> (top - 1)) & 1);
}

}  // namespace lzf
