#include "decode/huffman.h"

void build_table(const uint8_t* lengths, int n, HuffTable& t, int quick_bits) {
  uint32_t count[16] = {};
  for (int i = 0; i < n; i++) count[lengths[i] & 15]++;
  count[0] = 0;

  uint32_t next[16];
  t.length_limits[0] = 0;
  t.first_index[0] = 0;
  next[0] = 0;
  uint32_t v = 0;
  for (int len = 1; len <= 15; len++) {
    v = 2 * (v + count[len]);
    uint32_t limit = v << (15 - len);
    t.length_limits[len] = limit < 0xFFFF ? limit : 0xFFFF;
    t.first_index[len] = t.first_index[len - 1] + count[len - 1];
    next[len] = t.first_index[len];
  }

  for (int i = 0; i < n; i++) t.symbols_by_code[i] = 0;
  for (int i = 0; i < n; i++) {
    if (lengths[i] != 0) t.symbols_by_code[next[lengths[i] & 15]++] = static_cast<uint16_t>(i);
  }
  t.symbol_count = static_cast<uint32_t>(n);

  // Quick lookup: a prefix gets an entry when every 16-bit window that starts with it
  // has the same code length L <= quick_bits; the index is then fixed by the prefix too,
  // because the limit below length L is a multiple of 2^(16-L).
  t.quick_bits = quick_bits;
  const int shift = 16 - quick_bits;
  uint32_t len = 1;
  for (uint32_t p = 0; p < (1u << quick_bits); p++) {
    uint32_t lo = p << shift;
    uint32_t hi = lo + (1u << shift) - 2;  // highest window of the prefix, low bit cleared
    while (len < 15 && lo >= t.length_limits[len]) len++;
    uint16_t e = kLongCode << 4;
    if (static_cast<int>(len) <= quick_bits && hi < t.length_limits[len]) {
      uint32_t index = ((lo - t.length_limits[len - 1]) >> (16 - len)) + t.first_index[len];
      if (index >= t.symbol_count) index = 0;
      e = static_cast<uint16_t>(t.symbols_by_code[index] << 4 | len);
    }
    t.quick[p] = e;
  }
}

uint32_t decode_window(const HuffTable& t, uint32_t bits16) { return decode_long(t, bits16, 1); }

uint32_t decode_long(const HuffTable& t, uint32_t bits16, uint32_t from) {
  uint32_t bits = bits16 & 0xFFFE;
  uint32_t len = from;
  while (len < 15 && bits >= t.length_limits[len]) len++;
  uint32_t index = ((bits - t.length_limits[len - 1]) >> (16 - len)) + t.first_index[len];
  if (index >= t.symbol_count) index = 0;
  return static_cast<uint32_t>(t.symbols_by_code[index]) << 4 | len;
}
