// Block headers of the LZ stream: the pre-code and the 404 code lengths of the four
// main tables, coded as differences against the previous block's lengths.
#include <cstring>

#include "decode/lz_state.h"

bool LzDecoder::State::read_block_header() {
  if (input.byte_pos > data_end - 25) {
    if (!refill_buffer()) return false;
  }
  input.align_to_byte();
  uint32_t flags = input.peek16();
  if (flags & 0x8000) {
    block_type = BlockType::kPpm;
    return ppm_start_block();
  }
  block_type = BlockType::kLz;
  low_bits_prev = 0;
  low_bits_reuse = 0;
  if (!(flags & 0x4000)) std::memset(prev_lengths, 0, sizeof prev_lengths);
  input.skip_bits(2);

  uint8_t pre[kPrecodeSymbols];
  for (int i = 0; i < kPrecodeSymbols;) {
    uint32_t len = input.read_bits(4);
    if (len == 15) {
      uint32_t zeros = input.read_bits(4);
      if (zeros == 0) {
        pre[i++] = 15;
      } else {
        for (uint32_t k = 0; k < zeros + 2 && i < kPrecodeSymbols; k++) pre[i++] = 0;
      }
    } else {
      pre[i++] = static_cast<uint8_t>(len);
    }
  }
  build_table(pre, kPrecodeSymbols, precode, kPrecodeQuickBits);

  uint8_t cur[kTableLengths];
  for (int i = 0; i < kTableLengths;) {
    if (input.byte_pos > data_end - 5) {
      if (!refill_buffer()) return false;
    }
    uint32_t c = decode_symbol(input, precode);
    if (c < 16) {
      cur[i] = static_cast<uint8_t>((c + prev_lengths[i]) & 15);
      i++;
      continue;
    }
    uint32_t count;
    uint8_t value = 0;
    if (c == 16 || c == 17) {
      count = c == 16 ? 3 + input.read_bits(3) : 11 + input.read_bits(7);
      if (i > 0) value = cur[i - 1];  // a repeat at the very start repeats 0
    } else {
      count = c == 18 ? 3 + input.read_bits(3) : 11 + input.read_bits(7);
    }
    for (; count > 0 && i < kTableLengths; count--) cur[i++] = value;
  }
  have_tables = true;
  if (input.byte_pos > data_end) return false;  // the header ran past the packed data

  build_table(cur, kLiteralSymbols, literal, kLiteralQuickBits);
  build_table(cur + 299, kDistanceSymbols, distance, kDistanceQuickBits);
  build_table(cur + 359, kLowDistanceSymbols, low_distance, kLowDistanceQuickBits);
  build_table(cur + 376, kRepeatLengthSymbols, repeat_length, kRepeatLengthQuickBits);
  std::memcpy(prev_lengths, cur, sizeof prev_lengths);
  return true;
}
