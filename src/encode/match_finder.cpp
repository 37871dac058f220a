#include "encode/match_finder.h"

#include <cstring>

namespace {

constexpr uint32_t kMask = lzf::kWindowSize - 1;

inline uint32_t hash3(const uint8_t* p, int bits) {
  uint32_t v = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  return (v * 2654435761u) >> (32 - bits);
}
inline uint32_t pair_key(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }

void rebase_values(std::vector<uint32_t>& v, size_t delta) {
  const uint32_t d = uint32_t(delta);
  for (uint32_t& x : v) x = x > d ? x - d : 0;
}

}  // namespace

HashChainFinder::HashChainFinder()
    : head_(size_t(1) << kHashBits, 0), chain_(lzf::kWindowSize, 0), pair_(65536, 0) {}

void HashChainFinder::rebase(size_t delta) {
  rebase_values(head_, delta);
  rebase_values(chain_, delta);
  rebase_values(pair_, delta);
}

void HashChainFinder::insert(const LzHistory& h, size_t pos) {
  const uint8_t* p = h.data.data() + pos;
  uint32_t& head = head_[hash3(p, kHashBits)];
  chain_[pos & kMask] = head;
  head = uint32_t(pos + 1);
  pair_[pair_key(p)] = uint32_t(pos + 1);
}

size_t HashChainFinder::last_pair(const LzHistory& h, size_t pos) const {
  uint32_t v = pair_[pair_key(h.data.data() + pos)];
  if (v == 0 || v - 1 >= pos || v - 1 < h.limit(pos)) return SIZE_MAX;
  return v - 1;
}

LzMatch HashChainFinder::find(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice) const {
  LzMatch best{0, 0};
  if (max_len < 3) return best;
  const uint8_t* data = h.data.data();
  const uint8_t* cur = data + pos;
  const size_t limit = h.limit(pos);
  uint32_t v = head_[hash3(cur, kHashBits)];
  size_t prev = pos;
  uint32_t best_len = 2;
  while (v != 0 && depth-- > 0) {
    size_t cand = v - 1;
    if (cand < limit || cand >= prev) break;
    prev = cand;
    const uint8_t* c = data + cand;
    if (c[best_len] == cur[best_len] && c[0] == cur[0] && c[1] == cur[1]) {
      uint32_t dist = uint32_t(pos - cand);
      uint32_t cap = max_len < uint32_t(lzf::max_match_at(dist)) ? max_len : uint32_t(lzf::max_match_at(dist));
      uint32_t len = LzHistory::common_bytes(c, cur, cap);
      if (len > best_len && len >= uint32_t(lzf::min_match_at(dist))) {
        best_len = len;
        best = {len, dist};
        if (len >= nice || len >= cap) break;
      }
    }
    v = chain_[cand & kMask];
  }
  return best;
}

BinaryTreeFinder::BinaryTreeFinder()
    : head_(size_t(1) << kHashBits, 0), tree_(size_t(2) * lzf::kWindowSize, 0), pair_(65536, 0) {}

void BinaryTreeFinder::rebase(size_t delta) {
  rebase_values(head_, delta);
  rebase_values(tree_, delta);
  rebase_values(pair_, delta);
}

template <bool kReport>
int BinaryTreeFinder::walk(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice,
                           LzMatch* out) {
  const uint8_t* data = h.data.data();
  const uint8_t* cur = data + pos;
  const size_t limit = h.limit(pos);
  int count = 0;
  if (kReport) {
    uint32_t pv = pair_[pair_key(cur)];
    if (pv != 0 && pv - 1 >= limit && pos - (pv - 1) <= 256) out[count++] = {2, uint32_t(pos - (pv - 1))};
  }
  pair_[pair_key(cur)] = uint32_t(pos + 1);

  uint32_t& head = head_[hash3(cur, kHashBits)];
  uint32_t v = head;
  head = uint32_t(pos + 1);
  uint32_t* left = &tree_[2 * (pos & kMask)];       // subtree of smaller strings
  uint32_t* right = &tree_[2 * (pos & kMask) + 1];  // subtree of larger strings
  uint32_t left_len = 0, right_len = 0;
  uint32_t best_len = 2;  // the tree reports matches of 3 bytes and more
  // The tree orders strings by their first `limit` bytes. Near the end of the data seen so
  // far fewer bytes can be compared; equality there says nothing about the order.
  const uint32_t limit_len = nice < uint32_t(lzf::kMaxMatch) ? (nice > 3 ? nice : 3) : uint32_t(lzf::kMaxMatch);
  if (max_len > limit_len) max_len = limit_len;
  const bool short_view = max_len < limit_len;
  while (v != 0) {
    size_t cand = v - 1;
    if (cand < limit || depth-- <= 0) break;
    const uint8_t* c = data + cand;
    uint32_t* pair = &tree_[2 * (cand & kMask)];
    uint32_t len = left_len < right_len ? left_len : right_len;
    len += LzHistory::common_bytes(c + len, cur + len, max_len - len);
    if (kReport && len > best_len) {
      best_len = len;
      uint32_t dist = uint32_t(pos - cand);
      if (count < kMaxOut) out[count++] = {len, dist};
    }
    if (len >= max_len) {
      if (short_view) {
        // Order unknown: drop what lies below instead of misplacing it.
        *left = 0;
        *right = 0;
        return count;
      }
      // Equal as far as the tree looks: cur takes cand's place.
      *left = pair[0];
      *right = pair[1];
      return count;
    }
    if (c[len] < cur[len]) {
      *left = v;
      left = &pair[1];
      v = *left;
      left_len = len;
    } else {
      *right = v;
      right = &pair[0];
      v = *right;
      right_len = len;
    }
  }
  *left = 0;
  *right = 0;
  return count;
}

int BinaryTreeFinder::find_insert(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice,
                                  LzMatch* out) {
  return walk<true>(h, pos, max_len, depth, nice, out);
}

void BinaryTreeFinder::skip(const LzHistory& h, size_t pos, uint32_t max_len, int depth, uint32_t nice) {
  walk<false>(h, pos, max_len, depth, nice, nullptr);
}
