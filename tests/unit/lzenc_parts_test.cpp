// The encoder's building blocks: length-limited Huffman codes and the match finders.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <queue>

#include "encode/huff_lengths.h"
#include "encode/lz_format.h"
#include "encode/match_finder.h"
#include "lzenc_data.h"

namespace {

uint64_t kraft(const std::vector<uint8_t>& len, int max_len) {
  uint64_t k = 0;
  for (uint8_t l : len)
    if (l) k += uint64_t(1) << (max_len - l);
  return k;
}

// Cost and depth of an unrestricted Huffman code.
std::pair<uint64_t, int> unlimited_huffman(const std::vector<uint32_t>& f) {
  struct Node {
    uint64_t w;
    int depth;
    bool operator>(const Node& o) const { return w != o.w ? w > o.w : depth > o.depth; }
  };
  std::priority_queue<Node, std::vector<Node>, std::greater<Node>> q;
  for (uint32_t x : f)
    if (x) q.push({x, 0});
  if (q.size() == 1) return {q.top().w, 1};
  uint64_t cost = 0;
  int depth = 0;
  while (q.size() > 1) {
    Node a = q.top();
    q.pop();
    Node b = q.top();
    q.pop();
    cost += a.w + b.w;
    depth = std::max(a.depth, b.depth) + 1;
    q.push({a.w + b.w, depth});
  }
  return {cost, depth};
}

// Cheapest code with lengths 1..max_len by trying every assignment (small n only).
uint64_t brute_limited_cost(const std::vector<uint32_t>& f, int max_len) {
  const size_t n = f.size();
  std::vector<int> len(n, 1);
  uint64_t best = UINT64_MAX;
  for (;;) {
    uint64_t k = 0, cost = 0;
    for (size_t i = 0; i < n; ++i) k += uint64_t(1) << (max_len - len[i]), cost += uint64_t(f[i]) * len[i];
    if (k <= (uint64_t(1) << max_len)) best = std::min(best, cost);
    size_t i = 0;
    while (i < n && len[i] == max_len) len[i++] = 1;
    if (i == n) break;
    ++len[i];
  }
  return best;
}

}  // namespace

TEST(LzEncHuffman, LengthsAreCompleteLimitedAndOptimal) {
  std::vector<uint32_t> fib{1, 1};
  while (fib.size() < 40) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  lzenc_data::Rng r(7);
  std::vector<uint32_t> skewed(299);
  for (size_t i = 0; i < skewed.size(); ++i) skewed[i] = i % 7 == 0 ? 0 : 1 + (r.next() % 1000) * (r.next() % 1000) / (1 + i);
  struct Case {
    const char* name;
    std::vector<uint32_t> freq;
    int max_len;
  } cases[] = {
      {"none", {0, 0, 0}, 15},
      {"one", {0, 9, 0}, 15},
      {"two", {3, 0, 1000}, 15},
      {"fibonacci hits the limit", fib, 15},
      {"fibonacci, tight limit", fib, 7},
      {"uniform 299", std::vector<uint32_t>(299, 5), 15},
      {"skewed 299", skewed, 15},
      {"pre-code sized", {1, 0, 4, 9, 0, 0, 2, 1, 1, 30, 1, 0, 0, 0, 7, 1, 1, 1, 2, 1}, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> len(c.freq.size());
    huff_limited_lengths(c.freq.data(), int(c.freq.size()), c.max_len, len.data());
    int used = 0;
    for (size_t i = 0; i < len.size(); ++i) {
      EXPECT_EQ(len[i] == 0, c.freq[i] == 0) << i;
      EXPECT_LE(len[i], c.max_len);
      used += c.freq[i] != 0;
    }
    if (used == 1) {
      EXPECT_EQ(*std::max_element(len.begin(), len.end()), 1);
    } else if (used > 1) {
      EXPECT_EQ(kraft(len, c.max_len), uint64_t(1) << c.max_len);
      uint64_t cost = huff_cost(c.freq.data(), len.data(), int(len.size()));
      std::pair<uint64_t, int> free_code = unlimited_huffman(c.freq);
      if (free_code.second <= c.max_len) {
        EXPECT_EQ(cost, free_code.first);
      } else {
        EXPECT_GT(cost, free_code.first);
      }
    }
  }
}

TEST(LzEncHuffman, MatchesExhaustiveSearchUnderATightLimit) {
  lzenc_data::Rng r(11);
  for (int round = 0; round < 30; ++round) {
    std::vector<uint32_t> f(6);
    for (uint32_t& x : f) x = 1 + r.below(round % 2 ? 1000 : 12) * (r.below(3) + 1);
    std::vector<uint8_t> len(6);
    huff_limited_lengths(f.data(), 6, 3, len.data());
    EXPECT_EQ(huff_cost(f.data(), len.data(), 6), brute_limited_cost(f, 3)) << "round " << round;
  }
}

namespace {

// Longest match at pos that a long-match symbol can code, nearest first among equals.
LzMatch brute_longest(const LzHistory& h, size_t pos, uint32_t max_len) {
  LzMatch best{0, 0};
  for (size_t c = pos; c-- > h.limit(pos);) {
    uint32_t d = uint32_t(pos - c);
    uint32_t cap = std::min<uint32_t>(max_len, uint32_t(lzf::max_match_at(d)));
    uint32_t len = h.common(c, pos, cap);
    if (len > best.len && len >= uint32_t(lzf::min_match_at(d)) && len > 2) best = {len, d};
  }
  return best;
}

LzHistory finder_input() {
  LzHistory h;
  h.data = lzenc_data::concat({lzenc_data::runs(300, 1), lzenc_data::text(3000, 2), lzenc_data::random_bytes(500, 3),
                               lzenc_data::text(2500, 2)});
  h.stream_begin = 200;  // an earlier stream ended here: nothing before it may be used
  return h;
}

}  // namespace

TEST(LzEncMatchFinder, HashChainsFindTheLongestNearestMatch) {
  LzHistory h = finder_input();
  HashChainFinder f;
  for (size_t p = h.stream_begin; p + 3 <= h.data.size(); ++p) {
    uint32_t max_len = uint32_t(std::min<size_t>(h.data.size() - p, lzf::kMaxMatch));
    LzMatch got = f.find(h, p, max_len, 1 << 30, 1000);
    LzMatch want = brute_longest(h, p, max_len);
    ASSERT_EQ(got.len, want.len) << "at " << p;
    if (want.len) {
      ASSERT_EQ(got.dist, want.dist) << "at " << p;
    }
    f.insert(h, p);
  }
}

TEST(LzEncMatchFinder, BinaryTreesReportTrueMatchesUpToTheLongest) {
  LzHistory h = finder_input();
  BinaryTreeFinder f;
  LzMatch out[BinaryTreeFinder::kMaxOut];
  for (size_t p = h.stream_begin; p + 3 <= h.data.size(); ++p) {
    uint32_t max_len = uint32_t(std::min<size_t>(h.data.size() - p, lzf::kMaxMatch));
    int n = f.find_insert(h, p, max_len, 1 << 30, lzf::kMaxMatch, out);
    uint32_t longest = 0;
    for (size_t c = h.limit(p); c < p; ++c) longest = std::max(longest, h.common(c, p, max_len));
    uint32_t prev = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_GT(out[i].len, prev) << "at " << p;
      ASSERT_LE(out[i].dist, p - h.limit(p)) << "at " << p;
      ASSERT_GE(h.common(p - out[i].dist, p, out[i].len), out[i].len) << "at " << p;
      prev = out[i].len;
    }
    if (longest >= 3) {
      ASSERT_EQ(prev, longest) << "at " << p;
    }
    if (n > 0 && out[0].len == 2) {
      ASSERT_LE(out[0].dist, 256u);
    }
  }
}

TEST(LzEncMatchFinder, BinaryTreesStayExactWhenDataArrivesInStretches) {
  // Positions near the end of the data seen so far are compared over fewer bytes than
  // later ones; the tree must not take such a short equality for a full one.
  std::vector<uint8_t> all = lzenc_data::concat({lzenc_data::rows(30000, 5), lzenc_data::text(30000, 6),
                                                 lzenc_data::runs(5000, 7), lzenc_data::rows(20000, 5)});
  for (uint32_t nice : {64u, uint32_t(lzf::kMaxMatch)}) {
    SCOPED_TRACE("nice " + std::to_string(nice));
    LzHistory h;
    BinaryTreeFinder f;
    LzMatch out[BinaryTreeFinder::kMaxOut];
    const size_t stretch = 997;
    for (size_t begin = 0; begin < all.size(); begin += stretch) {
      size_t end = std::min(all.size(), begin + stretch);
      h.data.assign(all.begin(), all.begin() + ptrdiff_t(end));
      for (size_t p = begin; p + 3 <= end; ++p) {
        uint32_t max_len = uint32_t(std::min<size_t>(end - p, lzf::kMaxMatch));
        int n = f.find_insert(h, p, max_len, 1 << 30, nice, out);
        for (int i = 0; i < n; ++i) {
          ASSERT_GE(h.common(p - out[i].dist, p, out[i].len), out[i].len) << "at " << p;
        }
      }
    }
  }
}
