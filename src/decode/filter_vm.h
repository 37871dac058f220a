// The filter machine: a small 32-bit virtual machine whose programs, carried in filter
// records of the compressed stream, transform stretches of the decoded output before
// they are written. Programs are parsed once per stored filter; the common ones are
// recognised by their code and run as built-in routines (builtin_filters.h).
#pragma once

#include "decode/bit_reader.h"
#include "platform/memory.h"
#include "platform/types.h"

constexpr uint32_t kVmMemorySize = 0x40000;
constexpr uint32_t kVmMemoryMask = kVmMemorySize - 1;
constexpr uint32_t kVmGlobalAddr = 0x3C000;     // global data, then static data
constexpr uint32_t kVmGlobalSize = 0x2000;
constexpr uint32_t kVmFixedGlobal = 64;         // the fixed fields at the start of the global data
constexpr uint32_t kVmMaxExtraGlobal = 0x1FC0;  // global data after the fixed fields
constexpr uint32_t kVmBudget = 25000000;        // instructions per run

constexpr uint32_t kVmFlagCarry = 0x1;
constexpr uint32_t kVmFlagZero = 0x2;
constexpr uint32_t kVmFlagSign = 0x80000000u;

enum VmOpcode : uint8_t {
  kVmMov, kVmCmp, kVmAdd, kVmSub, kVmJz, kVmJnz, kVmInc, kVmDec,
  kVmJmp, kVmXor, kVmAnd, kVmOr, kVmTest, kVmJs, kVmJns, kVmJb,
  kVmJbe, kVmJa, kVmJae, kVmPush, kVmPop, kVmCall, kVmRet, kVmNot,
  kVmShl, kVmShr, kVmSar, kVmNeg, kVmPusha, kVmPopa, kVmPushf, kVmPopf,
  kVmMovzx, kVmMovsx, kVmXchg, kVmMul, kVmDiv, kVmAdc, kVmSbb, kVmNop,
  kVmStandard,  // a built-in routine; only made by recognition, never parsed
};

enum VmOperandType : uint8_t { kVmRegister, kVmImmediate, kVmMemory, kVmNone };

// Where an operand's value lives: register `reg` (0 .. 7), or its own `data` when reg
// is kVmOwnData. A memory operand's address is that value plus `base`.
constexpr uint8_t kVmOwnData = 8;

struct VmOperand {
  uint8_t type = kVmNone;
  uint8_t reg = kVmOwnData;
  uint32_t data = 0;  // register number or immediate value
  uint32_t base = 0;  // displacement of a memory operand
};

struct VmInstruction {
  uint8_t opcode = kVmRet;
  bool byte_mode = false;
  VmOperand op1, op2;
};

struct FilterProgram {
  GrowArray<VmInstruction> instructions;
  // The stored filter's instructions, run instead of `instructions` when set.
  GrowArray<VmInstruction>* shared_code = nullptr;
  GrowArray<uint8_t> global_data;
  GrowArray<uint8_t> static_data;
  uint32_t start_regs[7] = {};
  uint32_t result_addr = 0;  // offset in the machine memory
  uint32_t result_size = 0;
};

// A stored filter (only use_count and program count) or a pending invocation.
struct FilterRecord {
  uint32_t block_start = 0;  // window position
  uint32_t block_length = 0;
  uint32_t use_count = 0;
  bool skip_once = false;
  uint32_t parent = 0;  // number of the stored filter
  FilterProgram program;
};

// The variable-length number of records and code.
uint32_t read_number(BitReader& in);

class FilterVm {
 public:
  FilterVm() = default;
  ~FilterVm();
  FilterVm(const FilterVm&) = delete;
  FilterVm& operator=(const FilterVm&) = delete;

  // Allocates the memory at the first use (out of memory is fatal).
  void allocate();
  // Zeroes the memory (when allocated) and the code and record buffers.
  void clear();
  // Parses filter code (at most the first 32,768 bytes are loaded) into the program.
  void prepare_program(const uint8_t* code, uint32_t count, FilterProgram& program);
  // Copies bytes to a memory address, clipped at the end of the memory.
  void set_memory(uint32_t address, const uint8_t* bytes, uint32_t count);
  // Runs an invocation whose block is in the memory at 0, exchanging the persistent
  // global data with its stored filter; `position` is the number of bytes of the file
  // written before the block. The result is the program's result_addr and result_size.
  void run_pending(FilterRecord& invocation, FilterRecord& stored, uint64_t position);
  // Interprets code with the current registers; false when the run ran out of budget.
  bool execute(VmInstruction* code, uint32_t count);

  uint8_t* memory = nullptr;  // kVmMemorySize bytes and 4 of slack
  uint32_t r[8] = {};
  uint32_t flags = 0;
  BitReader code_input;  // code being parsed; never refilled
  BitReader body;        // record body being read
  GrowArray<uint8_t> code_bytes;  // code of the record being read

 private:
  uint8_t* locate(VmOperand& op) {
    if (op.type == kVmRegister) return reinterpret_cast<uint8_t*>(&r[op.reg]);
    if (op.type == kVmMemory) {
      uint32_t at = op.reg < kVmOwnData ? r[op.reg] : op.data;
      return memory + ((at + op.base) & kVmMemoryMask);
    }
    return reinterpret_cast<uint8_t*>(&op.data);
  }
  void parse_operand(VmOperand& op, bool byte_mode);
};
