#include <cstdlib>

#include "platform/memory.h"

void* mem_alloc(size_t size) { return std::malloc(size ? size : 1); }
void mem_free(void* p) { std::free(p); }
void* mem_resize(void* p, size_t size) { return std::realloc(p, size ? size : 1); }
