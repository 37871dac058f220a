// Fuzz target for the LZ decoder: the input describes a run of up to three files (solid
// or not, expected size, how the pipe hands out the packed bytes, a read error); the
// fast decoder and the plain reference decoder run it side by side and must agree on
// every byte written, every write and read call and every produced size. Streams with
// filter records run the filter machines of both (lz_filter_seeds.cpp makes seeds).
//
// Input: byte 0 below 0x80 = number of files - 1 (mod 3); per file a 6-byte record
//   flags (bit 0 solid, bits 1-2 pipe chunk class, bit 3 read error, bits 4-5 error
//   index), expected size (3 bytes, little-endian), packed length (2 bytes), then the
//   packed bytes of all files. A short input gives short files.
// Byte 0 from 0x80 on: PPM blocks (ppm_case below).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../unit/lz_reference.h"
#include "../unit/lz_test_support.h"
#include "decode/lz_decoder.h"
#include "encode/ppm_encoder.h"

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

// Fresh decoders for every run: nothing of an earlier run (window, input buffer, PPM
// model) shows through.
template <class Decoder>
Seen run(const std::vector<File>& files) {
  lztest::MemoryPipe pipe;
  Decoder dec(&pipe);
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

void compare(const std::vector<File>& files) {
  Seen fast = run<LzDecoder>(files);
  Seen ref = run<lzref::Decoder>(files);
  if (fast.produced != ref.produced || fast.writes != ref.writes || fast.reads != ref.reads ||
      fast.output != ref.output) {
    __builtin_trap();
  }
}

// PPM blocks. Byte 0 bit 6 clear: byte 1 gives the flags of a new-model header (1 MB of
// model memory), the rest of the input is the coded data. Bit 6 set: byte 1 gives the
// order (bit 7: as two solid files), the low 3 bits of byte 2 a number of 3-byte damage
// records (position in the packed data, 16 bits, and a value to xor there), the rest is
// data that the packer's encoder codes; undamaged, it must come back unchanged.
int ppm_case(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  std::vector<File> files;
  if (!(data[0] & 0x40)) {
    File f{{static_cast<uint8_t>(0xA0 | (data[1] & 0x5F)), 0}, 1 << 18, false, 1 << 30, -1};
    f.packed.insert(f.packed.end(), data + 2, data + size);
    files.push_back(f);
    compare(files);
    return 0;
  }
  size_t damages = data[2] & 7, at = 3;
  if (at + 3 * damages > size) return 0;
  const uint8_t* damage = data + at;
  at += 3 * damages;
  std::vector<uint8_t> plain(data + at, data + size);
  PpmEncoder enc(2 + data[1] % 63, 1);
  size_t half = data[1] & 0x80 ? plain.size() / 2 : plain.size();
  for (int k = 0; k < 2; k++) {
    size_t from = k ? half : 0, to = k ? plain.size() : half;
    if (k && from == to) break;
    File f{{}, static_cast<int64_t>(to - from), k > 0, 1 << 30, -1};
    enc.encode_file(plain.data() + from, to - from, k > 0, k == 0 && half < plain.size(), f.packed);
    files.push_back(f);
  }
  for (size_t d = 0; d < damages; d++) {
    std::vector<uint8_t>& p = files[damage[3 * d] & 1 ? files.size() - 1 : 0].packed;
    p[(damage[3 * d] | damage[3 * d + 1] << 8) % p.size()] ^= damage[3 * d + 2];
  }
  Seen fast = run<LzDecoder>(files);
  Seen ref = run<lzref::Decoder>(files);
  if (fast.produced != ref.produced || fast.writes != ref.writes || fast.reads != ref.reads ||
      fast.output != ref.output) {
    __builtin_trap();
  }
  if (damages == 0 && fast.output != plain) __builtin_trap();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (data[0] & 0x80) return ppm_case(data, size);
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
  compare(files);
  return 0;
}
