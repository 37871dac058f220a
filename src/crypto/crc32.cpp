#include "crypto/crc32.h"

namespace {
uint32_t crc_table[256];
}

void crc32_fill_table() {
  if (crc_table[1] != 0) return;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    crc_table[i] = c;
  }
}

uint32_t crc32_update(uint32_t crc, const void* data, size_t length) {
  crc32_fill_table();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; i++) crc = crc_table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}
