// Memory of the PPM model: one block carved into 12-byte units. Contexts take single
// units from the top of the unit area, state arrays take blocks of 1 to 128 units in 38
// size classes, and the bottom of the block holds the raw symbols (the text area). Where
// memory runs out decides where the model restarts, so the coder on the other side must
// see exactly the same allocations.
//
// Every reference is a 32-bit offset from `heap`; 0 means none (offset 0 is the first
// text byte, which no reference ever names).
#pragma once

#include <cstring>

#include "platform/types.h"

namespace ppm_detail {
struct ClassOfUnits {
  uint8_t v[128];
  constexpr ClassOfUnits() : v() {
    constexpr uint8_t units[38] = {1,  2,  3,  4,  6,  8,  10, 12, 15, 18, 21, 24, 28,
                                   32, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80,
                                   84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};
    int i = 0;
    for (int n = 1; n <= 128; n++) {
      if (units[i] < n) i++;
      v[n - 1] = static_cast<uint8_t>(i);
    }
  }
};
inline constexpr ClassOfUnits kClassOfUnits{};
}  // namespace ppm_detail

class PpmArena {
 public:
  static constexpr uint32_t kUnit = 12;
  static constexpr int kClasses = 38;
  static constexpr uint8_t kClassUnits[kClasses] = {1,  2,  3,  4,  6,  8,  10, 12, 15, 18, 21, 24, 28,
                                                    32, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80,
                                                    84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};

  PpmArena();
  ~PpmArena() { free_arena(); }
  PpmArena(const PpmArena&) = delete;
  PpmArena& operator=(const PpmArena&) = delete;

  // Sizes the arena to `bytes` (a whole number of megabytes); keeps the memory when the
  // size is unchanged. Out of memory is fatal.
  void start_arena(uint32_t bytes);
  void free_arena();
  // The layout at every model restart: empty free lists, text area at the bottom.
  void lay_out();

  uint32_t alloc_context();
  uint32_t alloc_units(uint32_t n);  // 1 <= n <= 128; 0 when nothing is left
  void free_units(uint32_t block, uint32_t n) { push(block, class_of(n)); }
  uint32_t expand_units(uint32_t block, uint32_t n);              // n -> n + 1 units
  uint32_t shrink_units(uint32_t block, uint32_t m, uint32_t k);  // m -> k units
  void merge_free_blocks();

  // Class index for n = 1 .. 128 units.
  static int class_of(uint32_t n);
  uint32_t free_head(int i) const { return free_heads_[i]; }

  uint8_t* at(uint32_t ref) { return heap + ref; }
  uint16_t u16(uint32_t ref) const {
    uint16_t v;
    std::memcpy(&v, heap + ref, 2);
    return v;
  }
  uint32_t u32(uint32_t ref) const {
    uint32_t v;
    std::memcpy(&v, heap + ref, 4);
    return v;
  }
  void set16(uint32_t ref, uint32_t v) {
    uint16_t x = static_cast<uint16_t>(v);
    std::memcpy(heap + ref, &x, 2);
  }
  void set32(uint32_t ref, uint32_t v) { std::memcpy(heap + ref, &v, 4); }

  uint8_t* heap = nullptr;
  uint32_t size = 0;      // bytes asked for; 0 while there is no arena
  uint32_t heap_end = 0;  // size / 12 * 12
  uint32_t text = 0;
  uint32_t area_base = 0, area_floor = 0, area_low = 0, area_high = 0;
  uint8_t merge_credit = 0;

 private:
  void push(uint32_t block, int i) {
    set32(block, free_heads_[i]);
    free_heads_[i] = block;
  }
  uint32_t pop(int i) {
    uint32_t b = free_heads_[i];
    free_heads_[i] = u32(b);
    return b;
  }
  void split_block(uint32_t block, int from, int to);
  uint32_t alloc_fallback(int i);

  uint32_t free_heads_[kClasses];
};

inline int PpmArena::class_of(uint32_t n) { return ppm_detail::kClassOfUnits.v[n - 1]; }
