// Filter records in LZ streams, decoded by the LZ decoder: blocks filtered by built-in
// and interpreted programs, stored filters and their numbers, block positions and
// lengths, chains, held-back output, the budget, results, and records that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decode/lz_decoder.h"
#include "lz_filter_asm.h"
#include "lz_test_support.h"

namespace {

using namespace vmasm;
using lztest::MemoryPipe;
using lztest::Script;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWin = 0x400000;

// XORs every byte of the block with 0x55.
Bytes xor_code() {
  Asm a;
  a.op(MOV, R(0), I(0))
      .op(CMP, R(0), R(4))
      .op(JAE, To(6))
      .opb(XOR, M(0), I(0x55))
      .op(INC, R(0))
      .op(JMP, To(1));
  return a.code();
}
Bytes xored(Bytes b) {
  for (auto& v : b) v ^= 0x55;
  return b;
}
// Puts a byte at the start of the block.
Bytes mark_code(uint8_t mark) { return Asm().opb(MOV, A(0), I(mark)).code(); }

Record new_filter(Bytes code, uint32_t length, uint32_t offset = 0) {
  Record r;
  r.code = std::move(code);
  r.has_length = true;
  r.length = length;
  r.offset = offset;
  return r;
}
// A use of the stored filter `number` (written as number + 1).
Record use_filter(uint32_t number, uint32_t offset = 0) {
  Record r;
  r.has_number = true;
  r.number = number + 1;
  r.offset = offset;
  return r;
}

Bytes random_bytes(std::mt19937& rng, size_t n, int alphabet = 256) {
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng() % alphabet);
  return b;
}

class LzFilters : public ::testing::Test {
 protected:
  void SetUp() override {
    dec.set_window();
    s.w.header(lztest::full_lengths());
  }

  Bytes decode(const Bytes& packed, int64_t expected, bool solid = false) {
    pipe.next_input(packed);
    pipe.output.clear();
    pipe.write_sizes.clear();
    dec.expected_size = expected;
    dec.decode_file(29, solid);
    return pipe.output;
  }
  // Ends the stream's file and decodes it, with an expected size that does not limit.
  Bytes finish(bool solid = false) {
    s.w.end_file(true);
    EXPECT_TRUE(s.w.ok);
    return decode(s.w.bytes(8), int64_t{1} << 40, solid);
  }
  void lits(const Bytes& b) {
    for (uint8_t v : b) s.lit(v);
  }

  Script s;
  MemoryPipe pipe;
  LzDecoder dec{&pipe};
};

// Random x86-like code with calls, and the same after the packer's transform at `pos`.
void call_blocks(std::mt19937& rng, size_t n, uint32_t pos, Bytes& plain, Bytes& packed) {
  plain = random_bytes(rng, n);
  for (auto& b : plain) {
    if (b == 0xE8 || b == 0xE9) b = 0x90;
  }
  for (size_t p = 0; p + 5 <= n; p += 5 + rng() % 30) {
    plain[p] = 0xE8;
    int32_t rel = static_cast<int32_t>(rng() % 0x1000000) - static_cast<int32_t>(pos + p + 1);
    std::memcpy(&plain[p + 1], &rel, 4);
  }
  packed = plain;
  for (size_t p = 0; p + 4 < n;) {
    if (packed[p] != 0xE8) {
      p++;
      continue;
    }
    uint32_t rel;
    std::memcpy(&rel, &packed[p + 1], 4);
    uint32_t a = rel + pos + static_cast<uint32_t>(p) + 1;
    std::memcpy(&packed[p + 1], &a, 4);
    p += 5;
  }
}

// Code with the length and CRC-32 of the call filter runs as that filter, not as the
// program it holds (which would mark the block).
TEST_F(LzFilters, RecognisedCodeRunsTheBuiltinFilter) {
  std::mt19937 rng(1);
  Bytes code = builtin_code(1, Asm().opb(MOV, A(0), I(0x77)).bits.bytes());
  ASSERT_EQ(code.size(), 53u);
  Bytes head = random_bytes(rng, 1000, 30), tail = random_bytes(rng, 500, 30);
  Bytes plain, packed;
  call_blocks(rng, 6000, 1000, plain, packed);
  lits(head);
  put_record(s.w, new_filter(code, 6000));
  lits(packed);
  lits(tail);
  Bytes want = head;
  want.insert(want.end(), plain.begin(), plain.end());
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_TRUE(finish() == want);
}

TEST_F(LzFilters, InterpretedFilterAndTheBlockLengthOfItsLastUse) {
  std::mt19937 rng(2);
  lits(random_bytes(rng, 300));
  put_record(s.w, new_filter(xor_code(), 5000));
  lits(random_bytes(rng, 10, 20));
  while (s.out.size() < 5400) s.match(3 + rng() % 250, 1 + rng() % 10);  // one of them across the block end
  size_t second = s.out.size() + 100;
  put_record(s.w, use_filter(0, 100));  // no length: 5000 again
  lits(random_bytes(rng, 7000));
  Bytes want = s.out;
  for (size_t i = 300; i < 5300; i++) want[i] ^= 0x55;
  for (size_t i = second; i < second + 5000; i++) want[i] ^= 0x55;
  EXPECT_TRUE(finish() == want);
}

TEST_F(LzFilters, BlockPositionWithThe258Flag) {
  std::mt19937 rng(3);
  lits(random_bytes(rng, 50));
  Record r = new_filter(mark_code('Z'), 4, 10);
  r.plus258 = true;
  put_record(s.w, r);
  lits(random_bytes(rng, 400));
  Bytes want = s.out;
  want[50 + 268] = 'Z';
  EXPECT_TRUE(finish() == want);
}

// Two invocations for one block, the second's length the first one's result size: the
// second works on the first's result, and only that is written, in one piece.
TEST_F(LzFilters, ChainedInvocations) {
  std::mt19937 rng(4);
  Bytes text;
  for (int i = 0; i < 600; i++) text.push_back(static_cast<uint8_t>(rng() % 5 ? 'a' + rng() % 26 : 'A' + rng() % 26));
  Bytes escaped;  // capitals escaped, then XORed for the first filter to undo
  for (uint8_t v : text) {
    if (v >= 'A' && v <= 'Z') {
      escaped.push_back(2);
      escaped.push_back(static_cast<uint8_t>(v + 32));
    } else {
      escaped.push_back(v);
    }
  }
  uint32_t n = static_cast<uint32_t>(escaped.size());
  lits(Bytes{'<'});
  put_record(s.w, new_filter(xor_code(), n));
  Record second = new_filter(builtin_code(7), n);
  second.has_number = true;
  second.number = 2;  // filter 1, new
  put_record(s.w, second);
  lits(xored(escaped));
  lits(Bytes{'>'});
  Bytes want{'<'};
  want.insert(want.end(), text.begin(), text.end());
  want.push_back('>');
  EXPECT_TRUE(finish() == want);
  EXPECT_EQ(std::count(pipe.write_sizes.begin(), pipe.write_sizes.end(), static_cast<int>(text.size())), 1);
}

// A block not yet decoded when a file ends holds back everything from its start; the
// next file of the solid stream finishes it.
TEST_F(LzFilters, BlockNotYetDecodedHoldsBackItsOutput) {
  std::mt19937 rng(5);
  Bytes a = random_bytes(rng, 30), b = random_bytes(rng, 200), c = random_bytes(rng, 20);
  lits(a);
  put_record(s.w, new_filter(xor_code(), 200));
  lits(Bytes(b.begin(), b.begin() + 120));
  EXPECT_TRUE(finish() == a);
  s.next_file();
  lits(Bytes(b.begin() + 120, b.end()));
  lits(c);
  Bytes want = xored(b);
  want.insert(want.end(), c.begin(), c.end());
  EXPECT_TRUE(finish(true) == want);
}

// A record placed while output is unwritten, whose block starts beyond the unwritten
// data the window will wrap onto, is passed over by the next flush once: it filters the
// bytes one window later.
TEST_F(LzFilters, BlockOneWindowAheadIsSkippedOnce) {
  std::mt19937 rng(6);
  lits(random_bytes(rng, 1000));
  put_record(s.w, new_filter(xor_code(), 50, kWin - 1000 + 100));
  while (s.out.size() < kWin + 1000) {
    lits(random_bytes(rng, 1 + rng() % 8));
    s.match(200 + rng() % 58, 1 + rng() % 900);
  }
  Bytes want = s.out;
  for (size_t i = kWin + 100; i < kWin + 150; i++) want[i] ^= 0x55;
  EXPECT_TRUE(finish() == want);
}

TEST_F(LzFilters, BlockAcrossTheWindowEnd) {
  std::mt19937 rng(7);
  while (s.out.size() < kWin - 5000) {
    s.lit(static_cast<uint8_t>(rng()));
    s.match(258, 1 + rng() % 2000);
  }
  while (s.out.size() < kWin - 150) s.lit(static_cast<uint8_t>(rng()));
  size_t start = s.out.size();
  put_record(s.w, new_filter(xor_code(), 400));
  lits(random_bytes(rng, 1000));
  Bytes want = s.out;
  for (size_t i = start; i < start + 400; i++) want[i] ^= 0x55;
  EXPECT_TRUE(finish() == want);
}

// Global data kept by a filter comes back at its next use; R5 counts the uses, R6 is the
// position of the block in the file.
TEST_F(LzFilters, StoredFilterKeepsItsGlobalData) {
  std::mt19937 rng(8);
  Asm a;
  a.opb(INC, A(0x3C040)).opb(MOV, A(0), A(0x3C040)).opb(MOV, A(1), R(5)).opb(MOV, A(2), R(6)).op(MOV, A(0x3C030), I(1));
  Bytes want;
  size_t starts[3];
  for (int use = 0; use < 3; use++) {
    lits(random_bytes(rng, 100 + 37 * use));
    starts[use] = s.out.size();
    Record r = use == 0 ? new_filter(a.code(), 16) : use_filter(0);
    if (use == 0) {
      r.has_global = true;
      r.global = {0x10};
    }
    put_record(s.w, r);
    lits(random_bytes(rng, 16));
  }
  want = s.out;
  for (int use = 0; use < 3; use++) {
    want[starts[use]] = static_cast<uint8_t>(0x11 + use);
    want[starts[use] + 1] = static_cast<uint8_t>(use);
    want[starts[use] + 2] = static_cast<uint8_t>(starts[use]);
  }
  EXPECT_TRUE(finish() == want);
}

// A run that exhausts its budget still yields the global area's result (here the block
// with its first byte changed); the stored filter then passes blocks unchanged.
TEST_F(LzFilters, FilterThatRunsForeverIsDisabled) {
  std::mt19937 rng(9);
  Asm a;
  a.opb(XOR, A(0), I(0xFF)).op(JMP, I(0));
  Bytes x = random_bytes(rng, 40), y = random_bytes(rng, 40);
  put_record(s.w, new_filter(a.code(), 40));
  lits(x);
  put_record(s.w, use_filter(0));
  lits(y);
  Bytes want = x;
  want[0] ^= 0xFF;
  want.insert(want.end(), y.begin(), y.end());
  EXPECT_TRUE(finish() == want);
}

TEST_F(LzFilters, ResultsNamedByTheProgram) {
  std::mt19937 rng(10);
  Asm moved;  // the result is three bytes elsewhere in memory
  moved.opb(MOV, A(0x1000), I('x')).opb(MOV, A(0x1001), I('y')).opb(MOV, A(0x1002), I('z'))
      .op(MOV, A(0x3C020), I(0x1000)).op(MOV, A(0x3C01C), I(3));
  Asm outside;  // a result that does not fit into the memory: nothing
  outside.op(MOV, A(0x3C020), I(0x3FFF0)).op(MOV, A(0x3C01C), I(0x10));
  Bytes a = random_bytes(rng, 10), b = random_bytes(rng, 10), c = random_bytes(rng, 10);
  lits(a);
  put_record(s.w, new_filter(moved.code(), 50));
  lits(random_bytes(rng, 50));
  lits(b);
  Record r = new_filter(outside.code(), 50);
  r.has_number = true;
  r.number = 2;
  put_record(s.w, r);
  lits(random_bytes(rng, 50));
  lits(c);
  Bytes want = a;
  want.insert(want.end(), {'x', 'y', 'z'});
  want.insert(want.end(), b.begin(), b.end());
  want.insert(want.end(), c.begin(), c.end());
  EXPECT_TRUE(finish() == want);
}

// Filter number 0 discards the stored filters and defines filter 0 anew; numbers count
// from there, so one that was next before the reset is now out of range and fails.
TEST_F(LzFilters, FilterNumberZeroResets) {
  std::mt19937 rng(11);
  Bytes a = random_bytes(rng, 30), b = random_bytes(rng, 30);
  put_record(s.w, new_filter(xor_code(), 30));
  lits(a);
  Record other = new_filter(mark_code('Q'), 30);
  other.has_number = true;
  other.number = 2;
  put_record(s.w, other);
  lits(b);
  Bytes want = xored(a);
  want.insert(want.end(), b.begin(), b.end());
  want[30] = 'Q';
  EXPECT_TRUE(finish() == want);

  s.next_file();
  Bytes c = random_bytes(rng, 30), d = random_bytes(rng, 30), e = random_bytes(rng, 30);
  Record fresh = new_filter(mark_code('Z'), 30);
  fresh.has_number = true;
  fresh.number = 0;
  put_record(s.w, fresh);
  lits(c);
  put_record(s.w, use_filter(0));  // the new filter 0
  lits(d);
  Record gone = use_filter(2);  // a new filter 2 before the reset; now past the count
  gone.code = mark_code('Y');
  put_record(s.w, gone);
  lits(e);
  want = c;
  want.insert(want.end(), d.begin(), d.end());
  want[0] = 'Z';
  want[30] = 'Z';
  EXPECT_TRUE(finish(true) == want);
}

// A record whose code is refused still leaves its filter number taken; a later file of
// the solid stream may use that filter, which has no program and passes its blocks.
TEST_F(LzFilters, FilterWithoutAProgramPassesItsBlocks) {
  s.lits("ok");
  Record bad = new_filter({}, 3);
  bad.code_size = 0;
  put_record(s.w, bad);
  s.lits("lost");
  Bytes got = finish();
  EXPECT_EQ(std::string(got.begin(), got.end()), "ok");
  s.next_file();
  Record again = use_filter(0);
  again.has_length = true;
  again.length = 3;
  put_record(s.w, again);
  s.lits("xyz!");
  got = finish(true);
  EXPECT_EQ(std::string(got.begin(), got.end()), "xyz!");
}

// The machine's memory is never cleared between runs, but set_window starts it afresh.
TEST_F(LzFilters, SetWindowStartsTheMachineAfresh) {
  auto stream = [&](uint8_t store) {
    s = Script();
    s.w.header(lztest::full_lengths());
    Asm a;  // the block's first byte takes the byte at 0x30000, which gets `store`
    a.opb(MOV, A(0), A(0x30000)).opb(MOV, A(0x30000), I(store));
    put_record(s.w, new_filter(a.code(), 4));
    s.lits("abcd");
    return finish();
  };
  EXPECT_EQ(stream('S')[0], 0);
  EXPECT_EQ(stream('T')[0], 'S') << "a later stream sees what the earlier one left";
  dec.set_window();
  EXPECT_EQ(stream('U')[0], 0);
}

// Records that cannot be used end the file: what was decoded before them is written.
TEST_F(LzFilters, RecordsThatFail) {
  struct Case {
    const char* what;
    std::function<void(Script&)> records;  // after "ok"; then "lost" follows
    bool fails;
  } cases[] = {
      {"code size 0", [](Script& t) { Record r; r.code_size = 0; put_record(t.w, r); }, true},
      {"code size 0x10000", [](Script& t) {
         Record r = new_filter({0}, 0);
         r.code_size = 0x10000;
         put_record(t.w, r);
       }, true},
      {"number past the stored filters", [](Script& t) { put_record(t.w, use_filter(1)); }, true},
      {"global data of 0x1FC1 bytes", [](Script& t) {
         Record r = new_filter(mark_code('!'), 0);
         r.has_global = true;
         r.global.assign(0x1FC1, 7);
         put_record(t.w, r);
       }, true},
      {"global data of 0x1FC0 bytes", [](Script& t) {
         Record r = new_filter(mark_code('!'), 0);
         r.has_global = true;
         r.global.assign(0x1FC0, 7);
         put_record(t.w, r);
       }, false},
      {"1025 stored filters", [](Script& t) {
         for (uint32_t k = 0; k <= 1024; k++) put_record(t.w, [&] { Record r = use_filter(k); r.code = {0}; return r; }());
       }, false},
      {"1026 stored filters", [](Script& t) {
         for (uint32_t k = 0; k <= 1025; k++) put_record(t.w, [&] { Record r = use_filter(k); r.code = {0}; return r; }());
       }, true},
      {"code running past the record body", [](Script& t) {
         Record r = new_filter(Bytes(40000, 0), 0);
         put_record(t.w, r);
       }, true},
  };
  for (const Case& c : cases) {
    s = Script();
    dec.set_window();
    s.w.header(lztest::full_lengths());
    s.lits("ok");
    c.records(s);
    s.lits("lost");
    Bytes got = finish();
    EXPECT_EQ(std::string(got.begin(), got.end()), c.fails ? "ok" : "oklost") << c.what;
  }
}

}  // namespace
