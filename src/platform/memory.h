// Process-heap allocation, growable arrays and name lists.
#pragma once

#include <cstring>

#include "platform/types.h"

void* mem_alloc(size_t size);            // null on failure, nothing reported
void mem_free(void* p);                  // null is ignored
void* mem_resize(void* p, size_t size);  // mem_alloc when p is null; null on failure

// mem_alloc that ends the run with the out-of-memory report (exit code 8) on failure.
void* mem_alloc_or_die(size_t size);

// Grows a raw array the GrowArray way; the out-of-memory report ends the run on failure.
void grow_storage(void** items, uint32_t* count, uint32_t* capacity, uint32_t n, size_t item_size);

// Growable array of plain items (1, 2 or 4 bytes in the module; any trivially copyable type works).
template <class T>
struct GrowArray {
  T* items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;

  GrowArray() = default;
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  ~GrowArray() { mem_free(items); }

  // count += n; capacity becomes capacity + capacity/4 + 32 (or the new count when larger).
  void grow_by(uint32_t n) {
    grow_storage(reinterpret_cast<void**>(&items), &count, &capacity, n, sizeof(T));
  }
  void push(const T& v) {
    grow_by(1);
    items[count - 1] = v;
  }
  void append(const T* src, uint32_t n) {
    uint32_t at = count;
    grow_by(n);
    if (n) std::memcpy(items + at, src, n * sizeof(T));
  }
  // Sets the count; grows when needed, never shrinks the memory.
  void resize(uint32_t n) {
    if (n > count) grow_by(n - count);
    else count = n;
  }
  void release() {
    mem_free(items);
    items = nullptr;
    count = capacity = 0;
  }
  T& operator[](size_t i) { return items[i]; }
  const T& operator[](size_t i) const { return items[i]; }
};

// List of narrow names with optional wide forms (the extraction job's masks).
struct NameList {
  GrowArray<char> chars;
  uint32_t read_offset = 0;
  GrowArray<WChar> wides;
  uint32_t wide_read_offset = 0;
  GrowArray<uint32_t> wide_index;
  uint32_t wide_index_position = 0;
  uint32_t count = 0;
};

uint32_t add_name(NameList& list, const char* narrow, const WChar* wide);
bool next_name(NameList& list, const char** narrow, const WChar** wide);
bool next_name_copy(NameList& list, WChar* wide_buffer, char* narrow_buffer, int size);
void rewind_names(NameList& list);
void clear_names(NameList& list);
