// PPM block headers and the decoding of one byte.
#include "decode/ppm_decoder.h"

bool PpmDecoder::start_block(uint32_t* escape) {
  uint32_t flags = next_byte();
  uint32_t megabytes = 0;
  if (flags & 0x20) {
    megabytes = next_byte();
  } else if (model_.arena.size == 0) {
    return false;
  }
  if (flags & 0x40) *escape = next_byte();
  low_ = code_ = 0;
  range_ = 0xFFFFFFFF;
  for (int i = 0; i < 4; i++) code_ = code_ << 8 | next_byte();
  if (flags & 0x20) {
    uint32_t order = (flags & 0x1F) + 1;
    if (order > 16) order = 16 + (order - 16) * 3;
    if (order == 1) {
      model_.arena.free_arena();
      model_.cur_ctx = 0;
      return false;
    }
    model_.arena.start_arena((megabytes + 1) << 20);
    model_.start_model(order);
  }
  return model_.cur_ctx != 0;
}

bool PpmDecoder::decode_first(uint8_t* ctx, uint32_t n) {
  uint8_t* p = model_.ptr(PpmModel::rd32(ctx + PpmModel::kStats));
  uint32_t scale = PpmModel::rd16(ctx + PpmModel::kTotal);
  model_.scale = scale;
  range_ /= scale;
  if (range_ == 0) return false;
  uint32_t target = (code_ - low_) / range_;
  if (target >= scale) return false;
  uint32_t hi = p[1];
  if (target < hi) {
    model_.first_hit(ctx, p);
    return true;
  }
  if (!model_.hit_state) return false;
  for (uint32_t i = 1; i < n; i++) {
    p += PpmModel::kStateSize;
    hi += p[1];
    if (hi > target) {
      model_.sub_low = hi - p[1];
      model_.sub_high = hi;
      model_.later_hit(ctx, p);
      return true;
    }
  }
  model_.first_escape(ctx, n, hi);
  return true;
}

bool PpmDecoder::decode_single(uint8_t* ctx) {
  uint16_t* bs = model_.bin_slot(ctx);
  if (!bs) return false;
  range_ >>= 14;
  if ((code_ - low_) / range_ < *bs) {
    model_.bin_hit(ctx, bs);
  } else {
    model_.bin_escape(ctx, bs);
  }
  return true;
}

bool PpmDecoder::decode_masked(uint8_t* ctx) {
  uint32_t n = PpmModel::rd16(ctx + PpmModel::kCount);
  uint32_t stats = PpmModel::rd32(ctx + PpmModel::kStats);
  if (!model_.valid(stats)) return false;
  uint32_t d = n - model_.masked_count;
  PpmSee* see = model_.see_for(ctx, n, d);
  if (!see) return false;
  uint8_t* ps[256];
  uint32_t hi;
  uint32_t k = model_.collect(model_.ptr(stats), n, d, ps, &hi);
  uint32_t scale = model_.scale + hi;
  model_.scale = scale;
  range_ /= scale;
  if (range_ == 0) return false;
  uint32_t target = (code_ - low_) / range_;
  if (target >= scale) return false;
  if (target < hi) {
    uint32_t run = 0, i = 0;
    for (;; i++) {
      run += ps[i][1];
      if (run > target) break;
    }
    model_.sub_low = run - ps[i][1];
    model_.sub_high = run;
    model_.masked_hit(ctx, ps[i], see);
  } else {
    model_.sub_low = hi;
    model_.sub_high = scale;
    model_.masked_escape(ps, k, n, see);
  }
  return true;
}

int PpmDecoder::decode() {
  PpmModel& m = model_;
  if (!m.valid(m.cur_ctx)) return -1;
  uint8_t* ctx = m.ptr(m.cur_ctx);
  uint32_t n = PpmModel::rd16(ctx + PpmModel::kCount);
  if (n != 1) {
    if (!m.valid(PpmModel::rd32(ctx + PpmModel::kStats))) return -1;
    if (!decode_first(ctx, n)) return -1;
  } else {
    if (!decode_single(ctx)) return -1;
  }
  remove_subrange();
  while (!m.hit_state) {
    normalise();
    do {
      m.order_gap++;
      m.cur_ctx = PpmModel::rd32(m.ptr(m.cur_ctx) + PpmModel::kSuffix);
      if (!m.valid(m.cur_ctx)) return -1;
    } while (PpmModel::rd16(m.ptr(m.cur_ctx) + PpmModel::kCount) == m.masked_count);
    if (!decode_masked(m.ptr(m.cur_ctx))) return -1;
    remove_subrange();
  }
  int c = m.ptr(m.hit_state)[0];
  if (!m.next_context()) return -1;
  normalise();
  return c;
}

int PpmDecoder::decode_byte() {
  int c = decode();
  if (c < 0) model_.cur_ctx = 0;
  return c;
}
