// The PPM compressor: the decoder's context model driven by a carry-less range encoder.
#include "encode/ppm_encoder.h"

#include <cstdio>
#include <cstdlib>

#include "decode/ppm_model.h"

namespace {

constexpr size_t kMinRun = 64;  // shorter runs cost fewer bits as plain bytes
constexpr size_t kMaxRun = 259;

}  // namespace

struct PpmEncoder::Impl {
  PpmModel model;
  uint32_t order_field = 5;
  int order = 6;
  uint32_t megabytes = 16;
  uint32_t escape = 2;
  bool have_model = false;
  int last_byte = -1;  // the stream's last byte, for runs across solid files
  uint32_t low = 0, range = 0;
  std::vector<uint8_t>* out = nullptr;

  void normalise() {
    for (;;) {
      if ((low ^ (low + range)) >= (1u << 24)) {
        if (range >= (1u << 15)) return;
        range = (0 - low) & ((1u << 15) - 1);
      }
      out->push_back(static_cast<uint8_t>(low >> 24));
      range <<= 8;
      low <<= 8;
    }
  }
  void encode(uint32_t scale) {
    range /= scale;
    if (range == 0) fail("range underflow");
    low += range * model.sub_low;
    range *= model.sub_high - model.sub_low;
  }
  [[noreturn]] static void fail(const char* what) {
    std::fprintf(stderr, "PPM encoder: inconsistent model (%s)\n", what);
    std::abort();
  }
  void encode_symbol(uint32_t c);
};

void PpmEncoder::Impl::encode_symbol(uint32_t c) {
  PpmModel& m = model;
  uint8_t* ctx = m.ptr(m.cur_ctx);
  uint32_t n = PpmModel::rd16(ctx + PpmModel::kCount);
  if (n != 1) {
    uint8_t* p = m.ptr(PpmModel::rd32(ctx + PpmModel::kStats));
    uint32_t scale = PpmModel::rd16(ctx + PpmModel::kTotal);
    m.scale = scale;
    if (p[0] == c) {
      m.first_hit(ctx, p);
    } else {
      uint32_t hi = p[1];
      uint32_t i = 1;
      for (; i < n; i++) {
        p += PpmModel::kStateSize;
        hi += p[1];
        if (p[0] == c) break;
      }
      if (i < n) {
        m.sub_low = hi - p[1];
        m.sub_high = hi;
        m.later_hit(ctx, p);
      } else {
        m.first_escape(ctx, n, hi);
      }
    }
    encode(scale);
  } else {
    uint16_t* bs = m.bin_slot(ctx);
    if (!bs) fail("single-state context");
    if (ctx[PpmModel::kOneState] == c) {
      m.bin_hit(ctx, bs);
    } else {
      m.bin_escape(ctx, bs);
    }
    range >>= 14;
    low += range * m.sub_low;
    range *= m.sub_high - m.sub_low;
  }
  while (!m.hit_state) {
    normalise();
    do {
      m.order_gap++;
      m.cur_ctx = PpmModel::rd32(m.ptr(m.cur_ctx) + PpmModel::kSuffix);
      if (!m.valid(m.cur_ctx)) fail("escape from the root");
    } while (PpmModel::rd16(m.ptr(m.cur_ctx) + PpmModel::kCount) == m.masked_count);
    ctx = m.ptr(m.cur_ctx);
    n = PpmModel::rd16(ctx + PpmModel::kCount);
    uint32_t d = n - m.masked_count;
    PpmSee* see = m.see_for(ctx, n, d);
    if (!see) fail("masked context");
    uint8_t* ps[256];
    uint32_t hi;
    uint32_t k = m.collect(m.ptr(PpmModel::rd32(ctx + PpmModel::kStats)), n, d, ps, &hi);
    uint32_t scale = m.scale + hi;
    m.scale = scale;
    uint32_t run = 0, i = 0;
    for (; i < k; i++) {
      run += ps[i][1];
      if (ps[i][0] == c) break;
    }
    if (i < k) {
      m.sub_low = run - ps[i][1];
      m.sub_high = run;
      m.masked_hit(ctx, ps[i], see);
    } else {
      m.sub_low = hi;
      m.sub_high = scale;
      m.masked_escape(ps, k, n, see);
    }
    encode(scale);
  }
  if (!m.next_context()) fail("update");
  normalise();
}

PpmEncoder::PpmEncoder(int order, int megabytes) : impl_(new Impl) {
  if (order < 2) order = 2;
  if (order > 64) order = 64;
  if (order <= 16) {
    impl_->order_field = static_cast<uint32_t>(order - 1);
  } else {
    impl_->order_field = static_cast<uint32_t>(15 + (order - 16) / 3);
    order = 16 + static_cast<int>(impl_->order_field + 1 - 16) * 3;
  }
  impl_->order = order;
  if (megabytes < 1) megabytes = 1;
  if (megabytes > 256) megabytes = 256;
  impl_->megabytes = static_cast<uint32_t>(megabytes);
}

PpmEncoder::~PpmEncoder() = default;

int PpmEncoder::order() const { return impl_->order; }
uint32_t PpmEncoder::escape() const { return impl_->escape; }
uint32_t PpmEncoder::restarts() const { return impl_->model.restarts; }

uint8_t PpmEncoder::rarest_byte(const uint8_t* data, size_t size) {
  size_t count[256] = {};
  for (size_t i = 0; i < size; i++) count[data[i]]++;
  int best = 0;
  for (int b = 1; b < 256; b++) {
    if (count[b] < count[best]) best = b;
  }
  return static_cast<uint8_t>(best);
}

void PpmEncoder::start_stream() {
  impl_->escape = 2;
  impl_->last_byte = -1;
}

void PpmEncoder::begin_block(std::vector<uint8_t>& out, bool new_model, int escape) {
  Impl& s = *impl_;
  if (!new_model && !s.have_model) new_model = true;
  uint8_t flags = 0x80;
  if (new_model) flags |= static_cast<uint8_t>(0x20 | s.order_field);
  if (escape >= 0) flags |= 0x40;
  out.push_back(flags);
  if (new_model) out.push_back(static_cast<uint8_t>(s.megabytes - 1));
  if (escape >= 0) {
    out.push_back(static_cast<uint8_t>(escape));
    s.escape = static_cast<uint32_t>(escape);
  }
  if (new_model) {
    s.model.arena.start_arena(s.megabytes << 20);
    s.model.start_model(static_cast<uint32_t>(s.order));
    s.have_model = true;
  }
  s.out = &out;
  s.low = 0;
  s.range = 0xFFFFFFFF;
}

void PpmEncoder::put_symbol(uint8_t symbol) { impl_->encode_symbol(symbol); }

void PpmEncoder::put(const uint8_t* data, size_t size, bool runs, int history) {
  Impl& s = *impl_;
  int prev = history;
  for (size_t i = 0; i < size;) {
    uint8_t b = data[i];
    if (runs && b == prev) {
      size_t len = 1;
      while (len < kMaxRun && i + len < size && data[i + len] == b) len++;
      if (len >= kMinRun) {
        s.encode_symbol(s.escape);
        s.encode_symbol(5);
        s.encode_symbol(static_cast<uint32_t>(len - 4));
        i += len;
        continue;
      }
    }
    if (b == s.escape) {
      s.encode_symbol(b);
      s.encode_symbol(1);
    } else {
      s.encode_symbol(b);
    }
    prev = b;
    i++;
  }
  if (size) s.last_byte = data[size - 1];
}

void PpmEncoder::end_block(bool end_of_file) {
  Impl& s = *impl_;
  s.encode_symbol(s.escape);
  s.encode_symbol(end_of_file ? 2 : 0);
  for (int i = 0; i < 4; i++) {
    s.out->push_back(static_cast<uint8_t>(s.low >> 24));
    s.low <<= 8;
  }
  s.out = nullptr;
}

void PpmEncoder::encode_file(const uint8_t* data, size_t size, bool solid, bool, std::vector<uint8_t>& out) {
  Impl& s = *impl_;
  if (!solid) start_stream();
  int escape = -1;
  uint8_t rare = rarest_byte(data, size);
  if (rare != s.escape) {
    size_t now = 0, then = 0;
    for (size_t i = 0; i < size; i++) {
      now += data[i] == s.escape;
      then += data[i] == rare;
    }
    if (then < now) escape = rare;
  }
  begin_block(out, !solid, escape);
  put(data, size, true, s.last_byte);
  end_block(true);
}
