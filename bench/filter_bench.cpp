// Filter throughput: each built-in routine on blocks of 60 KB (MB/s of block), and the
// interpreter on a loop over a block (MB/s, and instructions per second as a counter).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "../tests/unit/lz_filter_asm.h"
#include "decode/builtin_filters.h"
#include "decode/filter_vm.h"

namespace {

constexpr uint32_t kBlock = 60000;

void fill_block(FilterVm& vm, uint32_t type) {
  std::mt19937 rng(type);
  for (uint32_t i = 0; i < kBlock; i++) {
    uint32_t v = rng();
    // Code-like data for the call filters (an E8 every 20 bytes or so), bytes otherwise.
    vm.memory[i] = static_cast<uint8_t>(type <= 2 && v % 20 == 0 ? 0xE8 : v >> 8);
  }
}

void BM_Builtin(benchmark::State& state) {
  uint32_t type = static_cast<uint32_t>(state.range(0));
  FilterVm vm;
  vm.allocate();
  fill_block(vm, type);
  uint32_t r[8] = {type == 4 ? 3u * 640 : 2u, 0, 0, 0x3C000, kBlock, 0, 0x10000, 0x40000};
  for (auto _ : state) {
    run_builtin(type, vm.memory, r);
    benchmark::DoNotOptimize(vm.memory[kBlock]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_Builtin)->DenseRange(1, 7)->Unit(benchmark::kMicrosecond);

// Five instructions per byte: the XOR loop of the tests.
void BM_Interpreter(benchmark::State& state) {
  using namespace vmasm;
  FilterVm vm;
  vm.allocate();
  fill_block(vm, 0);
  Asm a;
  a.op(MOV, R(0), I(0)).op(CMP, R(0), R(4)).op(JAE, To(6)).opb(XOR, M(0), I(0x55)).op(INC, R(0)).op(JMP, To(1));
  std::vector<uint8_t> code = a.code();
  FilterProgram program;
  vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), program);
  for (auto _ : state) {
    vm.r[4] = kBlock;
    vm.r[7] = 0x40000;
    benchmark::DoNotOptimize(vm.execute(program.instructions.items, program.instructions.count));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
  state.counters["instructions"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * 5, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Interpreter)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
