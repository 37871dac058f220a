// PPM blocks: decoding throughput (MB/s of output) and packed size (counter "ratio",
// packed / raw) on generated text and program-like data, in process, from memory to a
// counting sink; encoding throughput; and, where the LZ compressor is built, the LZ
// levels on the same data for comparison.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../tests/unit/lz_ppm_data.h"
#include "decode/lz_decoder.h"
#include "encode/ppm_encoder.h"
#include "extract/data_pipe.h"
#ifdef QUILLO_HAVE_LZ_ENCODER
#include "encode/lz_encoder.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 4 << 20;

const Bytes& data_set(const std::string& name) {
  static std::map<std::string, Bytes> sets;
  auto it = sets.find(name);
  if (it != sets.end()) return it->second;
  Bytes b = name == "text" ? ppmtest::text_data(kSize, 21) : ppmtest::binary_data(kSize, 22);
  return sets.emplace(name, std::move(b)).first->second;
}

class SinkPipe : public DataPipe {
 public:
  int read(void* buffer, int count) override {
    int n = static_cast<int>(packed->size() - at < static_cast<size_t>(count) ? packed->size() - at : count);
    std::memcpy(buffer, packed->data() + at, static_cast<size_t>(n));
    at += static_cast<size_t>(n);
    return n;
  }
  void write(const void* data, int count) override {
    written += static_cast<size_t>(count);
    last = static_cast<const uint8_t*>(data)[count ? count - 1 : 0];
  }
  const Bytes* packed = nullptr;
  size_t at = 0, written = 0;
  uint8_t last = 0;
};

void decode_loop(benchmark::State& state, const Bytes& raw, const Bytes& packed) {
  SinkPipe pipe;
  LzDecoder dec(&pipe);
  dec.set_window();
  for (auto _ : state) {
    pipe.packed = &packed;
    pipe.at = pipe.written = 0;
    dec.expected_size = static_cast<int64_t>(raw.size());
    dec.decode_file(29, false);
    if (pipe.written != raw.size()) state.SkipWithError("wrong size");
    benchmark::DoNotOptimize(pipe.last);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(raw.size());
}

void BM_PpmDecode(benchmark::State& state, const char* name) {
  const Bytes& raw = data_set(name);
  PpmEncoder enc(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Bytes packed;
  enc.encode_file(raw.data(), raw.size(), false, false, packed);
  decode_loop(state, raw, packed);
  state.counters["restarts"] = enc.restarts();
}

void BM_PpmEncode(benchmark::State& state, const char* name) {
  const Bytes& raw = data_set(name);
  for (auto _ : state) {
    PpmEncoder enc(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    Bytes packed;
    enc.encode_file(raw.data(), raw.size(), false, false, packed);
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
}

#ifdef QUILLO_HAVE_LZ_ENCODER
void BM_LzDecode(benchmark::State& state, const char* name) {
  const Bytes& raw = data_set(name);
  LzEncoder enc(static_cast<int>(state.range(0)));
  Bytes packed;
  enc.encode_file(raw.data(), raw.size(), false, false, packed);
  decode_loop(state, raw, packed);
}
BENCHMARK_CAPTURE(BM_LzDecode, text, "text")->DenseRange(1, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecode, binary, "binary")->DenseRange(1, 5)->Unit(benchmark::kMillisecond);
#endif

// Arguments: order, megabytes of model memory.
BENCHMARK_CAPTURE(BM_PpmDecode, text, "text")
    ->Args({4, 16})
    ->Args({6, 16})
    ->Args({8, 16})
    ->Args({16, 64})
    ->Args({64, 64})
    ->Args({6, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PpmDecode, binary, "binary")->Args({6, 16})->Args({16, 64})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PpmEncode, text, "text")->Args({6, 16})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
