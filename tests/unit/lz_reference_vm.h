// A plain, literal filter machine for comparison with the decoder's: operands hold
// pointers to where their values live, instructions sit in std::vector, every step is
// written out the long way. It also provides the built-in routines written the obvious
// way, for the tests of the decoder's routines.
#pragma once

#include <cstdint>
#include <vector>

#include "lz_reference.h"

namespace lzref {

constexpr uint32_t kVmSize = 0x40000;
constexpr uint32_t kVmMask = kVmSize - 1;
constexpr uint32_t kGlobal = 0x3C000;

// Little-endian words of the machine memory.
uint32_t get_word(const std::vector<uint8_t>& mem, uint32_t at);
void set_word(std::vector<uint8_t>& mem, uint32_t at, uint32_t v);

// The built-in routines on a memory of kVmSize + 4 bytes with registers R[0 .. 7].
void builtin_x86(std::vector<uint8_t>& mem, uint32_t length, uint32_t file_pos, bool jumps);
void builtin_ia64(std::vector<uint8_t>& mem, uint32_t length, uint32_t file_pos);
void builtin_delta(std::vector<uint8_t>& mem, uint32_t length, uint32_t channels);
void builtin_rgb(std::vector<uint8_t>& mem, uint32_t length, uint32_t r0, uint32_t r1);
void builtin_audio(std::vector<uint8_t>& mem, uint32_t length, uint32_t channels);
void builtin_case(std::vector<uint8_t>& mem, uint32_t length);
void run_builtin(int type, std::vector<uint8_t>& mem, const uint32_t* R);
// Type 1 .. 7 of recognised code, or 0.
int builtin_type(const uint8_t* code, uint32_t length);
uint32_t crc32(const uint8_t* data, size_t n);

uint32_t read_number(Reader& in);

struct Operand {
  int type = 3;  // 0 register, 1 immediate, 2 memory, 3 none
  uint32_t data = 0;
  uint32_t base = 0;
  uint32_t* addr = nullptr;
};

struct Instr {
  int opcode = 22;
  bool byte_mode = false;
  Operand op1, op2;
};

struct Program {
  std::vector<Instr> code;
  std::vector<Instr>* shared = nullptr;
  std::vector<uint8_t> global, statics;
  uint32_t regs[7] = {};
  uint32_t result_addr = 0, result_size = 0;
};

struct Record {
  uint32_t block_start = 0, block_length = 0, use_count = 0;
  bool skip_once = false;
  size_t parent = 0;
  Program prog;
};

class Vm {
 public:
  Vm();
  void prepare(const uint8_t* code, uint32_t count, Program& p);
  // false when the budget ran out
  bool execute(std::vector<Instr>& code);
  void run(Record& inv, Record& stored, uint64_t position);

  std::vector<uint8_t> mem;
  uint32_t R[8] = {};
  uint32_t flags = 0;
  Reader code_in;
  uint64_t steps = 0;  // instructions executed by the last execute

 private:
  void operand(Operand& op, bool byte_mode);
};

}  // namespace lzref
