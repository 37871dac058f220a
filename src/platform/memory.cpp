#include "platform/memory.h"

#include <new>

#include "app/report.h"

void* mem_alloc_or_die(size_t size) {
  void* p = mem_alloc(size);
  if (!p) report_memory_error();
  return p;
}

void grow_storage(void** items, uint32_t* count, uint32_t* capacity, uint32_t n, size_t item_size) {
  uint32_t new_count = *count + n;
  if (*capacity < new_count) {
    uint32_t new_capacity = *capacity + *capacity / 4 + 32;
    if (new_capacity < new_count) new_capacity = new_count;
    void* p = mem_resize(*items, static_cast<size_t>(new_capacity) * item_size);
    if (!p) report_memory_error();
    *items = p;
    *capacity = new_capacity;
  }
  *count = new_count;
}

uint32_t add_name(NameList& list, const char* narrow, const WChar* wide) {
  uint32_t offset = list.chars.count;
  list.chars.append(narrow, static_cast<uint32_t>(std::strlen(narrow) + 1));
  if (wide && *wide) {
    list.wide_index.push(offset);
    uint32_t n = 0;
    while (wide[n]) n++;
    list.wides.append(wide, n + 1);
  }
  list.count++;
  return offset;
}

bool next_name(NameList& list, const char** narrow, const WChar** wide) {
  if (list.read_offset >= list.chars.count) {
    *narrow = nullptr;
    if (wide) *wide = nullptr;
    return false;
  }
  *narrow = list.chars.items + list.read_offset;
  const WChar* w = nullptr;
  if (list.wide_index_position < list.wide_index.count &&
      list.wide_index[list.wide_index_position] == list.read_offset) {
    w = list.wides.items + list.wide_read_offset;
    list.wide_index_position++;
    uint32_t n = 0;
    while (w[n]) n++;
    list.wide_read_offset += n + 1;
  }
  if (wide) *wide = w;
  list.read_offset += static_cast<uint32_t>(std::strlen(*narrow) + 1);
  return true;
}

bool next_name_copy(NameList& list, WChar* wide_buffer, char* narrow_buffer, int size) {
  const char* narrow;
  const WChar* wide;
  if (!next_name(list, &narrow, &wide)) return false;
  // Bounded copy without an added terminator when the text is longer.
  int i = 0;
  for (; i < size && narrow[i]; i++) narrow_buffer[i] = narrow[i];
  if (i < size) narrow_buffer[i] = 0;
  if (wide_buffer) {
    static const WChar kEmpty[1] = {0};
    const WChar* w = wide ? wide : kEmpty;
    int k = 0;
    for (; k < size && w[k]; k++) wide_buffer[k] = w[k];
    if (k < size) wide_buffer[k] = 0;
  }
  return true;
}

void rewind_names(NameList& list) {
  list.read_offset = 0;
  list.wide_read_offset = 0;
  list.wide_index_position = 0;
}

void clear_names(NameList& list) {
  rewind_names(list);
  list.chars.release();
  list.wides.release();
  list.wide_index.release();
  list.count = 0;
}

// All allocation of the module goes to the process heap; running out is the fatal
// out-of-memory error rather than an exception.
void* operator new(size_t size) { return mem_alloc_or_die(size ? size : 1); }
void* operator new[](size_t size) { return mem_alloc_or_die(size ? size : 1); }
void operator delete(void* p) noexcept { mem_free(p); }
void operator delete[](void* p) noexcept { mem_free(p); }
void operator delete(void* p, size_t) noexcept { mem_free(p); }
void operator delete[](void* p, size_t) noexcept { mem_free(p); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return mem_alloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return mem_alloc(size ? size : 1); }
void operator delete(void* p, const std::nothrow_t&) noexcept { mem_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { mem_free(p); }
