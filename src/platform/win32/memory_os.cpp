#include <windows.h>

#include "platform/memory.h"

void* mem_alloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void mem_free(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}
void* mem_resize(void* p, size_t size) {
  if (!p) return mem_alloc(size);
  return HeapReAlloc(GetProcessHeap(), 0, p, size);
}
