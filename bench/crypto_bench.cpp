// Checksum throughput: the module's CRC-32 against zlib's, and SHA-1.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "crypto/crc32.h"
#include "crypto/sha1.h"

namespace {

std::vector<uint8_t> make_data(size_t n) {
  std::vector<uint8_t> v(n + 8);
  uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return v;
}

void BM_Crc32Update(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  size_t misalign = static_cast<size_t>(state.range(1));
  std::vector<uint8_t> data = make_data(n);
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = crc32_update(0xFFFFFFFFu, data.data() + misalign, n);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_ZlibCrc32(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  size_t misalign = static_cast<size_t>(state.range(1));
  std::vector<uint8_t> data = make_data(n);
  uLong crc = 0;
  for (auto _ : state) {
    crc = crc32(0L, data.data() + misalign, static_cast<uInt>(n));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_Sha1(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  bool keep_input = state.range(1) != 0;
  std::vector<uint8_t> data = make_data(n);
  for (auto _ : state) {
    Sha1Context c;
    sha1_init(c);
    sha1_update(c, data.data(), n, keep_input);
    uint32_t digest[5];
    sha1_final(c, digest, keep_input);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// The key derivation's pattern: many small updates of a password-sized buffer.
void BM_Sha1SmallUpdates(benchmark::State& state) {
  uint8_t buffer[30];
  std::memset(buffer, 'p', sizeof(buffer));
  for (auto _ : state) {
    Sha1Context c;
    sha1_init(c);
    for (int i = 0; i < 4096; i++) sha1_update(c, buffer, sizeof(buffer), false);
    uint32_t digest[5];
    sha1_final(c, digest, false);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096 * 30);
}

}  // namespace

BENCHMARK(BM_Crc32Update)->Args({1 << 20, 0})->Args({1 << 16, 0})->Args({1 << 16, 3})->Args({256, 1});
BENCHMARK(BM_ZlibCrc32)->Args({1 << 20, 0})->Args({1 << 16, 0})->Args({1 << 16, 3})->Args({256, 1});
BENCHMARK(BM_Sha1)->Args({1 << 20, 0})->Args({1 << 20, 1})->Args({64, 0});
BENCHMARK(BM_Sha1SmallUpdates);

BENCHMARK_MAIN();
