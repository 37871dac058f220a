// Filter records of the LZ and PPM streams: stored filters, the queue of invocations,
// and running an invocation (with those chained to it) when the window is flushed.
#include <cstring>

#include "decode/lz_state.h"

namespace {

constexpr uint32_t kBodyLimit = BitReader::kBufferSize;  // record bytes that are used
constexpr uint32_t kMaxFilterNumber = 1024;
constexpr uint32_t kMaxCodeSize = 0x10000;

inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Body length from the flags byte: (F & 7) + 1, or given by 1 or 2 more bytes.
enum BodyLength { kFixed, kOneMore, kTwoMore };
inline BodyLength body_length_kind(uint32_t first, uint32_t* length) {
  *length = (first & 7) + 1;
  return *length == 7 ? kOneMore : *length == 8 ? kTwoMore : kFixed;
}

}  // namespace

bool LzDecoder::State::read_filter_record_lz() {
  uint32_t first = input.read_bits(8);
  uint32_t length;
  switch (body_length_kind(first, &length)) {
    case kOneMore: length = input.read_bits(8) + 7; break;
    case kTwoMore: length = input.read_bits(16); break;
    default: break;
  }
  uint8_t* body = vm.body.buffer;
  for (uint32_t i = 0; i < length; i++) {
    if (input.byte_pos >= data_end - 1) {
      if (!refill_buffer() && i + 1 < length) return false;
    }
    uint8_t b = static_cast<uint8_t>(input.read_bits(8));
    if (i < kBodyLimit) body[i] = b;
  }
  return add_filter(first, body, length);
}

bool LzDecoder::State::read_filter_record_ppm() {
  int first = ppm_decode_byte();
  if (first < 0) return false;
  uint32_t length;
  switch (body_length_kind(static_cast<uint32_t>(first), &length)) {
    case kOneMore: {
      int c = ppm_decode_byte();
      if (c < 0) return false;
      length = static_cast<uint32_t>(c) + 7;
      break;
    }
    case kTwoMore: {
      int c1 = ppm_decode_byte();
      if (c1 < 0) return false;
      int c2 = ppm_decode_byte();
      if (c2 < 0) return false;
      length = static_cast<uint32_t>(c1) * 256 + static_cast<uint32_t>(c2);
      break;
    }
    default:
      break;
  }
  uint8_t* body = vm.body.buffer;
  for (uint32_t i = 0; i < length; i++) {
    int c = ppm_decode_byte();
    if (c < 0) return false;
    if (i < kBodyLimit) body[i] = static_cast<uint8_t>(c);
  }
  return add_filter(static_cast<uint32_t>(first), body, length);
}

bool LzDecoder::State::add_filter(uint32_t first, const uint8_t* bytes, uint32_t count) {
  vm.allocate();
  BitReader& in = vm.body;
  if (bytes != in.buffer) std::memcpy(in.buffer, bytes, count < kBodyLimit ? count : kBodyLimit);
  in.rewind();

  uint32_t n = current_filter;
  if (first & 0x80) {
    n = read_number(in);
    if (n == 0) reset_filters();
    else n--;
  }
  if (n > filters.count || n > last_span_lengths.count) return false;
  current_filter = n;
  bool is_new = n == filters.count;
  FilterRecord* stored;
  if (is_new) {
    if (n > kMaxFilterNumber) return false;
    stored = new FilterRecord;
    filters.push(stored);
    last_span_lengths.push(0);
  } else {
    stored = filters[n];
    stored->use_count++;
  }

  FilterRecord* f = new FilterRecord;
  f->parent = n;
  f->use_count = stored->use_count;
  uint32_t slot = 0;
  for (uint32_t k = 0; k < pending.count; k++) {
    if (pending[k]) pending[slot++] = pending[k];
  }
  if (slot == pending.count) pending.push(nullptr);
  for (uint32_t k = slot; k < pending.count; k++) pending[k] = nullptr;
  pending[slot] = f;
  // A record that turns out bad takes its invocation with it: its program or its global
  // data would be incomplete.
  auto fail = [&]() {
    pending[slot] = nullptr;
    delete f;
    return false;
  };

  uint32_t offset = read_number(in);
  if (first & 0x40) offset += 258;
  f->block_start = (offset + out_pos) & kWindowMask;
  f->block_length = (first & 0x20) ? read_number(in) : last_span_lengths[n];
  last_span_lengths[n] = f->block_length;
  // The block starts beyond the unwritten data that the window will wrap onto: the next
  // flush must pass over it once.
  f->skip_once = flushed_pos != out_pos && ((flushed_pos - out_pos) & kWindowMask) <= offset;

  FilterProgram& p = f->program;
  p.start_regs[3] = kVmGlobalAddr;
  p.start_regs[4] = f->block_length;
  p.start_regs[5] = f->use_count;
  if (first & 0x10) {
    uint32_t mask = in.read_bits(7);
    for (int k = 0; k < 7; k++) {
      if (mask & (1u << k)) p.start_regs[k] = read_number(in);
    }
  }

  if (is_new) {
    uint32_t code_size = read_number(in);
    if (code_size == 0 || code_size >= kMaxCodeSize) return fail();
    GrowArray<uint8_t>& code = vm.code_bytes;
    code.resize(code_size);
    for (uint32_t i = 0; i < code_size; i++) {
      if (in.byte_pos + 3 >= BitReader::kBufferSize) return fail();
      code[i] = static_cast<uint8_t>(in.read_bits(8));
    }
    vm.prepare_program(code.items, code_size, stored->program);
  }
  p.shared_code = &stored->program.instructions;
  uint32_t static_size = stored->program.static_data.count;
  if (static_size > 0 && static_size < kVmGlobalSize) p.static_data.append(stored->program.static_data.items, static_size);

  GrowArray<uint8_t>& global = p.global_data;
  if (global.count < kVmFixedGlobal) global.resize(kVmFixedGlobal);
  std::memset(global.items, 0, kVmFixedGlobal);
  for (int k = 0; k < 7; k++) store32(global.items + 4 * k, p.start_regs[k]);
  store32(global.items + 0x1C, f->block_length);
  store32(global.items + 0x2C, f->use_count);

  if (first & 0x08) {
    if (in.byte_pos + 3 >= BitReader::kBufferSize) return fail();
    uint32_t data_size = read_number(in);
    if (data_size > kVmMaxExtraGlobal) return fail();
    if (global.count < kVmFixedGlobal + data_size) global.resize(kVmFixedGlobal + data_size);
    for (uint32_t i = 0; i < data_size; i++) {
      if (in.byte_pos + 3 >= BitReader::kBufferSize) return fail();
      global[kVmFixedGlobal + i] = static_cast<uint8_t>(in.read_bits(8));
    }
  }
  return true;
}

void LzDecoder::State::reset_filters() {
  for (uint32_t k = 0; k < pending.count; k++) delete pending[k];
  pending.release();
  for (uint32_t k = 0; k < filters.count; k++) delete filters[k];
  filters.release();
  last_span_lengths.release();
  current_filter = 0;
}

void LzDecoder::State::run_filters(uint32_t k, uint32_t start, uint32_t length, const uint8_t** result,
                                   uint32_t* result_size) {
  uint32_t end = (start + length) & kWindowMask;
  if (start < end || end == 0) {
    vm.set_memory(0, window + start, length);
  } else {
    vm.set_memory(0, window + start, kWindowSize - start);
    vm.set_memory(kWindowSize - start, window, end);
  }
  FilterRecord* f = pending[k];
  vm.run_pending(*f, *filters[f->parent], static_cast<uint64_t>(owner.produced_size));
  const uint8_t* out = vm.memory + f->program.result_addr;
  uint32_t size = f->program.result_size;
  delete f;
  pending[k] = nullptr;
  // Invocations for the same block whose length is this result's size work on it in turn.
  for (uint32_t j = k + 1; j < pending.count; j++) {
    FilterRecord* g = pending[j];
    if (!g || g->block_start != start || g->block_length != size || g->skip_once) break;
    vm.set_memory(0, out, size);
    vm.run_pending(*g, *filters[g->parent], static_cast<uint64_t>(owner.produced_size));
    out = vm.memory + g->program.result_addr;
    size = g->program.result_size;
    delete g;
    pending[j] = nullptr;
  }
  *result = out;
  *result_size = size;
}
