#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/crc32.h"
#include "crypto/sha1.h"

namespace {

uint32_t crc_bytewise(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int k = 0; k < 8; k++) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>(seed >> 16);
  }
  return v;
}

void sha1_of(const uint8_t* data, size_t n, bool keep_input, uint32_t digest[5]) {
  std::vector<uint8_t> copy(data, data + n);
  Sha1Context c;
  sha1_init(c);
  sha1_update(c, copy.data(), copy.size(), keep_input);
  sha1_final(c, digest, keep_input);
}

}  // namespace

TEST(Crc32, StandardCheckValues) {
  EXPECT_EQ(~crc32_update(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(0x12345678u, "", 0), 0x12345678u);
  // Refilling the table changes nothing.
  crc32_fill_table();
  EXPECT_EQ(crc32_of("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
}

TEST(Crc32, SameResultForEveryAlignmentAndLength) {
  std::vector<uint8_t> data = pattern(200);
  // Room to place the same bytes at every offset from an 8-byte boundary.
  alignas(16) uint8_t shifted[256];
  for (size_t offset = 0; offset < 16; offset++) {
    std::memcpy(shifted + offset, data.data(), 200);
    for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 100u, 200u - 16u}) {
      uint32_t expected = crc_bytewise(0xFFFFFFFFu, data.data(), length);
      EXPECT_EQ(crc32_update(0xFFFFFFFFu, shifted + offset, length), expected)
          << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc32, SplitUpdatesMatchOneUpdate) {
  std::vector<uint8_t> data = pattern(1 << 16, 7);
  uint32_t whole = crc32_update(0xFFFFFFFFu, data.data(), data.size());
  EXPECT_EQ(whole, crc_bytewise(0xFFFFFFFFu, data.data(), data.size()));
  uint32_t parts = 0xFFFFFFFFu;
  size_t at = 0;
  for (size_t step : {3u, 5000u, 1u, 8u, 12345u}) {
    parts = crc32_update(parts, data.data() + at, step);
    at += step;
  }
  parts = crc32_update(parts, data.data() + at, data.size() - at);
  EXPECT_EQ(parts, whole);
}

TEST(Sha1, StandardDigests) {
  struct Case {
    const char* text;
    size_t repeat;
    uint32_t digest[5];
  } cases[] = {
      {"abc", 1, {0xA9993E36u, 0x4706816Au, 0xBA3E2571u, 0x7850C26Cu, 0x9CD0D89Du}},
      {"", 1, {0xDA39A3EEu, 0x5E6B4B0Du, 0x3255BFEFu, 0x95601890u, 0xAFD80709u}},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       {0x84983E44u, 0x1C3BD26Eu, 0xBAAE4AA1u, 0xF95129E5u, 0xE54670F1u}},
      {"a", 1000000, {0x34AA973Cu, 0xD4C4DAA4u, 0xF61EEB2Bu, 0xDBAD2731u, 0x6534016Fu}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> data;
    for (size_t r = 0; r < c.repeat; r++) data.insert(data.end(), c.text, c.text + std::strlen(c.text));
    for (bool keep : {false, true}) {
      uint32_t d[5];
      sha1_of(data.data(), data.size(), keep, d);
      for (int k = 0; k < 5; k++) EXPECT_EQ(d[k], c.digest[k]) << c.text << " keep_input " << keep << " word " << k;
    }
  }
}

// Blocks taken straight from the caller's data are left holding the last sixteen message
// schedule words; bytes first gathered in the context's buffer stay as they were.
TEST(Sha1, KeepInputDecidesWhatHappensToTheCallersData) {
  std::vector<uint8_t> original = pattern(128, 3);

  // 64 bytes into an empty context go through the context's buffer.
  std::vector<uint8_t> block = std::vector<uint8_t>(original.begin(), original.begin() + 64);
  Sha1Context c;
  sha1_init(c);
  sha1_update(c, block.data(), 64, false);
  EXPECT_EQ(block, std::vector<uint8_t>(original.begin(), original.begin() + 64));

  // W[64..79] of the second block, as native little-endian words.
  uint32_t w[80];
  for (int t = 0; t < 16; t++)
    w[t] = (uint32_t(original[64 + 4 * t]) << 24) | (uint32_t(original[65 + 4 * t]) << 16) |
           (uint32_t(original[66 + 4 * t]) << 8) | original[67 + 4 * t];
  for (int t = 16; t < 80; t++) {
    uint32_t x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
    w[t] = (x << 1) | (x >> 31);
  }
  std::vector<uint8_t> schedule(64);
  for (int t = 64; t < 80; t++)
    for (int b = 0; b < 4; b++) schedule[4 * (t % 16) + b] = static_cast<uint8_t>(w[t] >> (8 * b));

  uint32_t digest_clear[5], digest_kept[5];
  std::vector<uint8_t> clear = original;
  sha1_init(c);
  sha1_update(c, clear.data(), 128, false);
  sha1_final(c, digest_clear, false);
  EXPECT_TRUE(std::equal(clear.begin(), clear.begin() + 64, original.begin()));
  EXPECT_EQ(std::vector<uint8_t>(clear.begin() + 64, clear.end()), schedule);

  std::vector<uint8_t> kept = original;
  sha1_init(c);
  sha1_update(c, kept.data(), 128, true);
  sha1_final(c, digest_kept, true);
  EXPECT_EQ(kept, original);
  for (int k = 0; k < 5; k++) EXPECT_EQ(digest_clear[k], digest_kept[k]);
}

TEST(Sha1, PendingBytesShiftWhichBlockIsTakenInPlace) {
  // 63 bytes, then 65: one byte completes the pending block, the next 64 bytes of the
  // second buffer are transformed where they are, and its first byte is untouched.
  std::vector<uint8_t> first = pattern(63, 11), second = pattern(65, 12);
  std::vector<uint8_t> second_copy = second;
  Sha1Context c;
  sha1_init(c);
  sha1_update(c, first.data(), first.size(), false);
  sha1_update(c, second.data(), second.size(), false);
  uint32_t split[5];
  sha1_final(c, split, false);
  EXPECT_EQ(second[0], second_copy[0]);
  EXPECT_NE(std::vector<uint8_t>(second.begin() + 1, second.end()),
            std::vector<uint8_t>(second_copy.begin() + 1, second_copy.end()));

  std::vector<uint8_t> joined = pattern(63, 11);
  joined.insert(joined.end(), second_copy.begin(), second_copy.end());
  uint32_t whole[5];
  sha1_of(joined.data(), joined.size(), true, whole);
  for (int k = 0; k < 5; k++) EXPECT_EQ(split[k], whole[k]);
}

TEST(Sha1, FinalClearsTheContext) {
  for (bool keep : {false, true}) {
    Sha1Context c;
    sha1_init(c);
    uint8_t data[3] = {'a', 'b', 'c'};
    sha1_update(c, data, 3, keep);
    uint32_t d[5];
    sha1_final(c, d, keep);
    EXPECT_EQ(c.bit_count_low, 0u);
    EXPECT_EQ(c.bit_count_high, 0u);
    for (uint8_t b : c.buffer) EXPECT_EQ(b, 0);
    // With keep_input the cleared context goes through one more transform.
    bool state_zero = true;
    for (uint32_t s : c.state) state_zero = state_zero && s == 0;
    EXPECT_EQ(state_zero, !keep);
  }
}
