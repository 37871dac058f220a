// Parsers: turn a stretch of the history into tokens. The fast levels use greedy or lazy
// matching over hash chains; the strong levels use a forward shortest-path search over
// all matches that the binary trees find, priced from Huffman code lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encode/lz_block_coder.h"
#include "encode/lz_tokens.h"
#include "encode/match_finder.h"

// Prices of every symbol choice, in 1/16 bits.
struct LzPrices {
  static constexpr uint32_t kScale = 16;
  uint32_t sym[lzf::kTableSymbols];
  uint32_t long_len[256];    // by coded length minus 3
  uint32_t recent_len[256];  // by length minus 2
  uint32_t short_dist[257];  // by distance

  // Prices of a table built from these frequencies; symbols that do not occur get a
  // long but finite price.
  void from_histogram(const LzHistogram& h);
  // First guess before any statistics: literal prices from the byte frequencies.
  void initial(const uint8_t* data, size_t n);
  uint32_t distance(uint32_t dist) const {
    int slot = lzf::distance_slot(dist);
    uint32_t p = sym[lzt::kDist + slot];
    int bits = lzf::kDistBits[slot];
    if (slot > 9) {
      p += uint32_t(bits > 4 ? bits - 4 : 0) * kScale;
      p += sym[lzt::kLow + ((dist - 1 - lzf::kDistBase[slot]) & 15)];
    } else {
      p += uint32_t(bits) * kScale;
    }
    return p;
  }
  uint32_t long_match(uint32_t len, uint32_t dist) const {
    return long_len[len - 3 - uint32_t(lzf::distance_bonus(dist))] + distance(dist);
  }

 private:
  void derive();
};

struct LzFastParams {
  int depth;   // hash chain candidates
  int lazy;    // 0 greedy, 1 or 2 positions of look-ahead
  uint32_t nice;
};

// Greedy or lazy parse of [begin, end) of the history, inserting every position.
void parse_fast(LzHistory& h, HashChainFinder& finder, size_t begin, size_t end, const LzFastParams& params,
                LzParseState& state, std::vector<LzToken>& out);

struct LzOptimalParams {
  int depth;      // tree nodes visited per position
  uint32_t nice;  // longest match the trees compare
  uint32_t jump;  // matches this long are taken without looking at the positions they cover
  int passes;     // parses per stretch (each pass prices from the previous one)
};

class LzOptimalParser {
 public:
  // Parses [begin, end): finds all matches once, then runs the shortest-path search with
  // the given prices, re-pricing from its own result for later passes. On return prices
  // hold the statistics of the final parse. The history may hold bytes after end (up to
  // a longest match of them keeps the trees exact across stretches); tokens stop at end.
  void parse(LzHistory& h, BinaryTreeFinder& finder, size_t begin, size_t end, const LzOptimalParams& params,
             LzPrices& prices, bool have_prices, LzParseState& state, std::vector<LzToken>& out);

 private:
  void collect(LzHistory& h, BinaryTreeFinder& finder, size_t begin, size_t end, const LzOptimalParams& params);
  void search(const LzHistory& h, size_t begin, size_t end, uint32_t nice, const LzPrices& prices,
              const LzParseState& state, std::vector<LzToken>& out, LzParseState& end_state);

  std::vector<uint32_t> first_;  // per position: index of its first match in matches_
  std::vector<LzMatch> matches_;
  std::vector<uint32_t> cost_;
  std::vector<uint32_t> from_;
  std::vector<LzToken> via_;
  // A position reached by a match, a literal and the match's distance again: the first
  // match (len 0 = a plain step through via_).
  std::vector<LzToken> lead_;
  std::vector<LzParseState> states_;
};
