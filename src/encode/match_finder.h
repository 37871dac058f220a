// Sliding history of the encoder and the two match finders that index it: hash chains
// (fast levels) and binary trees (near-optimal levels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "encode/lz_format.h"

// The bytes of the stream that matches may refer to, followed by the data being coded.
// Positions are indexes into `data`; matches never reach before `stream_begin` (the start
// of the current stream) nor further back than the largest distance.
struct LzHistory {
  std::vector<uint8_t> data;
  size_t stream_begin = 0;

  // Lowest position a match at pos may refer to.
  size_t limit(size_t pos) const {
    size_t far = pos > lzf::kMaxDistance ? pos - lzf::kMaxDistance : 0;
    return far > stream_begin ? far : stream_begin;
  }
  // Number of equal bytes at a and b (a < b), at most max.
  uint32_t common(size_t a, size_t b, uint32_t max) const { return common_bytes(data.data() + a, data.data() + b, max); }

  // Eight bytes at a time (the targets are little-endian).
  static uint32_t common_bytes(const uint8_t* p, const uint8_t* q, uint32_t max) {
    uint32_t n = 0;
    while (n + 8 <= max) {
      uint64_t x, y;
      std::memcpy(&x, p + n, 8);
      std::memcpy(&y, q + n, 8);
      if (x != y) return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);
      n += 8;
    }
    while (n < max && p[n] == q[n]) ++n;
    return n;
  }
};

struct LzMatch {
  uint32_t len;
  uint32_t dist;
};

// Hash chains over 3-byte prefixes, plus a table of the last position of every 2-byte
// prefix for short matches.
class HashChainFinder {
 public:
  HashChainFinder();
  // Forgets positions below `delta` and moves the others down by `delta` (the history was
  // shifted by that many bytes).
  void rebase(size_t delta);
  // Records pos (at least 3 bytes must follow it in the history).
  void insert(const LzHistory& h, size_t pos);
  // Longest match at pos with at most max_len bytes, trying `depth` candidates; prefers
  // the nearer of equally long ones. A match must be at least as long as the distance
  // needs. Returns len 0 when there is none. Does not insert pos.
  LzMatch find(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice) const;
  // Nearest earlier position with the same two bytes as pos, or SIZE_MAX.
  size_t last_pair(const LzHistory& h, size_t pos) const;

 private:
  static constexpr int kHashBits = 18;
  std::vector<uint32_t> head_;   // position + 1, 0 = none
  std::vector<uint32_t> chain_;  // by position modulo the window
  std::vector<uint32_t> pair_;   // 65536 entries, position + 1
};

// Binary search trees over 3-byte hash buckets. Searching a position also inserts it.
class BinaryTreeFinder {
 public:
  BinaryTreeFinder();
  void rebase(size_t delta);
  // Finds matches at pos with lengths up to max_len and inserts pos. Writes matches of
  // strictly increasing length to out (at most kMaxOut) and returns their count. A 2-byte
  // match at a distance up to 256 is reported first when there is one.
  static constexpr int kMaxOut = 40;
  int find_insert(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice, LzMatch* out);
  // Inserts pos without reporting matches.
  void skip(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice);

 private:
  template <bool kReport>
  int walk(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice, LzMatch* out);
  static constexpr int kHashBits = 20;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> tree_;  // two children per position modulo the window
  std::vector<uint32_t> pair_;
};
