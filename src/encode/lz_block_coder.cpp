#include "encode/lz_block_coder.h"

#include <algorithm>
#include <cstring>

#include "encode/huff_lengths.h"

using namespace lzf;

void LzHistogram::clear() { std::memset(f, 0, sizeof f); }

void LzHistogram::add(const LzHistogram& o) {
  for (int i = 0; i < kTableSymbols; ++i) f[i] += o.f[i];
}

void LzHistogram::count(const LzToken& t) {
  switch (t.kind) {
    case kTokLiteral:
      ++f[lzt::kMain + t.value];
      break;
    case kTokRepeatLast:
      ++f[lzt::kMain + kSymRepeatLast];
      break;
    case kTokRecent:
      ++f[lzt::kMain + kSymRecent + t.rep];
      ++f[lzt::kRep + length_index(t.len - 2u)];
      break;
    case kTokShort:
      ++f[lzt::kMain + kSymShort + short_index(t.value)];
      break;
    case kTokLong: {
      ++f[lzt::kMain + kSymMatch + length_index(t.len - 3u - distance_bonus(t.value))];
      int slot = distance_slot(t.value);
      ++f[lzt::kDist + slot];
      if (slot > 9) ++f[lzt::kLow + ((t.value - 1 - kDistBase[slot]) & 15)];
      break;
    }
  }
}

void table_lengths(const LzHistogram& h, uint8_t* lengths) {
  uint32_t main[kMainSymbols];
  std::memcpy(main, h.f, sizeof main);
  if (main[kSymEndBlock] == 0) main[kSymEndBlock] = 1;
  huff_limited_lengths(main, kMainSymbols, kMaxCodeLen, lengths + lzt::kMain);
  huff_limited_lengths(h.f + lzt::kDist, kDistSymbols, kMaxCodeLen, lengths + lzt::kDist);
  huff_limited_lengths(h.f + lzt::kLow, kLowSymbols, kMaxCodeLen, lengths + lzt::kLow);
  huff_limited_lengths(h.f + lzt::kRep, kRepSymbols, kMaxCodeLen, lengths + lzt::kRep);
}

// ---------------------------------------------------------------------------------------
// Table headers.

namespace {

// Bits of the 20 pre-code lengths (4 bits each; 15 is escaped; runs of three or more zeros
// are one escape).
uint64_t pre_lengths_bits(const uint8_t* pl) {
  uint64_t bits = 0;
  for (int i = 0; i < kPreSymbols;) {
    if (pl[i] == 0) {
      int run = 0;
      while (i + run < kPreSymbols && pl[i + run] == 0 && run < 17) ++run;
      if (run >= 3) {
        bits += 8;
        i += run;
        continue;
      }
      bits += 4;
      ++i;
    } else {
      bits += pl[i] == 15 ? 8 : 4;
      ++i;
    }
  }
  return bits;
}

void write_pre_lengths(const uint8_t* pl, LzBitWriter& out) {
  for (int i = 0; i < kPreSymbols;) {
    if (pl[i] == 0) {
      int run = 0;
      while (i + run < kPreSymbols && pl[i + run] == 0 && run < 17) ++run;
      if (run >= 3) {
        out.put(15, 4);
        out.put(uint32_t(run - 2), 4);
        i += run;
        continue;
      }
      out.put(0, 4);
      ++i;
    } else {
      out.put(pl[i], 4);
      if (pl[i] == 15) out.put(0, 4);
      ++i;
    }
  }
}

// Cheapest pre-code tokenization of the lengths for the given symbol prices.
uint64_t tokenize_lengths(const uint8_t* len, const uint8_t* base, const uint32_t* price,
                          std::vector<LzPreToken>* out) {
  const int n = kTableSymbols;
  uint64_t cost[kTableSymbols + 1];
  int16_t step[kTableSymbols + 1];  // > 0: run length; the kind is in kind[]
  uint8_t kind[kTableSymbols + 1];
  cost[n] = 0;
  for (int i = n - 1; i >= 0; --i) {
    cost[i] = price[(len[i] - base[i]) & 15] + cost[i + 1];
    step[i] = 1;
    kind[i] = uint8_t((len[i] - base[i]) & 15);
    // Runs of the previous length.
    if (i > 0) {
      int run = 0;
      while (i + run < n && len[i + run] == len[i - 1] && run < 138) ++run;
      for (int r = 3; r <= run; r = (r < 10 || r == run) ? r + 1 : run) {
        int sym = r <= 10 ? 16 : 17;
        uint64_t c = price[sym] + (sym == 16 ? 3 : 7) + cost[i + r];
        if (c < cost[i]) {
          cost[i] = c;
          step[i] = int16_t(r);
          kind[i] = uint8_t(sym);
        }
      }
    }
    if (len[i] == 0) {
      int run = 0;
      while (i + run < n && len[i + run] == 0 && run < 138) ++run;
      for (int r = 3; r <= run; r = (r < 10 || r == run) ? r + 1 : run) {
        int sym = r <= 10 ? 18 : 19;
        uint64_t c = price[sym] + (sym == 18 ? 3 : 7) + cost[i + r];
        if (c < cost[i]) {
          cost[i] = c;
          step[i] = int16_t(r);
          kind[i] = uint8_t(sym);
        }
      }
    }
  }
  if (out) {
    out->clear();
    for (int i = 0; i < n;) {
      LzPreToken t{kind[i], 0, 0};
      if (kind[i] >= 16) {
        bool small = kind[i] == 16 || kind[i] == 18;
        t.extra_bits = small ? 3 : 7;
        t.extra = uint8_t(step[i] - (small ? 3 : 11));
      }
      out->push_back(t);
      i += step[i];
    }
  }
  return cost[0];
}

}  // namespace

LzHeaderPlan plan_header(const uint8_t* lengths, const uint8_t* base, bool keep) {
  static const uint8_t zeros[kTableSymbols] = {0};
  if (!keep) base = zeros;
  LzHeaderPlan best;
  best.keep = keep;
  uint32_t price[kPreSymbols];
  for (uint32_t& p : price) p = 5;
  std::vector<LzPreToken> toks;
  for (int iter = 0; iter < 4; ++iter) {
    tokenize_lengths(lengths, base, price, &toks);
    uint32_t freq[kPreSymbols] = {0};
    for (const LzPreToken& t : toks) ++freq[t.sym];
    uint8_t pl[kPreSymbols];
    huff_limited_lengths(freq, kPreSymbols, kMaxCodeLen, pl);
    uint64_t bits = 2 + pre_lengths_bits(pl);
    for (const LzPreToken& t : toks) bits += pl[t.sym] + t.extra_bits;
    if (bits < best.bits) {
      best.bits = bits;
      std::memcpy(best.pre_lengths, pl, sizeof pl);
      best.tokens = toks;
    }
    for (int s = 0; s < kPreSymbols; ++s) price[s] = pl[s] ? pl[s] : 9;
  }
  return best;
}

// ---------------------------------------------------------------------------------------
// Blocks.

LzBlockCoder::LzBlockCoder() { reset(); }

void LzBlockCoder::reset() {
  std::memset(lengths_, 0, sizeof lengths_);
  std::memset(codes_, 0, sizeof codes_);
  in_force_ = false;
  low_prev_ = 0;
  low_reuse_ = 0;
}

void LzBlockCoder::set_codes() {
  huff_canonical_codes(lengths_ + lzt::kMain, kMainSymbols, codes_ + lzt::kMain);
  huff_canonical_codes(lengths_ + lzt::kDist, kDistSymbols, codes_ + lzt::kDist);
  huff_canonical_codes(lengths_ + lzt::kLow, kLowSymbols, codes_ + lzt::kLow);
  huff_canonical_codes(lengths_ + lzt::kRep, kRepSymbols, codes_ + lzt::kRep);
}

// Decides the low-distance code of every long match with a slot above 9: 0..15 explicit,
// 16 = reuse the previous value for this match and the next 15, -1 = covered by a reuse.
// A reuse run is only started when all matches it covers are in this run of tokens.
void LzBlockCoder::plan_low_codes(const LzToken* t, size_t n, bool after_header, bool allow16,
                                  std::vector<int8_t>& codes, uint32_t& prev, uint32_t& reuse) const {
  codes.assign(n, -2);
  std::vector<size_t> idx;
  std::vector<uint8_t> low;
  for (size_t i = 0; i < n; ++i) {
    if (t[i].kind != kTokLong) continue;
    int slot = distance_slot(t[i].value);
    if (slot <= 9) continue;
    idx.push_back(i);
    low.push_back(uint8_t((t[i].value - 1 - kDistBase[slot]) & 15));
  }
  std::vector<uint32_t> run(idx.size() + 1, 0);
  for (size_t k = idx.size(); k-- > 0;) run[k] = (k + 1 < idx.size() && low[k + 1] == low[k]) ? run[k + 1] + 1 : 1;
  if (after_header) prev = reuse = 0;
  for (size_t k = 0; k < idx.size(); ++k) {
    if (reuse > 0) {
      codes[idx[k]] = -1;  // the value equals prev by construction
      --reuse;
    } else if (allow16 && low[k] == prev && run[k] >= 1 + kLowReuseRun) {
      codes[idx[k]] = 16;
      reuse = kLowReuseRun;
    } else {
      codes[idx[k]] = int8_t(low[k]);
      prev = low[k];
    }
  }
}

namespace {
void histogram_with_low(const LzToken* t, size_t n, const std::vector<int8_t>& low_codes, LzHistogram& h) {
  h.clear();
  for (size_t i = 0; i < n; ++i) {
    h.count(t[i]);
    if (t[i].kind == kTokLong && low_codes[i] != -2) {
      int slot = distance_slot(t[i].value);
      --h.f[lzt::kLow + ((t[i].value - 1 - kDistBase[slot]) & 15)];
      if (low_codes[i] >= 0) ++h.f[lzt::kLow + low_codes[i]];
    }
  }
}
}  // namespace

uint64_t LzBlockCoder::block_cost(const LzHistogram& h, uint8_t* lengths_out) const {
  uint8_t tmp[kTableSymbols];
  uint8_t* len = lengths_out ? lengths_out : tmp;
  table_lengths(h, len);
  uint64_t bits = huff_cost(h.f, len, kTableSymbols);
  LzHeaderPlan plan = plan_header(len, lengths_, false);
  return bits + plan.bits + len[kSymEndBlock] + 1;
}

void LzBlockCoder::write_header(const uint8_t* lengths, LzBitWriter& out) {
  LzHeaderPlan plain = plan_header(lengths, lengths_, false);
  bool any_prev = false;
  for (int i = 0; i < kTableSymbols && !any_prev; ++i) any_prev = lengths_[i] != 0;
  if (any_prev) {
    LzHeaderPlan diff = plan_header(lengths, lengths_, true);
    if (diff.bits < plain.bits) plain = std::move(diff);
  }
  if (in_force_) {
    out.put(codes_[kSymEndBlock], lengths_[kSymEndBlock]);
    out.put(1, 1);
  }
  out.align();
  out.put(0, 1);
  out.put(plain.keep ? 1 : 0, 1);
  write_pre_lengths(plain.pre_lengths, out);
  uint16_t pre_codes[kPreSymbols];
  huff_canonical_codes(plain.pre_lengths, kPreSymbols, pre_codes);
  for (const LzPreToken& t : plain.tokens) {
    out.put(pre_codes[t.sym], plain.pre_lengths[t.sym]);
    if (t.extra_bits) out.put(t.extra, t.extra_bits);
  }
  std::memcpy(lengths_, lengths, kTableSymbols);
  set_codes();
  in_force_ = true;
  low_prev_ = low_reuse_ = 0;
}

void LzBlockCoder::write_symbols(const LzToken* t, size_t n, const std::vector<int8_t>& low_codes,
                                 LzBitWriter& out) {
  const uint16_t* code = codes_;
  const uint8_t* len = lengths_;
  auto sym = [&](int s) { out.put(code[s], len[s]); };
  for (size_t i = 0; i < n; ++i) {
    const LzToken& k = t[i];
    switch (k.kind) {
      case kTokLiteral:
        sym(lzt::kMain + int(k.value));
        break;
      case kTokRepeatLast:
        sym(lzt::kMain + kSymRepeatLast);
        break;
      case kTokRecent: {
        sym(lzt::kMain + kSymRecent + k.rep);
        uint32_t v = k.len - 2u;
        int li = length_index(v);
        sym(lzt::kRep + li);
        if (kLenBits[li]) out.put(v - kLenBase[li], kLenBits[li]);
        break;
      }
      case kTokShort: {
        int si = short_index(k.value);
        sym(lzt::kMain + kSymShort + si);
        out.put(k.value - 1 - kShortBase[si], kShortBits[si]);
        break;
      }
      case kTokLong: {
        uint32_t v = k.len - 3u - uint32_t(distance_bonus(k.value));
        int li = length_index(v);
        sym(lzt::kMain + kSymMatch + li);
        if (kLenBits[li]) out.put(v - kLenBase[li], kLenBits[li]);
        int slot = distance_slot(k.value);
        sym(lzt::kDist + slot);
        uint32_t extra = k.value - 1 - kDistBase[slot];
        int bits = kDistBits[slot];
        if (slot > 9) {
          if (bits > 4) out.put(extra >> 4, bits - 4);
          if (low_codes[i] >= 0) sym(lzt::kLow + low_codes[i]);
        } else if (bits) {
          out.put(extra, bits);
        }
        break;
      }
    }
  }
}

void LzBlockCoder::write_block(const LzToken* t, size_t n, bool new_header, LzBitWriter& out) {
  std::vector<int8_t> low_codes;
  uint32_t prev = low_prev_, reuse = low_reuse_;
  if (new_header) {
    plan_low_codes(t, n, true, true, low_codes, prev, reuse);
    LzHistogram h;
    histogram_with_low(t, n, low_codes, h);
    uint8_t len[kTableSymbols];
    table_lengths(h, len);
    write_header(len, out);
  } else {
    plan_low_codes(t, n, false, lengths_[lzt::kLow + 16] != 0, low_codes, prev, reuse);
  }
  write_symbols(t, n, low_codes, out);
  low_prev_ = prev;
  low_reuse_ = reuse;
}

void LzBlockCoder::write_tokens(const LzToken* t, size_t n, LzBitWriter& out) {
  if (n == 0) return;
  const size_t seg = segment_tokens ? segment_tokens : 4096;
  // Greedy merging of segments: a segment joins the current block unless coding it with
  // tables of its own (header included) is cheaper.
  std::vector<size_t> cuts;  // block starts
  cuts.push_back(0);
  LzHistogram cur, next, both;
  size_t end0 = std::min(seg, n);
  for (size_t i = 0; i < end0; ++i) cur.count(t[i]);
  uint64_t cur_cost = block_cost(cur, nullptr);
  for (size_t s = end0; s < n; s += seg) {
    size_t e = std::min(n, s + seg);
    next.clear();
    for (size_t i = s; i < e; ++i) next.count(t[i]);
    both = cur;
    both.add(next);
    uint64_t next_cost = block_cost(next, nullptr);
    uint64_t both_cost = block_cost(both, nullptr);
    if (both_cost <= cur_cost + next_cost) {
      cur = both;
      cur_cost = both_cost;
    } else {
      cuts.push_back(s);
      cur = next;
      cur_cost = next_cost;
    }
  }
  cuts.push_back(n);

  for (size_t b = 0; b + 1 < cuts.size(); ++b) {
    const LzToken* bt = t + cuts[b];
    size_t bn = cuts[b + 1] - cuts[b];
    bool new_header = true;
    if (b == 0 && in_force_) {
      // Continue with the tables in force when that is cheaper than new ones.
      std::vector<int8_t> low_codes;
      uint32_t prev = low_prev_, reuse = low_reuse_;
      plan_low_codes(bt, bn, false, lengths_[lzt::kLow + 16] != 0, low_codes, prev, reuse);
      LzHistogram h;
      histogram_with_low(bt, bn, low_codes, h);
      uint64_t keep_cost = huff_cost(h.f, lengths_, kTableSymbols);
      if (keep_cost != UINT64_MAX) {
        prev = reuse = 0;
        plan_low_codes(bt, bn, true, true, low_codes, prev, reuse);
        histogram_with_low(bt, bn, low_codes, h);
        uint8_t len[kTableSymbols];
        uint64_t fresh = block_cost(h, len);
        LzHeaderPlan diff = plan_header(len, lengths_, true);
        LzHeaderPlan plain = plan_header(len, lengths_, false);
        fresh = fresh - plain.bits + std::min(diff.bits, plain.bits) + 4;  // + average padding
        new_header = fresh < keep_cost;
      }
    }
    write_block(bt, bn, new_header, out);
  }
}

void LzBlockCoder::end_file(bool more_follow, LzBitWriter& out) {
  if (!in_force_) {
    LzHistogram h;
    uint8_t len[kTableSymbols];
    table_lengths(h, len);
    write_header(len, out);
  }
  out.put(codes_[kSymEndBlock], lengths_[kSymEndBlock]);
  out.put(0, 1);
  out.put(more_follow ? 0 : 1, 1);
  out.align();
  in_force_ = more_follow;
}
