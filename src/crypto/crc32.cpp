// CRC-32, reflected, polynomial 0xEDB88320. The byte-wise table is the one every caller
// sees; seven derived tables let the aligned middle of a buffer go eight bytes per step
// (slicing by eight), with the same result as eight byte steps. Long buffers are cut
// into three lanes whose CRCs run side by side and are joined afterwards, so the three
// dependency chains overlap in the processor.
#include "crypto/crc32.h"

#include <cstring>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr size_t kLane = 4096;  // bytes per lane of a three-lane stretch

// crc_tables[0] is the byte-wise table; crc_tables[k][i] is the CRC of byte i followed by
// k zero bytes.
uint32_t crc_tables[8][256];
// x^(8 * kLane) and x^(16 * kLane) modulo the polynomial: shift a CRC past one or two lanes.
uint32_t lane_shift[2];

inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline uint32_t step8(const uint32_t (*t)[256], uint32_t crc, const uint8_t* p) {
  uint32_t one = load_le32(p) ^ crc;
  uint32_t two = load_le32(p + 4);
  return t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
         t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
}

// Product of two polynomials modulo the CRC polynomial (bit 31 is x^0).
uint32_t multiply_mod(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 0x80000000u; m != 0 && a != 0; m >>= 1) {
    if (a & m) {
      product ^= b;
      a &= ~m;
    }
    b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

}  // namespace

void crc32_fill_table() {
  if (crc_tables[0][1] != 0) return;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    crc_tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = crc_tables[0][i];
    for (int k = 1; k < 8; k++) {
      c = crc_tables[0][c & 0xFF] ^ (c >> 8);
      crc_tables[k][i] = c;
    }
  }
  // x^0 moved on by kLane zero bytes, then by as many again.
  uint32_t x = 0x80000000u;
  for (size_t i = 0; i < kLane; i++) x = crc_tables[0][x & 0xFF] ^ (x >> 8);
  lane_shift[0] = x;
  lane_shift[1] = multiply_mod(x, x);
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
  // Three lanes at once: the CRC of a||b||c is the CRC of a shifted past b and c, that
  // of b (from 0) shifted past c, and that of c (from 0).
  while (length >= 3 * kLane) {
    uint32_t a = crc, b = 0, c = 0;
    for (size_t i = 0; i < kLane; i += 8) {
      a = step8(t, a, p + i);
      b = step8(t, b, p + kLane + i);
      c = step8(t, c, p + 2 * kLane + i);
    }
    crc = multiply_mod(lane_shift[1], a) ^ multiply_mod(lane_shift[0], b) ^ c;
    p += 3 * kLane;
    length -= 3 * kLane;
  }
  // Eight bytes per step: the two little-endian words go into the value in turn.
  while (length >= 8) {
    crc = step8(t, crc, p);
    p += 8;
    length -= 8;
  }
  while (length > 0) {
    crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    length--;
  }
  return crc;
}
