// Constants of the compressed-stream format (version 29) as the encoder sees them:
// alphabet sizes, length and distance slot tables and the helpers that map lengths and
// distances to symbols and extra bits.
#pragma once

#include <cstdint>

namespace lzf {

constexpr int kMainSymbols = 299;    // literal/length table
constexpr int kDistSymbols = 60;     // distance slots
constexpr int kLowSymbols = 17;      // low four distance bits, 16 = reuse the previous value
constexpr int kRepSymbols = 28;      // lengths of matches with a recent distance
constexpr int kTableSymbols = kMainSymbols + kDistSymbols + kLowSymbols + kRepSymbols;  // 404
constexpr int kPreSymbols = 20;
constexpr int kMaxCodeLen = 15;

constexpr int kSymEndBlock = 256;
constexpr int kSymRepeatLast = 258;
constexpr int kSymRecent = 259;      // 259..262
constexpr int kSymShort = 263;       // 263..270
constexpr int kSymMatch = 271;       // 271..298

constexpr uint32_t kWindowSize = 4u << 20;
constexpr uint32_t kMaxDistance = kWindowSize - 1;  // largest distance the encoder produces
constexpr int kMaxMatch = 260;                      // longest match (far distance, longest code)
constexpr int kMaxRecentLen = 257;                  // longest match with a recent distance
constexpr int kLowReuseRun = 15;                    // later matches covered by low code 16

constexpr uint32_t kBonus1 = 0x2000;   // coded length is one shorter from this distance on
constexpr uint32_t kBonus2 = 0x40000;  // and two shorter from this one

extern const uint8_t kLenBase[28];
extern const uint8_t kLenBits[28];
extern const uint8_t kShortBase[8];
extern const uint8_t kShortBits[8];
extern const uint32_t kDistBase[60];
extern const uint8_t kDistBits[60];

// Index into the 28-entry length tables for a value 0..255 (length minus its base).
int length_index(uint32_t value);
// Distance slot of a distance 1..4 MB.
int distance_slot(uint32_t dist);
// Index of the short-distance symbol for a distance 1..256.
int short_index(uint32_t dist);

inline int distance_bonus(uint32_t dist) { return (dist >= kBonus1) + (dist >= kBonus2); }
// Shortest and longest match that a long-match symbol can express at this distance.
inline int min_match_at(uint32_t dist) { return 3 + distance_bonus(dist); }
inline int max_match_at(uint32_t dist) { return 258 + distance_bonus(dist); }

}  // namespace lzf
