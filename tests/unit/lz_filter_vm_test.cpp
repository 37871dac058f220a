// The filter machine on its own: numbers, code parsing (operand kinds, byte mode, jump
// targets, static data, the check byte, built-in recognition), every instruction with
// its flags, the stack, the execution budget and the exchange of an invocation's data.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "decode/builtin_filters.h"
#include "decode/filter_vm.h"
#include "lz_filter_asm.h"

namespace {

using namespace vmasm;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t CF = 1, ZF = 2, SF = 0x80000000u;

uint32_t word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void set_word(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

class FilterMachine : public ::testing::Test {
 protected:
  void SetUp() override { vm.allocate(); }

  void prepare(const Bytes& code) { vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), prog); }
  // Parses the code and runs it with R7 at the top of the stack and the given registers
  // and flags; true when it ended within its budget.
  bool run(const Asm& a, std::vector<std::pair<int, uint32_t>> regs = {}, uint32_t flags = 0) {
    prepare(a.code());
    return again(regs, flags);
  }
  bool again(std::vector<std::pair<int, uint32_t>> regs = {}, uint32_t flags = 0) {
    for (uint32_t& r : vm.r) r = 0;
    vm.r[7] = 0x40000;
    for (auto& r : regs) vm.r[r.first] = r.second;
    vm.flags = flags;
    return vm.execute(prog.instructions.items, prog.instructions.count);
  }

  FilterVm vm;
  FilterProgram prog;
};

TEST(FilterNumbers, EveryEncoding) {
  struct Case {
    std::vector<std::pair<uint32_t, int>> bits;  // value, bit count
    uint32_t want;
    int consumed;
  } cases[] = {
      {{{0, 2}, {0, 4}}, 0, 6},
      {{{0, 2}, {15, 4}}, 15, 6},
      {{{1, 2}, {16, 8}}, 16, 10},
      {{{1, 2}, {255, 8}}, 255, 10},
      {{{1, 2}, {0, 4}, {0, 8}}, 0xFFFFFF00u, 14},  // -256
      {{{1, 2}, {0, 4}, {0xFF, 8}}, 0xFFFFFFFFu, 14},  // -1
      {{{2, 2}, {0xBEEF, 16}}, 0xBEEF, 18},
      {{{2, 2}, {3, 16}}, 3, 18},
      {{{3, 2}, {0x1234, 16}, {0x5678, 16}}, 0x12345678u, 34},
  };
  for (const Case& c : cases) {
    lztest::BitWriter w;
    for (auto& b : c.bits) w.put(b.first, b.second);
    w.put(0x5A5A, 16);  // what follows stays unread
    BitReader in;
    Bytes bytes = w.bytes();
    std::memcpy(in.buffer, bytes.data(), bytes.size());
    EXPECT_EQ(read_number(in), c.want) << c.want;
    EXPECT_EQ(in.byte_pos * 8 + in.bit_pos, c.consumed) << c.want;
  }
}

// One instruction on R0 (x) and R1 (y) with the flags before it; R0 and the flags after.
TEST_F(FilterMachine, ArithmeticAndFlags) {
  struct Case {
    const char* what;
    int op;
    bool byte_mode;
    uint32_t x, y, flags_in;
    uint32_t want, want_flags;
  } cases[] = {
      {"MOV keeps the flags", MOV, false, 1, 0xABCD1234, ZF | CF, 0xABCD1234, ZF | CF},
      {"MOV byte keeps the rest of the register", MOV, true, 0x11223344, 0x99, 0, 0x11223399, 0},
      {"CMP equal", CMP, false, 5, 5, 0, 5, ZF},
      {"CMP below", CMP, false, 3, 5, 0, 3, CF | SF},
      {"CMP above", CMP, false, 5, 3, CF | ZF, 5, 0},
      {"CMP sign without carry", CMP, false, 0x80000000u, 0, 0, 0x80000000u, SF},
      {"CMP byte takes flags from 32 bits", CMP, true, 0x100, 1, 0, 0x100, CF | SF},
      {"ADD carry and zero", ADD, false, 0xFFFFFFFFu, 1, 0, 0, CF | ZF},
      {"ADD sign", ADD, false, 0x7FFFFFFF, 1, 0, 0x80000000u, SF},
      {"ADD plain clears the flags", ADD, false, 1, 2, CF | ZF | SF, 3, 0},
      {"ADD byte 0x80 + 0x80", ADD, true, 0x12345680, 0x80, 0, 0x12345600, CF | ZF},
      {"ADD byte sign is bit 7", ADD, true, 0x70, 0x10, 0, 0x80, SF},
      {"SUB below", SUB, false, 3, 5, 0, 0xFFFFFFFEu, CF | SF},
      {"SUB to zero", SUB, false, 9, 9, CF, 0, ZF},
      {"SUB byte stores one byte, flags of 32 bits", SUB, true, 0xAA01, 2, 0, 0xAAFF, CF | SF},
      {"INC wraps to zero", INC, false, 0xFFFFFFFFu, 0, CF, 0, ZF},
      {"INC clears the carry", INC, false, 1, 0, CF, 2, 0},
      {"INC sign", INC, false, 0x7FFFFFFF, 0, 0, 0x80000000u, SF},
      {"INC byte 0xFF", INC, true, 0x12FF, 0, 0, 0x1200, ZF},
      {"DEC to zero", DEC, false, 1, 0, 0, 0, ZF},
      {"DEC byte of 0", DEC, true, 0x3300, 0, 0, 0x33FF, SF},
      {"XOR", XOR, false, 0xF0F0, 0xFF00, CF, 0x0FF0, 0},
      {"XOR to zero", XOR, false, 7, 7, 0, 0, ZF},
      {"AND sign", AND, false, 0x80000001u, 0x80000000u, 0, 0x80000000u, SF},
      {"OR", OR, false, 0x10, 0x01, ZF, 0x11, 0},
      {"OR byte", OR, true, 0x4400, 0x81, 0, 0x4481, 0},
      {"TEST stores nothing", TEST, false, 0x0F, 0xF0, 0, 0x0F, ZF},
      {"NOT keeps the flags", NOT, false, 0x0F0F0F0F, 0, CF, 0xF0F0F0F0u, CF},
      {"NOT byte", NOT, true, 0x12345678, 0, 0, 0x12345687, 0},
      {"SHL carry from bit 31", SHL, false, 0x80000001u, 1, 0, 2, CF},
      {"SHL into the sign", SHL, false, 1, 31, 0, 0x80000000u, SF},
      {"SHL by 0: carry is bit 0", SHL, false, 1, 0, 0, 1, CF},
      {"SHL count mod 32", SHL, false, 3, 33, 0, 6, 0},
      {"SHL to zero", SHL, false, 0x80000000u, 1, 0, 0, CF | ZF},
      {"SHL byte: flags of 32 bits", SHL, true, 0x5580, 1, 0, 0x5500, 0},
      {"SHR carry", SHR, false, 3, 1, 0, 1, CF},
      {"SHR top bit", SHR, false, 0x80000000u, 31, 0, 1, 0},
      {"SHR to zero", SHR, false, 1, 1, 0, 0, CF | ZF},
      {"SAR keeps the sign", SAR, false, 0x80000000u, 4, 0, 0xF8000000u, SF},
      {"SAR carry by a logical shift", SAR, false, 0xFFFFFFFFu, 1, 0, 0xFFFFFFFFu, CF | SF},
      {"SAR byte: a zero-extended byte", SAR, true, 0x80, 1, 0, 0x40, 0},
      {"NEG 0", NEG, false, 0, 0, CF, 0, ZF},
      {"NEG 1", NEG, false, 1, 0, 0, 0xFFFFFFFFu, CF | SF},
      {"NEG of the sign bit", NEG, false, 0x80000000u, 0, 0, 0x80000000u, CF | SF},
      {"NEG byte", NEG, true, 0x7701, 0, 0, 0x77FF, CF | SF},
      {"MUL low 32 bits", MUL, false, 0x10001, 0x10000, ZF, 0x10000, ZF},
      {"MUL byte", MUL, true, 0x1210, 17, 0, 0x1210, 0},
      {"DIV", DIV, false, 7, 2, 0, 3, 0},
      {"DIV by zero does nothing", DIV, false, 7, 0, SF, 7, SF},
      {"DIV byte", DIV, true, 0xAB64, 10, 0, 0xAB0A, 0},
      {"ADC without carry", ADC, false, 1, 1, 0, 2, 0},
      {"ADC carry in, wraps to zero", ADC, false, 0xFFFFFFFFu, 0, CF, 0, CF | ZF},
      {"ADC r = x with carry in", ADC, false, 5, 0xFFFFFFFFu, CF, 5, CF},
      {"ADC byte", ADC, true, 0xFF, 0, CF, 0, CF | ZF},
      {"ADC byte sign stays clear", ADC, true, 0x7F, 0, CF, 0x80, 0},
      {"SBB borrow in", SBB, false, 5, 5, CF, 0xFFFFFFFFu, CF | SF},
      {"SBB plain", SBB, false, 5, 0, CF, 4, 0},
      {"SBB r = x with carry in", SBB, false, 5, 0xFFFFFFFFu, CF, 5, CF},
      {"SBB byte", SBB, true, 0, 0, CF, 0xFF, CF},
  };
  for (const Case& c : cases) {
    Asm a;
    bool one = c.op == INC || c.op == DEC || c.op == NOT || c.op == NEG;
    if (c.byte_mode) one ? a.opb(c.op, R(0)) : a.opb(c.op, R(0), R(1));
    else one ? a.op(c.op, R(0)) : a.op(c.op, R(0), R(1));
    ASSERT_TRUE(run(a, {{0, c.x}, {1, c.y}}, c.flags_in)) << c.what;
    EXPECT_EQ(vm.r[0], c.want) << c.what;
    EXPECT_EQ(vm.flags, c.want_flags) << c.what;
    EXPECT_EQ(vm.r[1], c.y) << c.what;
  }
}

TEST_F(FilterMachine, MovesBetweenOperandKinds) {
  uint8_t* m = vm.memory;
  struct Case {
    const char* what;
    Asm code;
    std::function<void()> check;
  };
  std::vector<Case> cases;
  cases.push_back({"register into [R1]", std::move(Asm().op(MOV, M(1), R(0))), [&] { EXPECT_EQ(word(m + 0x1000), 0xCAFEF00Du); }});
  cases.push_back({"[R1 + disp] into a register", std::move(Asm().op(MOV, R(2), M(1, 0x20))),
                   [&] { EXPECT_EQ(vm.r[2], 0x44332211u); }});
  cases.push_back({"address wraps at the end of the memory", std::move(Asm().op(MOV, M(1, 0x3F000), I(0x01020304))),
                   [&] { EXPECT_EQ(word(m), 0x01020304u); }});
  cases.push_back({"absolute address, masked", std::move(Asm().op(MOV, A(0x40010), I(77))), [&] { EXPECT_EQ(word(m + 0x10), 77u); }});
  cases.push_back({"word at the last address uses the slack", std::move(Asm().op(MOV, A(0x3FFFF), I(0xA1B2C3D4))),
                   [&] { EXPECT_EQ(m[0x3FFFF], 0xD4); }});
  cases.push_back({"byte mode immediate into memory", std::move(Asm().opb(MOV, M(1, 1), I(0xEE))), [&] {
                     EXPECT_EQ(m[0x1001], 0xEE);
                     EXPECT_EQ(m[0x1002], 0x00);
                   }});
  cases.push_back({"MOVZX from memory", std::move(Asm().op(MOVZX, R(3), M(1, 0x23))), [&] { EXPECT_EQ(vm.r[3], 0x44u); }});
  cases.push_back({"MOVSX from memory", std::move(Asm().op(MOVSX, R(3), M(1, 0x24))), [&] { EXPECT_EQ(vm.r[3], 0xFFFFFF99u); }});
  cases.push_back({"MOVSX from a register takes its low byte", std::move(Asm().op(MOVSX, R(3), R(0))),
                   [&] { EXPECT_EQ(vm.r[3], 0x0Du); }});
  cases.push_back({"XCHG register and memory", std::move(Asm().op(XCHG, R(0), M(1, 0x20))), [&] {
                     EXPECT_EQ(vm.r[0], 0x44332211u);
                     EXPECT_EQ(word(m + 0x1020), 0xCAFEF00Du);
                   }});
  cases.push_back({"XCHG byte", std::move(Asm().opb(XCHG, R(0), M(1, 0x20))), [&] {
                     EXPECT_EQ(vm.r[0], 0xCAFEF011u);
                     EXPECT_EQ(word(m + 0x1020), 0x4433220Du);
                   }});
  for (Case& c : cases) {
    std::memset(m, 0, kVmMemorySize + 4);
    set_word(m + 0x1020, 0x44332211u);
    m[0x1024] = 0x99;
    ASSERT_TRUE(run(c.code, {{0, 0xCAFEF00D}, {1, 0x1000}})) << c.what;
    c.check();
  }
}

// An immediate operand written to changes the stored instruction: the next run sees it.
TEST_F(FilterMachine, ImmediateDestinationPersistsWithTheProgram) {
  Asm a;
  a.op(XCHG, I(5), R(0));
  prepare(a.code());
  ASSERT_TRUE(again({{0, 7}}));
  EXPECT_EQ(vm.r[0], 5u);
  ASSERT_TRUE(again({{0, 9}}));
  EXPECT_EQ(vm.r[0], 7u);
}

// Immediate targets of jumps are relative to the jump (with three ranges of values)
// unless 256 or more: then v - 256 is the target itself. Instruction 0 jumps to the
// jump at J; every other instruction k is a CALL past the end, which pushes k + 1 and
// ends the run, so the word pushed tells where the jump landed.
TEST_F(FilterMachine, JumpTargets) {
  struct Case {
    int op;
    uint32_t jump_at;
    uint32_t immediate;
    uint32_t flags;
    int64_t lands;  // -1: the jump is not taken
  } cases[] = {
      {JMP, 10, 3, 0, 13},    {JMP, 10, 260, 0, 4},  {JMP, 200, 8, 0, 192},  {JMP, 200, 15, 0, 199},
      {JMP, 200, 16, 0, 208}, {JMP, 200, 135, 0, 327}, {JMP, 200, 136, 0, 72}, {JMP, 200, 255, 0, 191},
      {JZ, 10, 3, ZF, 13},    {JZ, 10, 3, 0, -1},     {JNZ, 10, 3, 0, 13},    {JS, 10, 3, SF, 13},
      {JNS, 10, 3, SF, -1},   {JB, 10, 3, CF, 13},    {JBE, 10, 3, ZF, 13},   {JBE, 10, 3, 0, -1},
      {JA, 10, 3, 0, 13},     {JA, 10, 3, CF, -1},    {JAE, 10, 3, 0, 13},    {JAE, 10, 3, CF, -1},
      {CALL, 10, 3, 0, 13},
  };
  for (const Case& c : cases) {
    Asm a;
    a.op(JMP, To(c.jump_at));
    for (uint32_t k = 1; k < 400; k++) {
      if (k == c.jump_at) a.op(c.op, I(c.immediate));
      else a.op(CALL, To(5000));
    }
    ASSERT_TRUE(run(a, {}, c.flags)) << c.op << " " << c.immediate;
    uint32_t expected = c.lands < 0 ? c.jump_at + 1 : static_cast<uint32_t>(c.lands);
    uint32_t pushed = word(vm.memory + 0x3FFFC);
    if (c.op == CALL) {
      EXPECT_EQ(pushed, c.jump_at + 1) << "CALL pushes the index of the next instruction";
      pushed = word(vm.memory + 0x3FFF8);
    }
    EXPECT_EQ(pushed - 1, expected) << c.op << " " << c.immediate;
  }
}

TEST_F(FilterMachine, JumpsThroughRegistersAndPastTheEnd) {
  {
    Asm a;
    a.op(JMP, R(1)).op(MOV, R(0), I(1)).op(MOV, R(0), I(2)).op(RET);
    ASSERT_TRUE(run(a, {{1, 2}}));
    EXPECT_EQ(vm.r[0], 2u) << "register targets are absolute";
  }
  {
    Asm a;
    a.op(MOV, R(0), I(1)).op(JMP, To(5000)).op(MOV, R(0), I(2));
    ASSERT_TRUE(run(a));
    EXPECT_EQ(vm.r[0], 1u) << "a target past the end ends the run";
  }
}

TEST_F(FilterMachine, StackInstructions) {
  uint8_t* m = vm.memory;
  {
    Asm a;
    a.op(PUSH, R(0)).op(PUSH, I(0x1234)).op(POP, R(2)).op(POP, R(3));
    ASSERT_TRUE(run(a, {{0, 0xDEADBEEF}}));
    EXPECT_EQ(vm.r[2], 0x1234u);
    EXPECT_EQ(vm.r[3], 0xDEADBEEFu);
    EXPECT_EQ(vm.r[7], 0x40000u);
    EXPECT_EQ(word(m + 0x3FFFC), 0xDEADBEEFu);
  }
  {
    // PUSHA stores R0 highest and the old R7 lowest; POPA restores R7 from the word at R7.
    Asm a;
    a.op(PUSHA);
    ASSERT_TRUE(run(a, {{0, 10}, {1, 11}, {2, 12}, {3, 13}, {4, 14}, {5, 15}, {6, 16}, {7, 0x30000}}));
    for (uint32_t k = 0; k < 8; k++) EXPECT_EQ(word(m + 0x30000 - 4 * (k + 1)), k == 7 ? 0x30000u : 10 + k) << k;
    EXPECT_EQ(vm.r[7], 0x30000u - 32);
  }
  {
    for (uint32_t k = 0; k < 8; k++) set_word(m + 0x20000 + 4 * k, 100 + k);  // R7 .. R0
    Asm a;
    a.op(POPA).op(JMP, To(5000));  // (the final RET would take its target from R7 = 100)
    ASSERT_TRUE(run(a, {{7, 0x20000}}));
    for (uint32_t k = 0; k < 7; k++) EXPECT_EQ(vm.r[k], 107 - k) << k;
    EXPECT_EQ(vm.r[7], 100u);
  }
  {
    Asm a;
    a.op(PUSHF).op(POP, R(0)).op(PUSH, I(CF | SF)).op(POPF);
    ASSERT_TRUE(run(a, {}, ZF));
    EXPECT_EQ(vm.r[0], ZF);
    EXPECT_EQ(vm.flags, CF | SF);
  }
  {
    // CALL and RET: the subroutine at 3 sets R0; RET returns behind the CALL.
    Asm a;
    a.op(CALL, To(3)).op(MOV, R(1), I(1)).op(RET).op(MOV, R(0), I(5)).op(RET);
    ASSERT_TRUE(run(a));
    EXPECT_EQ(vm.r[0], 5u);
    EXPECT_EQ(vm.r[1], 1u);
    EXPECT_EQ(vm.r[7], 0x40000u);
  }
  {
    // RET with R7 at or above 0x40000 ends the run, also when R7 wrapped around.
    Asm a;
    a.op(MOV, R(0), I(1)).op(RET).op(MOV, R(0), I(2));
    ASSERT_TRUE(run(a, {{7, 0xFFFFFFF0u}}));
    EXPECT_EQ(vm.r[0], 1u);
  }
  {
    // RET to a word past the end ends the run.
    set_word(m + 0x3FFF0, 999);
    Asm a;
    a.op(RET).op(MOV, R(0), I(2));
    ASSERT_TRUE(run(a, {{7, 0x3FFF0}}));
    EXPECT_EQ(vm.r[0], 0u);
    EXPECT_EQ(vm.r[7], 0x3FFF0u);
  }
}

// A loop of DEC R1 and JNZ back: 2N instructions, N - 1 jumps taken, the last of them as
// instruction 2N - 2. The budget ends a run whose taken jump uses its last unit.
TEST_F(FilterMachine, ExecutionBudget) {
  struct Case {
    uint32_t n;
    bool ends;
  } cases[] = {{12500000, true}, {12500001, false}};
  for (const Case& c : cases) {
    Asm a;
    a.op(DEC, R(1)).op(JNZ, I(15));  // 15: one back
    EXPECT_EQ(run(a, {{1, c.n}}), c.ends) << c.n;
    EXPECT_EQ(vm.r[1], c.ends ? 0u : 1u) << c.n;
  }
  Asm forever;
  forever.op(INC, R(0)).op(JMP, I(15));
  EXPECT_FALSE(run(forever));
  EXPECT_EQ(vm.r[0], 12500000u);
}

TEST_F(FilterMachine, CodePreparation) {
  {
    Bytes code = Asm().op(MOV, R(0), I(1)).code();
    code[0] ^= 1;
    prepare(code);
    ASSERT_EQ(prog.instructions.count, 1u) << "a wrong check byte leaves one RET";
    EXPECT_EQ(prog.instructions[0].opcode, kVmRet);
  }
  {
    Asm a;
    a.op(MOV, R(0), I(1)).op(NOP);
    prepare(a.code());
    ASSERT_GE(prog.instructions.count, 3u);
    EXPECT_EQ(prog.instructions[prog.instructions.count - 1].opcode, kVmRet) << "a final RET is always added";
  }
  {
    Asm a({1, 2, 3, 4, 5});
    a.op(MOV, R(0), A(0x3C000 + 64)).op(RET);
    prepare(a.code());
    ASSERT_EQ(prog.static_data.count, 5u);
    EXPECT_EQ(prog.static_data[4], 5);
  }
  {
    // Static data stops at the end of the code.
    Bytes code = Asm({9, 9, 9}).code();
    code.resize(2);
    uint8_t check = 0;
    for (size_t i = 1; i < code.size(); i++) check ^= code[i];
    code[0] = check;
    prepare(code);
    EXPECT_EQ(prog.static_data.count, 1u);
    EXPECT_EQ(prog.instructions.count, 1u);
  }
}

// Code with the length and CRC-32 of a known filter becomes one STANDARD instruction, what
// ever it holds; one byte changed (and a matching check byte) is parsed as it stands.
TEST_F(FilterMachine, BuiltinRecognition) {
  Bytes program = Asm().opb(MOV, A(0), I(0x77)).op(RET).bits.bytes();
  for (const Known& k : known_codes()) {
    Bytes code = forge_code(program, k.length, k.crc);
    ASSERT_EQ(code.size(), k.length);
    ASSERT_EQ(lzref::crc32(code.data(), code.size()), k.crc);
    prepare(code);
    ASSERT_EQ(prog.instructions.count, 2u) << k.type;
    EXPECT_EQ(prog.instructions[0].opcode, kVmStandard) << k.type;
    EXPECT_EQ(prog.instructions[0].op1.data, static_cast<uint32_t>(k.type));
    EXPECT_EQ(prog.static_data.count, 0u);

    Bytes other = code;
    other[k.length - 5] ^= 0x10;
    other[0] ^= 0x10;
    ASSERT_NE(lzref::crc32(other.data(), other.size()), k.crc);
    prepare(other);
    EXPECT_EQ(prog.instructions[0].opcode, kVmMov) << k.type;
    vm.memory[0] = 0;
    ASSERT_TRUE(again());
    EXPECT_EQ(vm.memory[0], 0x77) << "interpreted";
  }
  // The length counts too: the same CRC at another length is no built-in.
  Bytes code = forge_code(program, 54, 0xAD576887u);
  prepare(code);
  EXPECT_NE(prog.instructions[0].opcode, kVmStandard);
}

// run_pending: registers and global area on entry, the result words, the global data
// kept for the next use of the stored filter.
TEST_F(FilterMachine, InvocationDataExchange) {
  uint8_t* m = vm.memory;
  FilterRecord stored;
  // Writes R6 and [0x3C024] into the global area, adds 1 to the byte at 0x3C040 (the
  // first static byte at the first use, kept global data after that), keeps 4 bytes.
  Asm a({0xAB, 0xCD});
  a.op(MOV, M(3, 0x100), R(6))
      .op(MOV, R(0), A(0x3C024))
      .op(MOV, M(3, 0x104), R(0))
      .opb(INC, A(0x3C040))
      .op(MOV, A(0x3C030), I(4))
      .op(MOV, A(0x3C020), I(0x10))
      .op(MOV, A(0x3C01C), I(6));
  Bytes code = a.code();
  vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), stored.program);
  ASSERT_EQ(stored.program.static_data.count, 2u);

  for (int use = 0; use < 3; use++) {
    FilterRecord f;
    f.program.shared_code = &stored.program.instructions;
    f.program.static_data.append(stored.program.static_data.items, 2);
    f.program.global_data.resize(64);
    std::memset(f.program.global_data.items, 0, 64);
    f.program.start_regs[3] = 0x3C000;
    vm.run_pending(f, stored, 0x100000005ull + use);
    EXPECT_EQ(word(m + 0x3C100), 5u + use) << "R6 is the file position";
    EXPECT_EQ(word(m + 0x3C104), 5u + use);
    EXPECT_EQ(word(m + 0x3C028), 1u) << "high half of the position";
    EXPECT_EQ(m[0x3C040], 0xAC + use) << "global data carried over";
    EXPECT_EQ(f.program.result_addr, 0x10u);
    EXPECT_EQ(f.program.result_size, 6u);
    EXPECT_EQ(stored.program.global_data.count, 68u);
    // On entry the static data lay right after the global data (64 bytes, then 68).
    uint32_t at = use == 0 ? 0x3C040 : 0x3C044;
    EXPECT_EQ(m[at + 1], 0xCD) << use;
  }

  // A result that runs past the memory produces nothing.
  Asm big;
  big.op(MOV, A(0x3C020), I(0x3FFF0)).op(MOV, A(0x3C01C), I(0x10));
  FilterRecord s2, f2;
  code = big.code();
  vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), s2.program);
  f2.program.shared_code = &s2.program.instructions;
  vm.run_pending(f2, s2, 0);
  EXPECT_EQ(f2.program.result_size, 0u);
  EXPECT_EQ(f2.program.result_addr, 0u);

  // Keeping more than 0x1FC0 bytes keeps 0x1FC0; keeping none empties the stored data.
  Asm keep_all;
  keep_all.op(MOV, A(0x3C030), I(0xFFFFFFFFu));
  FilterRecord s3, f3, f4;
  code = keep_all.code();
  vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), s3.program);
  f3.program.shared_code = &s3.program.instructions;
  vm.run_pending(f3, s3, 0);
  EXPECT_EQ(s3.program.global_data.count, 64u + 0x1FC0);
  Asm keep_none;
  keep_none.op(MOV, A(0x3C030), I(0));
  code = keep_none.code();
  vm.prepare_program(code.data(), static_cast<uint32_t>(code.size()), s3.program);
  f4.program.shared_code = &s3.program.instructions;
  vm.run_pending(f4, s3, 0);
  EXPECT_EQ(s3.program.global_data.count, 0u);
}

}  // namespace
