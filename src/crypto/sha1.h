// SHA-1 with the keep_input behaviour the key derivation depends on: with keep_input
// clear, blocks taken directly from the caller's data are left holding their message
// schedule words W[64..79].
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha1Context {
  uint32_t state[5];
  uint32_t bit_count_low;
  uint32_t bit_count_high;
  uint8_t buffer[64];
};

void sha1_init(Sha1Context& context);
void sha1_update(Sha1Context& context, uint8_t* data, size_t length, bool keep_input);
void sha1_final(Sha1Context& context, uint32_t digest[5], bool keep_input);
void sha1_transform(Sha1Context& context, uint8_t* block, bool keep_input);
