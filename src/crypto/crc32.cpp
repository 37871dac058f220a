// CRC-32, reflected, polynomial 0xEDB88320. The byte-wise table is the one every caller
// sees; seven more derived tables let the aligned middle of a buffer go eight bytes per
// step (slicing by eight), with the same result as eight byte steps.
#include "crypto/crc32.h"

#include <cstring>

namespace {

// crc_tables[0] is the byte-wise table; crc_tables[k][i] is the CRC of byte i followed by
// k zero bytes.
uint32_t crc_tables[8][256];

inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

}  // namespace

void crc32_fill_table() {
  if (crc_tables[0][1] != 0) return;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    crc_tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = crc_tables[0][i];
    for (int k = 1; k < 8; k++) {
      c = crc_tables[0][c & 0xFF] ^ (c >> 8);
      crc_tables[k][i] = c;
    }
  }
}

uint32_t crc32_update(uint32_t crc, const void* data, size_t length) {
  if (crc_tables[0][1] == 0) crc32_fill_table();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const uint32_t(*t)[256] = crc_tables;

  // Single bytes up to the first 8-byte boundary.
  while (length > 0 && (reinterpret_cast<uintptr_t>(p) & 7) != 0) {
    crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    length--;
  }
  // Eight bytes per step: the two little-endian words go into the value in turn.
  while (length >= 8) {
    uint32_t one = load_le32(p) ^ crc;
    uint32_t two = load_le32(p + 4);
    crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
          t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
    p += 8;
    length -= 8;
  }
  while (length > 0) {
    crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    length--;
  }
  return crc;
}
