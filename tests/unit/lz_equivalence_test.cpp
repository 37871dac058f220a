// The fast decoder against the plain one on random and damaged streams: the same bytes,
// the same write calls, the same read requests, the same produced sizes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "decode/lz_decoder.h"
#include "lz_filter_asm.h"
#include "lz_reference.h"
#include "lz_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using lztest::MemoryPipe;
using lztest::Script;

constexpr uint32_t kWin = 0x400000;

struct FileRun {
  Bytes packed;
  int64_t expected;
  bool solid;
  int max_chunk;
  int fail_at_read;
};

struct Observed {
  Bytes output;
  std::vector<int> writes;
  std::vector<int> reads;
  std::vector<int64_t> produced;
};

template <class Decoder>
void run(Decoder& dec, MemoryPipe& pipe, const std::vector<FileRun>& files, Observed& seen) {
  for (const FileRun& f : files) {
    pipe.next_input(f.packed);
    pipe.max_chunk = f.max_chunk;
    pipe.fail_at_read = f.fail_at_read < 0 ? -1 : static_cast<int>(pipe.read_requests.size()) + f.fail_at_read;
    dec.expected_size = f.expected;
    dec.decode_file(29, f.solid);
    seen.produced.push_back(dec.produced_size);
  }
  seen.output = pipe.output;
  seen.writes = pipe.write_sizes;
  seen.reads = pipe.read_requests;
}

// Both decoders live through a whole test so that stale window and buffer contents,
// which damaged streams read, stay the same on both sides.
class LzEquivalence : public ::testing::Test {
 protected:
  void SetUp() override {
    fast = std::make_unique<LzDecoder>(&fast_pipe);
    fast->set_window();
    ref = std::make_unique<lzref::Decoder>(&ref_pipe);
    ref->set_window();
  }
  void compare(const std::vector<FileRun>& files, const char* what, int round) {
    fast_pipe.output.clear();
    fast_pipe.write_sizes.clear();
    fast_pipe.read_requests.clear();
    ref_pipe.output.clear();
    ref_pipe.write_sizes.clear();
    ref_pipe.read_requests.clear();
    Observed a, b;
    run(*fast, fast_pipe, files, a);
    run(*ref, ref_pipe, files, b);
    ASSERT_EQ(a.produced, b.produced) << what << " round " << round;
    ASSERT_EQ(a.writes, b.writes) << what << " round " << round;
    ASSERT_EQ(a.reads, b.reads) << what << " round " << round;
    ASSERT_TRUE(a.output == b.output) << what << " round " << round;
  }

  MemoryPipe fast_pipe, ref_pipe;
  std::unique_ptr<LzDecoder> fast;
  std::unique_ptr<lzref::Decoder> ref;
};

std::vector<uint8_t> random_table_lengths(std::mt19937& rng) {
  std::vector<uint8_t> l(404);
  const int at[4] = {0, 299, 359, 376}, n[4] = {299, 60, 17, 28};
  for (int t = 0; t < 4; t++) {
    std::vector<uint8_t> part = lztest::random_lengths(rng, n[t], n[t]);
    std::copy(part.begin(), part.end(), l.begin() + at[t]);
  }
  return l;
}

// One valid file of random symbols of every kind. Matches reach back at most to the
// stream's first byte, so that the model's window agrees with the decoder's.
void random_file(std::mt19937& rng, Script& s, size_t size, bool header) {
  if (header) s.w.header(random_table_lengths(rng), rng() % 2 == 0, rng() % 3 ? lztest::StreamWriter::kRuns
                                                                           : lztest::StreamWriter::kNoRuns);
  size_t end = s.out.size() + size;
  int text = 2 + static_cast<int>(rng() % 200);  // alphabet size
  while (s.out.size() < end) {
    uint32_t p = static_cast<uint32_t>(s.out.size());  // bytes since the stream started
    uint32_t reach = p < kWin ? p : kWin;
    auto fits = [&](uint32_t d) { return d >= 1 && d <= reach; };
    // Slots above 9 (distances above 32) send the low four bits apart; while they are
    // being reused the distance must have the reused low part.
    auto low_fixed = [&](uint32_t d, bool low16) {
      if (d > 32 && (s.w.low_reuse > 0 || low16)) d = ((d - 1) & ~15u) + s.w.low_prev + 1;
      return d;
    };
    switch (rng() % 16) {
      case 6: case 7: case 8: case 15: {
        if (reach == 0) break;
        uint32_t dist = rng() % 4 ? 1 + rng() % (reach < 300 ? reach : 300) : 1 + rng() % reach;
        uint32_t len = 5 + (rng() % 8 ? rng() % 20 : rng() % 254);
        bool low16 = dist > 32 && rng() % 8 == 0;
        dist = low_fixed(dist, low16);
        if (fits(dist)) s.match(len, dist, low16);
        break;
      }
      case 9: case 10: {
        uint32_t dist = 1 + rng() % 256;
        if (fits(dist)) s.short_match(dist);
        break;
      }
      case 11: case 12: {
        int n = static_cast<int>(rng() % 4);
        if (fits(s.recent[n])) s.recent_match(n, 2 + rng() % 40);
        break;
      }
      case 13:
        if (s.rep_len == 0 || fits(s.rep_dist)) s.repeat_last();
        break;
      case 14:
        if (rng() % 8 == 0) {
          s.w.new_table();
          s.w.header(random_table_lengths(rng), rng() % 2 == 0);
        }
        break;
      default:
        s.lit(static_cast<uint8_t>(rng() % text));
        break;
    }
  }
}

int random_chunk(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0: return 1 + static_cast<int>(rng() % 64);
    case 1: return 1 + static_cast<int>(rng() % 5000);
    default: return 1 << 30;
  }
}

TEST_F(LzEquivalence, ValidStreams) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 60; round++) {
    Script s;
    std::vector<FileRun> files;
    int count = 1 + static_cast<int>(rng() % 4);
    bool header = true;
    // Every file ends with its end-of-file bits and is written whole, and the pipe hands
    // out enough at a time (a short read looks like the end of the data to the decoder).
    bool exact = true;
    for (int f = 0; f < count; f++) {
      if (f > 0) s.next_file();
      random_file(rng, s, 1 + rng() % 30000, header);
      bool keep = rng() % 2 == 0;
      bool ended = rng() % 8 != 0;
      if (ended) s.w.end_file(keep);
      header = !keep;
      size_t size = s.file_output().size();
      int64_t expected = rng() % 4 ? static_cast<int64_t>(size) : static_cast<int64_t>(rng() % (size + 100));
      int chunk = random_chunk(rng);
      exact = exact && ended && expected == static_cast<int64_t>(size) && chunk >= 64;
      files.push_back({s.w.bytes(), expected, f > 0, chunk, -1});
    }
    ASSERT_TRUE(s.w.ok);
    compare(files, "valid", round);
    if (exact) {
      ASSERT_TRUE(fast_pipe.output == s.out) << "round " << round;
    }
  }
}

TEST_F(LzEquivalence, DamagedStreams) {
  std::mt19937 rng(77);
  for (int round = 0; round < 300; round++) {
    Script s;
    std::vector<FileRun> files;
    int count = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < count; f++) {
      if (f > 0) s.next_file();
      random_file(rng, s, 1 + rng() % 5000, f == 0 || rng() % 2);
      if (rng() % 2) s.w.end_file(rng() % 2 == 0);
      Bytes packed = s.w.bytes();
      switch (rng() % 4) {
        case 0:  // bit flips
          for (int k = 1 + static_cast<int>(rng() % 4); k > 0; k--) packed[rng() % packed.size()] ^= 1 << (rng() % 8);
          break;
        case 1:  // truncated
          packed.resize(rng() % packed.size());
          break;
        case 2:  // random bytes from some point on
          for (size_t k = rng() % packed.size(); k < packed.size(); k++) packed[k] = static_cast<uint8_t>(rng());
          break;
        default:  // a read error somewhere
          break;
      }
      int fail = rng() % 4 == 0 ? static_cast<int>(rng() % 4) : -1;
      files.push_back({packed, static_cast<int64_t>(rng() % 20000), rng() % 4 != 0, random_chunk(rng), fail});
    }
    compare(files, "damaged", round);
  }
}

// Headers with arbitrary code lengths (incomplete, over-subscribed, empty tables)
// followed by random bits, and plain random bytes.
TEST_F(LzEquivalence, RandomTablesAndBits) {
  std::mt19937 rng(31337);
  for (int round = 0; round < 300; round++) {
    std::vector<FileRun> files;
    int count = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < count; f++) {
      lztest::StreamWriter w;
      Bytes packed;
      if (rng() % 4) {
        std::vector<uint8_t> l(404);
        int mode = static_cast<int>(rng() % 3);
        for (auto& v : l) v = static_cast<uint8_t>(mode == 0 ? rng() % 16 : mode == 1 ? (rng() % 5 ? 0 : rng() % 16) : 0);
        w.header(l, rng() % 2 == 0, rng() % 2 ? lztest::StreamWriter::kRuns : lztest::StreamWriter::kNoRuns);
        size_t bits = rng() % 60000;
        for (size_t k = 0; k < bits; k += 16) w.bw.put(rng() & 0xFFFF, 16);
        packed = w.bytes();
      } else {
        packed.resize(rng() % 50000);
        for (auto& b : packed) b = static_cast<uint8_t>(rng());
        if (!packed.empty() && rng() % 2) packed[0] &= 0x7F;  // an LZ block rather than PPM
      }
      files.push_back({packed, static_cast<int64_t>(rng() % 100000), f > 0 && rng() % 2, random_chunk(rng), -1});
    }
    compare(files, "random", round);
  }
}

// A first header that runs past the packed data leaves the tables unbuilt but marked as
// present: a following solid file decodes with tables that were never built.
TEST_F(LzEquivalence, SolidFileAfterAHeaderThatRanPastItsData) {
  std::mt19937 rng(9);
  Bytes next(3000);
  for (auto& b : next) b = static_cast<uint8_t>(rng());
  bool seen = false;
  // Headers cut a few bytes short; with some of them the last length code is the one
  // that crosses the end of the data.
  for (int h = 0; h < 20 && !seen; h++) {
    lztest::StreamWriter w;
    w.header(random_table_lengths(rng), false, lztest::StreamWriter::kNoRuns);
    Bytes header = w.bytes();
    for (size_t cut = header.size() - 3; cut <= header.size(); cut++) {
      SetUp();
      std::vector<FileRun> files{{Bytes(header.begin(), header.begin() + static_cast<long>(cut)), 100, false, 1 << 30, -1},
                                 {next, int64_t{1} << 20, true, 1 << 30, -1}};
      compare(files, "header past the data", static_cast<int>(cut));
      lztest::MemoryPipe pipe(files[0].packed);
      lzref::Decoder probe(&pipe);
      probe.set_window();
      probe.expected_size = 100;
      probe.decode_file(29, false);
      seen |= probe.have_tables && pipe.write_sizes.empty();  // the header failed after its lengths
    }
  }
  EXPECT_TRUE(seen);
}

// Long streams: flushes inside the window, wrap-around, and an expected size that ends
// decoding at a flush.
TEST_F(LzEquivalence, LongStreams) {
  std::mt19937 rng(5150);
  for (int round = 0; round < 3; round++) {
    Script s;
    random_file(rng, s, kWin + 300000 + rng() % 200000, true);
    s.w.end_file(true);
    size_t size = s.out.size();
    std::vector<FileRun> files{{s.w.bytes(), round == 1 ? int64_t{1000} : static_cast<int64_t>(size), false, 1 << 30, -1}};
    s.next_file();
    random_file(rng, s, 2000000, false);
    s.w.end_file(false);
    files.push_back({s.w.bytes(), static_cast<int64_t>(s.file_output().size()), true, 1 << 30, -1});
    compare(files, "long", round);
  }
}

// Streams with valid filter records: new filters of every kind (random programs, a
// loop over the block, recognised built-in code), uses of stored ones, block offsets,
// lengths, registers and global data; both decoders must agree, also on damaged copies.
TEST_F(LzEquivalence, FilterRecords) {
  using vmasm::Record;
  std::mt19937 rng(8088);
  for (int round = 0; round < 80; round++) {
    Script s;
    std::vector<FileRun> files;
    uint32_t stored = 0;
    bool header = true;
    int count = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < count; f++) {
      if (f > 0) s.next_file();
      int pieces = 1 + static_cast<int>(rng() % 10);
      for (int k = 0; k < pieces; k++) {
        random_file(rng, s, 1 + rng() % 3000, header && k == 0);
        if (rng() % 3 == 0) continue;
        Record r;
        bool fresh = stored == 0 || rng() % 3 == 0;
        if (rng() % 8 == 0) {
          r.has_number = true;
          r.number = 0;  // reset, and filter 0 anew
          stored = 0;
          fresh = true;
        } else if (fresh || rng() % 2) {
          r.has_number = true;
          r.number = (fresh ? stored : rng() % stored) + 1;
        }
        if (fresh) {
          switch (rng() % 4) {
            case 0: r.code = vmasm::builtin_code(1 + static_cast<int>(rng() % 7)); break;
            case 1: {
              vmasm::Asm x;  // XORs the block with a byte
              x.op(vmasm::MOV, vmasm::R(0), vmasm::I(0)).op(vmasm::CMP, vmasm::R(0), vmasm::R(4));
              x.op(vmasm::JAE, vmasm::To(6)).opb(vmasm::XOR, vmasm::M(0), vmasm::I(rng() % 256));
              x.op(vmasm::INC, vmasm::R(0)).op(vmasm::JMP, vmasm::To(1));
              r.code = x.code();
              break;
            }
            default: r.code = vmasm::random_program(rng); break;
          }
          stored++;
        }
        r.offset = rng() % 4 ? rng() % 300 : rng() % kWin;
        r.plus258 = rng() % 4 == 0;
        r.has_length = fresh || rng() % 2;
        r.length = rng() % 8 ? rng() % 3000 : rng();
        for (int reg = 0; reg < 7; reg++) {
          // (R4 stays small: loops over the block would run into the budget, which is
          // slow and tested on its own)
          if (rng() % 5 == 0) r.regs.push_back({reg, rng() % 2 || reg == 4 ? rng() % 64 : static_cast<uint32_t>(rng())});
        }
        if (rng() % 4 == 0) {
          r.has_global = true;
          r.global = Bytes(rng() % 200, static_cast<uint8_t>(rng()));
        }
        vmasm::put_record(s.w, r);
      }
      bool keep = rng() % 2 == 0;
      s.w.end_file(keep);
      header = !keep;
      files.push_back({s.w.bytes(8), static_cast<int64_t>(s.file_output().size() + rng() % 4000), f > 0, random_chunk(rng), -1});
    }
    compare(files, "filters", round);
    for (FileRun& f : files) {
      for (int k = 1 + static_cast<int>(rng() % 3); k > 0; k--) f.packed[rng() % f.packed.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
    }
    compare(files, "filters, damaged", round);
  }
}

}  // namespace
