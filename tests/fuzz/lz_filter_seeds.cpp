// Writes fuzz inputs (the format of lz_decode_fuzz.cpp) whose packed data carries filter
// records: built-in filters, a loop over the block, random programs, chains, stored
// filters used again, and records with registers and global data.
//   lz_filter_seeds <folder>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "../unit/lz_filter_asm.h"
#include "../unit/lz_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write_seed(const std::string& path, const Bytes& packed, uint32_t expected) {
  Bytes input{0, 0, static_cast<uint8_t>(expected), static_cast<uint8_t>(expected >> 8),
              static_cast<uint8_t>(expected >> 16), static_cast<uint8_t>(packed.size()),
              static_cast<uint8_t>(packed.size() >> 8)};
  input.insert(input.end(), packed.begin(), packed.end());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(input.data(), 1, input.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::mt19937 rng(2718);
  for (int n = 0; n < 40; n++) {
    lztest::Script s;
    s.w.header(lztest::full_lengths());
    uint32_t stored = 0;
    for (int k = 0; k < 1 + n % 6; k++) {
      for (int i = 0; i < 20 + static_cast<int>(rng() % 300); i++) {
        if (s.out.size() > 8 && rng() % 4 == 0) s.match(3 + rng() % 60, 1 + rng() % 8);
        else s.lit(static_cast<uint8_t>(rng() % 4 ? 'a' + rng() % 8 : rng()));
      }
      vmasm::Record r;
      bool fresh = stored == 0 || rng() % 3 == 0;
      if (fresh) {
        r.has_number = true;
        r.number = stored + 1;
        switch ((n + k) % 4) {
          case 0: r.code = vmasm::builtin_code(1 + static_cast<int>(rng() % 7)); break;
          case 1: {
            vmasm::Asm x;
            x.op(vmasm::MOV, vmasm::R(0), vmasm::I(0)).op(vmasm::CMP, vmasm::R(0), vmasm::R(4));
            x.op(vmasm::JAE, vmasm::To(6)).opb(vmasm::XOR, vmasm::M(0), vmasm::I(0x55));
            x.op(vmasm::INC, vmasm::R(0)).op(vmasm::JMP, vmasm::To(1));
            r.code = x.code();
            break;
          }
          default: r.code = vmasm::random_program(rng); break;
        }
        stored++;
      } else {
        r.has_number = rng() % 2;
        r.number = 1 + rng() % stored;
      }
      r.offset = rng() % 100;
      r.has_length = true;
      r.length = 1 + rng() % 400;
      if (rng() % 3 == 0) r.regs.push_back({0, 1 + rng() % 6});
      if (rng() % 4 == 0) {
        r.has_global = true;
        r.global = Bytes(1 + rng() % 16, 3);
      }
      vmasm::put_record(s.w, r);
    }
    for (int i = 0; i < 500; i++) s.lit(static_cast<uint8_t>(rng()));
    s.w.end_file(n % 2);
    write_seed(std::string(argv[1]) + "/filters" + std::to_string(n), s.w.bytes(8),
               static_cast<uint32_t>(s.out.size()));
  }
  return 0;
}
