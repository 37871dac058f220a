// Parsing and interpreting filter programs. The interpreter is plain: the filters that
// matter for speed run as built-in routines.
#include "decode/filter_vm.h"

#include <cstring>

#include "decode/builtin_filters.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "registers are addressed as little-endian bytes");

namespace {

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

constexpr int kCodeLimit = BitReader::kBufferSize;

// Per opcode: number of operands (bits 0-1), byte mode possible (kByte), an immediate
// operand is a jump target (kJump).
constexpr uint8_t kByte = 4, kJump = 8;
constexpr uint8_t kOpInfo[40] = {
    2 | kByte, 2 | kByte, 2 | kByte, 2 | kByte, 1 | kJump, 1 | kJump, 1 | kByte, 1 | kByte,  // MOV .. DEC
    1 | kJump, 2 | kByte, 2 | kByte, 2 | kByte, 2 | kByte, 1 | kJump, 1 | kJump, 1 | kJump,  // JMP .. JB
    1 | kJump, 1 | kJump, 1 | kJump, 1,         1,         1 | kJump, 0,         1 | kByte,  // JBE .. NOT
    2 | kByte, 2 | kByte, 2 | kByte, 1 | kByte, 0,         0,         0,         0,          // SHL .. POPF
    2,         2,         2 | kByte, 2 | kByte, 2 | kByte, 2 | kByte, 2 | kByte, 0,          // MOVZX .. NOP
};

// Zero and sign flags of a result.
inline uint32_t zero_sign(uint32_t r) { return r == 0 ? kVmFlagZero : (r & kVmFlagSign); }
// Flags of r = x - y.
inline uint32_t sub_flags(uint32_t r, uint32_t x) {
  return r == 0 ? kVmFlagZero : ((r > x ? kVmFlagCarry : 0) | (r & kVmFlagSign));
}

}  // namespace

uint32_t read_number(BitReader& in) {
  uint32_t v = in.peek16();
  switch (v >> 14) {
    case 0:
      in.skip_bits(6);
      return (v >> 10) & 0xF;
    case 1:
      if ((v & 0x3C00) == 0) {
        in.skip_bits(14);
        return 0xFFFFFF00u | ((v >> 2) & 0xFF);
      }
      in.skip_bits(10);
      return (v >> 6) & 0xFF;
    case 2:
      in.skip_bits(2);
      return in.read_bits(16);
    default: {
      in.skip_bits(2);
      uint32_t high = in.read_bits(16);
      return high << 16 | in.read_bits(16);
    }
  }
}

FilterVm::~FilterVm() { mem_free(memory); }

void FilterVm::allocate() {
  if (memory) return;
  memory = static_cast<uint8_t*>(mem_alloc_or_die(kVmMemorySize + 4));
  std::memset(memory, 0, kVmMemorySize + 4);
}

void FilterVm::clear() {
  if (memory) std::memset(memory, 0, kVmMemorySize + 4);
  std::memset(code_input.buffer, 0, BitReader::kBufferSize + BitReader::kSlack);
  std::memset(body.buffer, 0, BitReader::kBufferSize + BitReader::kSlack);
}

void FilterVm::set_memory(uint32_t address, const uint8_t* bytes, uint32_t count) {
  if (address >= kVmMemorySize || bytes == memory + address) return;
  uint32_t room = kVmMemorySize - address;
  std::memmove(memory + address, bytes, count < room ? count : room);
}

void FilterVm::parse_operand(VmOperand& op, bool byte_mode) {
  BitReader& in = code_input;
  uint32_t v = in.peek16();
  if (v & 0x8000) {
    op.type = kVmRegister;
    op.reg = static_cast<uint8_t>((v >> 12) & 7);
    op.data = op.reg;
    in.skip_bits(4);
  } else if (!(v & 0x4000)) {
    op.type = kVmImmediate;
    if (byte_mode) {
      op.data = (v >> 6) & 0xFF;
      in.skip_bits(10);
    } else {
      in.skip_bits(2);
      op.data = read_number(in);
    }
  } else {
    op.type = kVmMemory;
    if (!(v & 0x2000)) {
      op.reg = static_cast<uint8_t>((v >> 10) & 7);
      op.data = op.reg;
      in.skip_bits(6);
    } else if (!(v & 0x1000)) {
      op.reg = static_cast<uint8_t>((v >> 9) & 7);
      op.data = op.reg;
      in.skip_bits(7);
      op.base = read_number(in);
    } else {  // absolute address
      in.skip_bits(4);
      op.base = read_number(in);
    }
  }
}

void FilterVm::prepare_program(const uint8_t* code, uint32_t count, FilterProgram& program) {
  BitReader& in = code_input;
  int32_t length = count < static_cast<uint32_t>(kCodeLimit) ? static_cast<int32_t>(count) : kCodeLimit;
  if (code != in.buffer) std::memcpy(in.buffer, code, static_cast<size_t>(length));
  in.rewind();
  program.instructions.resize(0);
  program.static_data.resize(0);
  uint8_t check = 0;
  for (uint32_t i = 1; i < count; i++) check ^= code[i];
  in.skip_bits(8);
  if (count > 0 && check == code[0]) {
    uint32_t builtin = recognise_builtin(code, count);
    if (builtin != kBuiltinNone) {
      VmInstruction standard;
      standard.opcode = kVmStandard;
      standard.op1.data = builtin;
      program.instructions.push(standard);
      length = 0;
    }
    if (in.read_bits(1)) {
      uint32_t n = read_number(in) + 1;
      for (uint32_t i = 0; i < n && in.byte_pos < length; i++) {
        program.static_data.push(static_cast<uint8_t>(in.read_bits(8)));
      }
    }
    while (in.byte_pos < length) {
      VmInstruction ins;
      uint32_t v = in.peek16();
      if (!(v & 0x8000)) {
        ins.opcode = static_cast<uint8_t>(v >> 12);
        in.skip_bits(4);
      } else {
        ins.opcode = static_cast<uint8_t>((v >> 10) - 24);
        in.skip_bits(6);
      }
      uint8_t info = kOpInfo[ins.opcode];
      if (info & kByte) ins.byte_mode = in.read_bits(1) != 0;
      if ((info & 3) > 0) parse_operand(ins.op1, ins.byte_mode);
      if ((info & 3) > 1) parse_operand(ins.op2, ins.byte_mode);
      if ((info & kJump) && ins.op1.type == kVmImmediate) {
        uint32_t t = ins.op1.data;
        if (t >= 256) {
          t -= 256;  // an absolute target
        } else {
          if (t >= 136) t -= 264;
          else if (t >= 16) t -= 8;
          else if (t >= 8) t -= 16;
          t += program.instructions.count;
        }
        ins.op1.data = t;
      }
      program.instructions.push(ins);
    }
  }
  program.instructions.push(VmInstruction());  // the final RET
}

bool FilterVm::execute(VmInstruction* code, uint32_t count) {
  int32_t budget = static_cast<int32_t>(kVmBudget);
  uint32_t ip = 0;
  uint8_t* const mem = memory;
  auto stack = [&]() { return mem + (r[7] & kVmMemoryMask); };
  while (ip < count) {
    VmInstruction& ins = code[ip];
    budget--;
    uint8_t* p1 = locate(ins.op1);
    uint8_t* p2 = locate(ins.op2);
    const bool bm = ins.byte_mode;
    const uint32_t x = bm ? *p1 : load32(p1);
    const uint32_t y = bm ? *p2 : load32(p2);
    auto put = [&](uint8_t* p, uint32_t v) {
      if (bm) *p = static_cast<uint8_t>(v);
      else store32(p, v);
    };
    uint32_t target = x;
    uint32_t v;
    switch (ins.opcode) {
      case kVmMov:
        put(p1, y);
        break;
      case kVmCmp:
        flags = sub_flags(x - y, x);
        break;
      case kVmAdd:
        v = x + y;
        if (bm) v &= 0xFF;
        flags = (v < x ? kVmFlagCarry : 0) | (v == 0 ? kVmFlagZero : bm ? (v & 0x80 ? kVmFlagSign : 0) : (v & kVmFlagSign));
        put(p1, v);
        break;
      case kVmSub:
        v = x - y;
        flags = sub_flags(v, x);
        put(p1, v);
        break;
      case kVmJz:
        if (flags & kVmFlagZero) goto jump;
        break;
      case kVmJnz:
        if (!(flags & kVmFlagZero)) goto jump;
        break;
      case kVmInc:
        v = x + 1;
        if (bm) v &= 0xFF;
        flags = zero_sign(v);
        put(p1, v);
        break;
      case kVmDec:
        v = x - 1;
        flags = zero_sign(v);
        put(p1, v);
        break;
      case kVmJmp:
        goto jump;
      case kVmXor:
        v = x ^ y;
        flags = zero_sign(v);
        put(p1, v);
        break;
      case kVmAnd:
        v = x & y;
        flags = zero_sign(v);
        put(p1, v);
        break;
      case kVmOr:
        v = x | y;
        flags = zero_sign(v);
        put(p1, v);
        break;
      case kVmTest:
        flags = zero_sign(x & y);
        break;
      case kVmJs:
        if (flags & kVmFlagSign) goto jump;
        break;
      case kVmJns:
        if (!(flags & kVmFlagSign)) goto jump;
        break;
      case kVmJb:
        if (flags & kVmFlagCarry) goto jump;
        break;
      case kVmJbe:
        if (flags & (kVmFlagCarry | kVmFlagZero)) goto jump;
        break;
      case kVmJa:
        if (!(flags & (kVmFlagCarry | kVmFlagZero))) goto jump;
        break;
      case kVmJae:
        if (!(flags & kVmFlagCarry)) goto jump;
        break;
      case kVmPush:
        r[7] -= 4;
        store32(stack(), x);
        break;
      case kVmPop:
        store32(p1, load32(stack()));
        r[7] += 4;
        break;
      case kVmCall:
        r[7] -= 4;
        store32(stack(), ip + 1);
        goto jump;
      case kVmRet:
        if (r[7] >= kVmMemorySize) return true;
        target = load32(stack());
        if (target >= count) return true;
        r[7] += 4;
        goto jump;
      case kVmNot:
        put(p1, ~x);
        break;
      case kVmShl:
        v = x << (y & 31);
        flags = ((x << ((y - 1) & 31)) & 0x80000000u ? kVmFlagCarry : 0) | zero_sign(v);
        put(p1, v);
        break;
      case kVmShr:
        v = x >> (y & 31);
        flags = ((x >> ((y - 1) & 31)) & 1) | zero_sign(v);
        put(p1, v);
        break;
      case kVmSar:
        v = static_cast<uint32_t>(static_cast<int32_t>(x) >> (y & 31));
        flags = ((x >> ((y - 1) & 31)) & 1) | zero_sign(v);
        put(p1, v);
        break;
      case kVmNeg:
        v = 0 - x;
        flags = v == 0 ? kVmFlagZero : kVmFlagCarry | (v & kVmFlagSign);
        put(p1, v);
        break;
      case kVmPusha:
        v = r[7];
        for (uint32_t k = 0; k < 8; k++) store32(mem + ((v - 4 * (k + 1)) & kVmMemoryMask), r[k]);
        r[7] = v - 32;
        break;
      case kVmPopa:
        v = r[7];
        for (uint32_t k = 8; k-- > 0;) r[k] = load32(mem + ((v + 4 * (7 - k)) & kVmMemoryMask));
        break;
      case kVmPushf:
        r[7] -= 4;
        store32(stack(), flags);
        break;
      case kVmPopf:
        flags = load32(stack());
        r[7] += 4;
        break;
      case kVmMovzx:
        store32(p1, *p2);
        break;
      case kVmMovsx:
        store32(p1, static_cast<uint32_t>(static_cast<int8_t>(*p2)));
        break;
      case kVmXchg:
        put(p1, y);
        put(p2, x);
        break;
      case kVmMul:
        put(p1, x * y);
        break;
      case kVmDiv:
        if (y != 0) put(p1, x / y);
        break;
      case kVmAdc: {
        uint32_t carry = flags & kVmFlagCarry;
        v = x + y + carry;
        if (bm) v &= 0xFF;
        flags = (v < x || (v == x && carry) ? kVmFlagCarry : 0) | zero_sign(v);
        put(p1, v);
        break;
      }
      case kVmSbb: {
        uint32_t carry = flags & kVmFlagCarry;
        v = x - y - carry;
        if (bm) v &= 0xFF;
        flags = (v > x || (v == x && carry) ? kVmFlagCarry : 0) | zero_sign(v);
        put(p1, v);
        break;
      }
      case kVmStandard:
        run_builtin(ins.op1.data, mem, r);
        break;
      default:  // no operation
        break;
    }
    ip++;
    continue;
  jump:
    if (target >= count) return true;
    if (budget <= 0) return false;
    ip = target;
  }
  return true;
}

void FilterVm::run_pending(FilterRecord& invocation, FilterRecord& stored, uint64_t position) {
  FilterProgram& p = invocation.program;
  GrowArray<uint8_t>& global = p.global_data;
  GrowArray<uint8_t>& kept = stored.program.global_data;
  if (global.count < kVmFixedGlobal) {
    uint32_t had = global.count;
    global.resize(kVmFixedGlobal);
    std::memset(global.items + had, 0, kVmFixedGlobal - had);
  }
  // Persistent data of the stored filter.
  if (kept.count > kVmFixedGlobal) {
    global.resize(kept.count);
    std::memcpy(global.items + kVmFixedGlobal, kept.items + kVmFixedGlobal, kept.count - kVmFixedGlobal);
  }
  p.start_regs[6] = static_cast<uint32_t>(position);
  store32(global.items + 0x24, static_cast<uint32_t>(position));
  store32(global.items + 0x28, static_cast<uint32_t>(position >> 32));
  for (int k = 0; k < 7; k++) r[k] = p.start_regs[k];
  uint32_t n = global.count < kVmGlobalSize ? global.count : kVmGlobalSize;
  std::memcpy(memory + kVmGlobalAddr, global.items, n);
  if (n < kVmGlobalSize && p.static_data.count) {
    uint32_t room = kVmGlobalSize - n;
    std::memcpy(memory + kVmGlobalAddr + n, p.static_data.items, p.static_data.count < room ? p.static_data.count : room);
  }
  r[7] = kVmMemorySize;
  flags = 0;

  GrowArray<VmInstruction>& code = p.shared_code ? *p.shared_code : p.instructions;
  if (!execute(code.items, code.count) && code.count) code.items[0].opcode = kVmRet;  // disabled from now on

  uint32_t at = load32(memory + kVmGlobalAddr + 0x20) & kVmMemoryMask;
  uint32_t size = load32(memory + kVmGlobalAddr + 0x1C) & kVmMemoryMask;
  if (at + size >= kVmMemorySize) at = size = 0;
  p.result_addr = at;
  p.result_size = size;

  global.resize(0);
  uint32_t keep = load32(memory + kVmGlobalAddr + 0x30);
  if (keep > kVmMaxExtraGlobal) keep = kVmMaxExtraGlobal;
  if (keep > 0) global.append(memory + kVmGlobalAddr, kVmFixedGlobal + keep);
  if (global.count > kVmFixedGlobal) {
    if (kept.count < global.count) kept.resize(global.count);
    std::memcpy(kept.items + kVmFixedGlobal, global.items + kVmFixedGlobal, global.count - kVmFixedGlobal);
  } else {
    kept.resize(0);
  }
}
