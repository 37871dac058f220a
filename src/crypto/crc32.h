// CRC-32 (reflected, polynomial 0xEDB88320). Callers start with 0xFFFFFFFF and
// complement the final value.
#pragma once

#include <cstddef>
#include <cstdint>

void crc32_fill_table();  // fills the process-wide table when entry 1 is still 0
uint32_t crc32_update(uint32_t crc, const void* data, size_t length);
// Standard CRC-32 of a buffer (start 0xFFFFFFFF, final complement).
inline uint32_t crc32_of(const void* data, size_t length) {
  return ~crc32_update(0xFFFFFFFFu, data, length);
}
