#include "encode/lz_parser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "encode/huff_lengths.h"

using namespace lzf;

// ---------------------------------------------------------------------------------------
// Prices.

void LzPrices::derive() {
  for (uint32_t v = 0; v < 256; ++v) {
    int li = length_index(v);
    long_len[v] = sym[lzt::kMain + kSymMatch + li] + kLenBits[li] * kScale;
    recent_len[v] = sym[lzt::kRep + li] + kLenBits[li] * kScale;
  }
  short_dist[0] = 0;
  for (uint32_t d = 1; d <= 256; ++d) {
    int si = short_index(d);
    short_dist[d] = sym[lzt::kMain + kSymShort + si] + kShortBits[si] * kScale;
  }
}

void LzPrices::from_histogram(const LzHistogram& h) {
  struct Part {
    int off, n;
  } parts[4] = {{lzt::kMain, kMainSymbols}, {lzt::kDist, kDistSymbols}, {lzt::kLow, kLowSymbols},
                {lzt::kRep, kRepSymbols}};
  // Fractional prices from the frequencies (with a little weight for symbols not seen
  // yet) guide the search better than the integer lengths of one particular code.
  for (const Part& p : parts) {
    double total = 0;
    for (int i = 0; i < p.n; ++i) total += h.f[p.off + i] + 0.25;
    for (int i = 0; i < p.n; ++i) {
      double bits = std::log2(total / (h.f[p.off + i] + 0.25));
      sym[p.off + i] = uint32_t(std::min(bits, 18.0) * kScale + 0.5);
    }
  }
  derive();
}

void LzPrices::initial(const uint8_t* data, size_t n) {
  uint32_t f[256] = {0};
  for (size_t i = 0; i < n; ++i) ++f[data[i]];
  uint32_t g[256];
  for (int i = 0; i < 256; ++i) g[i] = f[i] * 4 + 1;
  uint8_t len[256];
  huff_limited_lengths(g, 256, kMaxCodeLen, len);
  for (int i = 0; i < 256; ++i) sym[lzt::kMain + i] = len[i] + 1;
  sym[lzt::kMain + 256] = 14;
  sym[lzt::kMain + 257] = 15;
  sym[lzt::kMain + kSymRepeatLast] = 7;
  for (int r = 0; r < 4; ++r) sym[lzt::kMain + kSymRecent + r] = 6 + uint32_t(r);
  for (int i = 0; i < 8; ++i) sym[lzt::kMain + kSymShort + i] = 8;
  for (int i = 0; i < 28; ++i) sym[lzt::kMain + kSymMatch + i] = 5 + uint32_t(i) / 3;
  for (int s = 0; s < kDistSymbols; ++s) sym[lzt::kDist + s] = 4 + uint32_t(s) / 12;
  for (int s = 0; s < kLowSymbols; ++s) sym[lzt::kLow + s] = 4;
  for (int i = 0; i < kRepSymbols; ++i) sym[lzt::kRep + i] = 2 + uint32_t(i) / 3;
  for (uint32_t& v : sym) v *= kScale;
  derive();
}

// ---------------------------------------------------------------------------------------
// Greedy and lazy parsing.

namespace {

inline int log2u(uint32_t v) { return 31 - __builtin_clz(v | 1); }

struct Candidate {
  LzToken tok;
  int score;  // estimated bits saved against literals
};

inline bool distance_ok(const LzHistory& h, size_t pos, uint32_t dist) {
  return dist != 0 && dist <= pos && pos - dist >= h.limit(pos);
}

Candidate best_candidate(const LzHistory& h, const HashChainFinder& f, size_t pos, size_t end,
                         const LzFastParams& pp, const LzParseState& st) {
  Candidate best{LzToken::literal(h.data[pos]), 0};
  const uint32_t avail = uint32_t(std::min<size_t>(end - pos, kMaxMatch));
  if (avail < 2) return best;
  // Recent distances.
  for (int r = 0; r < 4; ++r) {
    uint32_t d = st.reps[r];
    if (!distance_ok(h, pos, d)) continue;
    bool dup = false;
    for (int k = 0; k < r; ++k) dup |= st.reps[k] == d;
    if (dup) continue;
    uint32_t len = h.common(pos - d, pos, std::min<uint32_t>(avail, kMaxRecentLen));
    if (len < 2) continue;
    int score = int(len) * 8 - (r == 0 ? 5 : 7) - (len > 9 ? 4 : 2);
    if (score > best.score) best = {LzToken::recent(r, len), score};
    if (r == 0 && st.last_len >= 2 && st.last_len <= len && st.last_len + 1 >= len) {
      // The last match again: one symbol, no length.
      int again = int(st.last_len) * 8 - 5;
      if (again > best.score) best = {LzToken::repeat_last(st.last_len), again};
    }
  }
  if (avail >= 3) {
    LzMatch m = f.find(h, pos, avail, pp.depth, pp.nice);
    if (m.len >= 3) {
      int score = int(m.len) * 8 - 10 - log2u(m.dist) - (m.len > 10 ? 3 : 0);
      if (m.len == 3 && m.dist > 0x4000) score -= 8;
      if (score > best.score) best = {LzToken::long_match(m.len, m.dist), score};
    }
  }
  if (best.score < 8) {
    size_t q = f.last_pair(h, pos);
    if (q != SIZE_MAX && pos - q <= 256) {
      uint32_t d = uint32_t(pos - q);
      int score = 16 - 9 - log2u(d) / 2;
      if (score > best.score) best = {LzToken::short_match(d), score};
    }
  }
  return best;
}

}  // namespace

void parse_fast(LzHistory& h, HashChainFinder& finder, size_t begin, size_t end, const LzFastParams& pp,
                LzParseState& st, std::vector<LzToken>& out) {
  size_t pos = begin;
  auto insert = [&](size_t p) {
    if (end - p >= 3) finder.insert(h, p);
  };
  bool have_next = false;
  Candidate next{};
  // Over long stretches without matches (data that does not compress) the chains are
  // searched less deeply: every candidate costs a cache miss and almost none pays.
  LzFastParams q = pp;
  const int least_depth = std::max(2, pp.depth / 8);
  size_t misses = 0;
  while (pos < end) {
    Candidate cur = have_next ? next : best_candidate(h, finder, pos, end, q, st);
    have_next = false;
    if (cur.tok.kind == kTokLiteral) {
      insert(pos);
      out.push_back(cur.tok);
      ++pos;
      if ((++misses & 255) == 0 && q.depth > least_depth) q.depth = std::max(least_depth, q.depth / 2);
      continue;
    }
    if (cur.tok.len >= 5) {  // short matches occur in random data too
      misses = 0;
      q.depth = pp.depth;
    }
    if (pp.lazy > 0 && cur.tok.len < pp.nice && pos + 1 < end) {
      insert(pos);
      Candidate n1 = best_candidate(h, finder, pos + 1, end, pp, st);
      bool defer = n1.score > cur.score + 6;
      if (!defer && pp.lazy > 1 && pos + 2 < end && n1.tok.kind != kTokLiteral) {
        // Two positions ahead, after two literals.
        insert(pos + 1);
        Candidate n2 = best_candidate(h, finder, pos + 2, end, pp, st);
        if (n2.score > cur.score + 14 && n2.score > n1.score + 6) {
          out.push_back(LzToken::literal(h.data[pos]));
          out.push_back(LzToken::literal(h.data[pos + 1]));
          pos += 2;
          next = n2;
          have_next = true;
          continue;
        }
        // pos + 1 is inserted already: emit cur, which covers it.
        out.push_back(cur.tok);
        st.apply(cur.tok);
        for (size_t p = pos + 2; p < pos + cur.tok.len; ++p) insert(p);
        pos += cur.tok.len;
        continue;
      }
      if (defer) {
        out.push_back(LzToken::literal(h.data[pos]));
        ++pos;
        next = n1;
        have_next = true;
        continue;
      }
      out.push_back(cur.tok);
      st.apply(cur.tok);
      for (size_t p = pos + 1; p < pos + cur.tok.len; ++p) insert(p);
      pos += cur.tok.len;
      continue;
    }
    out.push_back(cur.tok);
    st.apply(cur.tok);
    size_t stop = pos + cur.tok.len;
    if (pp.lazy == 0 && cur.tok.len > 32) stop = pos + 8;  // long matches: index only their start
    for (size_t p = pos; p < stop; ++p) insert(p);
    pos += cur.tok.len;
  }
}

// ---------------------------------------------------------------------------------------
// Near-optimal parsing.

void LzOptimalParser::collect(LzHistory& h, BinaryTreeFinder& finder, size_t begin, size_t end,
                              const LzOptimalParams& pp) {
  const size_t n = end - begin;
  first_.assign(n + 1, 0);
  matches_.clear();
  LzMatch buf[BinaryTreeFinder::kMaxOut];
  const size_t data_end = h.data.size();
  for (size_t p = begin; p < end; ++p) {
    first_[p - begin] = uint32_t(matches_.size());
    // The trees look at every byte there is; the tokens may use those up to end.
    uint32_t seen = uint32_t(std::min<size_t>(data_end - p, kMaxMatch));
    uint32_t avail = uint32_t(std::min<size_t>(end - p, kMaxMatch));
    if (seen < 3) continue;
    int cnt = finder.find_insert(h, p, seen, pp.depth, pp.nice, buf);
    if (cnt > 0 && buf[cnt - 1].len >= pp.nice) {
      LzMatch& m = buf[cnt - 1];
      m.len = h.common(p - m.dist, p, std::min<uint32_t>(seen, uint32_t(max_match_at(m.dist))));
    }
    for (int k = 0; k < cnt; ++k) {
      LzMatch m = buf[k];
      if (m.len > avail) m.len = avail;
      if (m.len >= 2) matches_.push_back(m);
    }
  }
  first_[n] = uint32_t(matches_.size());
}

void LzOptimalParser::search(const LzHistory& h, size_t begin, size_t end, uint32_t nice, const LzPrices& P,
                             const LzParseState& state, std::vector<LzToken>& out, LzParseState& end_state) {
  const size_t n = end - begin;
  const uint32_t kInf = 0xFFFFFFFFu;
  cost_.assign(n + 1, kInf);
  from_.resize(n + 1);
  via_.resize(n + 1);
  lead_.assign(n + 1, LzToken{kTokLiteral, 0, 0, 0});
  states_.resize(n + 1);
  cost_[0] = 0;
  states_[0] = state;
  const uint8_t* data = h.data.data();
  size_t jump_to = 0;

  for (size_t i = 0; i < n; ++i) {
    // Positions inside a long match that was found at an earlier position are not
    // expanded: that match is taken as it is.
    if (cost_[i] == kInf || i < jump_to) continue;
    if (i > 0) {
      LzParseState s = states_[from_[i]];
      if (lead_[i].len) s.apply(lead_[i]);
      s.apply(via_[i]);
      states_[i] = s;
    }
    const size_t pos = begin + i;
    const uint32_t base = cost_[i];
    const LzParseState& st = states_[i];
    const uint32_t avail = uint32_t(std::min<size_t>(n - i, kMaxMatch));
    auto relax = [&](size_t j, uint32_t c, const LzToken& t) {
      if (c < cost_[j]) {
        cost_[j] = c;
        from_[j] = uint32_t(i);
        via_[j] = t;
        lead_[j].len = 0;
      }
    };
    // After a match of len at dist (costing c, leaving last_len = len): one literal, then
    // the same distance again.
    auto relax_after = [&](uint32_t len, uint32_t dist, uint32_t c, const LzToken& first) {
      size_t at = i + len;  // the literal
      if (at + 3 > n) return;
      uint32_t max2 = uint32_t(std::min<size_t>(n - at - 1, kMaxRecentLen));
      uint32_t len2 = h.common(pos + len + 1 - dist, pos + len + 1, max2);
      if (len2 < 2) return;
      uint32_t lit = P.sym[data[pos + len]];
      uint32_t c2 = c + lit + P.sym[lzt::kMain + kSymRecent] + P.recent_len[len2 - 2];
      LzToken last = LzToken::recent(0, len2);
      if (len2 == len) {
        uint32_t again = c + lit + P.sym[lzt::kMain + kSymRepeatLast];
        if (again < c2) c2 = again, last = LzToken::repeat_last(len);
      }
      size_t j = at + 1 + len2;
      if (c2 < cost_[j]) {
        cost_[j] = c2;
        from_[j] = uint32_t(i);
        via_[j] = last;
        lead_[j] = first;
      }
    };
    relax(i + 1, base + P.sym[data[pos]], LzToken::literal(data[pos]));

    uint32_t longest = 0;
    if (avail >= 2) {
      for (int r = 0; r < 4; ++r) {
        uint32_t d = st.reps[r];
        if (!distance_ok(h, pos, d)) continue;
        bool dup = false;
        for (int k = 0; k < r; ++k) dup |= st.reps[k] == d;
        if (dup) continue;
        uint32_t len = h.common(pos - d, pos, std::min<uint32_t>(avail, kMaxRecentLen));
        if (len < 2) continue;
        uint32_t b = base + P.sym[lzt::kMain + kSymRecent + r];
        for (uint32_t l = 2; l <= len; ++l) relax(i + l, b + P.recent_len[l - 2], LzToken::recent(r, l));
        if (r == 0 && st.last_len >= 2 && st.last_len <= len)
          relax(i + st.last_len, base + P.sym[lzt::kMain + kSymRepeatLast], LzToken::repeat_last(st.last_len));
        if (len < avail) relax_after(len, d, b + P.recent_len[len - 2], LzToken::recent(r, len));
        longest = std::max(longest, len);
      }
    }
    {
      const LzMatch* m = matches_.data() + first_[i];
      const LzMatch* me = matches_.data() + first_[i + 1];
      if (m != me) {
        for (const LzMatch* q = m; q != me; ++q) {
          if (q->dist <= 256) {
            relax(i + 2, base + P.short_dist[q->dist], LzToken::short_match(q->dist));
            break;
          }
        }
        uint32_t prev_len = 2;
        for (const LzMatch* q = m; q != me; ++q) {
          uint32_t d = q->dist;
          uint32_t lo = std::max<uint32_t>(prev_len + 1, uint32_t(min_match_at(d)));
          uint32_t hi = std::min<uint32_t>(q->len, uint32_t(max_match_at(d)));
          if (hi > avail) hi = avail;
          if (lo <= hi) {
            uint32_t b = base + P.distance(d);
            const uint32_t* lp = P.long_len - 3 - distance_bonus(d);
            for (uint32_t l = lo; l <= hi; ++l) relax(i + l, b + lp[l], LzToken::long_match(l, d));
            if (hi < avail) relax_after(hi, d, b + lp[hi], LzToken::long_match(hi, d));
          }
          prev_len = std::max(prev_len, q->len);
        }
        uint32_t top = std::min<uint32_t>(std::min<uint32_t>(me[-1].len, avail), uint32_t(max_match_at(me[-1].dist)));
        longest = std::max(longest, top);
      }
    }
    if (longest >= nice) jump_to = i + longest;
  }

  // Walk back from the end.
  size_t count = 0;
  for (size_t j = n; j > 0; j = from_[j]) count += lead_[j].len ? 3 : 1;
  size_t at = out.size();
  out.resize(at + count);
  for (size_t j = n, k = at + count; j > 0; j = from_[j]) {
    out[--k] = via_[j];
    if (lead_[j].len) {
      out[--k] = LzToken::literal(data[begin + from_[j] + lead_[j].len]);
      out[--k] = lead_[j];
    }
  }
  LzParseState s = state;
  for (size_t k = at; k < out.size(); ++k) s.apply(out[k]);
  end_state = s;
}

void LzOptimalParser::parse(LzHistory& h, BinaryTreeFinder& finder, size_t begin, size_t end,
                            const LzOptimalParams& pp, LzPrices& prices, bool have_prices, LzParseState& state,
                            std::vector<LzToken>& out) {
  if (begin >= end) return;
  collect(h, finder, begin, end, pp);
  if (!have_prices) prices.initial(h.data.data() + begin, end - begin);
  const size_t at = out.size();
  LzParseState end_state;
  int passes = std::max(1, pp.passes);
  for (int pass = 0; pass < passes; ++pass) {
    out.resize(at);
    search(h, begin, end, pp.jump, prices, state, out, end_state);
    LzHistogram hist;
    for (size_t k = at; k < out.size(); ++k) hist.count(out[k]);
    ++hist.f[kSymEndBlock];
    prices.from_histogram(hist);
  }
  state = end_state;
}
