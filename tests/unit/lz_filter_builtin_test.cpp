// The built-in filter routines: worked examples, the routines against plain ones on
// random blocks and parameters (hostile ones included), and round trips through a
// straightforward forward transform where that is simple to write.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/builtin_filters.h"
#include "decode/filter_vm.h"
#include "lz_filter_asm.h"
#include "lz_reference_vm.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

class Builtins : public ::testing::Test {
 protected:
  void SetUp() override { vm.allocate(); }

  // Runs a routine on a block at 0 with the result words set as the global data sets
  // them (length of the block, address 0); returns the bytes it names.
  Bytes run(uint32_t type, const Bytes& block, uint32_t r0 = 0, uint32_t r1 = 0, uint32_t r6 = 0) {
    std::memcpy(vm.memory, block.data(), block.size());
    uint32_t length = static_cast<uint32_t>(block.size());
    std::memcpy(vm.memory + 0x3C01C, &length, 4);
    std::memset(vm.memory + 0x3C020, 0, 4);
    uint32_t r[8] = {r0, r1, 0, 0x3C000, length, 0, r6, 0x40000};
    run_builtin(type, vm.memory, r);
    uint32_t at = word(vm.memory + 0x3C020), size = word(vm.memory + 0x3C01C);
    return Bytes(vm.memory + at, vm.memory + at + size);
  }

  FilterVm vm;
};

TEST_F(Builtins, WorkedExamples) {
  struct Case {
    const char* what;
    uint32_t type;
    Bytes block;
    uint32_t r0, r1, r6;
    Bytes want;
  } cases[] = {
      {"call at file position 0", 1, {0xE8, 0x00, 0x10, 0x00, 0x00}, 0, 0, 0, {0xE8, 0xFF, 0x0F, 0x00, 0x00}},
      {"call further into the file", 1, {0xE8, 0x00, 0x10, 0x00, 0x00, 0x90}, 0, 0, 0x100, {0xE8, 0xFF, 0x0E, 0x00, 0x00, 0x90}},
      {"negative target still inside the file", 1, {0xE8, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0, 0, {0xE8, 0xFF, 0xFF, 0xFF, 0x00}},
      {"negative target before the file", 1, {0xE8, 0xFE, 0xFF, 0xFF, 0xFF}, 0, 0, 0, {0xE8, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"target out of range", 1, {0xE8, 0x00, 0x00, 0x00, 0x01}, 0, 0, 0, {0xE8, 0x00, 0x00, 0x00, 0x01}},
      {"E8 in the last four bytes", 1, {0, 0, 0, 0, 0xE8, 0x00, 0x10, 0x00}, 0, 0, 0, {0, 0, 0, 0, 0xE8, 0x00, 0x10, 0x00}},
      {"four bytes pass unchanged", 1, {0xE8, 0x00, 0x10, 0x00}, 0, 0, 0, {0xE8, 0x00, 0x10, 0x00}},
      {"the address field is skipped", 1, {0xE8, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, 0,
       {0xE8, 0xE7, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"jumps are left to the other type", 1, {0xE9, 0x00, 0x10, 0x00, 0x00}, 0, 0, 0, {0xE9, 0x00, 0x10, 0x00, 0x00}},
      {"jumps", 2, {0xE9, 0x00, 0x10, 0x00, 0x00, 0xE8, 0x00, 0x10, 0x00, 0x00}, 0, 0, 0,
       {0xE9, 0xFF, 0x0F, 0x00, 0x00, 0xE8, 0xFA, 0x0F, 0x00, 0x00}},
      {"delta, one channel", 6, {1, 1, 1}, 1, 0, 0, {0xFF, 0xFE, 0xFD}},
      {"delta, two channels", 6, {1, 2, 3, 4}, 2, 0, 0, {0xFF, 0xFD, 0xFD, 0xF9}},
      {"delta, more channels than bytes", 6, {1, 2}, 5, 0, 0, {0xFF, 0xFE}},
      {"case escapes", 7, {2, 0x61, 2, 2, 0x62}, 0, 0, 0, {0x41, 2, 0x62}},
      {"case escape at the end takes the byte after the block", 7, {0x61, 2}, 0, 0, 0, {0x61, 0x41}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(run(c.type, c.block, c.r0, c.r1, c.r6) == c.want) << c.what;
  }
}

// One bundle with template 16 (only slot 2 is a branch slot): its 20-bit field at bit
// 100 loses the bundle number when the 4-bit field at bit 124 is 5.
TEST_F(Builtins, Ia64Bundles) {
  Bytes block(32, 0);
  block[0] = 0x10;
  block[12] = 0x5A;  // bits 100 .. 119: 0x12345, the low nibble belongs to other fields
  block[13] = 0x34;
  block[14] = 0x12;
  block[15] = 0x50;  // bits 124 .. 127: 5
  Bytes got = run(3, block, 0, 0, 0x20);  // bundle number 2
  Bytes want = block;
  want[12] = 0x3A;
  EXPECT_TRUE(got == want);

  Bytes other = block;
  other[15] = 0x40;
  EXPECT_TRUE(run(3, other, 0, 0, 0x20) == other) << "no branch in the slot";
  other = block;
  other[0] = 0x14;  // template 20: no branch slots
  EXPECT_TRUE(run(3, other, 0, 0, 0x20) == other);
  Bytes short_block(block.begin(), block.begin() + 21);
  EXPECT_TRUE(run(3, short_block, 0, 0, 0x20) == short_block) << "21 bytes pass unchanged";
}

// Both memories start the same (random), the routine runs on both; every byte of the
// memory must agree afterwards.
TEST_F(Builtins, AgreeWithPlainRoutines) {
  std::mt19937 rng(4545);
  std::vector<uint8_t> ref(lzref::kVmSize + 4);
  auto pick = [&](std::initializer_list<uint32_t> v) { return *(v.begin() + rng() % v.size()); };
  for (int round = 0; round < 700; round++) {
    uint32_t type = 1 + round % 7;
    uint32_t length;
    switch (rng() % 6) {
      case 0: length = rng() % 40; break;
      case 1: length = pick({0x1E000 - 1, 0x1E000, 0x3C000 - 1, 0x3C000, 0x3FFFF}); break;
      case 2: length = rng() % 0x20000; break;
      default: length = rng() % 3000; break;
    }
    uint32_t r0, r1 = 0;
    switch (type) {
      case 4:  // width in bytes and the position of the colour that was subtracted
        r0 = rng() % 4 ? 3 * (1 + rng() % 200) : pick({0, 1, 2, 3, 4, 0x80000000u, 0xFFFFFFFFu, rng()});
        r1 = rng() % 4 ? rng() % 3 : pick({0xFFFFFFFFu, 0x7FFFFFFF, length, rng() % 10});
        break;
      case 5:
      case 6:  // channels
        r0 = rng() % 4 ? 1 + rng() % 8 : pick({0, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFF, length, length + 1, rng() % 300});
        break;
      default:
        r0 = rng();
        break;
    }
    uint32_t r6 = rng() % 2 ? rng() : rng() % 0x100000;
    // A new block (code-like for the call filters: many E8 and E9 bytes); the rest of
    // the memory is what the earlier rounds left, the same on both sides.
    int e8_share = type <= 2 ? 8 : 256;
    if (round == 0) {
      for (auto& b : ref) b = static_cast<uint8_t>(rng());
      std::memcpy(vm.memory, ref.data(), ref.size());
    }
    for (size_t i = 0; i < length && i < lzref::kVmSize; i++) {
      uint32_t v = rng();
      ref[i] = static_cast<uint8_t>(v % e8_share == 0 ? (v & 256 ? 0xE8 : 0xE9) : v >> 8);
      vm.memory[i] = ref[i];
    }
    uint32_t r[8] = {r0, r1, 0, 0x3C000, length, 0, r6, 0x40000};
    run_builtin(type, vm.memory, r);
    lzref::run_builtin(static_cast<int>(type), ref, r);
    ASSERT_EQ(std::memcmp(vm.memory, ref.data(), ref.size()), 0)
        << "type " << type << " length " << length << " r0 " << r0 << " r1 " << r1 << " r6 " << r6;
  }
}

// Blocks made by the obvious forward transforms come back whole.
TEST_F(Builtins, RoundTrips) {
  std::mt19937 rng(99);
  for (int round = 0; round < 60; round++) {
    size_t length = 1 + rng() % 20000;
    Bytes data(length);
    for (auto& b : data) b = static_cast<uint8_t>(rng());

    // Calls (and jumps): absolute targets inside the first 16 MB.
    {
      bool jumps = round % 2;
      uint32_t file_pos = rng() % 0x800000;
      Bytes code(length);
      for (auto& b : code) {
        b = static_cast<uint8_t>(rng());
        if (b == 0xE8 || b == 0xE9) b = 0x90;
      }
      for (size_t p = 0; p + 5 <= length; p += 5 + rng() % 40) {
        code[p] = jumps && rng() % 2 ? 0xE9 : 0xE8;
        int32_t target = static_cast<int32_t>(rng() % 0x1000000) - static_cast<int32_t>(file_pos + p + 1);
        if (rng() % 8 == 0) target = static_cast<int32_t>(0x1000000 + rng() % 1000);  // left alone both ways
        std::memcpy(&code[p + 1], &target, 4);
      }
      Bytes packed = code;
      for (size_t p = 0; p + 4 < length;) {
        if (packed[p] != 0xE8 && !(jumps && packed[p] == 0xE9)) {
          p++;
          continue;
        }
        int32_t rel;
        std::memcpy(&rel, &packed[p + 1], 4);
        uint32_t a = static_cast<uint32_t>(rel) + file_pos + static_cast<uint32_t>(p) + 1;
        if (a < 0x1000000) std::memcpy(&packed[p + 1], &a, 4);
        p += 5;
      }
      EXPECT_TRUE(run(jumps ? 2 : 1, packed, 0, 0, file_pos) == code) << round;
    }

    // Delta over interleaved channels.
    {
      uint32_t channels = 1 + rng() % 12;
      Bytes packed;
      for (uint32_t c = 0; c < channels; c++) {
        uint8_t prev = 0;
        for (size_t d = c; d < length; d += channels) {
          packed.push_back(static_cast<uint8_t>(prev - data[d]));
          prev = data[d];
        }
      }
      EXPECT_TRUE(run(6, packed, channels) == data) << round;
    }

    // Escaped capitals.
    {
      Bytes text(length);
      for (auto& b : text) b = static_cast<uint8_t>(rng() % 4 == 0 ? 2 : 'A' + rng() % 40);
      Bytes packed;
      for (uint8_t b : text) {
        if (b >= 'A' && b <= 'Z') {
          packed.push_back(2);
          packed.push_back(static_cast<uint8_t>(b + 32));
        } else if (b == 2) {
          packed.push_back(2);
          packed.push_back(2);
        } else {
          packed.push_back(b);
        }
      }
      if (packed.size() < 0x1E000) {
        EXPECT_TRUE(run(7, packed) == text) << round;
      }
    }
  }
}

TEST_F(Builtins, LongBlocksLeaveNoRoomForACopy) {
  Bytes block(0x1E000, 2);
  // Output at the block's length, but nothing more is done: the bytes there are old.
  std::memset(vm.memory + 0x1E000, 0x5C, 0x1E000);
  Bytes got = run(6, block, 1);
  ASSERT_EQ(got.size(), 0x1E000u);
  EXPECT_EQ(got[0], 0x5C);
  got = run(7, block);
  EXPECT_TRUE(got == block) << "case escapes keep the block itself";
}

}  // namespace
