// Canonical Huffman tables built from code lengths, decoding one symbol at a time.
#pragma once

#include "decode/bit_reader.h"
#include "platform/types.h"

struct HuffTable {
  static constexpr int kMaxSymbols = 299;
  static constexpr int kMaxQuickBits = 11;

  uint32_t symbol_count = 1;
  // For each code length L, the exclusive upper limit of the left-justified 16-bit code
  // values of all codes of length L or less (capped at 0xFFFF); [0] is 0.
  uint32_t length_limits[16] = {};
  // Index in symbols_by_code of the first symbol of code length L.
  uint32_t first_index[16] = {};
  // Symbols with a code, by code length, then by symbol value.
  uint16_t symbols_by_code[kMaxSymbols] = {};
  // Lookup by the next quick_bits bits: symbol << 4 | code length, or 0 when the length
  // rule needs more bits than these (long codes, or a prefix shared by several lengths).
  int quick_bits = 1;
  uint16_t quick[1 << kMaxQuickBits] = {};
};

// Builds the table for symbols 0 .. n-1 (n <= kMaxSymbols) from n code lengths (0 .. 15);
// quick_bits (1 .. kMaxQuickBits) sizes the lookup. Lengths are not checked for
// completeness: any set of lengths gives a table that decodes every bit pattern.
void build_table(const uint8_t* lengths, int n, HuffTable& table, int quick_bits);

// The length rule on a 16-bit window of the stream: returns the symbol and its code length.
uint32_t decode_window(const HuffTable& table, uint32_t bits16, uint32_t* length);

// Decodes from a left-justified 64-bit window whose top 16 bits are valid.
inline uint32_t decode_from(const HuffTable& table, uint64_t window, uint32_t* length) {
  uint32_t e = table.quick[window >> (64 - table.quick_bits)];
  if (e & 15) {
    *length = e & 15;
    return e >> 4;
  }
  return decode_window(table, static_cast<uint32_t>(window >> 48), length);
}

// Decodes and consumes one code.
inline uint32_t decode_symbol(BitReader& in, const HuffTable& table) {
  uint32_t length;
  uint32_t s = decode_window(table, in.peek16(), &length);
  in.skip_bits(static_cast<int>(length));
  return s;
}
