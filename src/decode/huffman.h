// Canonical Huffman tables built from code lengths, decoding one symbol at a time.
#pragma once

#include "decode/bit_reader.h"
#include "platform/types.h"

// Symbol of the lookup entries whose code is longer than the lookup width.
constexpr uint32_t kLongCode = 0xFFF;

struct HuffTable {
  static constexpr int kMaxSymbols = 299;
  static constexpr int kMaxQuickBits = 11;

  // A table that was never built decodes like one built from lengths that are all 0:
  // every code is symbol 0 with 15 bits.
  HuffTable() {
    for (uint16_t& e : quick) e = kLongCode << 4;
  }

  uint32_t symbol_count = 1;
  // For each code length L, the exclusive upper limit of the left-justified 16-bit code
  // values of all codes of length L or less (capped at 0xFFFF); [0] is 0.
  uint32_t length_limits[16] = {};
  // Index in symbols_by_code of the first symbol of code length L.
  uint32_t first_index[16] = {};
  // Symbols with a code, by code length, then by symbol value.
  uint16_t symbols_by_code[kMaxSymbols] = {};
  // Lookup by the next quick_bits bits: symbol << 4 | code length, or kLongCode << 4
  // (length 0) when the code is longer than quick_bits.
  int quick_bits = kMaxQuickBits;
  uint16_t quick[1 << kMaxQuickBits];
};

// Builds the table for symbols 0 .. n-1 (n <= kMaxSymbols) from n code lengths (0 .. 15);
// quick_bits (1 .. kMaxQuickBits) sizes the lookup. Lengths are not checked for
// completeness: any set of lengths gives a table that decodes every bit pattern.
void build_table(const uint8_t* lengths, int n, HuffTable& table, int quick_bits);

// Decoded codes are returned as entries: symbol << 4 | code length.
inline uint32_t entry_symbol(uint32_t e) { return e >> 4; }
inline uint32_t entry_length(uint32_t e) { return e & 15; }

// The length rule on a 16-bit window of the stream.
uint32_t decode_window(const HuffTable& table, uint32_t bits16);

// Decodes from a left-justified 64-bit window whose top 15 bits are valid.
inline uint32_t decode_from(const HuffTable& table, uint64_t window) {
  uint32_t e = table.quick[window >> (64 - table.quick_bits)];
  if (e & 15) return e;
  return decode_window(table, static_cast<uint32_t>(window >> 48));
}

// The length rule for a window whose code length is known to be at least `from`.
uint32_t decode_long(const HuffTable& table, uint32_t bits16, uint32_t from);

// The same for a table built with the lookup width K. A prefix without an entry has a
// code longer than K bits.
template <int K>
inline uint32_t decode_quick(const HuffTable& table, uint64_t window) {
  uint32_t e = table.quick[window >> (64 - K)];
  if (__builtin_expect((e & 15) != 0, 1)) return e;
  return decode_long(table, static_cast<uint32_t>(window >> 48), K + 1);
}

// Decodes and consumes one code.
inline uint32_t decode_symbol(BitReader& in, const HuffTable& table) {
  uint32_t e = decode_window(table, in.peek16());
  in.skip_bits(static_cast<int>(entry_length(e)));
  return entry_symbol(e);
}
