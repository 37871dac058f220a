// The context model of PPM blocks, shared by the decoder and the packer's encoder: both
// drive it with the same symbols, so it grows, runs out of arena memory and restarts at
// the same byte on both sides. The coders only choose the sub-range of each event.
//
// In the arena a context is one unit: state count (u16); then either the total frequency
// (u16) and the reference of its state array, or, with a single state, that state in
// place (6 bytes); then the reference of its suffix. A state is symbol (u8), frequency
// (u8) and successor (32-bit reference).
#pragma once

#include <cstring>

#include "decode/ppm_arena.h"
#include "platform/types.h"

struct PpmSee {
  uint16_t summ;
  uint8_t shift;
  uint8_t count;
};

class PpmModel {
 public:
  static constexpr uint32_t kMaxOrder = 64;
  static constexpr uint32_t kFreqCap = 124;
  static constexpr uint32_t kBinTotal = 1u << 14;
  static constexpr uint32_t kSeePeriodBits = 7;

  // Context fields.
  static constexpr uint32_t kCount = 0, kTotal = 2, kStats = 4, kSuffix = 8, kOneState = 2;
  static constexpr uint32_t kStateSize = 6;

  static uint32_t rd32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void wr32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
  static uint32_t rd16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  static void wr16(uint8_t* p, uint32_t v) {
    uint16_t x = static_cast<uint16_t>(v);
    std::memcpy(p, &x, 2);
  }

  uint8_t* ptr(uint32_t ref) { return arena.heap + ref; }
  uint32_t ref(const uint8_t* p) const { return static_cast<uint32_t>(p - arena.heap); }
  // A context or state array reference: above the text area, inside the arena.
  bool valid(uint32_t ref) const { return ref > arena.text && ref <= arena.heap_end; }

  // A fresh model of the given order (2 .. 64) in the current arena.
  void start_model(uint32_t order);
  void restart_model();

  // Events of one symbol. The coder sets `scale` where it decides; these update the
  // model and set sub_low / sub_high.
  void first_hit(uint8_t* ctx, uint8_t* p);    // the first state of a context with stats
  void later_hit(uint8_t* ctx, uint8_t* p);    // sub_low / sub_high set by the coder
  void first_escape(uint8_t* ctx, uint32_t n, uint32_t hi);
  // Single-state context: the probability slot (null when the context is broken).
  uint16_t* bin_slot(uint8_t* ctx);
  void bin_hit(uint8_t* ctx, uint16_t* bs);
  void bin_escape(uint8_t* ctx, uint16_t* bs);
  // Masked context with d unmasked states: the escape estimator, scale set to its mean
  // (null when the context is broken).
  PpmSee* see_for(uint8_t* ctx, uint32_t n, uint32_t d);
  // Collects the unmasked states of a context; returns their count, hi = their sum.
  uint32_t collect(uint8_t* stats, uint32_t n, uint32_t d, uint8_t** out, uint32_t* hi);
  void masked_hit(uint8_t* ctx, uint8_t* p, PpmSee* see);
  void masked_escape(uint8_t* const* ps, uint32_t k, uint32_t n, PpmSee* see);
  // After the symbol: move to the next context, learning. False when the model is broken.
  bool next_context();

  PpmArena arena;
  uint32_t cur_ctx = 0, top_ctx = 0, hit_state = 0;
  uint32_t masked_count = 0, esc_seed = 0, order_gap = 0, order_limit = 0;
  int32_t hit_run = 0, hit_run_start = 0;
  uint8_t mark_stamp = 0, last_hit = 0, prev_high_flag = 0;
  uint32_t sub_low = 0, sub_high = 0, scale = 0;
  uint8_t seen_mark[256];
  uint8_t see_row_of[256];
  uint8_t bin_col_of[256];
  uint8_t high_flag_of[256];
  uint16_t bin_prob[128][64];
  PpmSee see[25][16];
  PpmSee see_fallback;
  uint32_t restarts = 0;  // model restarts since the model started, for tests and tools

 private:
  void rescale();
  bool update_model();
  uint32_t create_successors(bool skip, uint8_t* p1);
};
