// Test data and a decoding harness for PPM blocks.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decode/lz_decoder.h"
#include "lz_test_support.h"

namespace ppmtest {

using Bytes = std::vector<uint8_t>;

// Words in sentences and lines, with a skewed word choice: text-like statistics.
inline Bytes text_data(size_t size, uint32_t seed = 1) {
  static const char* const kWords[] = {
      "the",     "archive", "module",  "extracts", "files",   "into",   "a",       "folder",   "and",
      "reports", "every",   "error",   "with",     "its",     "number", "when",    "user",     "presses",
      "install", "of",      "setup",   "program",  "window",  "to",     "is",      "data",     "block",
      "header",  "context", "model",   "symbol",   "order",   "memory", "restart", "decoder",  "encoder",
      "stream",  "bytes",   "table",   "length",   "distance", "match", "literal", "escape",   "range"};
  constexpr int kCount = sizeof kWords / sizeof kWords[0];
  std::mt19937 rng(seed);
  std::string s;
  int in_line = 0;
  while (s.size() < size) {
    int w = static_cast<int>(rng() % kCount);
    if (rng() % 3) w = w % 12;
    std::string word = kWords[w];
    if (in_line == 0) word[0] = static_cast<char>(word[0] - 32);
    s += word;
    in_line += static_cast<int>(word.size()) + 1;
    uint32_t r = rng() % 16;
    if (r == 0) s += ".";
    if (r == 1) s += ",";
    if (in_line > 60 + static_cast<int>(rng() % 20)) {
      s += "\r\n";
      in_line = 0;
    } else {
      s += " ";
    }
  }
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

// Records of little-endian numbers, small deltas, some zero runs: executable-like data.
inline Bytes binary_data(size_t size, uint32_t seed = 2) {
  std::mt19937 rng(seed);
  Bytes b;
  uint32_t counter = 0x401000;
  while (b.size() < size) {
    switch (rng() % 5) {
      case 0:
        for (int k = 0; k < 4; k++) b.push_back(static_cast<uint8_t>(counter >> (8 * k)));
        counter += rng() % 64;
        break;
      case 1:
        b.insert(b.end(), rng() % 300, 0);
        break;
      case 2:
        b.push_back(0xE8);
        for (int k = 0; k < 4; k++) b.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0));
        break;
      default:
        b.push_back(static_cast<uint8_t>(rng() % 40));
        break;
    }
  }
  b.resize(size);
  return b;
}

inline Bytes random_data(size_t size, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// The module's decoder over a memory pipe; one decoder for a run of files.
struct Harness {
  lztest::MemoryPipe pipe;
  LzDecoder dec{&pipe};

  Harness() { dec.set_window(); }
  Bytes decode(const Bytes& packed, size_t expected, bool solid) {
    pipe.next_input(packed);
    pipe.output.clear();
    dec.expected_size = static_cast<int64_t>(expected);
    dec.decode_file(29, solid);
    return pipe.output;
  }
};

}  // namespace ppmtest
