// Compressed entries of independently made archives, decoded straight from the archive
// bytes with a minimal block walk (signature, main header, file blocks, end block).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/crc32.h"
#include "decode/lz_decoder.h"
#include "lz_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& name) {
  Bytes data;
  std::string path = std::string(QUILLO_TEST_DATA) + "/lz/" + name;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  return data;
}

uint32_t le(const Bytes& d, size_t at, int n) {
  uint32_t v = 0;
  for (int k = n - 1; k >= 0; k--) v = v << 8 | d[at + k];
  return v;
}

struct Entry {
  std::string name;
  Bytes packed;
  uint32_t unpacked_size;
  uint32_t crc;
  int version;
  bool solid;
};

std::vector<Entry> file_entries(const Bytes& d) {
  std::vector<Entry> entries;
  size_t p = 7;  // after the signature
  while (p + 7 <= d.size()) {
    int type = d[p + 2];
    uint32_t flags = le(d, p + 3, 2);
    uint32_t header = le(d, p + 5, 2);
    if (type == 0x7B || header < 7) break;
    size_t next = p + header;
    if (type == 0x74) {
      Entry e;
      uint32_t packed = le(d, p + 7, 4);
      e.unpacked_size = le(d, p + 11, 4);
      e.crc = le(d, p + 16, 4);
      e.version = d[p + 24];
      e.solid = (flags & 0x10) != 0;
      uint32_t name_length = le(d, p + 26, 2);
      size_t name_at = p + 32 + ((flags & 0x100) ? 8 : 0);
      e.name.assign(d.begin() + static_cast<long>(name_at), d.begin() + static_cast<long>(name_at + name_length));
      e.packed.assign(d.begin() + static_cast<long>(next), d.begin() + static_cast<long>(next + packed));
      entries.push_back(e);
      next += packed;
    } else if (flags & 0x8000) {
      next += le(d, p + 7, 4);
    }
    p = next;
  }
  return entries;
}

TEST(LzArchive, EntriesDecodeToTheirContents) {
  struct Case {
    const char* archive;
    std::vector<std::pair<std::string, std::string>> expected;  // entry name, file with its contents
    size_t entries;
  } cases[] = {
      {"lz_v29.kez", {{"text.txt", "lz_v29.text.txt"}, {"binary.bin", "lz_v29.binary.bin"}}, 2},
      {"solid_lz.kez", {{"part1.txt", "solid_lz.first.txt"}, {"part3.txt", "solid_lz.third.txt"}}, 3},
  };
  for (const Case& c : cases) {
    std::vector<Entry> entries = file_entries(read_file(c.archive));
    ASSERT_EQ(entries.size(), c.entries) << c.archive;
    lztest::MemoryPipe pipe;
    LzDecoder dec(&pipe);
    dec.set_window();
    for (const Entry& e : entries) {
      pipe.next_input(e.packed);
      pipe.output.clear();
      dec.expected_size = e.unpacked_size;
      dec.decode_file(e.version, e.solid);
      EXPECT_EQ(pipe.output.size(), e.unpacked_size) << e.name;
      EXPECT_EQ(crc32_of(pipe.output.data(), pipe.output.size()), e.crc) << e.name;
      for (const auto& x : c.expected) {
        if (x.first == e.name) {
          EXPECT_TRUE(pipe.output == read_file(x.second)) << e.name;
        }
      }
    }
  }
}

}  // namespace
