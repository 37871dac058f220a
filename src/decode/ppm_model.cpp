// The PPM context model: start, restart, symbol events, rescaling and learning.
#include "decode/ppm_model.h"

namespace {

constexpr uint16_t kBinEscSeed[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kEscExpand[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

inline void swap_states(uint8_t* a, uint8_t* b) {
  uint8_t t[6];
  std::memcpy(t, a, 6);
  std::memcpy(a, b, 6);
  std::memcpy(b, t, 6);
}

}  // namespace

void PpmModel::start_model(uint32_t order) {
  mark_stamp = 1;
  order_limit = order;
  restart_model();
  restarts = 0;
  bin_col_of[0] = 0;
  bin_col_of[1] = 2;
  std::memset(bin_col_of + 2, 4, 9);
  std::memset(bin_col_of + 11, 6, 256 - 11);
  for (int i = 0; i < 3; i++) see_row_of[i] = static_cast<uint8_t>(i);
  for (int i = 3, m = 3, left = 1, step = 1; i < 256; i++) {
    see_row_of[i] = static_cast<uint8_t>(m);
    if (--left == 0) {
      left = ++step;
      m++;
    }
  }
  std::memset(high_flag_of, 0, 64);
  std::memset(high_flag_of + 64, 8, 256 - 64);
  see_fallback.summ = 0;
  see_fallback.count = 0;
  see_fallback.shift = kSeePeriodBits;
}

void PpmModel::restart_model() {
  restarts++;
  std::memset(seen_mark, 0, sizeof seen_mark);
  arena.lay_out();
  hit_run_start = -static_cast<int32_t>(order_limit < 12 ? order_limit : 12) - 1;
  cur_ctx = top_ctx = arena.alloc_context();
  uint8_t* c = ptr(cur_ctx);
  wr32(c + kSuffix, 0);
  order_gap = order_limit;
  wr16(c + kCount, 256);
  wr16(c + kTotal, 257);
  uint32_t stats = arena.alloc_units(128);
  wr32(c + kStats, stats);
  uint8_t* p = ptr(stats);
  for (int i = 0; i < 256; i++, p += kStateSize) {
    p[0] = static_cast<uint8_t>(i);
    p[1] = 1;
    wr32(p + 2, 0);
  }
  hit_state = stats;
  hit_run = hit_run_start;
  last_hit = 0;
  for (int i = 0; i < 128; i++) {
    for (int k = 0; k < 8; k++) {
      uint16_t v = static_cast<uint16_t>(kBinTotal - kBinEscSeed[k] / (i + 2));
      for (int m = 0; m < 64; m += 8) bin_prob[i][k + m] = v;
    }
  }
  for (int i = 0; i < 25; i++) {
    for (int k = 0; k < 16; k++) see[i][k] = {static_cast<uint16_t>((5 * i + 10) << 3), 3, 4};
  }
}

void PpmModel::first_hit(uint8_t* ctx, uint8_t* p) {
  sub_low = 0;
  sub_high = p[1];
  last_hit = 2 * sub_high > scale;
  hit_run += last_hit;
  hit_state = ref(p);
  p[1] = static_cast<uint8_t>(p[1] + 4);
  wr16(ctx + kTotal, rd16(ctx + kTotal) + 4);
  if (p[1] > kFreqCap) rescale();
}

void PpmModel::later_hit(uint8_t* ctx, uint8_t* p) {
  last_hit = 0;
  hit_state = ref(p);
  p[1] = static_cast<uint8_t>(p[1] + 4);
  wr16(ctx + kTotal, rd16(ctx + kTotal) + 4);
  if (p[1] > p[1 - static_cast<int>(kStateSize)]) {
    swap_states(p, p - kStateSize);
    hit_state -= kStateSize;
    if (p[1 - static_cast<int>(kStateSize)] > kFreqCap) rescale();
  }
}

void PpmModel::first_escape(uint8_t* ctx, uint32_t n, uint32_t hi) {
  prev_high_flag = high_flag_of[ptr(hit_state)[0]];
  sub_low = hi;
  sub_high = scale;
  masked_count = n;
  const uint8_t* p = ptr(rd32(ctx + kStats));
  for (uint32_t i = 0; i < n; i++, p += kStateSize) seen_mark[p[0]] = mark_stamp;
  hit_state = 0;
}

uint16_t* PpmModel::bin_slot(uint8_t* ctx) {
  uint32_t suffix = rd32(ctx + kSuffix);
  if (!valid(suffix) || !hit_state) return nullptr;
  const uint8_t* s = ctx + kOneState;
  prev_high_flag = high_flag_of[ptr(hit_state)[0]];
  uint32_t col = last_hit + bin_col_of[(rd16(ptr(suffix) + kCount) - 1) & 255] + prev_high_flag +
                 2 * high_flag_of[s[0]] + ((hit_run >> 26) & 0x20);
  return &bin_prob[(s[1] - 1) & 127][col];
}

void PpmModel::bin_hit(uint8_t* ctx, uint16_t* bs) {
  uint8_t* s = ctx + kOneState;
  hit_state = ref(s);
  if (s[1] < 128) s[1]++;
  sub_low = 0;
  sub_high = *bs;
  *bs = static_cast<uint16_t>(*bs + 128 - ((*bs + 32) >> 7));
  last_hit = 1;
  hit_run++;
}

void PpmModel::bin_escape(uint8_t* ctx, uint16_t* bs) {
  sub_low = *bs;
  *bs = static_cast<uint16_t>(*bs - ((*bs + 32) >> 7));
  sub_high = kBinTotal;
  esc_seed = kEscExpand[*bs >> 10];
  masked_count = 1;
  seen_mark[ctx[kOneState]] = mark_stamp;
  last_hit = 0;
  hit_state = 0;
}

PpmSee* PpmModel::see_for(uint8_t* ctx, uint32_t n, uint32_t d) {
  PpmSee* s;
  if (n == 256) {
    s = &see_fallback;
    scale = 1;
    return s;
  }
  uint32_t suffix = rd32(ctx + kSuffix);
  if (!valid(suffix)) return nullptr;
  int32_t wider = static_cast<int32_t>(rd16(ptr(suffix) + kCount)) - static_cast<int32_t>(n);
  s = &see[see_row_of[(d - 1) & 255]][(static_cast<int32_t>(d) < wider) + 2 * (rd16(ctx + kTotal) < 11 * n) +
                                      4 * (masked_count > d) + prev_high_flag];
  uint32_t r = s->summ >> s->shift;
  s->summ = static_cast<uint16_t>(s->summ - r);
  scale = r + (r == 0);
  return s;
}

uint32_t PpmModel::collect(uint8_t* stats, uint32_t n, uint32_t d, uint8_t** out, uint32_t* hi) {
  uint32_t k = 0, sum = 0;
  uint8_t stamp = mark_stamp;
  for (uint32_t i = 0; i < n && k < d; i++, stats += kStateSize) {
    if (seen_mark[stats[0]] != stamp) {
      sum += stats[1];
      out[k++] = stats;
    }
  }
  *hi = sum;
  return k;
}

void PpmModel::masked_hit(uint8_t* ctx, uint8_t* p, PpmSee* see) {
  if (see->shift < kSeePeriodBits && --see->count == 0) {
    see->summ = static_cast<uint16_t>(see->summ + see->summ);
    see->count = static_cast<uint8_t>(3 << see->shift++);
  }
  hit_state = ref(p);
  p[1] = static_cast<uint8_t>(p[1] + 4);
  wr16(ctx + kTotal, rd16(ctx + kTotal) + 4);
  if (p[1] > kFreqCap) rescale();
  mark_stamp++;
  hit_run = hit_run_start;
}

void PpmModel::masked_escape(uint8_t* const* ps, uint32_t k, uint32_t n, PpmSee* see) {
  for (uint32_t i = 0; i < k; i++) seen_mark[ps[i][0]] = mark_stamp;
  see->summ = static_cast<uint16_t>(see->summ + scale);
  masked_count = n;
}

void PpmModel::rescale() {
  uint8_t* ctx = ptr(cur_ctx);
  uint32_t n = rd16(ctx + kCount);
  uint32_t stats = rd32(ctx + kStats);
  uint8_t* first = ptr(stats);
  uint8_t* p = ptr(hit_state);
  for (; p != first; p -= kStateSize) swap_states(p, p - kStateSize);
  first[1] = static_cast<uint8_t>(first[1] + 4);
  uint32_t total = rd16(ctx + kTotal) + 4;
  int32_t esc = static_cast<int32_t>(total) - first[1];
  uint32_t adder = order_gap != 0;
  first[1] = static_cast<uint8_t>((first[1] + adder) >> 1);
  total = first[1];
  for (uint32_t i = 1; i < n; i++) {
    p = first + i * kStateSize;
    esc -= p[1];
    p[1] = static_cast<uint8_t>((p[1] + adder) >> 1);
    total += p[1];
    if (p[1] > p[1 - static_cast<int>(kStateSize)]) {
      uint8_t t[6];
      std::memcpy(t, p, 6);
      uint8_t* q = p;
      do {
        std::memcpy(q, q - kStateSize, 6);
        q -= kStateSize;
      } while (q != first && t[1] > q[1 - static_cast<int>(kStateSize)]);
      std::memcpy(q, t, 6);
    }
  }
  uint32_t count = n;
  if (first[(n - 1) * kStateSize + 1] == 0) {
    uint32_t zeros = 0;
    while (zeros < n - 1 && first[(n - 1 - zeros) * kStateSize + 1] == 0) zeros++;
    esc += static_cast<int32_t>(zeros);
    count = n - zeros;
    wr16(ctx + kCount, count);
    if (count == 1) {
      uint8_t t[6];
      std::memcpy(t, first, 6);
      do {
        t[1] = static_cast<uint8_t>(t[1] - (t[1] >> 1));
        esc >>= 1;
      } while (esc > 1);
      arena.free_units(stats, (n + 1) >> 1);
      std::memcpy(ctx + kOneState, t, 6);
      hit_state = cur_ctx + kOneState;
      return;
    }
  }
  total += static_cast<uint32_t>(esc - (esc >> 1));
  wr16(ctx + kTotal, total);
  uint32_t n0 = (n + 1) >> 1, n1 = (count + 1) >> 1;
  if (n0 != n1) {
    stats = arena.shrink_units(stats, n0, n1);
    wr32(ctx + kStats, stats);
  }
  hit_state = stats;
}

uint32_t PpmModel::create_successors(bool skip, uint8_t* p1) {
  uint8_t* hs = ptr(hit_state);
  uint8_t sym = hs[0];
  uint32_t up = rd32(hs + 2);
  uint32_t pc = cur_ctx;
  uint8_t* list[kMaxOrder];
  uint32_t k = 0;
  uint8_t* p;
  if (!skip) {
    list[k++] = hs;
    if (!rd32(ptr(pc) + kSuffix)) goto built;
  }
  if (p1) {
    p = p1;
    pc = rd32(ptr(pc) + kSuffix);
    goto entry;
  }
  do {
    pc = rd32(ptr(pc) + kSuffix);
    if (rd16(ptr(pc) + kCount) != 1) {
      uint32_t n = rd16(ptr(pc) + kCount);
      p = ptr(rd32(ptr(pc) + kStats));
      uint32_t i = 0;
      while (p[0] != sym) {
        if (++i >= n) return 0;
        p += kStateSize;
      }
    } else {
      p = ptr(pc) + kOneState;
    }
  entry:
    if (rd32(p + 2) != up) {
      pc = rd32(p + 2);
      break;
    }
    if (k >= kMaxOrder) return 0;
    list[k++] = p;
  } while (rd32(ptr(pc) + kSuffix));
built:
  if (k == 0) return pc;
  uint8_t u[6];
  u[0] = *ptr(up);
  wr32(u + 2, up + 1);
  {
    uint8_t* c = ptr(pc);
    uint32_t n = rd16(c + kCount);
    if (n != 1) {
      if (pc <= arena.text) return 0;
      p = ptr(rd32(c + kStats));
      uint32_t i = 0;
      while (p[0] != u[0]) {
        if (++i >= n) return 0;
        p += kStateSize;
      }
      uint32_t cf = p[1] - 1u;
      uint32_t s0 = rd16(c + kTotal) - n - cf;
      u[1] = static_cast<uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (2 * cf + 3 * s0 - 1) / (2 * s0)));
    } else {
      u[1] = c[kOneState + 1];
    }
  }
  do {
    uint32_t nc = arena.alloc_context();
    if (!nc) return 0;
    uint8_t* c = ptr(nc);
    wr16(c + kCount, 1);
    std::memcpy(c + kOneState, u, 6);
    wr32(c + kSuffix, pc);
    wr32(list[--k] + 2, nc);
    pc = nc;
  } while (k);
  return pc;
}

// Learns the symbol of hit_state. False only when the model is inconsistent.
bool PpmModel::update_model() {
  uint8_t fs[6];
  std::memcpy(fs, ptr(hit_state), 6);
  uint32_t fs_successor = rd32(fs + 2);
  uint8_t* p = nullptr;
  uint8_t* cur = ptr(cur_ctx);
  uint32_t pc = rd32(cur + kSuffix);
  if (fs[1] < kFreqCap / 4 && pc) {
    uint8_t* c = ptr(pc);
    uint32_t n = rd16(c + kCount);
    if (n != 1) {
      p = ptr(rd32(c + kStats));
      if (p[0] != fs[0]) {
        uint32_t i = 0;
        do {
          if (++i >= n) return false;
          p += kStateSize;
        } while (p[0] != fs[0]);
        if (p[1] >= p[1 - static_cast<int>(kStateSize)]) {
          swap_states(p, p - kStateSize);
          p -= kStateSize;
        }
      }
      if (p[1] < kFreqCap - 9) {
        p[1] = static_cast<uint8_t>(p[1] + 2);
        wr16(c + kTotal, rd16(c + kTotal) + 2);
      }
    } else {
      p = c + kOneState;
      if (p[1] < 32) p[1]++;
    }
  }
  uint32_t successor;
  if (order_gap == 0) {
    uint32_t s = create_successors(true, p);
    wr32(ptr(hit_state) + 2, s);
    cur_ctx = top_ctx = s;
    if (!s) goto restart;
    return true;
  }
  *ptr(arena.text) = fs[0];
  successor = ++arena.text;
  if (arena.text >= arena.area_floor) goto restart;
  if (fs_successor) {
    if (fs_successor <= arena.text) {
      fs_successor = create_successors(false, p);
      if (!fs_successor) goto restart;
    }
    if (--order_gap == 0) {
      successor = fs_successor;
      if (top_ctx != cur_ctx) arena.text--;
    }
  } else {
    wr32(ptr(hit_state) + 2, successor);
    fs_successor = cur_ctx;
  }
  {
    uint32_t ns = rd16(cur + kCount);
    uint32_t s0 = rd16(cur + kTotal) - ns - (fs[1] - 1u);
    for (pc = top_ctx; pc != cur_ctx; pc = rd32(ptr(pc) + kSuffix)) {
      uint8_t* c = ptr(pc);
      uint32_t ns1 = rd16(c + kCount);
      uint32_t total;
      if (ns1 != 1) {
        if ((ns1 & 1) == 0) {
          if (ns1 >= 256) return false;
          uint32_t stats = arena.expand_units(rd32(c + kStats), ns1 >> 1);
          if (!stats) goto restart;
          wr32(c + kStats, stats);
        }
        total = rd16(c + kTotal);
        total += (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (total <= 8 * ns1));
      } else {
        uint32_t stats = arena.alloc_units(1);
        if (!stats) goto restart;
        uint8_t* q = ptr(stats);
        std::memcpy(q, c + kOneState, 6);
        wr32(c + kStats, stats);
        q[1] = q[1] < kFreqCap / 4 - 1 ? static_cast<uint8_t>(q[1] * 2) : static_cast<uint8_t>(kFreqCap - 4);
        total = q[1] + esc_seed + (ns > 3);
      }
      uint32_t cf = 2 * fs[1] * (total + 6);
      uint32_t sf = s0 + total;
      if (cf < 6 * sf) {
        cf = 1 + (cf > sf) + (cf >= 4 * sf);
        total += 3;
      } else {
        cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
        total += cf;
      }
      wr16(c + kTotal, total);
      uint8_t* q = ptr(rd32(c + kStats)) + ns1 * kStateSize;
      q[0] = fs[0];
      q[1] = static_cast<uint8_t>(cf);
      wr32(q + 2, successor);
      wr16(c + kCount, ns1 + 1);
    }
  }
  top_ctx = cur_ctx = fs_successor;
  return true;
restart:
  restart_model();
  mark_stamp = 0;
  return true;
}

bool PpmModel::next_context() {
  uint32_t successor = rd32(ptr(hit_state) + 2);
  if (order_gap == 0 && successor > arena.text) {
    cur_ctx = top_ctx = successor;
    return true;
  }
  if (!update_model()) return false;
  if (mark_stamp == 0) {
    mark_stamp = 1;
    std::memset(seen_mark, 0, sizeof seen_mark);
  }
  return true;
}
