// Decoder of PPM blocks: the context model driven by a carry-less range decoder that
// reads whole bytes from the LZ decoder's input buffer.
#pragma once

#include "decode/bit_reader.h"
#include "decode/ppm_model.h"

class PpmDecoder {
 public:
  // The byte source: the LZ decoder's input buffer (BitReader::kBufferSize bytes and
  // its slack) and position, refilled through `refill` when the position passes the
  // buffer's last 30 bytes (a failed refill is ignored).
  void attach(const uint8_t* buffer, int32_t* byte_pos, bool (*refill)(void*), void* context) {
    buffer_ = buffer;
    byte_pos_ = byte_pos;
    refill_ = refill;
    refill_context_ = context;
  }

  // Reads a PPM block header at the reader's (byte-aligned) position and starts the
  // range decoder. *escape is the block's escape character, which the header may
  // replace. False for an order-1 header, or when the block continues a model that
  // does not exist.
  bool start_block(uint32_t* escape);
  // The next byte, or -1 when the model or the data is inconsistent (the model then
  // cannot continue until a header starts a new one).
  int decode_byte();
  void free_arena() { model_.arena.free_arena(); }

  const PpmModel& model() const { return model_; }

 private:
  static constexpr int32_t kRefillAt = BitReader::kBufferSize - 30;

  uint32_t next_byte() {
    if (*byte_pos_ > kRefillAt) {
      refill_(refill_context_);
      // Past the valid data the bytes are stale; never beyond the buffer.
      if (*byte_pos_ >= BitReader::kBufferSize) return 0;
    }
    return buffer_[(*byte_pos_)++];
  }
  void normalise() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= (1u << 24)) {
        if (range_ >= (1u << 15)) return;
        range_ = (0 - low_) & ((1u << 15) - 1);
      }
      code_ = code_ << 8 | next_byte();
      range_ <<= 8;
      low_ <<= 8;
    }
  }
  void remove_subrange() {
    low_ += range_ * model_.sub_low;
    range_ *= model_.sub_high - model_.sub_low;
  }
  bool decode_first(uint8_t* ctx, uint32_t n);
  bool decode_single(uint8_t* ctx);
  bool decode_masked(uint8_t* ctx);
  int decode();

  PpmModel model_;
  uint32_t low_ = 0, code_ = 0, range_ = 0;
  const uint8_t* buffer_ = nullptr;
  int32_t* byte_pos_ = nullptr;
  bool (*refill_)(void*) = nullptr;
  void* refill_context_ = nullptr;
};
