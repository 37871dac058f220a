// Fuzz target for the LZ decoder: the input describes a run of up to three files (solid
// or not, expected size, how the pipe hands out the packed bytes, a read error); the
// fast decoder and the plain reference decoder run it side by side and must agree on
// every byte written, every write and read call and every produced size. Streams with
// filter records run the filter machines of both (lz_filter_seeds.cpp makes seeds).
//
// Input: byte 0 = number of files - 1 (mod 3); per file a 6-byte record
//   flags (bit 0 solid, bits 1-2 pipe chunk class, bit 3 read error, bits 4-5 error
//   index), expected size (3 bytes, little-endian), packed length (2 bytes), then the
//   packed bytes of all files. A short input gives short files.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../unit/lz_reference.h"
#include "../unit/lz_test_support.h"
#include "decode/lz_decoder.h"

namespace {

struct File {
  std::vector<uint8_t> packed;
  int64_t expected;
  bool solid;
  int chunk;
  int fail_at;
};

struct Seen {
  std::vector<uint8_t> output;
  std::vector<int> writes, reads;
  std::vector<int64_t> produced;
};

// One decoder of each kind for the whole process; set_window gives it a zero window,
// input buffer and filter machine for every run, so that a run does not depend on the
// ones before.
template <class Decoder>
Seen run(const std::vector<File>& files) {
  static lztest::MemoryPipe pipe;
  static Decoder dec(&pipe);
  pipe.output.clear();
  pipe.write_sizes.clear();
  pipe.read_requests.clear();
  dec.set_window();
  Seen seen;
  for (const File& f : files) {
    pipe.next_input(f.packed);
    pipe.max_chunk = f.chunk;
    pipe.fail_at_read = f.fail_at < 0 ? -1 : static_cast<int>(pipe.read_requests.size()) + f.fail_at;
    dec.expected_size = f.expected;
    dec.decode_file(29, f.solid);
    seen.produced.push_back(dec.produced_size);
  }
  seen.output = pipe.output;
  seen.writes = pipe.write_sizes;
  seen.reads = pipe.read_requests;
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t count = data[0] % 3 + 1;
  size_t at = 1;
  std::vector<File> files;
  std::vector<size_t> lengths;
  for (size_t k = 0; k < count && at + 6 <= size; k++) {
    const uint8_t* r = data + at;
    File f;
    f.solid = k > 0 && (r[0] & 1);
    static const int kChunks[4] = {1 << 30, 1 << 30, 4096, 37};
    f.chunk = kChunks[(r[0] >> 1) & 3];
    f.fail_at = (r[0] & 8) ? (r[0] >> 4) & 3 : -1;
    f.expected = r[1] | r[2] << 8 | r[3] << 16;
    lengths.push_back(static_cast<size_t>(r[4] | r[5] << 8));
    files.push_back(f);
    at += 6;
  }
  if (files.empty()) return 0;
  for (size_t k = 0; k < files.size(); k++) {
    size_t n = lengths[k];
    if (k + 1 == files.size() || n > size - at) n = size - at;
    files[k].packed.assign(data + at, data + at + n);
    at += n;
  }
  Seen fast = run<LzDecoder>(files);
  Seen ref = run<lzref::Decoder>(files);
  if (fast.produced != ref.produced || fast.writes != ref.writes || fast.reads != ref.reads ||
      fast.output != ref.output) {
    __builtin_trap();
  }
  return 0;
}
