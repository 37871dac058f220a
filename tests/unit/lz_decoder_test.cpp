// The LZ decoder on hand-made streams: every symbol kind, the window, solid files,
// the expected size and the ways a file's decoding ends early.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decode/lz_decoder.h"
#include "lz_test_support.h"

namespace {

using lztest::MemoryPipe;
using lztest::Script;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWin = 0x400000;

class LzDecode : public ::testing::Test {
 protected:
  void SetUp() override { dec.set_window(); }

  Bytes decode(const Bytes& packed, int64_t expected, bool solid = false, int version = 29) {
    pipe.next_input(packed);
    pipe.output.clear();
    pipe.write_sizes.clear();
    pipe.read_requests.clear();
    dec.expected_size = expected;
    dec.decode_file(version, solid);
    return pipe.output;
  }
  // Decodes the script's current file (ended by the caller) and checks it against the model.
  void expect_file(Script& s, bool solid, const char* what) {
    Bytes want = s.file_output();
    Bytes got = decode(s.w.bytes(), static_cast<int64_t>(want.size()), solid);
    ASSERT_TRUE(s.w.ok) << what;
    ASSERT_EQ(got.size(), want.size()) << what;
    EXPECT_TRUE(got == want) << what;
    EXPECT_EQ(dec.produced_size, static_cast<int64_t>(want.size())) << what;
  }

  MemoryPipe pipe;
  LzDecoder dec{&pipe};
};


TEST_F(LzDecode, SymbolKinds) {
  struct Case {
    const char* what;
    std::function<void(Script&)> body;
  } cases[] = {
      {"literals", [](Script& s) { s.lits("hello, world"); }},
      {"matches",
       [](Script& s) {
         s.lits("abcdefgh");
         s.match(5, 8);
         s.match(3, 3);
         s.match(258, 13);
       }},
      {"match longer than its distance",
       [](Script& s) {
         s.lit('x');
         s.match(10, 1);
         s.lits("ab");
         s.match(9, 2);
         s.lits("uvw");
         s.match(100, 3);
       }},
      {"short matches, every distance range",
       [](Script& s) {
         for (int i = 0; i < 300; i++) s.lit(static_cast<uint8_t>(i * 7 + i / 5));
         for (uint32_t d : {1u, 4u, 5u, 8u, 9u, 16u, 17u, 32u, 33u, 64u, 65u, 128u, 129u, 192u, 193u, 256u}) s.short_match(d);
       }},
      {"recent distances: 259 keeps the order, 261 moves the third to the front",
       [](Script& s) {
         for (int i = 0; i < 64; i++) s.lit(static_cast<uint8_t>('A' + i % 26 + i / 26));
         s.match(3, 10);
         s.match(3, 20);
         s.match(3, 30);
         s.match(3, 40);       // {40, 30, 20, 10}
         s.recent_match(0, 4);   // 40, order kept
         s.recent_match(2, 5);   // 20 -> {20, 40, 30, 10}
         s.recent_match(3, 2);   // 10 -> {10, 20, 40, 30}
         s.recent_match(1, 7);   // 20 -> {20, 10, 40, 30}
         s.recent_match(2, 257);  // 40, longest repeat length
       }},
      {"repeat of the last match; none before any match",
       [](Script& s) {
         s.repeat_last();
         s.lits("0123456789");
         s.match(4, 3);
         s.repeat_last();
         s.short_match(2);
         s.repeat_last();
         s.recent_match(1, 6);
         s.repeat_last();
       }},
      {"recent distance 0 before any match copies the window onto itself",
       [](Script& s) {
         s.recent_match(0, 5);
         s.lits("ok");
       }},
      {"new tables between blocks",
       [](Script& s) {
         std::mt19937 rng(7);
         s.lits("first block ");
         s.match(6, 6);
         for (int b = 0; b < 6; b++) {
           s.w.new_table();
           std::vector<uint8_t> l(404);
           auto put = [&](int at, int n) {
             std::vector<uint8_t> part = lztest::random_lengths(rng, n, n);
             std::copy(part.begin(), part.end(), l.begin() + at);
           };
           put(0, 299);
           put(299, 60);
           put(359, 17);
           put(376, 28);
           s.w.header(l, b % 2 == 1, b % 3 == 2 ? lztest::StreamWriter::kNoRuns : lztest::StreamWriter::kRuns);
           for (int i = 0; i < 40; i++) s.lit(static_cast<uint8_t>(rng()));
           s.match(20, 1 + rng() % 40);
           s.short_match(1 + rng() % 200);
           s.recent_match(static_cast<int>(rng() % 4), 3 + rng() % 50);
         }
       }},
  };
  for (const Case& c : cases) {
    dec.set_window();  // a zero window again, as the model's
    Script s;
    s.w.header(lztest::full_lengths());
    c.body(s);
    s.w.end_file(false);
    expect_file(s, false, c.what);
  }
}

// Distance slots need history as long as the distance: 4 MB of literals first.
TEST_F(LzDecode, EveryDistanceSlotAndTheLengthBonus) {
  std::mt19937 rng(11);
  Script s;
  s.w.header(lztest::full_lengths());
  for (uint32_t i = 0; i < kWin + 100; i++) s.lit(static_cast<uint8_t>(rng()));
  for (const lztest::Slot& slot : lztest::distance_slots()) {
    s.match(8, slot.base + 1);
    s.match(9, slot.base + (1u << slot.bits));
  }
  // At 0x2000 and 0x40000 the coded length is one and two shorter than the match.
  for (uint32_t d : {0x1FFFu, 0x2000u, 0x3FFFFu, 0x40000u}) {
    s.match(5, d);
    s.repeat_last();        // the repeat keeps the increased length
    s.recent_match(0, 5);   // a recent-distance match gets no increase
  }
  s.match(260, 0x40000);  // the longest match
  s.match(260, kWin);     // the whole window back
  s.w.end_file(false);
  expect_file(s, false, "distance slots");
}

TEST_F(LzDecode, LowDistanceCode16ReusesTheLowPartForFifteenMatches) {
  Script s;
  s.w.header(lztest::full_lengths());
  for (int i = 0; i < 3000; i++) s.lit(static_cast<uint8_t>(i * 13 + (i >> 4)));
  const auto& slots = lztest::distance_slots();
  auto dist_with_low = [&](int slot, uint32_t low) { return slots[slot].base + 1 + 16 * (slot % 3 == 0 ? 1 : 0) + low; };
  s.match(4, dist_with_low(10, 5));        // low part 5, read from its code
  s.match(4, dist_with_low(12, 5), true);  // code 16: 5 again, and for the next 15
  for (int k = 0; k < 15; k++) s.match(3 + k % 5, dist_with_low(11 + k % 9, 5));
  s.short_match(3);                           // short and recent matches do not count
  s.recent_match(1, 4);
  s.match(4, dist_with_low(13, 9));  // a code again
  s.match(4, dist_with_low(5, 0));   // slots up to 9 take their bits directly
  s.match(4, dist_with_low(14, 9), true);
  s.match(4, dist_with_low(15, 9));
  // A block header clears the low-distance state: no reuse left, previous low part 0.
  s.w.new_table();
  s.w.header(lztest::full_lengths());
  s.match(4, dist_with_low(12, 3));
  s.w.new_table();
  s.w.header(lztest::full_lengths());
  s.match(5, dist_with_low(16, 0), true);
  s.lits("end");
  s.w.end_file(false);
  ASSERT_TRUE(s.w.ok);
  expect_file(s, false, "low distance reuse");
}

TEST_F(LzDecode, OutputWrapsPastTheWindowEnd) {
  std::mt19937 rng(5);
  Script s;
  s.w.header(lztest::full_lengths());
  const uint32_t total = kWin + kWin / 4;
  while (s.out.size() < total) {
    uint32_t p = static_cast<uint32_t>(s.out.size());
    bool near_end = p > kWin - 600 && p < kWin + 600;
    if (p < 1000 || rng() % 4 == 0) {
      s.lit(static_cast<uint8_t>(rng()));
    } else {
      uint32_t len = 5 + rng() % (near_end ? 250 : 40);
      uint32_t dist = 1 + rng() % (p < kWin ? p : kWin);
      if (near_end && rng() % 2) dist = 1 + rng() % 300;  // source and destination around the end
      s.match(len, dist);
    }
  }
  s.w.end_file(false);
  expect_file(s, false, "wrap");
  // The last flush passes the tail of the window and then its head.
  ASSERT_EQ(pipe.write_sizes.size(), 3u);
  EXPECT_EQ(static_cast<uint32_t>(pipe.write_sizes[0] + pipe.write_sizes[1]), kWin);
  EXPECT_GE(pipe.write_sizes[0], static_cast<int>(kWin - 259));
}

// A longest match that starts exactly 260 bytes before the unwritten output would end on
// its first byte, and the unwritten lap of the window would look empty: the decoder
// flushes before such a copy.
TEST_F(LzDecode, LongestMatchUpToTheUnwrittenOutput) {
  std::mt19937 rng(6);
  Script s;
  s.w.header(lztest::full_lengths());
  while (s.out.size() < kWin - 260) s.lit(static_cast<uint8_t>(rng()));
  s.match(260, 0x40000);
  s.lits("tail");
  s.match(260, 0x50000);
  s.w.end_file(false);
  expect_file(s, false, "longest match");
}

TEST_F(LzDecode, SolidFilesCarryTheStreamOver) {
  std::mt19937 rng(3);
  struct Case {
    const char* what;
    bool keep_tables;  // end of the previous file: control bits 0, 0
    bool solid;
  } cases[] = {
      {"after 0, 0 a solid file has no header", true, true},
      {"after 0, 1 a solid file starts with a header", false, true},
      {"a non-solid file always starts with a header", true, false},
  };
  for (const Case& c : cases) {
    Script s;
    s.w.header(lztest::full_lengths());
    for (int i = 0; i < 500; i++) s.lit(static_cast<uint8_t>(rng() % 7 + 'a'));
    s.match(30, 250);
    s.w.end_file(c.keep_tables);
    expect_file(s, false, c.what);

    if (c.solid) {
      s.next_file();
    } else {
      s.next_stream();
    }
    if (!c.solid || !c.keep_tables) s.w.header(lztest::random_lengths(rng, 404, 404), c.solid);
    s.recent_match(0, 10);  // the distance of the previous file (or 0 after a reset)
    s.match(40, 300);       // into the previous file's bytes (stale window bytes when not solid)
    s.lits("next");
    s.w.end_file(false);
    expect_file(s, c.solid, c.what);
  }
}

// Several solid files over more than the window: later files reach back across the wrap.
TEST_F(LzDecode, SolidStreamLongerThanTheWindow) {
  std::mt19937 rng(21);
  Script s;
  s.w.header(lztest::full_lengths());
  for (int file = 0; file < 5; file++) {
    if (file > 0) s.next_file();
    if (file == 3) s.w.header(lztest::full_lengths(), true);
    size_t end = s.out.size() + 1100000;
    while (s.out.size() < end) {
      uint32_t p = static_cast<uint32_t>(s.out.size());
      if (p < 100 || rng() % 3 == 0) {
        s.lit(static_cast<uint8_t>(rng() % 64));
      } else {
        s.match(5 + rng() % 60, 1 + rng() % (p < kWin ? p : kWin));
      }
    }
    s.w.end_file(file != 2);  // the file after the third starts with a header
    expect_file(s, file > 0, "solid stream");
  }
}

TEST_F(LzDecode, ExpectedSizeLimitsTheOutput) {
  Script s;
  s.w.header(lztest::full_lengths());
  s.lits("0123456789ab");
  s.w.end_file(false);
  Bytes got = decode(s.w.bytes(), 5);
  EXPECT_EQ(std::string(got.begin(), got.end()), "01234");
  EXPECT_EQ(dec.produced_size, 12);
}

// A flush that finds produced_size past expected_size ends the file at once.
TEST_F(LzDecode, DecodingStopsAtTheFlushThatPassesTheExpectedSize) {
  std::mt19937 rng(8);
  Script s;
  s.w.header(lztest::full_lengths());
  while (s.out.size() < kWin + 500000) s.lit(static_cast<uint8_t>(rng()));
  s.w.end_file(false);
  Bytes packed = s.w.bytes();
  Bytes got = decode(packed, 100);
  EXPECT_TRUE(Bytes(s.out.begin(), s.out.begin() + 100) == got);
  EXPECT_GE(dec.produced_size, static_cast<int64_t>(kWin - 259));
  EXPECT_LT(dec.produced_size, static_cast<int64_t>(kWin));
  EXPECT_LT(pipe.read_at, packed.size());
}

TEST_F(LzDecode, FilesThatEndEarly) {
  auto abc = [] {
    Script s;
    s.w.header(lztest::full_lengths());
    s.lits("abc");
    return s;
  };
  struct Case {
    const char* what;
    std::function<Bytes()> stream;
    int fail_at_read;
    std::string want;
    bool writes;  // whether the (final) flush happens
  } cases[] = {
      {"read error at the start",
       [&] {
         Script s = abc();
         s.w.end_file(false);
         return s.w.bytes();
       },
       0, "", false},
      {"PPM block at the start",
       [] { return Bytes{0x80, 0x00, 0x12, 0x34, 0x56}; }, -1, "", false},
      {"PPM block without a model after an end of block",
       [&] {
         Script s = abc();
         s.w.new_table();
         s.w.bw.align();
         s.w.bw.put(0x85, 8);
         s.w.bw.put(0x5A, 8);
         return s.w.bytes(8);
       },
       -1, "abc", true},
      {"filter record",
       [&] {
         Script s = abc();
         s.w.symbol(257);
         s.w.bw.put(0, 16);
         return s.w.bytes(8);
       },
       -1, "abc", true},
  };
  for (const Case& c : cases) {
    pipe.fail_at_read = c.fail_at_read;
    Bytes got = decode(c.stream(), 1000);
    pipe.fail_at_read = -1;
    EXPECT_EQ(std::string(got.begin(), got.end()), c.want) << c.what;
    EXPECT_EQ(!pipe.write_sizes.empty(), c.writes) << c.what;
  }
}

// A read error in the middle ends the file; what was decoded before is written.
TEST_F(LzDecode, ReadErrorAfterSomeData) {
  std::mt19937 rng(2);
  Script s;
  s.w.header(lztest::full_lengths());
  for (int i = 0; i < 200000; i++) s.lit(static_cast<uint8_t>(rng()));
  s.w.end_file(false);
  pipe.max_chunk = 4096;
  pipe.fail_at_read = 10;
  Bytes got = decode(s.w.bytes(), static_cast<int64_t>(s.out.size()));
  ASSERT_GT(got.size(), 30000u);
  ASSERT_LT(got.size(), 60000u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), s.out.begin()));
}

// Without end-of-file bits the decoder goes on over the bytes in the buffer (zeros
// here, the code of literal 0) until it has run past the valid data.
TEST_F(LzDecode, ExhaustedInputDecodesThroughTheBufferedBytes) {
  Script s;
  s.w.header(lztest::full_lengths());
  s.lits("abc");
  size_t bits = s.w.bw.bit_count();
  Bytes packed = s.w.bytes();
  Bytes got = decode(packed, 100000);
  size_t data_end = packed.size();
  size_t zeros = (8 * data_end + 7 - bits) / 8 + 1;
  EXPECT_EQ(std::string(got.begin(), got.end()), std::string("abc") + std::string(zeros, '\0'));
}

TEST_F(LzDecode, HeaderCodings) {
  // Pre-code with lengths 1 .. 14, 15, 15: the 15s are sent as 15, 0.
  uint8_t long_precode[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15, 0, 0, 0, 0};
  struct Case {
    const char* what;
    std::function<void(Script&)> header;
  } cases[] = {
      {"pre-code length 15",
       [&](Script& s) { s.w.header(lztest::full_lengths(), false, lztest::StreamWriter::kNoRuns, long_precode); }},
      {"final run of zeros past the end",
       [](Script& s) {
         std::vector<uint8_t> l = lztest::full_lengths();
         for (int i = 380; i < 404; i++) l[i] = 0;  // repeat lengths 4 and up have no code
         s.w.header(l, false, lztest::StreamWriter::kRuns, nullptr, true);
       }},
      {"differences against the previous lengths",
       [](Script& s) {
         std::mt19937 rng(4);
         s.w.header(lztest::random_lengths(rng, 404, 404));
         s.lit('q');
         s.w.new_table();
         s.w.header(lztest::full_lengths(), true, lztest::StreamWriter::kNoRuns);
       }},
  };
  for (const Case& c : cases) {
    Script s;
    c.header(s);
    s.lits("header ok");
    s.match(7, 4);
    s.recent_match(0, 3);
    s.w.end_file(false);
    expect_file(s, false, c.what);
  }
}

TEST_F(LzDecode, OnlyVersions29And36AreDecoded) {
  Script s;
  s.w.header(lztest::full_lengths());
  s.lits("v");
  s.w.end_file(false);
  for (int version : {20, 26, 29, 36, 37}) {
    Bytes got = decode(s.w.bytes(), 1, false, version);
    bool decoded = version == 29 || version == 36;
    EXPECT_EQ(got.size(), decoded ? 1u : 0u) << version;
    EXPECT_EQ(pipe.read_requests.empty(), !decoded) << version;
  }
}

}  // namespace
