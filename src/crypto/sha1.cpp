// SHA-1. The five working variables stay in one array; each round addresses them through
// a row of the round-index table, so nothing moves between rounds.
//
// The transform works on the 64-byte block in place (or on a process-wide copy with
// keep_input): the block's words are byte-swapped into message words and then replaced by
// the message schedule, so a block taken straight from the caller's data is left holding
// W[64..79] as native 32-bit integers. The key derivation depends on that.
#include "crypto/sha1.h"

#include <cstring>

namespace {

uint8_t round_index[80][5];
bool round_index_ready = false;
uint8_t transform_workspace[64];

void fill_round_index() {
  for (int t = 0; t < 80; t++) {
    int start = (5 - t % 5) % 5;
    for (int k = 0; k < 5; k++) round_index[t][k] = static_cast<uint8_t>((start + k) % 5);
  }
  round_index_ready = true;
}

inline uint32_t rol(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// One group of rounds of the same function: v[e] += rol5(v[a]) + f(b, c, d) + K + W;
// v[b] = rol30(v[b]).
#define SHA1_ROUND(F, K)                                                             \
  do {                                                                              \
    const uint8_t* r = round_index[t];                                              \
    uint32_t b = v[r[1]], c = v[r[2]], d = v[r[3]];                                 \
    v[r[4]] += rol(v[r[0]], 5) + (F) + (K) + w;                                      \
    v[r[1]] = rol(b, 30);                                                           \
  } while (0)

}  // namespace

void sha1_init(Sha1Context& context) {
  context.state[0] = 0x67452301u;
  context.state[1] = 0xEFCDAB89u;
  context.state[2] = 0x98BADCFEu;
  context.state[3] = 0x10325476u;
  context.state[4] = 0xC3D2E1F0u;
  context.bit_count_low = 0;
  context.bit_count_high = 0;
  std::memset(context.buffer, 0, sizeof(context.buffer));
}

void sha1_transform(Sha1Context& context, uint8_t* block, bool keep_input) {
  if (!round_index_ready) fill_round_index();
  uint8_t* work = block;
  if (keep_input) {
    std::memcpy(transform_workspace, block, 64);
    work = transform_workspace;
  }
  uint32_t words[16];
  uint32_t v[5] = {context.state[0], context.state[1], context.state[2], context.state[3], context.state[4]};
  int t = 0;
  for (; t < 16; t++) {
    uint32_t w = load_be32(work + 4 * t);
    words[t] = w;
    SHA1_ROUND((b & c) | (~b & d), 0x5A827999u);
  }
  for (; t < 80; t++) {
    uint32_t w = rol(words[(t + 13) & 15] ^ words[(t + 8) & 15] ^ words[(t + 2) & 15] ^ words[t & 15], 1);
    words[t & 15] = w;
    if (t < 20) SHA1_ROUND((b & c) | (~b & d), 0x5A827999u);
    else if (t < 40) SHA1_ROUND(b ^ c ^ d, 0x6ED9EBA1u);
    else if (t < 60) SHA1_ROUND((b & c) | (b & d) | (c & d), 0x8F1BBCDCu);
    else SHA1_ROUND(b ^ c ^ d, 0xCA62C1D6u);
  }
  // The block ends up holding the last sixteen schedule words, as native integers.
  std::memcpy(work, words, 64);
  for (int k = 0; k < 5; k++) context.state[k] += v[k];
}

void sha1_update(Sha1Context& context, uint8_t* data, size_t length, bool keep_input) {
  size_t j = (context.bit_count_low >> 3) & 63;
  uint32_t bits = static_cast<uint32_t>(length << 3);
  context.bit_count_low += bits;
  if (context.bit_count_low < bits) context.bit_count_high++;
  context.bit_count_high += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 29);
  size_t i = 0;
  if (j + length >= 64) {
    i = 64 - j;
    std::memcpy(context.buffer + j, data, i);
    sha1_transform(context, context.buffer, keep_input);
    for (; i + 63 < length; i += 64) sha1_transform(context, data + i, keep_input);
    j = 0;
  }
  if (length > i) std::memcpy(context.buffer + j, data + i, length - i);
}

void sha1_final(Sha1Context& context, uint32_t digest[5], bool keep_input) {
  uint8_t count[8];
  for (int i = 0; i < 8; i++) {
    uint32_t word = i < 4 ? context.bit_count_high : context.bit_count_low;
    count[i] = static_cast<uint8_t>(word >> ((3 - (i & 3)) * 8));
  }
  uint8_t byte = 0x80;
  sha1_update(context, &byte, 1, keep_input);
  while ((context.bit_count_low & 504) != 448) {
    byte = 0;
    sha1_update(context, &byte, 1, keep_input);
  }
  sha1_update(context, count, 8, keep_input);
  for (int k = 0; k < 5; k++) digest[k] = context.state[k];
  std::memset(context.buffer, 0, sizeof(context.buffer));
  std::memset(context.state, 0, sizeof(context.state));
  context.bit_count_low = context.bit_count_high = 0;
  std::memset(count, 0, sizeof(count));
  if (keep_input) sha1_transform(context, context.buffer, true);
}
