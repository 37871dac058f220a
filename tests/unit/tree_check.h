// Test support: SHA-256 of files, a small JSON reader for case descriptions, and
// helpers to compare an extracted tree with what a case expects.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

class Sha256 {
 public:
  Sha256() {
    static const uint32_t init[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (int i = 0; i < 8; i++) h_[i] = init[i];
  }
  void update(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    total_ += n;
    while (n--) {
      block_[used_++] = *p++;
      if (used_ == 64) {
        transform();
        used_ = 0;
      }
    }
  }
  std::string hex() {
    uint64_t bits = total_ * 8;
    uint8_t pad = 0x80;
    update(&pad, 1);
    uint8_t zero = 0;
    while (used_ != 56) update(&zero, 1);
    for (int i = 7; i >= 0; i--) {
      uint8_t b = static_cast<uint8_t>(bits >> (8 * i));
      update(&b, 1);
    }
    char out[65];
    for (int i = 0; i < 8; i++) std::snprintf(out + 8 * i, 9, "%08x", h_[i]);
    return out;
  }

 private:
  static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void transform() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
      w[i] = (uint32_t(block_[4 * i]) << 24) | (uint32_t(block_[4 * i + 1]) << 16) |
             (uint32_t(block_[4 * i + 2]) << 8) | block_[4 * i + 3];
    for (int i = 16; i < 64; i++) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; i++) {
      uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a; h_[1] += b; h_[2] += c; h_[3] += d; h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
  }
  uint32_t h_[8];
  uint8_t block_[64];
  size_t used_ = 0;
  uint64_t total_ = 0;
};

inline std::string sha256_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Sha256 s;
  char buf[65536];
  while (in) {
    in.read(buf, sizeof(buf));
    s.update(buf, static_cast<size_t>(in.gcount()));
  }
  return s.hex();
}

// A JSON value: enough of the language for the case descriptions.
struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* get(const std::string& key) const {
    for (const auto& m : members)
      if (m.first == key) return &m.second;
    return nullptr;
  }
  const Json& operator[](const std::string& key) const {
    static const Json null;
    const Json* j = get(key);
    return j ? *j : null;
  }
  bool is_null() const { return kind == Null; }

  static Json parse(const std::string& s) {
    size_t i = 0;
    return parse_value(s, i);
  }

 private:
  static void skip(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) i++;
  }
  static void put_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) out += char(cp);
    else if (cp < 0x800) out += char(0xC0 | (cp >> 6)), out += char(0x80 | (cp & 0x3F));
    else if (cp < 0x10000)
      out += char(0xE0 | (cp >> 12)), out += char(0x80 | ((cp >> 6) & 0x3F)), out += char(0x80 | (cp & 0x3F));
    else
      out += char(0xF0 | (cp >> 18)), out += char(0x80 | ((cp >> 12) & 0x3F)),
          out += char(0x80 | ((cp >> 6) & 0x3F)), out += char(0x80 | (cp & 0x3F));
  }
  static std::string parse_string(const std::string& s, size_t& i) {
    std::string out;
    i++;  // opening quote
    while (i < s.size() && s[i] != '"') {
      if (s[i] == '\\') {
        char e = s[++i];
        switch (e) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'u': {
            uint32_t cp = std::stoul(s.substr(i + 1, 4), nullptr, 16);
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF && s[i + 1] == '\\' && s[i + 2] == 'u') {
              uint32_t lo = std::stoul(s.substr(i + 3, 4), nullptr, 16);
              cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
              i += 6;
            }
            put_utf8(out, cp);
            break;
          }
          default: out += e; break;
        }
        i++;
      } else {
        out += s[i++];
      }
    }
    i++;  // closing quote
    return out;
  }
  static Json parse_value(const std::string& s, size_t& i) {
    skip(s, i);
    Json j;
    if (i >= s.size()) return j;
    char c = s[i];
    if (c == '{') {
      j.kind = Object;
      i++;
      skip(s, i);
      while (i < s.size() && s[i] != '}') {
        std::string key = parse_string(s, i);
        skip(s, i);
        i++;  // colon
        j.members.emplace_back(key, parse_value(s, i));
        skip(s, i);
        if (s[i] == ',') i++;
        skip(s, i);
      }
      i++;
    } else if (c == '[') {
      j.kind = Array;
      i++;
      skip(s, i);
      while (i < s.size() && s[i] != ']') {
        j.items.push_back(parse_value(s, i));
        skip(s, i);
        if (s[i] == ',') i++;
        skip(s, i);
      }
      i++;
    } else if (c == '"') {
      j.kind = String;
      j.text = parse_string(s, i);
    } else if (s.compare(i, 4, "true") == 0) {
      j.kind = Bool;
      j.boolean = true;
      i += 4;
    } else if (s.compare(i, 5, "false") == 0) {
      j.kind = Bool;
      i += 5;
    } else if (s.compare(i, 4, "null") == 0) {
      i += 4;
    } else {
      j.kind = Number;
      size_t used = 0;
      j.number = std::stod(s.substr(i), &used);
      i += used;
    }
    return j;
  }
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Matches a logged line against a message format whose conversions (%s, %d, %u) stand
// for any text.
inline bool matches_format(const std::string& line, const std::string& format) {
  std::vector<std::string> pieces;
  std::string cur;
  for (size_t i = 0; i < format.size(); i++) {
    if (format[i] == '%' && i + 1 < format.size() && std::string("sdu").find(format[i + 1]) != std::string::npos) {
      pieces.push_back(cur);
      cur.clear();
      i++;
    } else {
      cur += format[i];
    }
  }
  pieces.push_back(cur);
  if (pieces.size() == 1) return line == pieces[0];
  if (line.compare(0, pieces[0].size(), pieces[0]) != 0) return false;
  size_t at = pieces[0].size();
  for (size_t k = 1; k + 1 < pieces.size(); k++) {
    size_t f = line.find(pieces[k], at);
    if (f == std::string::npos) return false;
    at = f + pieces[k].size();
  }
  const std::string& last = pieces.back();
  return line.size() >= at + last.size() && line.compare(line.size() - last.size(), last.size(), last) == 0;
}

}  // namespace testsupport
