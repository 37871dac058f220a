// AES-128 CBC decryption of whole 16-byte blocks, with the key derived from a password.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlockDecryptor {
  int32_t direction = 0;
  uint8_t chaining_block[16] = {};
  uint32_t round_keys[11][4] = {};
  uint8_t derived_key[16] = {};
  uint8_t derived_iv[16] = {};
};

void ensure_aes_tables();
// Does nothing for an empty password. salt may be null.
void set_key_from_password(BlockDecryptor& decryptor, const char* password, const uint8_t* salt,
                           bool newer_scheme);
// Decrypts length / 16 blocks in place; returns the bytes decrypted.
int decrypt_blocks(BlockDecryptor& decryptor, uint8_t* buffer, int length);
