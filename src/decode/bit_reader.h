// Most-significant-bit-first bit input over a 32 KB byte buffer.
#pragma once

#include <cstring>

#include "platform/types.h"

// Big-endian loads from a byte pointer (any alignment).
inline uint32_t load_be32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

class BitReader {
 public:
  static constexpr int kBufferSize = 32768;
  // Zero bytes after the buffer: peeks near its end and reads past the valid data look
  // a few bytes further than byte_pos, and stay inside this slack.
  static constexpr int kSlack = 128;

  BitReader();  // allocates the buffer (out of memory is fatal)
  ~BitReader();
  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;

  // The next 16 bits of the stream, not consumed.
  uint32_t peek16() const { return (load_be32(buffer + byte_pos) << bit_pos) >> 16; }
  void skip_bits(int n) {
    bit_pos += n;
    byte_pos += bit_pos >> 3;
    bit_pos &= 7;
  }
  void align_to_byte() { skip_bits((8 - bit_pos) & 7); }
  // k = 1 .. 16 bits as a number.
  uint32_t read_bits(int k) {
    uint32_t v = peek16() >> (16 - k);
    skip_bits(k);
    return v;
  }
  void rewind() { byte_pos = bit_pos = 0; }

  uint8_t* buffer;       // kBufferSize + kSlack bytes
  int32_t byte_pos = 0;  // byte that holds the next unread bit
  int32_t bit_pos = 0;   // bits of that byte already consumed, from its top bit
};
