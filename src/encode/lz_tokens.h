// The token stream between the parsers and the block coder, and the decoder-side state
// that the parsers track (recent distances and the last match length).
#pragma once

#include <cstdint>
#include <cstring>

#include "encode/lz_format.h"

enum LzTokenKind : uint8_t {
  kTokLiteral,     // value = byte
  kTokRepeatLast,  // symbol 258: the last match again
  kTokRecent,      // symbols 259..262: rep = index of the recent distance, len 2..257
  kTokShort,       // symbols 263..270: length 2, value = distance 1..256
  kTokLong,        // symbols 271..298: len with the distance bonus included, value = distance
};

struct LzToken {
  uint8_t kind;
  uint8_t rep;
  uint16_t len;
  uint32_t value;

  static LzToken literal(uint8_t b) { return {kTokLiteral, 0, 1, b}; }
  static LzToken repeat_last(uint32_t len) { return {kTokRepeatLast, 0, uint16_t(len), 0}; }
  static LzToken recent(int r, uint32_t len) { return {kTokRecent, uint8_t(r), uint16_t(len), 0}; }
  static LzToken short_match(uint32_t dist) { return {kTokShort, 0, 2, dist}; }
  static LzToken long_match(uint32_t len, uint32_t dist) { return {kTokLong, 0, uint16_t(len), dist}; }
};

// What the decoder remembers between symbols that changes what a token means.
struct LzParseState {
  uint32_t reps[4] = {0, 0, 0, 0};
  uint32_t last_len = 0;

  void push(uint32_t dist) {
    reps[3] = reps[2];
    reps[2] = reps[1];
    reps[1] = reps[0];
    reps[0] = dist;
  }
  void apply(const LzToken& t) {
    switch (t.kind) {
      case kTokLiteral:
      case kTokRepeatLast:
        break;
      case kTokRecent: {
        uint32_t d = reps[t.rep];
        for (int i = t.rep; i > 0; --i) reps[i] = reps[i - 1];
        reps[0] = d;
        last_len = t.len;
        break;
      }
      case kTokShort:
        push(t.value);
        last_len = 2;
        break;
      case kTokLong:
        push(t.value);
        last_len = t.len;
        break;
    }
  }
  // Distance the token copies from (0 for a literal).
  uint32_t distance_of(const LzToken& t) const {
    switch (t.kind) {
      case kTokRepeatLast:
        return reps[0];
      case kTokRecent:
        return reps[t.rep];
      case kTokShort:
      case kTokLong:
        return t.value;
      default:
        return 0;
    }
  }
};

// Offsets of the four main tables in the 404 code lengths of a block.
namespace lzt {
constexpr int kMain = 0;
constexpr int kDist = lzf::kMainSymbols;
constexpr int kLow = kDist + lzf::kDistSymbols;
constexpr int kRep = kLow + lzf::kLowSymbols;
}  // namespace lzt
