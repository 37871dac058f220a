// Decryption is not built yet: set-up and decryption leave the data as it is, so an
// encrypted entry fails its CRC check.
#include "crypto/aes.h"

void ensure_aes_tables() {}
void set_key_from_password(BlockDecryptor&, const char*, const uint8_t*, bool) {}
int decrypt_blocks(BlockDecryptor&, uint8_t*, int length) { return length > 0 ? length / 16 * 16 : 0; }
