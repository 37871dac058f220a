// Most-significant-bit-first bit output into a byte vector.
#pragma once

#include <cstdint>
#include <vector>

class LzBitWriter {
 public:
  explicit LzBitWriter(std::vector<uint8_t>& out) : out_(out) {}

  // Appends the low `bits` bits of value (0..25 bits), highest first.
  void put(uint32_t value, int bits) {
    acc_ = (acc_ << bits) | (value & ((1u << bits) - 1u));
    count_ += bits;
    while (count_ >= 8) {
      count_ -= 8;
      out_.push_back(uint8_t(acc_ >> count_));
    }
    acc_ &= (1u << count_) - 1u;
  }
  // Pads with zero bits up to the next byte boundary.
  void align() {
    if (count_ != 0) put(0, 8 - count_);
  }
  int pending_bits() const { return count_; }
  uint64_t bit_count() const { return uint64_t(out_.size()) * 8 + uint64_t(count_); }

 private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  int count_ = 0;
};
