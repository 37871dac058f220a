// Deterministic test inputs for the LZ encoder tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lzenc_data {

struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return uint32_t(s >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// Words from a small vocabulary: many matches of all lengths and distances.
inline std::vector<uint8_t> text(size_t n, uint64_t seed) {
  Rng r(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 300; ++i) {
    std::string w;
    int len = 2 + int(r.below(9));
    for (int k = 0; k < len; ++k) w += char('a' + r.below(26));
    words.push_back(w);
  }
  std::vector<uint8_t> out;
  while (out.size() < n) {
    const std::string& w = words[r.below(40) * r.below(8) % words.size()];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(r.below(12) == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

inline std::vector<uint8_t> random_bytes(size_t n, uint64_t seed) {
  Rng r(seed);
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = uint8_t(r.next());
  return out;
}

// 16-byte records, each a copy of an earlier one with one byte changed: matches at
// distances that are multiples of 16.
inline std::vector<uint8_t> records(size_t n, uint64_t seed) {
  Rng r(seed);
  std::vector<uint8_t> out = random_bytes(64 * 16, seed + 1);
  while (out.size() < n) {
    size_t count = out.size() / 16;
    size_t back = 3 + r.below(uint32_t(count < 3000 ? count - 3 : 3000));
    size_t from = out.size() - back * 16;
    for (int k = 0; k < 16; ++k) out.push_back(out[from + size_t(k)]);
    out[out.size() - 16 + r.below(16)] = uint8_t(r.next());
  }
  out.resize(n);
  return out;
}

// Runs of one byte: matches longer than their distance.
inline std::vector<uint8_t> runs(size_t n, uint64_t seed) {
  Rng r(seed);
  std::vector<uint8_t> out;
  while (out.size() < n) out.insert(out.end(), 1 + r.below(r.below(8) == 0 ? 2000 : 20), uint8_t(r.below(4)));
  out.resize(n);
  return out;
}

// A random block repeated with edits after more than 256 KB: far matches.
inline std::vector<uint8_t> far_repeat(uint64_t seed) {
  std::vector<uint8_t> block = random_bytes(48 << 10, seed);
  std::vector<uint8_t> out = block;
  std::vector<uint8_t> gap = text(300 << 10, seed + 2);
  out.insert(out.end(), gap.begin(), gap.end());
  Rng r(seed + 3);
  for (size_t i = 0; i < block.size(); i += 1000 + r.below(3000)) block[i] ^= 0x55;
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

// Rows that repeat a body after one changing byte: the same match again and again.
inline std::vector<uint8_t> rows(size_t n, uint64_t seed) {
  Rng r(seed);
  std::vector<std::vector<uint8_t>> bodies;
  for (int i = 0; i < 6; ++i) bodies.push_back(text(12 + r.below(20), seed + 10 + uint64_t(i)));
  std::vector<uint8_t> out;
  while (out.size() < n) {
    const std::vector<uint8_t>& b = bodies[r.below(6)];
    for (int k = int(2 + r.below(5)); k > 0; --k) {
      out.push_back(uint8_t('0' + r.below(10)));
      out.insert(out.end(), b.begin(), b.end());
    }
  }
  out.resize(n);
  return out;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Inputs of the round-trip tests: each is a list of files (one stream when solid).
struct Input {
  const char* name;
  std::vector<std::vector<uint8_t>> files;
};

inline std::vector<Input> inputs() {
  return {
      {"empty", {std::vector<uint8_t>()}},
      {"one byte", {std::vector<uint8_t>{'x'}}},
      {"few bytes", {std::vector<uint8_t>{'a', 'b', 'a', 'b', 'a'}}},
      {"text", {text(200 << 10, 1)}},
      {"incompressible", {random_bytes(150 << 10, 2)}},
      {"runs", {runs(120 << 10, 3)}},
      {"records", {records(160 << 10, 4)}},
      {"rows", {rows(50 << 10, 15)}},
      {"far repeat", {far_repeat(5)}},
      {"changing statistics",
       {concat({text(120 << 10, 6), random_bytes(60 << 10, 7), records(120 << 10, 8),
                runs(40 << 10, 9), text(80 << 10, 10)})}},
      {"several files",
       {text(30 << 10, 11), text(20 << 10, 11), std::vector<uint8_t>(), std::vector<uint8_t>{'q'},
        random_bytes(3000, 12), text(700, 13), records(40 << 10, 14)}},
  };
}

// 13 MB in files of 1.3 MB: the history slides several times, and a block repeated
// just under 4 MB later can be found again.
inline std::vector<std::vector<uint8_t>> longer_than_window() {
  std::vector<uint8_t> marker = random_bytes(200 << 10, 61);
  std::vector<std::vector<uint8_t>> files;
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> f = concat({text(700 << 10, 70 + uint64_t(i)), random_bytes(600 << 10, 80 + uint64_t(i))});
    if (i == 2 || i == 5 || i == 8) std::copy(marker.begin(), marker.end(), f.begin() + 900000);
    files.push_back(f);
  }
  return files;
}

}  // namespace lzenc_data
