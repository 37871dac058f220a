#include "decode/builtin_filters.h"

#include <cstring>

#include "crypto/crc32.h"
#include "decode/filter_vm.h"

namespace {

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline uint32_t magnitude(int32_t v) { return static_cast<uint32_t>(v < 0 ? -v : v); }

constexpr uint32_t kResultSize = kVmGlobalAddr + 0x1C;
constexpr uint32_t kResultAddr = kVmGlobalAddr + 0x20;
// Blocks at least this long leave no room for a second copy after them.
constexpr uint32_t kCopyLimit = kVmGlobalAddr / 2;

struct Known {
  uint16_t length;
  uint8_t type;
  uint32_t crc;
};
constexpr Known kKnown[] = {
    {53, kBuiltinX86Call, 0xAD576887u},  {57, kBuiltinX86CallJump, 0x3CD7E57Eu},
    {120, kBuiltinIa64Branch, 0x3769893Fu}, {29, kBuiltinDelta, 0x0E06077Du},
    {149, kBuiltinRgb, 0x1C2C5DC8u},     {216, kBuiltinAudio, 0xBC85E701u},
    {40, kBuiltinCaseEscape, 0x46B9C560u},
};

// Call (and jump) targets made absolute by the packer become relative again.
void x86_calls(uint8_t* mem, uint32_t length, uint32_t file_pos, bool jumps) {
  if (length >= kVmGlobalAddr || length <= 4) return;
  for (uint32_t p = 0; p < length - 4;) {
    uint8_t b = mem[p];
    if (b != 0xE8 && (!jumps || b != 0xE9)) {
      p++;
      continue;
    }
    uint32_t offset = file_pos + p + 1;
    uint32_t addr = load32(mem + p + 1);
    if (static_cast<int32_t>(addr) < 0) {
      if (static_cast<int32_t>(addr + offset) >= 0) store32(mem + p + 1, addr + 0x1000000);
    } else if (addr < 0x1000000) {
      store32(mem + p + 1, addr - offset);
    }
    p += 5;
  }
}

// Bit fields of a 16-byte bundle, little-endian from bit q.
inline uint32_t get_bits(const uint8_t* bundle, uint32_t q, uint32_t n) {
  return (load32(bundle + q / 8) >> (q % 8)) & ((1u << n) - 1);
}
inline void set_bits(uint8_t* bundle, uint32_t q, uint32_t n, uint32_t v) {
  uint32_t mask = ((1u << n) - 1) << (q % 8);
  uint32_t w = load32(bundle + q / 8);
  store32(bundle + q / 8, (w & ~mask) | ((v << (q % 8)) & mask));
}

void ia64_branches(uint8_t* mem, uint32_t length, uint32_t file_pos) {
  static const uint8_t kMasks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  if (length >= kVmGlobalAddr || length <= 21) return;
  uint32_t bundle = file_pos >> 4;
  for (uint32_t p = 0; p < length - 21; p += 16, bundle++) {
    uint32_t kind = mem[p] & 0x1F;
    if (kind < 16) continue;
    uint32_t mask = kMasks[kind - 16];
    for (uint32_t k = 0; k < 3; k++) {
      if (!((mask >> k) & 1)) continue;
      uint32_t pos = 41 * k + 5;
      if (get_bits(mem + p, pos + 37, 4) != 5) continue;
      uint32_t target = get_bits(mem + p, pos + 13, 20);
      set_bits(mem + p, pos + 13, 20, (target - bundle) & 0xFFFFF);
    }
  }
}

// Byte deltas over interleaved channels, written after the block.
void delta(uint8_t* mem, uint32_t length, uint32_t channels) {
  store32(mem + kResultAddr, length);
  int32_t n = static_cast<int32_t>(channels);
  if (length >= kCopyLimit || n <= 0) return;
  const uint8_t* src = mem;
  for (uint32_t c = 0; c < static_cast<uint32_t>(n) && c < length; c++) {
    uint8_t prev = 0;
    for (uint32_t d = length + c; d < 2 * length; d += static_cast<uint32_t>(n)) {
      prev = static_cast<uint8_t>(prev - *src++);
      mem[d] = prev;
    }
  }
}

void rgb(uint8_t* mem, uint32_t length, uint32_t r0, uint32_t r1) {
  store32(mem + kResultAddr, length);
  if (length >= kCopyLimit || static_cast<int32_t>(r1) < 0) return;
  uint32_t width = r0 - 3;
  uint8_t* dest = mem + length;
  const uint8_t* src = mem;
  for (uint32_t c = 0; c < 3; c++) {
    int32_t prev = 0;
    for (uint32_t i = c; i < length; i += 3) {
      int32_t predicted = prev;
      uint32_t back = i - width;
      if (static_cast<int32_t>(back) >= 3) {
        // A width out of all proportion must not lead out of the memory.
        int32_t up = mem[(length + back) & kVmMemoryMask];
        int32_t up_left = mem[(length + back - 3) & kVmMemoryMask];
        int32_t guess = prev + up - up_left;
        uint32_t pa = magnitude(guess - prev), pb = magnitude(guess - up), pc = magnitude(guess - up_left);
        if (pa <= pb && pa <= pc) predicted = prev;
        else if (pb <= pc) predicted = up;
        else predicted = up_left;
      }
      prev = static_cast<uint8_t>(predicted - *src++);
      dest[i] = static_cast<uint8_t>(prev);
    }
  }
  for (uint32_t i = r1; i + 2 < length; i += 3) {
    dest[i] = static_cast<uint8_t>(dest[i] + dest[i + 1]);
    dest[i + 2] = static_cast<uint8_t>(dest[i + 2] + dest[i + 1]);
  }
}

void audio(uint8_t* mem, uint32_t length, uint32_t channels) {
  store32(mem + kResultAddr, length);
  int32_t n = static_cast<int32_t>(channels);
  if (length >= kCopyLimit || n <= 0) return;
  uint8_t* dest = mem + length;
  const uint8_t* src = mem;
  for (uint32_t c = 0; c < static_cast<uint32_t>(n) && c < length; c++) {
    uint32_t prev = 0;
    int32_t prev_delta = 0, d1 = 0, d2 = 0, d3 = 0, k1 = 0, k2 = 0, k3 = 0;
    uint32_t dif[7] = {};
    uint32_t count = 0;
    for (uint32_t i = c; i < length; i += static_cast<uint32_t>(n), count++) {
      d3 = d2;
      d2 = prev_delta - d1;
      d1 = prev_delta;
      uint32_t sum = 8 * prev + static_cast<uint32_t>(k1 * d1 + k2 * d2 + k3 * d3);
      uint32_t predicted = (sum >> 3) & 0xFF;
      uint32_t cur = *src++;
      uint32_t value = predicted - cur;
      dest[i] = static_cast<uint8_t>(value);
      prev_delta = static_cast<int8_t>(value - prev);
      prev = value;
      int32_t d = static_cast<int8_t>(cur) * 8;
      dif[0] += magnitude(d);
      dif[1] += magnitude(d - d1);
      dif[2] += magnitude(d + d1);
      dif[3] += magnitude(d - d2);
      dif[4] += magnitude(d + d2);
      dif[5] += magnitude(d - d3);
      dif[6] += magnitude(d + d3);
      if ((count & 31) == 0) {
        uint32_t least = dif[0], at = 0;
        for (uint32_t j = 1; j < 7; j++) {
          if (dif[j] < least) {
            least = dif[j];
            at = j;
          }
        }
        for (uint32_t& v : dif) v = 0;
        switch (at) {
          case 1: if (k1 >= -16) k1--; break;
          case 2: if (k1 < 16) k1++; break;
          case 3: if (k2 >= -16) k2--; break;
          case 4: if (k2 < 16) k2++; break;
          case 5: if (k3 >= -16) k3--; break;
          case 6: if (k3 < 16) k3++; break;
          default: break;
        }
      }
    }
  }
}

// Upper-case letters escaped with a 2 before them; 2, 2 is a 2 itself.
void case_escape(uint8_t* mem, uint32_t length) {
  if (length >= kCopyLimit) return;
  uint32_t s = 0, d = length;
  while (s < length) {
    uint8_t b = mem[s++];
    if (b == 2) {
      b = mem[s++];
      if (b != 2) b = static_cast<uint8_t>(b - 32);
    }
    mem[d++] = b;
  }
  store32(mem + kResultSize, d - length);
  store32(mem + kResultAddr, length);
}

}  // namespace

uint32_t recognise_builtin(const uint8_t* code, uint32_t length) {
  uint32_t crc = 0;
  bool have_crc = false;
  for (const Known& k : kKnown) {
    if (k.length != length) continue;
    if (!have_crc) crc = crc32_of(code, length);
    have_crc = true;
    if (k.crc == crc) return k.type;
  }
  return kBuiltinNone;
}

void run_builtin(uint32_t type, uint8_t* memory, const uint32_t* r) {
  uint32_t length = r[4];
  switch (type) {
    case kBuiltinX86Call:
    case kBuiltinX86CallJump:
      x86_calls(memory, length, r[6], type == kBuiltinX86CallJump);
      break;
    case kBuiltinIa64Branch:
      ia64_branches(memory, length, r[6]);
      break;
    case kBuiltinRgb:
      rgb(memory, length, r[0], r[1]);
      break;
    case kBuiltinAudio:
      audio(memory, length, r[0]);
      break;
    case kBuiltinDelta:
      delta(memory, length, r[0]);
      break;
    case kBuiltinCaseEscape:
      case_escape(memory, length);
      break;
    default:
      break;
  }
}
