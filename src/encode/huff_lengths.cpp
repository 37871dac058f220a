#include "encode/huff_lengths.h"

#include <algorithm>
#include <cstring>
#include <vector>

void huff_limited_lengths(const uint32_t* freq, int n, int max_len, uint8_t* lengths) {
  std::memset(lengths, 0, size_t(n));
  std::vector<int> order;
  order.reserve(size_t(n));
  for (int i = 0; i < n; ++i)
    if (freq[i] != 0) order.push_back(i);
  const int m = int(order.size());
  if (m == 0) return;
  if (m <= 2) {
    for (int s : order) lengths[s] = 1;
    return;
  }
  std::sort(order.begin(), order.end(), [&](int a, int b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });

  // Package-merge. Level d (0 = shallowest) holds leaves merged with packages made of
  // pairs of level d+1. Each item remembers whether it is a leaf (its index in order) or
  // a package (-1).
  struct Item {
    uint64_t weight;
    int leaf;
  };
  std::vector<std::vector<Item>> levels;
  levels.resize(size_t(max_len));
  levels[size_t(max_len - 1)].resize(size_t(m));
  for (int i = 0; i < m; ++i) levels[size_t(max_len - 1)][size_t(i)] = {freq[order[size_t(i)]], i};
  for (int d = max_len - 2; d >= 0; --d) {
    const std::vector<Item>& below = levels[size_t(d + 1)];
    std::vector<Item>& cur = levels[size_t(d)];
    size_t packages = below.size() / 2;
    cur.reserve(size_t(m) + packages);
    size_t li = 0, pi = 0;
    while (li < size_t(m) || pi < packages) {
      uint64_t pw = pi < packages ? below[2 * pi].weight + below[2 * pi + 1].weight : UINT64_MAX;
      if (li < size_t(m) && uint64_t(freq[order[li]]) <= pw) {
        cur.push_back({freq[order[li]], int(li)});
        ++li;
      } else {
        cur.push_back({pw, -1});
        ++pi;
      }
    }
  }
  // Select the first 2m-2 items of the top level and follow the packages down.
  size_t take = size_t(2 * m - 2);
  for (int d = 0; d < max_len && take > 0; ++d) {
    const std::vector<Item>& cur = levels[size_t(d)];
    size_t packages = 0;
    for (size_t i = 0; i < take && i < cur.size(); ++i) {
      if (cur[i].leaf >= 0)
        ++lengths[order[size_t(cur[i].leaf)]];
      else
        ++packages;
    }
    take = 2 * packages;
  }
}

void huff_canonical_codes(const uint8_t* lengths, int n, uint16_t* codes) {
  int count[17] = {0};
  for (int i = 0; i < n; ++i) ++count[lengths[i] & 15];
  count[0] = 0;
  uint32_t next[17] = {0};
  uint32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    code = (code + uint32_t(count[len - 1])) << 1;
    next[len] = code;
  }
  for (int i = 0; i < n; ++i) {
    int len = lengths[i] & 15;
    codes[i] = len ? uint16_t(next[len]++) : 0;
  }
}

uint64_t huff_cost(const uint32_t* freq, const uint8_t* lengths, int n) {
  uint64_t total = 0;
  for (int i = 0; i < n; ++i) {
    if (freq[i] == 0) continue;
    if (lengths[i] == 0) return UINT64_MAX;
    total += uint64_t(freq[i]) * lengths[i];
  }
  return total;
}
