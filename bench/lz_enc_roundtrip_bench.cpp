// Command-line round trip of the LZ compressor and the module's LZ decoder, for the
// benchmark script (bench/run-lz):
//   lz_enc_roundtrip_bench pack LEVEL IN OUT    compress IN as one file
//   lz_enc_roundtrip_bench unpack IN OUT        decode a packed file
//   lz_enc_roundtrip_bench decode-speed IN ORIG decode in memory repeatedly, check
//                                               against ORIG, print MB/s of output
// The packed file is the unpacked size (8 bytes, little-endian) followed by the stream.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/lz_decoder.h"
#include "encode/lz_encoder.h"
#include "extract/data_pipe.h"

namespace {

using Clock = std::chrono::steady_clock;

bool read_file(const char* path, std::vector<uint8_t>& data) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  data.clear();
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool write_file(const char* path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// Packed bytes from memory, unpacked bytes into a vector (or only counted).
class MemoryPipe : public DataPipe {
 public:
  MemoryPipe(const uint8_t* in, size_t size) : in_(in), left_(size) { progress_enabled = false; }
  int read(void* buffer, int count) override {
    size_t n = left_ < size_t(count) ? left_ : size_t(count);
    std::memcpy(buffer, in_, n);
    in_ += n;
    left_ -= n;
    return int(n);
  }
  void write(const void* data, int count) override {
    if (keep) out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    written += size_t(count);
  }
  std::vector<uint8_t> out;
  size_t written = 0;
  bool keep = true;

 private:
  const uint8_t* in_;
  size_t left_;
};

uint64_t get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

int usage() {
  std::fprintf(stderr,
               "usage: lz_enc_roundtrip_bench pack LEVEL IN OUT | unpack IN OUT | decode-speed IN ORIG\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const char* cmd = argv[1];
  if (std::strcmp(cmd, "pack") == 0 && argc == 5) {
    std::vector<uint8_t> in;
    if (!read_file(argv[3], in)) return std::fprintf(stderr, "cannot read %s\n", argv[3]), 1;
    std::vector<uint8_t> out(8);
    for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(uint64_t(in.size()) >> (8 * i));
    auto t0 = Clock::now();
    LzEncoder enc(std::atoi(argv[2]));
    enc.encode_file(in.data(), in.size(), false, false, out);
    double t = seconds_since(t0);
    if (!write_file(argv[4], out.data(), out.size())) return std::fprintf(stderr, "cannot write %s\n", argv[4]), 1;
    std::printf("%zu %zu %.3f\n", in.size(), out.size() - 8, t);
    return 0;
  }
  if ((std::strcmp(cmd, "unpack") == 0 || std::strcmp(cmd, "decode-speed") == 0) && argc == 4) {
    std::vector<uint8_t> in;
    if (!read_file(argv[2], in) || in.size() < 8) return std::fprintf(stderr, "cannot read %s\n", argv[2]), 1;
    const uint64_t size = get64(in.data());
    const bool speed = cmd[0] == 'd';
    std::vector<uint8_t> orig;
    if (speed && !read_file(argv[3], orig)) return std::fprintf(stderr, "cannot read %s\n", argv[3]), 1;
    double total = 0;
    int runs = 0;
    do {
      MemoryPipe pipe(in.data() + 8, in.size() - 8);
      if (speed && runs > 0) pipe.keep = false;
      auto t0 = Clock::now();
      LzDecoder dec(&pipe);
      dec.set_window();
      dec.expected_size = int64_t(size);
      dec.decode_file(29, false);
      total += seconds_since(t0);
      ++runs;
      if (runs == 1) {
        if (pipe.out.size() != size || (speed && pipe.out != orig)) {
          std::fprintf(stderr, "decoded data differ (%zu of %llu bytes)\n", pipe.out.size(),
                       (unsigned long long)size);
          return 3;
        }
        if (!speed) {
          if (!write_file(argv[3], pipe.out.data(), pipe.out.size()))
            return std::fprintf(stderr, "cannot write %s\n", argv[3]), 1;
          std::printf("%.3f\n", total);
          return 0;
        }
      }
    } while (total < 1.0 && runs < 20);
    std::printf("%.1f\n", double(size) * runs / total / 1e6);
    return 0;
  }
  return usage();
}
