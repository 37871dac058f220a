// Built-in filter routines: the common filter programs, recognised by the length and
// CRC-32 of their code and run natively instead of being interpreted.
#pragma once

#include "platform/types.h"

enum BuiltinFilter : uint32_t {
  kBuiltinNone = 0,
  kBuiltinX86Call = 1,
  kBuiltinX86CallJump = 2,
  kBuiltinIa64Branch = 3,
  kBuiltinRgb = 4,
  kBuiltinAudio = 5,
  kBuiltinDelta = 6,
  kBuiltinCaseEscape = 7,
};

// The built-in type of filter code, or kBuiltinNone.
uint32_t recognise_builtin(const uint8_t* code, uint32_t length);

// Runs a built-in routine on the machine memory (kVmMemorySize bytes and 4 of slack)
// with the registers r[0 .. 7]: the block of r[4] bytes lies at 0; the routine names its
// output through the result words of the global area, as a program does.
void run_builtin(uint32_t type, uint8_t* memory, const uint32_t* r);
