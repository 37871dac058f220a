// Test helpers for filters: an assembler for filter machine code (instructions, operand
// kinds, static data and the check byte), filter record bodies and their framing in the
// LZ stream, and code whose length and CRC-32 are chosen (so that it is taken for a
// built-in filter).
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "lz_reference_vm.h"
#include "lz_test_support.h"

namespace vmasm {

// Opcodes by number.
enum Op : int {
  MOV, CMP, ADD, SUB, JZ, JNZ, INC, DEC, JMP, XOR, AND, OR, TEST, JS, JNS, JB,
  JBE, JA, JAE, PUSH, POP, CALL, RET, NOT, SHL, SHR, SAR, NEG, PUSHA, POPA, PUSHF, POPF,
  MOVZX, MOVSX, XCHG, MUL, DIV, ADC, SBB, NOP,
};

inline bool byte_capable(int op) {
  switch (op) {
    case MOV: case CMP: case ADD: case SUB: case INC: case DEC: case XOR: case AND: case OR: case TEST:
    case NOT: case SHL: case SHR: case SAR: case NEG: case XCHG: case MUL: case DIV: case ADC: case SBB:
      return true;
    default:
      return false;
  }
}

// The shortest encoding of a number.
inline void put_number(lztest::BitWriter& w, uint32_t v) {
  if (v < 16) {
    w.put(0, 2);
    w.put(v, 4);
  } else if (v < 256) {
    w.put(1, 2);
    w.put(v, 8);
  } else if (v >= 0xFFFFFF00u) {
    w.put(1, 2);
    w.put(0, 4);
    w.put(v & 0xFF, 8);
  } else if (v < 0x10000) {
    w.put(2, 2);
    w.put(v, 16);
  } else {
    w.put(3, 2);
    w.put(v >> 16, 16);
    w.put(v & 0xFFFF, 16);
  }
}

struct Operand {
  enum Kind { kReg, kImm, kMem, kMemDisp, kAbs } kind;
  uint32_t value;  // register number, immediate value or absolute address
  uint32_t disp;
};
inline Operand R(uint32_t n) { return {Operand::kReg, n, 0}; }
inline Operand I(uint32_t v) { return {Operand::kImm, v, 0}; }
inline Operand M(uint32_t reg) { return {Operand::kMem, reg, 0}; }
inline Operand M(uint32_t reg, uint32_t disp) { return {Operand::kMemDisp, reg, disp}; }
inline Operand A(uint32_t addr) { return {Operand::kAbs, addr, 0}; }
// An immediate jump target that names instruction t directly.
inline Operand To(uint32_t t) { return I(256 + t); }

class Asm {
 public:
  // Static data goes first in the code.
  explicit Asm(const std::vector<uint8_t>& statics = {}) {
    if (statics.empty()) {
      bits.put(0, 1);
      return;
    }
    bits.put(1, 1);
    put_number(bits, static_cast<uint32_t>(statics.size() - 1));
    for (uint8_t b : statics) bits.put(b, 8);
  }

  Asm& op(int code) { return emit(code, false, nullptr, nullptr); }
  Asm& op(int code, Operand a) { return emit(code, false, &a, nullptr); }
  Asm& op(int code, Operand a, Operand b) { return emit(code, false, &a, &b); }
  // Byte mode.
  Asm& opb(int code, Operand a) { return emit(code, true, &a, nullptr); }
  Asm& opb(int code, Operand a, Operand b) { return emit(code, true, &a, &b); }

  uint32_t count() const { return instructions; }

  // Check byte and code bytes.
  std::vector<uint8_t> code() const {
    std::vector<uint8_t> b = bits.bytes();
    uint8_t check = 0;
    for (uint8_t v : b) check ^= v;
    b.insert(b.begin(), check);
    return b;
  }

  lztest::BitWriter bits;

 private:
  Asm& emit(int code, bool byte_mode, const Operand* a, const Operand* b) {
    if (code < 8) bits.put(static_cast<uint32_t>(code), 4);
    else bits.put(static_cast<uint32_t>(code + 24), 6);
    if (byte_capable(code)) bits.put(byte_mode ? 1 : 0, 1);
    if (a) operand(*a, byte_mode);
    if (b) operand(*b, byte_mode);
    instructions++;
    return *this;
  }
  void operand(const Operand& o, bool byte_mode) {
    switch (o.kind) {
      case Operand::kReg:
        bits.put(8 | o.value, 4);
        break;
      case Operand::kImm:
        bits.put(0, 2);
        if (byte_mode) bits.put(o.value, 8);
        else put_number(bits, o.value);
        break;
      case Operand::kMem:
        bits.put(0x10 | o.value, 6);  // 01 0 rrr
        break;
      case Operand::kMemDisp:
        bits.put(0x30 | o.value, 7);  // 01 10 rrr
        put_number(bits, o.disp);
        break;
      case Operand::kAbs:
        bits.put(7, 4);  // 01 11
        put_number(bits, o.value);
        break;
    }
  }
  uint32_t instructions = 0;
};

// A filter record: the flags byte and the body.
struct Record {
  bool has_number = false;
  uint32_t number = 0;  // as written: 0 resets and defines filter 0, k + 1 names filter k
  uint32_t offset = 0;
  bool plus258 = false;
  bool has_length = false;
  uint32_t length = 0;
  std::vector<std::pair<int, uint32_t>> regs;  // register values R0 .. R6
  std::vector<uint8_t> code;                    // for a new filter
  bool has_global = false;
  std::vector<uint8_t> global;
  int64_t code_size = -1;  // written instead of code.size() when not negative

  uint8_t flags() const {
    return static_cast<uint8_t>((has_number ? 0x80 : 0) | (plus258 ? 0x40 : 0) | (has_length ? 0x20 : 0) |
                                (regs.empty() ? 0 : 0x10) | (has_global ? 0x08 : 0));
  }
  std::vector<uint8_t> body() const {
    lztest::BitWriter w;
    if (has_number) put_number(w, number);
    put_number(w, offset);
    if (has_length) put_number(w, length);
    if (!regs.empty()) {
      uint32_t mask = 0;
      for (auto& r : regs) mask |= 1u << r.first;
      w.put(mask, 7);
      for (int k = 0; k < 7; k++) {
        for (auto& r : regs) {
          if (r.first == k) put_number(w, r.second);
        }
      }
    }
    if (!code.empty() || code_size >= 0) {
      put_number(w, code_size >= 0 ? static_cast<uint32_t>(code_size) : static_cast<uint32_t>(code.size()));
      for (uint8_t b : code) w.put(b, 8);
    }
    if (has_global) {
      put_number(w, static_cast<uint32_t>(global.size()));
      for (uint8_t b : global) w.put(b, 8);
    }
    return w.bytes();
  }
};

// Symbol 257 and the record: flags byte with the body length in its low bits, the longer
// lengths in 8 or 16 more bits, then the body bytes.
inline void put_record(lztest::StreamWriter& s, uint8_t flags, const std::vector<uint8_t>& body) {
  s.symbol(257);
  size_t n = body.size();
  if (n >= 1 && n <= 6) {
    s.bw.put((flags & 0xF8) | static_cast<uint32_t>(n - 1), 8);
  } else if (n >= 7 && n < 7 + 256) {
    s.bw.put((flags & 0xF8) | 6u, 8);
    s.bw.put(static_cast<uint32_t>(n - 7), 8);
  } else {
    s.bw.put((flags & 0xF8) | 7u, 8);
    s.bw.put(static_cast<uint32_t>(n), 16);
  }
  for (uint8_t b : body) s.bw.put(b, 8);
}
inline void put_record(lztest::StreamWriter& s, const Record& r) {
  std::vector<uint8_t> body = r.body();
  if (body.empty()) body.push_back(0);
  put_record(s, r.flags(), body);
}

// Code of `length` bytes that begins (after the check byte) with `prefix`, padded with
// zero bytes, carries a valid check byte and has the given CRC-32. The last four bytes
// are solved for: the CRC is affine in their bits (the check byte follows them too).
inline std::vector<uint8_t> forge_code(std::vector<uint8_t> prefix, size_t length, uint32_t crc) {
  for (int attempt = 0; attempt < 64; attempt++) {
    std::vector<uint8_t> code(length, 0);
    for (size_t i = 0; i < prefix.size() && 1 + i < length - 4; i++) code[1 + i] = prefix[i];
    if (attempt > 0) code[length - 5] ^= static_cast<uint8_t>(attempt);  // another system to solve
    auto with = [&](uint32_t u) {
      std::vector<uint8_t> c = code;
      for (int k = 0; k < 4; k++) c[length - 4 + k] = static_cast<uint8_t>(u >> (8 * k));
      uint8_t check = 0;
      for (size_t i = 1; i < length; i++) check ^= c[i];
      c[0] = check;
      return c;
    };
    auto crc_of = [&](uint32_t u) {
      std::vector<uint8_t> c = with(u);
      return lzref::crc32(c.data(), c.size());
    };
    uint32_t base = crc_of(0);
    // XOR basis of the columns, each with the unknown bits that make it.
    uint32_t basis[32] = {}, made_of[32] = {};
    for (int i = 0; i < 32; i++) {
      uint32_t v = crc_of(1u << i) ^ base, m = 1u << i;
      for (int b = 31; b >= 0 && v; b--) {
        if (!((v >> b) & 1)) continue;
        if (!basis[b]) {
          basis[b] = v;
          made_of[b] = m;
          v = 0;
          break;
        }
        v ^= basis[b];
        m ^= made_of[b];
      }
    }
    uint32_t want = crc ^ base, u = 0;
    for (int b = 31; b >= 0; b--) {
      if (((want >> b) & 1) && basis[b]) {
        want ^= basis[b];
        u ^= made_of[b];
      }
    }
    if (want == 0) return with(u);
  }
  return {};
}

struct Known {
  int type;
  size_t length;
  uint32_t crc;
};
// The recognised codes: type, length, CRC-32.
inline const std::vector<Known>& known_codes() {
  static const std::vector<Known> k = {{1, 53, 0xAD576887u}, {2, 57, 0x3CD7E57Eu}, {3, 120, 0x3769893Fu},
                                       {4, 149, 0x1C2C5DC8u}, {5, 216, 0xBC85E701u}, {6, 29, 0x0E06077Du},
                                       {7, 40, 0x46B9C560u}};
  return k;
}
inline std::vector<uint8_t> builtin_code(int type, const std::vector<uint8_t>& prefix = {}) {
  for (const Known& k : known_codes()) {
    if (k.type == type) return forge_code(prefix, k.length, k.crc);
  }
  return {};
}

// A random filter program that ends by itself: it leaves R7 and the stack alone and
// jumps only forward (or past its end). It may set the result and keep words.
inline std::vector<uint8_t> random_program(std::mt19937& rng) {
  std::vector<uint8_t> statics;
  if (rng() % 4 == 0) statics = std::vector<uint8_t>(1 + rng() % 20, static_cast<uint8_t>(rng()));
  Asm a(statics);
  auto value = [&]() -> uint32_t {
    switch (rng() % 4) {
      case 0: return rng() % 16;
      case 1: return rng() % 256;
      case 2: return rng() % 0x40000;
      default: return rng();
    }
  };
  auto address = [&]() -> uint32_t {
    switch (rng() % 4) {
      case 0: return rng() % 64;
      case 1: return 0x3C000 + rng() % 0x60;
      case 2: return 0x3FFF0 + rng() % 16;
      default: return rng();
    }
  };
  auto operand = [&](bool dest) -> Operand {
    switch (rng() % (dest ? 4 : 5)) {
      case 0: return R(rng() % 7);
      case 1: return M(rng() % 7);
      case 2: return M(rng() % 7, address());
      case 3: return A(address());
      default: return I(value());
    }
  };
  static const int kTwo[] = {MOV, CMP, ADD, SUB, XOR, AND, OR, TEST, SHL, SHR, SAR, MOVZX, MOVSX, XCHG, MUL, DIV, ADC, SBB};
  static const int kOne[] = {INC, DEC, NOT, NEG};
  static const int kJumps[] = {JZ, JNZ, JMP, JS, JNS, JB, JBE, JA, JAE};
  int n = 1 + static_cast<int>(rng() % 40);
  for (int i = 0; i < n; i++) {
    switch (rng() % 10) {
      case 0: case 1: case 2: case 3: case 4: {
        int op = kTwo[rng() % (sizeof kTwo / sizeof kTwo[0])];
        bool b = byte_capable(op) && rng() % 3 == 0;
        Operand d = op == MOVZX || op == MOVSX ? R(rng() % 7) : operand(true);
        b ? a.opb(op, d, operand(false)) : a.op(op, d, operand(false));
        break;
      }
      case 5: {
        int op = kOne[rng() % 4];
        rng() % 3 == 0 ? a.opb(op, operand(true)) : a.op(op, operand(true));
        break;
      }
      case 6: {
        int op = kJumps[rng() % 9];
        uint32_t here = a.count();
        switch (rng() % 3) {
          case 0: a.op(op, To(here + 1 + rng() % 20)); break;
          case 1: a.op(op, I(1 + rng() % 7)); break;       // 1 .. 7 ahead
          default: a.op(op, I(16 + rng() % 120)); break;  // 8 .. 127 ahead
        }
        break;
      }
      case 7:
        a.op(MOV, A(0x3C020 + 4 * (rng() % 2) - 4), I(rng() % 3 ? rng() % 0x3000 : value()));  // result size or address
        break;
      case 8:
        a.op(MOV, A(0x3C030), I(rng() % 4 ? rng() % 40 : value()));  // global data to keep
        break;
      default:
        a.op(NOP);
        break;
    }
  }
  return a.code();
}

}  // namespace vmasm
