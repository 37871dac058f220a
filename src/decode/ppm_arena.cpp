// The PPM model's unit allocator.
#include "decode/ppm_arena.h"

#include "platform/memory.h"

constexpr uint8_t PpmArena::kClassUnits[kClasses];

namespace {


// Layout of a free block while the merge runs.
constexpr uint32_t kStamp = 0;  // u16 0xFFFF
constexpr uint32_t kCount = 2;  // u16 units
constexpr uint32_t kNext = 4;
constexpr uint32_t kPrev = 8;

}  // namespace


PpmArena::PpmArena() { std::memset(free_heads_, 0, sizeof free_heads_); }

void PpmArena::start_arena(uint32_t bytes) {
  if (bytes == size) return;
  free_arena();
  uint32_t units = bytes / kUnit * kUnit;
  // One unit more than the units: the merge may look at the stamp of the unit that
  // follows the last block, which must never read as free.
  heap = static_cast<uint8_t*>(mem_alloc_or_die(units + kUnit));
  std::memset(heap + units, 0, kUnit);
  size = bytes;
  heap_end = units;
}

void PpmArena::free_arena() {
  mem_free(heap);
  heap = nullptr;
  size = heap_end = 0;
}

void PpmArena::lay_out() {
  std::memset(free_heads_, 0, sizeof free_heads_);
  uint32_t unit_area = 84 * (size / 96);  // 7/8 of the arena in whole units
  text = 0;
  area_base = area_low = area_floor = size - unit_area;
  area_high = size;
  merge_credit = 0;
}

void PpmArena::split_block(uint32_t block, int from, int to) {
  uint32_t diff = kClassUnits[from] - kClassUnits[to];
  uint32_t p = block + kClassUnits[to] * kUnit;
  int i = class_of(diff);
  if (kClassUnits[i] != diff) {
    i--;
    push(p, i);
    p += kClassUnits[i] * kUnit;
    diff -= kClassUnits[i];
    i = class_of(diff);
  }
  push(p, i);
}

void PpmArena::merge_free_blocks() {
  if (area_low != area_high) heap[area_low] = 0;
  // One doubly linked list of every free block; the list head lives outside the arena.
  uint32_t head = 0;
  for (int i = 0; i < kClasses; i++) {
    while (free_heads_[i]) {
      uint32_t b = pop(i);
      set16(b + kStamp, 0xFFFF);
      set16(b + kCount, kClassUnits[i]);
      set32(b + kNext, head);
      set32(b + kPrev, 0);
      if (head) set32(head + kPrev, b);
      head = b;
    }
  }
  auto unlink = [&](uint32_t b) {
    uint32_t next = u32(b + kNext), prev = u32(b + kPrev);
    if (prev) set32(prev + kNext, next);
    else head = next;
    if (next) set32(next + kPrev, prev);
  };
  for (uint32_t b = head; b; b = u32(b + kNext)) {
    for (;;) {
      uint32_t units = u16(b + kCount);
      uint32_t f = b + units * kUnit;
      if (u16(f + kStamp) != 0xFFFF) break;
      uint32_t more = u16(f + kCount);
      if (units + more >= 0x10000) break;
      unlink(f);
      set16(b + kCount, units + more);
    }
  }
  while (head) {
    uint32_t b = head;
    unlink(b);
    uint32_t units = u16(b + kCount);
    for (; units > 128; units -= 128, b += 128 * kUnit) push(b, kClasses - 1);
    int i = class_of(units);
    if (kClassUnits[i] != units) {
      i--;
      uint32_t rest = units - kClassUnits[i];
      push(b + kClassUnits[i] * kUnit, class_of(rest));
    }
    push(b, i);
  }
}

uint32_t PpmArena::alloc_fallback(int i) {
  if (merge_credit == 0) {
    merge_credit = 255;
    merge_free_blocks();
    if (free_heads_[i]) return pop(i);
  }
  for (int j = i + 1; j < kClasses; j++) {
    if (free_heads_[j]) {
      uint32_t b = pop(j);
      split_block(b, j, i);
      return b;
    }
  }
  merge_credit--;
  uint32_t bytes = kClassUnits[i] * kUnit;
  if (area_floor - text > bytes) {
    area_floor -= bytes;
    area_base -= bytes;
    return area_base;
  }
  return 0;
}

uint32_t PpmArena::alloc_context() {
  if (area_high != area_low) return area_high -= kUnit;
  if (free_heads_[0]) return pop(0);
  return alloc_fallback(0);
}

uint32_t PpmArena::alloc_units(uint32_t n) {
  int i = class_of(n);
  if (free_heads_[i]) return pop(i);
  uint32_t bytes = kClassUnits[i] * kUnit;
  if (area_high - area_low >= bytes) {
    uint32_t b = area_low;
    area_low += bytes;
    return b;
  }
  return alloc_fallback(i);
}

uint32_t PpmArena::expand_units(uint32_t block, uint32_t n) {
  int i0 = class_of(n);
  if (i0 == class_of(n + 1)) return block;
  uint32_t b = alloc_units(n + 1);
  if (b) {
    std::memcpy(heap + b, heap + block, n * kUnit);
    push(block, i0);
  }
  return b;
}

uint32_t PpmArena::shrink_units(uint32_t block, uint32_t m, uint32_t k) {
  int i0 = class_of(m), i1 = class_of(k);
  if (i0 == i1) return block;
  if (free_heads_[i1]) {
    uint32_t b = pop(i1);
    std::memcpy(heap + b, heap + block, k * kUnit);
    push(block, i0);
    return b;
  }
  split_block(block, i0, i1);
  return block;
}
