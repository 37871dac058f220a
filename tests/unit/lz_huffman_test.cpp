// Huffman tables and the bit reader against the plain comparison-tree rules.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/bit_reader.h"
#include "decode/huffman.h"
#include "lz_reference.h"
#include "lz_test_support.h"

namespace {

struct Decoded {
  uint32_t symbol;
  uint32_t length;
};

Decoded reference_decode(const lzref::Table& t, uint32_t window16) {
  static lzref::Reader r;
  r.byte_pos = r.bit_pos = 0;
  r.buffer[0] = static_cast<uint8_t>(window16 >> 8);
  r.buffer[1] = static_cast<uint8_t>(window16);
  uint32_t s = lzref::decode_symbol(r, t);
  return {s, static_cast<uint32_t>(r.byte_pos * 8 + r.bit_pos)};
}

enum class Kind { kComplete, kIncomplete, kRandom, kSparseRandom, kAllZero, kSingle, kLong };

std::vector<uint8_t> make_lengths(std::mt19937& rng, Kind kind, int n) {
  std::vector<uint8_t> l(n, 0);
  switch (kind) {
    case Kind::kComplete:
      return lztest::random_lengths(rng, n, 2 + static_cast<int>(rng() % (n - 1)));
    case Kind::kIncomplete:
      l = lztest::random_lengths(rng, n, 2 + static_cast<int>(rng() % (n - 1)));
      for (auto& v : l) {
        if (v && rng() % 3 == 0) v = 0;
      }
      return l;
    case Kind::kRandom:  // mostly over-subscribed
      for (auto& v : l) v = static_cast<uint8_t>(rng() % 16);
      return l;
    case Kind::kSparseRandom:
      for (auto& v : l) v = rng() % 4 == 0 ? static_cast<uint8_t>(rng() % 16) : 0;
      return l;
    case Kind::kAllZero:
      return l;
    case Kind::kSingle:
      l[rng() % n] = static_cast<uint8_t>(1 + rng() % 15);
      return l;
    case Kind::kLong:
      for (auto& v : l) v = static_cast<uint8_t>(11 + rng() % 5);
      return l;
  }
  return l;
}

TEST(LzHuffman, TablesDecodeEveryWindowLikeTheComparisonTree) {
  std::mt19937 rng(1234);
  const int sizes[] = {17, 20, 28, 60, 299};
  const Kind kinds[] = {Kind::kComplete, Kind::kIncomplete, Kind::kRandom, Kind::kSparseRandom,
                        Kind::kAllZero,  Kind::kSingle,     Kind::kLong};
  for (Kind kind : kinds) {
    for (int n : sizes) {
      for (int rep = 0; rep < 3; rep++) {
        std::vector<uint8_t> lengths = make_lengths(rng, kind, n);
        lzref::Table ref;
        lzref::build_table(lengths.data(), n, ref);
        int quick_bits = 1 + static_cast<int>(rng() % HuffTable::kMaxQuickBits);
        HuffTable t;
        build_table(lengths.data(), n, t, quick_bits);
        for (int L = 0; L < 16; L++) {
          ASSERT_EQ(t.length_limits[L], ref.length_limits[L]);
          ASSERT_EQ(t.first_index[L], ref.first_index[L]);
        }
        for (int i = 0; i < n; i++) ASSERT_EQ(t.symbols_by_code[i], ref.symbols_by_code[i]);
        for (uint32_t w = 0; w < 0x10000; w++) {
          Decoded want = reference_decode(ref, w);
          uint32_t e1 = decode_window(t, w);
          uint32_t e2 = decode_from(t, static_cast<uint64_t>(w) << 48 | 0x123456789ABCull);
          uint32_t s1 = entry_symbol(e1), len1 = entry_length(e1);
          uint32_t s2 = entry_symbol(e2), len2 = entry_length(e2);
          ASSERT_EQ(s1, want.symbol) << "kind " << static_cast<int>(kind) << " n " << n << " window " << w;
          ASSERT_EQ(len1, want.length) << w;
          ASSERT_EQ(s2, want.symbol) << "quick " << quick_bits << " window " << w;
          ASSERT_EQ(len2, want.length) << "quick " << quick_bits << " window " << w;
        }
      }
    }
  }
}

TEST(LzHuffman, SpecialTables) {
  struct Case {
    const char* what;
    std::vector<uint8_t> lengths;
    uint32_t window;
    uint32_t symbol;
    uint32_t length;
  } cases[] = {
      {"all lengths 0: symbol 0 in 15 bits", std::vector<uint8_t>(20, 0), 0x1234, 0, 15},
      {"all lengths 0, high window", std::vector<uint8_t>(20, 0), 0xFFFF, 0, 15},
      {"two length-1 symbols, bit 0", {0, 0, 0, 1, 0, 0, 0, 1}, 0x7FFF, 3, 1},
      {"two length-1 symbols, bit 1", {0, 0, 0, 1, 0, 0, 0, 1}, 0x8000, 7, 1},
      // One code of length 1: windows starting with 1 fall to length 15, whose index
      // either lands on a cleared slot (symbol 0) or passes the count (symbols_by_code[0]).
      {"incomplete, index inside the count", {0, 0, 0, 0, 0, 1, 0, 0}, 0x8000, 0, 15},
      {"incomplete, index past the count", {0, 0, 0, 0, 0, 1, 0, 0}, 0xFFFE, 5, 15},
      // Over-subscribed: the limit saturates, every window has length 1.
      {"over-subscribed: three length-1 codes", {1, 1, 1, 0}, 0xC000, 1, 1},
  };
  for (const Case& c : cases) {
    HuffTable t;
    build_table(c.lengths.data(), static_cast<int>(c.lengths.size()), t, 8);
    uint32_t e = decode_from(t, static_cast<uint64_t>(c.window) << 48);
    EXPECT_EQ(entry_symbol(e), c.symbol) << c.what;
    EXPECT_EQ(entry_length(e), c.length) << c.what;
  }
}

// The reader at arbitrary bit positions over random bytes, decoding mixed tables.
TEST(LzHuffman, BitReaderMatchesThreeBytePeek) {
  std::mt19937 rng(99);
  BitReader fast;
  lzref::Reader ref;
  for (int i = 0; i < BitReader::kBufferSize; i++) fast.buffer[i] = ref.buffer[i] = static_cast<uint8_t>(rng());
  std::vector<uint8_t> la = make_lengths(rng, Kind::kComplete, 299);
  std::vector<uint8_t> lb = make_lengths(rng, Kind::kRandom, 60);
  HuffTable ta, tb;
  build_table(la.data(), 299, ta, 10);
  build_table(lb.data(), 60, tb, 9);
  lzref::Table ra, rb;
  lzref::build_table(la.data(), 299, ra);
  lzref::build_table(lb.data(), 60, rb);
  while (ref.byte_pos < BitReader::kBufferSize - 8) {
    ASSERT_EQ(fast.peek16(), ref.peek16());
    switch (rng() % 4) {
      case 0:
        ASSERT_EQ(decode_symbol(fast, ta), lzref::decode_symbol(ref, ra));
        break;
      case 1:
        ASSERT_EQ(decode_symbol(fast, tb), lzref::decode_symbol(ref, rb));
        break;
      case 2: {
        int k = 1 + static_cast<int>(rng() % 16);
        ASSERT_EQ(fast.read_bits(k), ref.read_bits(k));
        break;
      }
      case 3:
        fast.align_to_byte();
        ref.skip_bits((8 - ref.bit_pos) % 8);
        break;
    }
    ASSERT_EQ(fast.byte_pos, ref.byte_pos);
    ASSERT_EQ(fast.bit_pos, ref.bit_pos);
  }
}

}  // namespace
