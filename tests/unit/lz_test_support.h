// Test helpers for the LZ decoder: a memory pipe, an MSB-first bit writer and a builder
// for compressed streams (block headers and symbols).
#pragma once

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <random>
#include <vector>

#include "extract/data_pipe.h"

namespace lztest {

// Pipe over memory: packed bytes from `input`, unpacked bytes into `output`.
class MemoryPipe : public DataPipe {
 public:
  MemoryPipe() = default;
  explicit MemoryPipe(std::vector<uint8_t> data) : input(std::move(data)) {}

  int read(void* buffer, int count) override {
    read_requests.push_back(count);
    if (fail_at_read >= 0 && static_cast<int>(read_requests.size()) - 1 >= fail_at_read) return -1;
    size_t left = input.size() - read_at;
    size_t n = static_cast<size_t>(count);
    if (n > left) n = left;
    if (n > static_cast<size_t>(max_chunk)) n = static_cast<size_t>(max_chunk);
    if (n) std::memcpy(buffer, input.data() + read_at, n);
    read_at += n;
    return static_cast<int>(n);
  }
  void write(const void* data, int count) override {
    write_sizes.push_back(count);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    output.insert(output.end(), p, p + count);
  }
  // Next file: new packed data, output kept unless cleared.
  void next_input(std::vector<uint8_t> data) {
    input = std::move(data);
    read_at = 0;
  }

  std::vector<uint8_t> input;
  size_t read_at = 0;
  int max_chunk = 1 << 30;  // most bytes handed out per read
  int fail_at_read = -1;    // index of the first read call that reports an error
  std::vector<int> read_requests;
  std::vector<uint8_t> output;
  std::vector<int> write_sizes;
};

class BitWriter {
 public:
  // Appends the low n bits of v (n <= 32), most significant first.
  void put(uint32_t v, int n) {
    if (n == 0) return;
    uint64_t bits = n == 32 ? v : (v & ((1u << n) - 1));
    acc_ = acc_ << n | bits;
    count_ += n;
    while (count_ >= 8) {
      count_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(acc_ >> count_));
    }
  }
  // Pads the last byte with zero bits.
  void align() {
    if (count_) put(0, 8 - count_);
  }
  size_t bit_count() const { return bytes_.size() * 8 + count_; }
  // The bytes written, the last one padded with zero bits.
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> b = bytes_;
    if (count_) b.push_back(static_cast<uint8_t>(acc_ << (8 - count_)));
    return b;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t acc_ = 0;
  int count_ = 0;
};

struct Code {
  uint32_t bits = 0;
  int length = 0;
};

// Canonical codes: shorter codes first, symbols of one length in increasing order.
inline std::vector<Code> canonical_codes(const uint8_t* lengths, int n) {
  int count[16] = {};
  for (int i = 0; i < n; i++) count[lengths[i]]++;
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int len = 1; len < 16; len++) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<Code> codes(n);
  for (int i = 0; i < n; i++) {
    if (lengths[i]) codes[i] = {next[lengths[i]]++, lengths[i]};
  }
  return codes;
}

// Random complete code lengths (at most 15) for `used` of the n symbols (used >= 2), or
// length 1 for one symbol when used is 1.
inline std::vector<uint8_t> random_lengths(std::mt19937& rng, int n, int used) {
  std::vector<uint8_t> lengths(n, 0);
  std::vector<int> leaves{0};
  while (static_cast<int>(leaves.size()) < used) {
    size_t k = rng() % leaves.size();
    if (leaves[k] >= 15) {
      bool any = false;
      for (int d : leaves) any |= d < 15;
      if (!any) break;
      continue;
    }
    int depth = ++leaves[k];
    leaves.push_back(depth);
  }
  std::vector<int> symbols(n);
  for (int i = 0; i < n; i++) symbols[i] = i;
  std::shuffle(symbols.begin(), symbols.end(), rng);
  for (size_t k = 0; k < leaves.size(); k++) lengths[symbols[k]] = static_cast<uint8_t>(leaves[k] ? leaves[k] : 1);
  return lengths;
}

// Code lengths that give every symbol of the four main tables a code.
inline std::vector<uint8_t> full_lengths() {
  std::vector<uint8_t> l(404);
  for (int i = 0; i < 299; i++) l[i] = i < 213 ? 8 : 9;
  for (int i = 0; i < 60; i++) l[299 + i] = i < 4 ? 5 : 6;
  for (int i = 0; i < 17; i++) l[359 + i] = i < 15 ? 4 : 5;
  for (int i = 0; i < 28; i++) l[376 + i] = i < 4 ? 4 : 5;
  return l;
}

constexpr uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct Slot {
  uint32_t base;
  int bits;
};
inline const std::vector<Slot>& distance_slots() {
  static const std::vector<Slot> slots = [] {
    std::vector<Slot> s;
    uint32_t base = 0;
    auto add = [&](int count, int b) {
      for (int k = 0; k < count; k++) {
        s.push_back({base, b});
        base += 1u << b;
      }
    };
    add(4, 0);
    for (int b = 1; b <= 15; b++) add(2, b);
    add(14, 16);
    add(12, 18);
    return s;
  }();
  return slots;
}

// Builds a compressed stream symbol by symbol. It tracks what the decoder tracks where
// the coding depends on it (previous lengths, the low-distance reuse count).
class StreamWriter {
 public:
  enum RunCodes { kNoRuns, kRuns };

  // A block header: bit 14 = keep_previous (differences against the last header's lengths).
  // precode: 20 code lengths for the pre-code (default: 12 of 4 bits, 8 of 5 bits); it must
  // give codes to the symbols used. With overshoot, a final run of zeros is sent with the
  // longest run code even when fewer positions are left.
  void header(const std::vector<uint8_t>& lengths, bool keep_previous = false, RunCodes runs = kRuns,
              const uint8_t* precode = nullptr, bool overshoot = false) {
    bw.align();
    bw.put(0, 1);
    bw.put(keep_previous ? 1 : 0, 1);
    const uint8_t* base = keep_previous ? prev_ : zeros_;
    uint8_t pre[20];
    for (int i = 0; i < 20; i++) pre[i] = precode ? precode[i] : (i < 12 ? 4 : 5);
    put_precode_lengths(pre);
    std::vector<Code> pc = canonical_codes(pre, 20);
    int i = 0;
    while (i < 404) {
      int run = 1;
      while (i + run < 404 && lengths[i + run] == lengths[i]) run++;
      if (runs == kRuns && lengths[i] == 0 && run >= 3) {
        int n = run > 138 ? 138 : run;
        if (overshoot && i + run == 404) n = 138;
        if (n >= 11) {
          put(pc[19]);
          bw.put(n - 11, 7);
        } else {
          put(pc[18]);
          bw.put(n - 3, 3);
        }
        i += n;
        continue;
      }
      if (runs == kRuns && i > 0 && lengths[i] == lengths[i - 1] && run >= 3) {
        int n = run > 138 ? 138 : run;
        if (n >= 11) {
          put(pc[17]);
          bw.put(n - 11, 7);
        } else {
          put(pc[16]);
          bw.put(n - 3, 3);
        }
        i += n;
        continue;
      }
      put(pc[(lengths[i] - base[i]) & 15]);
      i++;
    }
    std::memcpy(prev_, lengths.data(), 404);
    lit = canonical_codes(lengths.data(), 299);
    dist = canonical_codes(lengths.data() + 299, 60);
    low = canonical_codes(lengths.data() + 359, 17);
    rep = canonical_codes(lengths.data() + 376, 28);
    low_reuse = 0;
    low_prev = 0;
  }

  // Pre-code lengths as 4-bit values: 15 is written as 15, 0; runs of two or more zeros
  // as 15, count - 2.
  void put_precode_lengths(const uint8_t* pre) {
    for (int i = 0; i < 20;) {
      if (pre[i] == 0) {
        int run = 1;
        while (i + run < 20 && pre[i + run] == 0 && run < 17) run++;
        if (run >= 2) {
          bw.put(15, 4);
          bw.put(run - 2, 4);
          i += run;
          continue;
        }
      }
      if (pre[i] == 15) {
        bw.put(15, 4);
        bw.put(0, 4);
      } else {
        bw.put(pre[i], 4);
      }
      i++;
    }
  }

  void put(const Code& c) { bw.put(c.bits, c.length); }
  void symbol(int s) { put(lit[s]); }
  void literal(uint8_t b) { symbol(b); }
  void literals(const char* text) {
    for (; *text; text++) literal(static_cast<uint8_t>(*text));
  }

  // A match through symbols 271-298 whose decoded length is len (including the bonus
  // for long distances) and distance dist. With low16 the low part is sent as code 16.
  void match(uint32_t len, uint32_t dist, bool low16 = false) {
    uint32_t coded = len - (dist >= 0x2000) - (dist >= 0x40000);
    if (coded < 3 || coded > 258) {
      ok = false;
      coded = 3;
    }
    int i = 27;
    while (kLengthBase[i] + 3u > coded) i--;
    symbol(271 + i);
    if (kLengthBits[i]) bw.put(coded - 3 - kLengthBase[i], kLengthBits[i]);
    const auto& slots = distance_slots();
    int slot = 59;
    while (slots[slot].base + 1 > dist) slot--;
    put(this->dist[slot]);
    uint32_t extra = dist - 1 - slots[slot].base;
    int b = slots[slot].bits;
    if (b == 0) return;
    if (slot <= 9) {
      bw.put(extra, b);
      return;
    }
    if (b > 4) bw.put(extra >> 4, b - 4);
    uint32_t lowbits = extra & 15;
    if (low_reuse > 0) {
      low_reuse--;
      ok = ok && lowbits == low_prev;
    } else if (low16) {
      put(low[16]);
      low_reuse = 15;
      ok = ok && lowbits == low_prev;
    } else {
      put(low[lowbits]);
      low_prev = lowbits;
    }
  }
  // Symbols 263-270: a length-2 match.
  void short_match(uint32_t dist) {
    int i = 7;
    while (kShortBase[i] + 1u > dist) i--;
    symbol(263 + i);
    bw.put(dist - 1 - kShortBase[i], kShortBits[i]);
  }
  // Symbols 259-262: a match with recent distance n and length len.
  void recent_match(int n, uint32_t len) {
    symbol(259 + n);
    int i = 27;
    while (kLengthBase[i] + 2u > len) i--;
    put(rep[i]);
    if (kLengthBits[i]) bw.put(len - 2 - kLengthBase[i], kLengthBits[i]);
  }
  void repeat_last() { symbol(258); }
  // Symbol 256 with control bit 1: a new header follows (call header() next).
  void new_table() {
    symbol(256);
    bw.put(1, 1);
  }
  // Symbol 256 with control bits 0, 0 (keep_tables) or 0, 1.
  void end_file(bool keep_tables) {
    symbol(256);
    bw.put(0, 1);
    bw.put(keep_tables ? 0 : 1, 1);
  }
  // The packed bytes, padded with zero bytes.
  std::vector<uint8_t> bytes(size_t padding = 0) const {
    std::vector<uint8_t> b = bw.bytes();
    b.resize(b.size() + padding, 0);
    return b;
  }
  // Starts the next file's packed data; the coding state carries on.
  void next_file() { bw = BitWriter(); }
  // Starts the packed data of a non-solid file.
  void next_stream() {
    next_file();
    std::memset(prev_, 0, sizeof prev_);
    low_reuse = low_prev = 0;
  }

  BitWriter bw;
  std::vector<Code> lit, dist, low, rep;
  uint32_t low_reuse = 0, low_prev = 0;
  bool ok = true;  // false when a match could not be coded as asked

 private:
  uint8_t prev_[404] = {};
  uint8_t zeros_[404] = {};
};

// Writes a stream and, alongside, what it must decode to: a model of the window that
// follows the meaning of each symbol.
class Script {
 public:
  Script() : window(0x400000, 0) {}

  void lit(uint8_t b) {
    w.literal(b);
    put(b);
  }
  void lits(const char* text) {
    for (; *text; text++) lit(static_cast<uint8_t>(*text));
  }
  void match(uint32_t len, uint32_t dist, bool low16 = false) {
    w.match(len, dist, low16);
    push_recent(dist);
    rep_len = len;
    rep_dist = dist;
    copy(len, dist);
  }
  void short_match(uint32_t dist) {
    w.short_match(dist);
    push_recent(dist);
    rep_len = 2;
    rep_dist = dist;
    copy(2, dist);
  }
  void recent_match(int n, uint32_t len) {
    w.recent_match(n, len);
    uint32_t dist = recent[n];
    for (int k = n; k > 0; k--) recent[k] = recent[k - 1];
    recent[0] = dist;
    rep_len = len;
    rep_dist = dist;
    copy(len, dist);
  }
  void repeat_last() {
    w.repeat_last();
    if (rep_len) copy(rep_len, rep_dist);
  }
  // A non-solid file starts: positions and distances restart, the window stays.
  void next_stream() {
    w.next_stream();
    pos = 0;
    for (uint32_t& d : recent) d = 0;
    rep_len = rep_dist = 0;
    file_start = out.size();
  }
  void next_file() {
    w.next_file();
    file_start = out.size();
  }
  // Model output of the current file.
  std::vector<uint8_t> file_output() const {
    return std::vector<uint8_t>(out.begin() + static_cast<long>(file_start), out.end());
  }

  StreamWriter w;
  std::vector<uint8_t> window;
  uint32_t pos = 0;
  std::vector<uint8_t> out;
  size_t file_start = 0;
  uint32_t recent[4] = {};
  uint32_t rep_len = 0, rep_dist = 0;

 private:
  void put(uint8_t b) {
    window[pos & 0x3FFFFF] = b;
    pos++;
    out.push_back(b);
  }
  void copy(uint32_t len, uint32_t dist) {
    for (uint32_t k = 0; k < len; k++) put(window[(pos - dist) & 0x3FFFFF]);
  }
  void push_recent(uint32_t dist) {
    recent[3] = recent[2];
    recent[2] = recent[1];
    recent[1] = recent[0];
    recent[0] = dist;
  }
};

}  // namespace lztest
