#include "lz_reference_vm.h"

#include <cstdlib>
#include <cstring>

namespace lzref {

uint32_t get_word(const std::vector<uint8_t>& mem, uint32_t at) {
  return static_cast<uint32_t>(mem[at]) | static_cast<uint32_t>(mem[at + 1]) << 8 |
         static_cast<uint32_t>(mem[at + 2]) << 16 | static_cast<uint32_t>(mem[at + 3]) << 24;
}

void set_word(std::vector<uint8_t>& mem, uint32_t at, uint32_t v) {
  for (int k = 0; k < 4; k++) mem[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

uint32_t crc32(const uint8_t* data, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    c ^= data[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

int builtin_type(const uint8_t* code, uint32_t length) {
  struct {
    uint32_t length, crc;
    int type;
  } table[] = {{53, 0xAD576887u, 1}, {57, 0x3CD7E57Eu, 2}, {120, 0x3769893Fu, 3}, {29, 0x0E06077Du, 6},
               {149, 0x1C2C5DC8u, 4}, {216, 0xBC85E701u, 5}, {40, 0x46B9C560u, 7}};
  uint32_t crc = crc32(code, length);
  for (auto& t : table) {
    if (t.length == length && t.crc == crc) return t.type;
  }
  return 0;
}

void builtin_x86(std::vector<uint8_t>& mem, uint32_t length, uint32_t file_pos, bool jumps) {
  if (length >= 0x3C000) return;
  int64_t p = 0;
  while (p < static_cast<int64_t>(length) - 4) {
    uint8_t b = mem[p];
    if (b == 0xE8 || (jumps && b == 0xE9)) {
      int32_t offset = static_cast<int32_t>(file_pos + static_cast<uint32_t>(p) + 1);
      int32_t addr = static_cast<int32_t>(get_word(mem, static_cast<uint32_t>(p + 1)));
      if (addr < 0) {
        if (static_cast<int32_t>(static_cast<uint32_t>(addr) + static_cast<uint32_t>(offset)) >= 0)
          set_word(mem, static_cast<uint32_t>(p + 1), static_cast<uint32_t>(addr) + 0x1000000);
      } else if (addr < 0x1000000) {
        set_word(mem, static_cast<uint32_t>(p + 1), static_cast<uint32_t>(addr) - static_cast<uint32_t>(offset));
      }
      p += 5;
    } else {
      p += 1;
    }
  }
}

namespace {

// Bit q of a bundle: bit q % 8 of byte q / 8.
uint32_t bundle_bits(const std::vector<uint8_t>& mem, uint32_t at, uint32_t q, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t k = 0; k < n; k++) v |= static_cast<uint32_t>((mem[at + (q + k) / 8] >> ((q + k) % 8)) & 1) << k;
  return v;
}

void set_bundle_bits(std::vector<uint8_t>& mem, uint32_t at, uint32_t q, uint32_t n, uint32_t v) {
  for (uint32_t k = 0; k < n; k++) {
    uint8_t& byte = mem[at + (q + k) / 8];
    uint8_t bit = static_cast<uint8_t>(1u << ((q + k) % 8));
    if ((v >> k) & 1) byte |= bit;
    else byte &= static_cast<uint8_t>(~bit);
  }
}

}  // namespace

void builtin_ia64(std::vector<uint8_t>& mem, uint32_t length, uint32_t file_pos) {
  static const int masks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  if (length >= 0x3C000) return;
  uint32_t bundle = file_pos >> 4;
  for (int64_t p = 0; p < static_cast<int64_t>(length) - 21; p += 16) {
    uint32_t at = static_cast<uint32_t>(p);
    int tmpl = mem[at] & 0x1F;
    if (tmpl >= 16) {
      int mask = masks[tmpl - 16];
      for (uint32_t k = 0; k < 3; k++) {
        if (mask & (1 << k)) {
          uint32_t pos = 41 * k + 5;
          if (bundle_bits(mem, at, pos + 37, 4) == 5) {
            uint32_t v = bundle_bits(mem, at, pos + 13, 20);
            set_bundle_bits(mem, at, pos + 13, 20, (v - bundle) & 0xFFFFF);
          }
        }
      }
    }
    bundle++;
  }
}

void builtin_delta(std::vector<uint8_t>& mem, uint32_t length, uint32_t channels) {
  set_word(mem, 0x3C020, length);
  if (length >= 0x1E000) return;
  int64_t n = static_cast<int32_t>(channels);
  uint32_t s = 0;
  for (int64_t c = 0; c < n && c < length; c++) {
    uint8_t prev = 0;
    for (int64_t d = length + c; d < 2 * static_cast<int64_t>(length); d += n) {
      prev = static_cast<uint8_t>(prev - mem[s]);
      s++;
      mem[d] = prev;
    }
  }
}

void builtin_rgb(std::vector<uint8_t>& mem, uint32_t length, uint32_t r0, uint32_t r1) {
  set_word(mem, 0x3C020, length);
  if (length >= 0x1E000 || static_cast<int32_t>(r1) < 0) return;
  int32_t width = static_cast<int32_t>(r0 - 3);
  auto D = [&](uint32_t i) -> uint8_t& { return mem[(length + i) & kVmMask]; };
  uint32_t s = 0;
  for (int c = 0; c < 3; c++) {
    int prev = 0;
    for (uint32_t i = c; i < length; i += 3) {
      int prediction = prev;
      int32_t back = static_cast<int32_t>(i - static_cast<uint32_t>(width));
      if (back >= 3) {
        int up = D(static_cast<uint32_t>(back));
        int up_left = D(static_cast<uint32_t>(back - 3));
        int pred0 = prev + up - up_left;
        int pa = std::abs(pred0 - prev), pb = std::abs(pred0 - up), pc = std::abs(pred0 - up_left);
        if (pa <= pb && pa <= pc) prediction = prev;
        else if (pb <= pc) prediction = up;
        else prediction = up_left;
      }
      prev = (prediction - mem[s]) & 0xFF;
      s++;
      D(i) = static_cast<uint8_t>(prev);
    }
  }
  for (int64_t i = r1; i < static_cast<int64_t>(length) - 2; i += 3) {
    D(static_cast<uint32_t>(i)) = static_cast<uint8_t>(D(static_cast<uint32_t>(i)) + D(static_cast<uint32_t>(i + 1)));
    D(static_cast<uint32_t>(i + 2)) =
        static_cast<uint8_t>(D(static_cast<uint32_t>(i + 2)) + D(static_cast<uint32_t>(i + 1)));
  }
}

void builtin_audio(std::vector<uint8_t>& mem, uint32_t length, uint32_t channels) {
  set_word(mem, 0x3C020, length);
  if (length >= 0x1E000) return;
  int64_t n = static_cast<int32_t>(channels);
  uint32_t s = 0;
  for (int64_t c = 0; c < n && c < length; c++) {
    int32_t prev = 0, prev_delta = 0, d1 = 0, d2 = 0, d3 = 0, k1 = 0, k2 = 0, k3 = 0;
    uint32_t dif[7] = {};
    int64_t count = 0;
    for (int64_t i = c; i < length; i += n, count++) {
      d3 = d2;
      d2 = prev_delta - d1;
      d1 = prev_delta;
      uint32_t sum = static_cast<uint32_t>(8 * prev + k1 * d1 + k2 * d2 + k3 * d3);
      int pred = static_cast<int>((sum >> 3) & 0xFF);
      int cur = mem[s];
      s++;
      int32_t value = pred - cur;
      mem[length + i] = static_cast<uint8_t>(value & 0xFF);
      prev_delta = static_cast<int8_t>(static_cast<uint8_t>((value - prev) & 0xFF));
      prev = value;
      int32_t d = static_cast<int8_t>(static_cast<uint8_t>(cur)) * 8;
      int32_t against[7] = {d, d - d1, d + d1, d - d2, d + d2, d - d3, d + d3};
      for (int j = 0; j < 7; j++) dif[j] += static_cast<uint32_t>(std::abs(against[j]));
      if (count % 32 == 0) {
        int best = 0;
        for (int j = 1; j < 7; j++) {
          if (dif[j] < dif[best]) best = j;
        }
        for (int j = 0; j < 7; j++) dif[j] = 0;
        if (best == 1 && k1 >= -16) k1--;
        if (best == 2 && k1 < 16) k1++;
        if (best == 3 && k2 >= -16) k2--;
        if (best == 4 && k2 < 16) k2++;
        if (best == 5 && k3 >= -16) k3--;
        if (best == 6 && k3 < 16) k3++;
      }
    }
  }
}

void builtin_case(std::vector<uint8_t>& mem, uint32_t length) {
  if (length >= 0x1E000) return;
  // One memory: a 2 as the block's last byte takes the first byte written.
  uint32_t s = 0, d = length;
  while (s < length) {
    uint8_t b = mem[s++];
    if (b == 2) {
      b = mem[s++];
      if (b != 2) b = static_cast<uint8_t>(b - 32);
    }
    mem[d++] = b;
  }
  set_word(mem, 0x3C01C, d - length);
  set_word(mem, 0x3C020, length);
}

void run_builtin(int type, std::vector<uint8_t>& mem, const uint32_t* R) {
  switch (type) {
    case 1: builtin_x86(mem, R[4], R[6], false); break;
    case 2: builtin_x86(mem, R[4], R[6], true); break;
    case 3: builtin_ia64(mem, R[4], R[6]); break;
    case 4: builtin_rgb(mem, R[4], R[0], R[1]); break;
    case 5: builtin_audio(mem, R[4], R[0]); break;
    case 6: builtin_delta(mem, R[4], R[0]); break;
    case 7: builtin_case(mem, R[4]); break;
    default: break;
  }
}

uint32_t read_number(Reader& in) {
  uint32_t v = in.peek16();
  uint32_t top = v >> 14;
  if (top == 0) {
    in.skip_bits(6);
    return (v >> 10) & 15;
  }
  if (top == 1) {
    if (((v >> 10) & 15) == 0) {
      in.skip_bits(14);
      return 0xFFFFFF00u | ((v >> 2) & 0xFF);
    }
    in.skip_bits(10);
    return (v >> 6) & 0xFF;
  }
  in.skip_bits(2);
  if (top == 2) return in.read_bits(16);
  uint32_t hi = in.read_bits(16);
  uint32_t lo = in.read_bits(16);
  return hi << 16 | lo;
}

namespace {

// Operand count and byte mode per opcode 0 .. 39.
const int kOps[40] = {2, 2, 2, 2, 1, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1,
                      1, 1, 0, 1, 2, 2, 2, 1, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 0};
const bool kByteMode[40] = {true,  true,  true,  true,  false, false, true,  true,  false, true,
                            true,  true,  true,  false, false, false, false, false, false, false,
                            false, false, false, true,  true,  true,  true,  true,  false, false,
                            false, false, false, false, true,  true,  true,  true,  true,  false};

bool is_jump(int opcode) {
  return opcode == 4 || opcode == 5 || opcode == 8 || (opcode >= 13 && opcode <= 18) || opcode == 21;
}

}  // namespace

Vm::Vm() : mem(kVmSize + 4, 0) {}

void Vm::operand(Operand& op, bool byte_mode) {
  uint32_t v = code_in.peek16();
  if (v & 0x8000) {
    op.type = 0;
    op.data = (v >> 12) & 7;
    op.addr = &R[op.data];
    code_in.skip_bits(4);
  } else if ((v & 0xC000) == 0) {
    op.type = 1;
    if (byte_mode) {
      op.data = (v >> 6) & 0xFF;
      code_in.skip_bits(10);
    } else {
      code_in.skip_bits(2);
      op.data = read_number(code_in);
    }
  } else {
    op.type = 2;
    if ((v & 0x2000) == 0) {
      op.data = (v >> 10) & 7;
      op.addr = &R[op.data];
      op.base = 0;
      code_in.skip_bits(6);
    } else if ((v & 0x3000) == 0x2000) {
      op.data = (v >> 9) & 7;
      op.addr = &R[op.data];
      code_in.skip_bits(7);
      op.base = read_number(code_in);
    } else {
      op.data = 0;
      code_in.skip_bits(4);
      op.base = read_number(code_in);
    }
  }
}

void Vm::prepare(const uint8_t* code, uint32_t count, Program& p) {
  uint32_t loaded = count < 32768 ? count : 32768;
  for (uint32_t i = 0; i < loaded; i++) code_in.buffer[i] = code[i];
  code_in.byte_pos = 0;
  code_in.bit_pos = 0;
  uint8_t check = 0;
  for (uint32_t i = 1; i < count; i++) check = static_cast<uint8_t>(check ^ code[i]);
  code_in.skip_bits(8);
  p.code.clear();
  p.statics.clear();
  if (count > 0 && check == code[0]) {
    int32_t length = static_cast<int32_t>(loaded);
    int type = builtin_type(code, count);
    if (type != 0) {
      Instr standard;
      standard.opcode = 40;
      standard.op1.data = static_cast<uint32_t>(type);
      p.code.push_back(standard);
      length = 0;
    }
    if (code_in.read_bits(1)) {
      uint64_t n = static_cast<uint64_t>(read_number(code_in)) + 1;
      n &= 0xFFFFFFFFu;
      for (uint64_t i = 0; i < n && code_in.byte_pos < length; i++) p.statics.push_back(static_cast<uint8_t>(code_in.read_bits(8)));
    }
    while (code_in.byte_pos < length) {
      Instr in;
      uint32_t v = code_in.peek16();
      if ((v & 0x8000) == 0) {
        in.opcode = static_cast<int>(v >> 12);
        code_in.skip_bits(4);
      } else {
        in.opcode = static_cast<int>(v >> 10) - 24;
        code_in.skip_bits(6);
      }
      if (kByteMode[in.opcode]) in.byte_mode = code_in.read_bits(1) == 1;
      if (kOps[in.opcode] >= 1) operand(in.op1, in.byte_mode);
      if (kOps[in.opcode] >= 2) operand(in.op2, in.byte_mode);
      if (is_jump(in.opcode) && in.op1.type == 1) {
        int64_t d = in.op1.data;
        if (d >= 256) {
          d -= 256;
        } else {
          if (d >= 136) d -= 264;
          else if (d >= 16) d -= 8;
          else if (d >= 8) d -= 16;
          d += static_cast<int64_t>(p.code.size());
        }
        in.op1.data = static_cast<uint32_t>(d);
      }
      p.code.push_back(in);
    }
  }
  p.code.push_back(Instr());
  for (Instr& in : p.code) {
    if (!in.op1.addr) in.op1.addr = &in.op1.data;
    if (!in.op2.addr) in.op2.addr = &in.op2.data;
  }
}

bool Vm::execute(std::vector<Instr>& code) {
  const uint32_t count = static_cast<uint32_t>(code.size());
  int64_t units = 25000000;
  steps = 0;
  uint32_t ip = 0;
  constexpr uint32_t CF = 1, ZF = 2, SF = 0x80000000u;
  while (ip < count) {
    Instr& in = code[ip];
    steps++;
    units--;
    // Locations as byte pointers: memory operands inside mem, the others at their words.
    auto where = [&](Operand& op) -> uint8_t* {
      if (op.type == 2) return &mem[(*op.addr + op.base) & kVmMask];
      return reinterpret_cast<uint8_t*>(op.addr);
    };
    uint8_t* l1 = where(in.op1);
    uint8_t* l2 = where(in.op2);
    auto read = [&](uint8_t* l) -> uint32_t {
      if (in.byte_mode) return l[0];
      return static_cast<uint32_t>(l[0]) | static_cast<uint32_t>(l[1]) << 8 | static_cast<uint32_t>(l[2]) << 16 |
             static_cast<uint32_t>(l[3]) << 24;
    };
    auto write32 = [](uint8_t* l, uint32_t v) {
      for (int k = 0; k < 4; k++) l[k] = static_cast<uint8_t>(v >> (8 * k));
    };
    auto write = [&](uint8_t* l, uint32_t v) {
      if (in.byte_mode) l[0] = static_cast<uint8_t>(v);
      else write32(l, v);
    };
    auto zs = [&](uint32_t r) { return r == 0 ? ZF : ((r >> 31) ? SF : 0); };
    uint32_t x = read(l1), y = read(l2);
    uint32_t next = ip + 1;
    bool jumping = false;
    uint32_t target = 0;
    auto jump = [&](uint32_t t) {
      jumping = true;
      target = t;
    };
    switch (in.opcode) {
      case 0: write(l1, y); break;
      case 1: {
        uint32_t r = x - y;
        flags = r == 0 ? ZF : ((r > x ? CF : 0) | ((r >> 31) ? SF : 0));
        break;
      }
      case 2: {
        uint32_t r = x + y;
        if (in.byte_mode) r &= 0xFF;
        uint32_t sign = in.byte_mode ? ((r >> 7) & 1) : (r >> 31);
        flags = (r < x ? CF : 0) | (r == 0 ? ZF : (sign ? SF : 0));
        write(l1, r);
        break;
      }
      case 3: {
        uint32_t r = x - y;
        flags = r == 0 ? ZF : ((r > x ? CF : 0) | ((r >> 31) ? SF : 0));
        write(l1, r);
        break;
      }
      case 4: if (flags & ZF) jump(x); break;
      case 5: if (!(flags & ZF)) jump(x); break;
      case 6: {
        uint32_t r = x + 1;
        if (in.byte_mode) r &= 0xFF;
        flags = zs(r);
        write(l1, r);
        break;
      }
      case 7: {
        uint32_t r = x - 1;
        flags = zs(r);
        write(l1, r);
        break;
      }
      case 8: jump(x); break;
      case 9: flags = zs(x ^ y); write(l1, x ^ y); break;
      case 10: flags = zs(x & y); write(l1, x & y); break;
      case 11: flags = zs(x | y); write(l1, x | y); break;
      case 12: flags = zs(x & y); break;
      case 13: if (flags & SF) jump(x); break;
      case 14: if (!(flags & SF)) jump(x); break;
      case 15: if (flags & CF) jump(x); break;
      case 16: if ((flags & CF) || (flags & ZF)) jump(x); break;
      case 17: if (!(flags & CF) && !(flags & ZF)) jump(x); break;
      case 18: if (!(flags & CF)) jump(x); break;
      case 19:
        R[7] -= 4;
        write32(&mem[R[7] & kVmMask], x);
        break;
      case 20:
        write32(l1, get_word(mem, R[7] & kVmMask));
        R[7] += 4;
        break;
      case 21:
        R[7] -= 4;
        write32(&mem[R[7] & kVmMask], ip + 1);
        jump(x);
        break;
      case 22:
        if (R[7] >= 0x40000) return true;
        {
          uint32_t t = get_word(mem, R[7] & kVmMask);
          if (t >= count) return true;
          R[7] += 4;
          jump(t);
        }
        break;
      case 23: write(l1, ~x); break;
      case 24: {
        uint32_t r = x << (y % 32);
        uint32_t cf = ((x << ((y - 1) % 32)) >> 31) & 1;
        flags = (cf ? CF : 0) | zs(r);
        write(l1, r);
        break;
      }
      case 25: {
        uint32_t r = x >> (y % 32);
        uint32_t cf = (x >> ((y - 1) % 32)) & 1;
        flags = (cf ? CF : 0) | zs(r);
        write(l1, r);
        break;
      }
      case 26: {
        uint32_t r = static_cast<uint32_t>(static_cast<int32_t>(x) >> (y % 32));
        uint32_t cf = (x >> ((y - 1) % 32)) & 1;
        flags = (cf ? CF : 0) | zs(r);
        write(l1, r);
        break;
      }
      case 27: {
        uint32_t r = 0 - x;
        flags = r == 0 ? ZF : (CF | ((r >> 31) ? SF : 0));
        write(l1, r);
        break;
      }
      case 28: {
        uint32_t sp = R[7];
        for (uint32_t k = 0; k < 8; k++) set_word(mem, (sp - 4 * (k + 1)) & kVmMask, R[k]);
        R[7] = sp - 32;
        break;
      }
      case 29: {
        uint32_t sp = R[7];
        for (int k = 7; k >= 0; k--) R[k] = get_word(mem, (sp + 4 * (7 - static_cast<uint32_t>(k))) & kVmMask);
        break;
      }
      case 30:
        R[7] -= 4;
        set_word(mem, R[7] & kVmMask, flags);
        break;
      case 31:
        flags = get_word(mem, R[7] & kVmMask);
        R[7] += 4;
        break;
      case 32: write32(l1, l2[0]); break;
      case 33: write32(l1, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(l2[0])))); break;
      case 34: write(l1, y); write(l2, x); break;
      case 35: write(l1, x * y); break;
      case 36: if (y != 0) write(l1, x / y); break;
      case 37: {
        uint32_t c = flags & CF;
        uint32_t r = x + y + c;
        if (in.byte_mode) r &= 0xFF;
        flags = ((r < x || (r == x && c)) ? CF : 0) | zs(r);
        write(l1, r);
        break;
      }
      case 38: {
        uint32_t c = flags & CF;
        uint32_t r = x - y - c;
        if (in.byte_mode) r &= 0xFF;
        flags = ((r > x || (r == x && c)) ? CF : 0) | zs(r);
        write(l1, r);
        break;
      }
      case 40: run_builtin(static_cast<int>(in.op1.data), mem, R); break;
      default: break;
    }
    if (jumping) {
      if (target >= count) return true;
      if (units <= 0) return false;
      next = target;
    }
    ip = next;
  }
  return true;
}

void Vm::run(Record& inv, Record& stored, uint64_t position) {
  Program& p = inv.prog;
  if (p.global.size() < 64) p.global.resize(64, 0);
  if (stored.prog.global.size() > 64) {
    p.global.resize(stored.prog.global.size());
    for (size_t i = 64; i < p.global.size(); i++) p.global[i] = stored.prog.global[i];
  }
  p.regs[6] = static_cast<uint32_t>(position);
  for (int k = 0; k < 4; k++) {
    p.global[0x24 + k] = static_cast<uint8_t>(position >> (8 * k));
    p.global[0x28 + k] = static_cast<uint8_t>(position >> (32 + 8 * k));
  }
  for (int k = 0; k < 7; k++) R[k] = p.regs[k];
  size_t g = p.global.size() < 0x2000 ? p.global.size() : 0x2000;
  for (size_t i = 0; i < g; i++) mem[kGlobal + i] = p.global[i];
  for (size_t i = 0; i < p.statics.size() && g + i < 0x2000; i++) mem[kGlobal + g + i] = p.statics[i];
  R[7] = 0x40000;
  flags = 0;
  std::vector<Instr>& code = p.shared ? *p.shared : p.code;
  if (!execute(code) && !code.empty()) code[0].opcode = 22;
  uint32_t at = get_word(mem, kGlobal + 0x20) & kVmMask;
  uint32_t size = get_word(mem, kGlobal + 0x1C) & kVmMask;
  if (at + size >= 0x40000) at = size = 0;
  p.result_addr = at;
  p.result_size = size;
  p.global.clear();
  uint32_t keep = get_word(mem, kGlobal + 0x30);
  if (keep > 0x1FC0) keep = 0x1FC0;
  if (keep > 0) p.global.assign(mem.begin() + kGlobal, mem.begin() + kGlobal + 64 + keep);
  if (p.global.size() > 64) {
    if (stored.prog.global.size() < p.global.size()) stored.prog.global.resize(p.global.size());
    for (size_t i = 64; i < p.global.size(); i++) stored.prog.global[i] = p.global[i];
  } else {
    stored.prog.global.clear();
  }
}

}  // namespace lzref
