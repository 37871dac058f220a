#include "lz_reference.h"

#include <algorithm>
#include <cstring>

#include "extract/data_pipe.h"
#include "lz_reference_vm.h"

namespace lzref {
namespace {

constexpr uint32_t kSize = 0x400000;
constexpr uint32_t kMask = kSize - 1;

const uint32_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint32_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint32_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct Slots {
  uint32_t base[60];
  uint32_t bits[60];
  Slots() {
    int slot = 0;
    uint32_t b = 0;
    auto add = [&](int count, uint32_t nbits) {
      for (int k = 0; k < count; k++, slot++) {
        base[slot] = b;
        bits[slot] = nbits;
        b += 1u << nbits;
      }
    };
    add(4, 0);
    for (uint32_t n = 1; n <= 15; n++) add(2, n);
    add(14, 16);
    add(12, 18);
  }
};
const Slots kSlots;

}  // namespace

uint32_t Reader::peek16() const {
  uint32_t v = static_cast<uint32_t>(buffer[byte_pos]) << 16 | static_cast<uint32_t>(buffer[byte_pos + 1]) << 8 |
               buffer[byte_pos + 2];
  return (v >> (8 - bit_pos)) & 0xFFFF;
}

void Reader::skip_bits(int n) {
  bit_pos += n;
  byte_pos += bit_pos / 8;
  bit_pos = bit_pos % 8;
}

uint32_t Reader::read_bits(int k) {
  uint32_t v = peek16() >> (16 - k);
  skip_bits(k);
  return v;
}

void build_table(const uint8_t* lengths, int n, Table& t) {
  uint32_t count[16] = {};
  for (int i = 0; i < n; i++) count[lengths[i] % 16]++;
  count[0] = 0;
  uint32_t next[16] = {};
  t.length_limits[0] = 0;
  t.first_index[0] = 0;
  uint32_t v = 0;
  for (int len = 1; len <= 15; len++) {
    v = 2 * (v + count[len]);
    uint32_t limit = v * (1u << (15 - len));
    t.length_limits[len] = limit < 0xFFFF ? limit : 0xFFFF;
    t.first_index[len] = t.first_index[len - 1] + count[len - 1];
    next[len] = t.first_index[len];
  }
  for (int i = 0; i < n; i++) t.symbols_by_code[i] = 0;
  for (int i = 0; i < n; i++) {
    if (lengths[i] != 0) t.symbols_by_code[next[lengths[i] % 16]++] = static_cast<uint32_t>(i);
  }
  t.symbol_count = static_cast<uint32_t>(n);
}

uint32_t decode_symbol(Reader& in, const Table& t) {
  uint32_t bits = in.peek16() & 0xFFFE;
  const uint32_t* lim = t.length_limits;
  int len;
  if (bits < lim[8]) {
    if (bits < lim[4]) {
      if (bits < lim[2]) len = bits < lim[1] ? 1 : 2;
      else len = bits < lim[3] ? 3 : 4;
    } else {
      if (bits < lim[6]) len = bits < lim[5] ? 5 : 6;
      else len = bits < lim[7] ? 7 : 8;
    }
  } else {
    if (bits < lim[12]) {
      if (bits < lim[10]) len = bits < lim[9] ? 9 : 10;
      else len = bits < lim[11] ? 11 : 12;
    } else {
      if (bits < lim[14]) len = bits < lim[13] ? 13 : 14;
      else len = 15;
    }
  }
  in.skip_bits(len);
  uint32_t index = ((bits - lim[len - 1]) >> (16 - len)) + t.first_index[len];
  if (index >= t.symbol_count) index = 0;
  return t.symbols_by_code[index];
}

Decoder::Decoder(DataPipe* pipe) : pipe_(pipe), body_(new Reader) {}

Decoder::~Decoder() = default;

void Decoder::set_window() {
  window_.assign(kSize, 0);
  vm_.reset();
  body_.reset(new Reader);
  std::fill(in_.buffer.begin(), in_.buffer.end(), 0);
  reset_stream_state(false);
}

void Decoder::reset_stream_state(bool solid) {
  if (!solid) {
    have_tables = false;
    for (uint32_t& d : recent_dists) d = 0;
    repeat_dist = repeat_len = 0;
    std::memset(prev_lengths_, 0, sizeof prev_lengths_);
    out_pos = flushed_pos = 0;
    reset_filters();
    ppm_escape_ = 2;
  }
  in_.byte_pos = in_.bit_pos = 0;
  produced_size = 0;
  data_end_ = refill_mark_ = 0;
}

bool Decoder::refill_buffer() {
  int32_t left = data_end_ - in_.byte_pos;
  if (left < 0) return false;
  if (in_.byte_pos > 16384) {
    if (left > 0) std::memmove(in_.buffer.data(), in_.buffer.data() + in_.byte_pos, left);
    in_.byte_pos = 0;
    data_end_ = left;
  }
  int request = (32768 - data_end_) / 16 * 16;
  int got = pipe_->read(in_.buffer.data() + data_end_, request);
  if (got > 0) data_end_ += got;
  refill_mark_ = data_end_ - 30;
  return got != -1;
}

bool Decoder::read_block_header() {
  if (in_.byte_pos > data_end_ - 25) {
    if (!refill_buffer()) return false;
  }
  in_.skip_bits((8 - in_.bit_pos) % 8);
  uint32_t flags = in_.peek16();
  if (flags & 0x8000) {
    ppm_block = true;
    ppm_.attach(in_.buffer.data(), &in_.byte_pos, [](void* d) { return static_cast<Decoder*>(d)->refill_buffer(); },
                this);
    return ppm_.start_block(&ppm_escape_);
  }
  ppm_block = false;
  low_bits_prev = 0;
  low_bits_reuse = 0;
  if (!(flags & 0x4000)) std::memset(prev_lengths_, 0, sizeof prev_lengths_);
  in_.skip_bits(2);

  uint8_t pre[20];
  int i = 0;
  while (i < 20) {
    uint32_t len = in_.read_bits(4);
    if (len == 15) {
      uint32_t z = in_.read_bits(4);
      if (z == 0) {
        pre[i] = 15;
        i++;
      } else {
        for (uint32_t k = 0; k < z + 2 && i < 20; k++) {
          pre[i] = 0;
          i++;
        }
      }
    } else {
      pre[i] = static_cast<uint8_t>(len);
      i++;
    }
  }
  build_table(pre, 20, precode_);

  uint8_t cur[404];
  i = 0;
  while (i < 404) {
    if (in_.byte_pos > data_end_ - 5) {
      if (!refill_buffer()) return false;
    }
    uint32_t c = decode_symbol(in_, precode_);
    if (c < 16) {
      cur[i] = static_cast<uint8_t>((c + prev_lengths_[i]) % 16);
      i++;
    } else if (c == 16 || c == 17) {
      uint32_t n = c == 16 ? 3 + in_.read_bits(3) : 11 + in_.read_bits(7);
      uint8_t prev = i > 0 ? cur[i - 1] : 0;
      for (uint32_t k = 0; k < n && i < 404; k++) {
        cur[i] = prev;
        i++;
      }
    } else {
      uint32_t n = c == 18 ? 3 + in_.read_bits(3) : 11 + in_.read_bits(7);
      for (uint32_t k = 0; k < n && i < 404; k++) {
        cur[i] = 0;
        i++;
      }
    }
  }
  have_tables = true;
  if (in_.byte_pos > data_end_) return false;
  build_table(cur, 299, literal_);
  build_table(cur + 299, 60, distance_);
  build_table(cur + 359, 17, low_distance_);
  build_table(cur + 376, 28, repeat_length_);
  std::memcpy(prev_lengths_, cur, 404);
  return true;
}

bool Decoder::copy_match(uint32_t len, uint32_t dist) {
  // A copy that would reach output not yet passed on is preceded by a flush.
  if (flushed_pos != out_pos && ((flushed_pos - out_pos) & kMask) <= len) {
    flush_window();
    if (produced_size > expected_size) return false;
  }
  uint32_t src = out_pos - dist;
  for (uint32_t k = 0; k < len; k++) {
    window_[out_pos & kMask] = window_[src & kMask];
    out_pos++;
    src++;
  }
  return true;
}

void Decoder::flush_window() {
  uint32_t border = flushed_pos;
  uint32_t size = (out_pos - border) & kMask;
  for (size_t k = 0; k < pending_.size(); k++) {
    Record* f = pending_[k].get();
    if (!f) continue;
    if (f->skip_once) {
      f->skip_once = false;
      continue;
    }
    uint32_t start = f->block_start, length = f->block_length;
    if (((start - border) & kMask) >= size) continue;
    if (border != start) {
      emit_range(border, start);
      border = start;
      size = (out_pos - border) & kMask;
    }
    if (length > size) {
      for (size_t j = k; j < pending_.size(); j++) {
        if (pending_[j]) pending_[j]->skip_once = false;
      }
      flushed_pos = border;
      return;
    }
    uint32_t end = (start + length) & kMask;
    // The block into the machine memory at 0, clipped at its end.
    auto place = [&](uint32_t address, const uint8_t* from, uint32_t n) {
      for (uint32_t i = 0; i < n && address + i < kVmSize; i++) vm_->mem[address + i] = from[i];
    };
    if (start < end || end == 0) {
      place(0, window_.data() + start, length);
    } else {
      place(0, window_.data() + start, kSize - start);
      if (kSize - start < kVmSize) place(kSize - start, window_.data(), end);
    }
    vm_->run(*f, *filters_[f->parent], static_cast<uint64_t>(produced_size));
    uint32_t at = f->prog.result_addr, n = f->prog.result_size;
    pending_[k].reset();
    while (k + 1 < pending_.size() && pending_[k + 1] && pending_[k + 1]->block_start == start &&
           pending_[k + 1]->block_length == n && !pending_[k + 1]->skip_once) {
      k++;
      std::vector<uint8_t> result(vm_->mem.begin() + at, vm_->mem.begin() + at + n);
      place(0, result.data(), n);
      Record* g = pending_[k].get();
      vm_->run(*g, *filters_[g->parent], static_cast<uint64_t>(produced_size));
      at = g->prog.result_addr;
      n = g->prog.result_size;
      pending_[k].reset();
    }
    pipe_->write(vm_->mem.data() + at, static_cast<int>(n));
    produced_size += n;
    border = end;
    size = (out_pos - border) & kMask;
  }
  emit_range(border, out_pos);
  flushed_pos = out_pos;
}

bool Decoder::read_filter_record() {
  uint32_t first = in_.read_bits(8);
  uint32_t length = (first & 7) + 1;
  if (length == 7) length = in_.read_bits(8) + 7;
  else if (length == 8) length = in_.read_bits(16);
  std::vector<uint8_t> body;
  for (uint32_t i = 0; i < length; i++) {
    if (in_.byte_pos >= data_end_ - 1) {
      bool ok = refill_buffer();
      if (!ok && i != length - 1) return false;
    }
    body.push_back(static_cast<uint8_t>(in_.read_bits(8)));
    // Bytes beyond a short body are whatever earlier records left there, also those of
    // records that failed while they were read.
    if (i < 32768) body_->buffer[i] = body.back();
  }
  return add_filter(first, body);
}

void Decoder::reset_filters() {
  filters_.clear();
  pending_.clear();
  last_lengths_.clear();
  current_filter_ = 0;
}

bool Decoder::add_filter(uint32_t first, const std::vector<uint8_t>& body) {
  if (!vm_) vm_.reset(new Vm);
  Reader& in = *body_;
  for (size_t i = 0; i < body.size() && i < 32768; i++) in.buffer[i] = body[i];
  in.byte_pos = in.bit_pos = 0;
  uint32_t n;
  if (first & 0x80) {
    n = read_number(in);
    if (n == 0) reset_filters();
    else n -= 1;
  } else {
    n = current_filter_;
  }
  if (n > filters_.size() || n > last_lengths_.size()) return false;
  current_filter_ = n;
  bool is_new = n == filters_.size();
  if (is_new && n > 1024) return false;
  if (is_new) {
    filters_.emplace_back(new Record);
    last_lengths_.push_back(0);
  } else {
    filters_[n]->use_count++;
  }
  Record& stored = *filters_[n];
  std::unique_ptr<Record> made(new Record);
  Record& f = *made;
  f.parent = n;
  f.use_count = stored.use_count;
  std::vector<std::unique_ptr<Record>> kept;
  for (auto& e : pending_) {
    if (e) kept.push_back(std::move(e));
  }
  size_t slot = kept.size();
  kept.resize(pending_.size() > slot ? pending_.size() : slot + 1);
  pending_ = std::move(kept);
  pending_[slot] = std::move(made);
  auto fail = [&] {
    pending_[slot].reset();
    return false;
  };

  uint32_t offset = read_number(in);
  if (first & 0x40) offset += 258;
  f.block_start = (offset + out_pos) & kMask;
  if (first & 0x20) f.block_length = read_number(in);
  else f.block_length = last_lengths_[n];
  last_lengths_[n] = f.block_length;
  f.skip_once = flushed_pos != out_pos && ((flushed_pos - out_pos) & kMask) <= offset;
  for (uint32_t& r : f.prog.regs) r = 0;
  f.prog.regs[3] = 0x3C000;
  f.prog.regs[4] = f.block_length;
  f.prog.regs[5] = f.use_count;
  if (first & 0x10) {
    uint32_t mask = in.read_bits(7);
    for (int k = 0; k < 7; k++) {
      if (mask & (1u << k)) f.prog.regs[k] = read_number(in);
    }
  }
  if (is_new) {
    uint32_t code_size = read_number(in);
    if (code_size == 0 || code_size >= 0x10000) return fail();
    std::vector<uint8_t> code;
    for (uint32_t i = 0; i < code_size; i++) {
      if (in.byte_pos + 3 >= 32768) return fail();
      code.push_back(static_cast<uint8_t>(in.read_bits(8)));
    }
    vm_->prepare(code.data(), code_size, stored.prog);
  }
  f.prog.shared = &stored.prog.code;
  if (!stored.prog.statics.empty() && stored.prog.statics.size() < 8192) f.prog.statics = stored.prog.statics;
  f.prog.global.assign(64, 0);
  for (int k = 0; k < 7; k++) set_word(f.prog.global, 4 * k, f.prog.regs[k]);
  set_word(f.prog.global, 0x1C, f.block_length);
  set_word(f.prog.global, 0x20, 0);
  set_word(f.prog.global, 0x2C, f.use_count);
  if (first & 0x08) {
    if (in.byte_pos + 3 >= 32768) return fail();
    uint32_t data_size = read_number(in);
    if (data_size > 0x1FC0) return fail();
    f.prog.global.resize(64 + data_size);
    for (uint32_t i = 0; i < data_size; i++) {
      if (in.byte_pos + 3 >= 32768) return fail();
      f.prog.global[64 + i] = static_cast<uint8_t>(in.read_bits(8));
    }
  }
  return true;
}

void Decoder::emit_range(uint32_t from, uint32_t to) {
  if (to < from) {
    emit_bytes(window_.data() + from, kSize - from);
    emit_bytes(window_.data(), to);
  } else {
    emit_bytes(window_.data() + from, to - from);
  }
}

void Decoder::emit_bytes(const uint8_t* bytes, uint32_t n) {
  if (produced_size < expected_size) {
    int64_t room = expected_size - produced_size;
    pipe_->write(bytes, static_cast<int>(n < room ? n : room));
  }
  produced_size += n;
}

// One PPM step; false leaves the loop, *stop ends the file at once (it is complete).
bool Decoder::ppm_step(bool* stop) {
  int c = ppm_.decode_byte();
  if (c < 0) return false;
  if (static_cast<uint32_t>(c) != ppm_escape_) {
    window_[out_pos] = static_cast<uint8_t>(c);
    out_pos++;
    return true;
  }
  int n = ppm_.decode_byte();
  if (n == 0) return read_block_header();
  if (n == 2 || n < 0) return false;
  if (n == 3) return false;  // filter records are not decoded
  if (n == 4 || n == 5) {
    uint32_t dist = 1, len;
    if (n == 4) {
      int d[3], l;
      for (int& x : d) x = ppm_.decode_byte();
      l = ppm_.decode_byte();
      if (d[0] < 0 || d[1] < 0 || d[2] < 0 || l < 0) return false;
      dist = (static_cast<uint32_t>(d[0]) << 16 | static_cast<uint32_t>(d[1]) << 8 | static_cast<uint32_t>(d[2])) + 2;
      len = static_cast<uint32_t>(l) + 32;
    } else {
      int l = ppm_.decode_byte();
      if (l < 0) return false;
      len = static_cast<uint32_t>(l) + 4;
    }
    *stop = !copy_match(len, dist);
    return true;
  }
  window_[out_pos] = static_cast<uint8_t>(c);
  out_pos++;
  return true;
}

void Decoder::decode_file(int version, bool solid) {
  if (version != 29 && version != 36) return;
  reset_stream_state(solid);
  if (!refill_buffer()) return;
  if (!solid || !have_tables) {
    if (!read_block_header()) return;
  }
  for (;;) {
    out_pos &= kMask;
    if (in_.byte_pos > refill_mark_) {
      if (!refill_buffer()) break;
    }
    if (flushed_pos != out_pos && ((flushed_pos - out_pos) & kMask) < 260) {
      flush_window();
      if (produced_size > expected_size) return;
    }
    if (ppm_block) {
      bool stop = false;
      if (!ppm_step(&stop)) break;
      if (stop) return;
      continue;
    }
    uint32_t s = decode_symbol(in_, literal_);
    if (s < 256) {
      window_[out_pos] = static_cast<uint8_t>(s);
      out_pos++;
    } else if (s >= 271) {
      uint32_t i = s - 271;
      uint32_t len = kLengthBase[i] + 3;
      if (kLengthBits[i] != 0) len += in_.read_bits(kLengthBits[i]);
      uint32_t slot = decode_symbol(in_, distance_);
      uint32_t dist = kSlots.base[slot] + 1;
      uint32_t b = kSlots.bits[slot];
      if (b > 0) {
        if (slot > 9) {
          if (b > 4) dist += in_.read_bits(b - 4) * 16;
          if (low_bits_reuse > 0) {
            low_bits_reuse--;
            dist += low_bits_prev;
          } else {
            uint32_t low = decode_symbol(in_, low_distance_);
            if (low == 16) {
              low_bits_reuse = 15;
              dist += low_bits_prev;
            } else {
              dist += low;
              low_bits_prev = low;
            }
          }
        } else {
          dist += in_.read_bits(b);
        }
      }
      if (dist >= 0x2000) {
        len += 1;
        if (dist >= 0x40000) len += 1;
      }
      recent_dists[3] = recent_dists[2];
      recent_dists[2] = recent_dists[1];
      recent_dists[1] = recent_dists[0];
      recent_dists[0] = dist;
      repeat_dist = dist;
      repeat_len = len;
      if (!copy_match(len, dist)) return;
    } else if (s == 256) {
      if (in_.peek16() & 0x8000) {
        in_.skip_bits(1);
        have_tables = false;
        if (!read_block_header()) break;
      } else {
        have_tables = (in_.peek16() & 0x4000) == 0;
        in_.skip_bits(2);
        break;
      }
    } else if (s == 257) {
      if (!read_filter_record()) break;
    } else if (s == 258) {
      if (repeat_len != 0) {
        if (!copy_match(repeat_len, repeat_dist)) return;
      }
    } else if (s <= 262) {
      uint32_t n = s - 259;
      uint32_t dist = recent_dists[n];
      for (uint32_t k = n; k > 0; k--) recent_dists[k] = recent_dists[k - 1];
      recent_dists[0] = dist;
      uint32_t i = decode_symbol(in_, repeat_length_);
      uint32_t len = kLengthBase[i] + 2;
      if (kLengthBits[i] != 0) len += in_.read_bits(kLengthBits[i]);
      repeat_dist = dist;
      repeat_len = len;
      if (!copy_match(len, dist)) return;
    } else {
      uint32_t i = s - 263;
      uint32_t dist = kShortBase[i] + 1 + in_.read_bits(kShortBits[i]);
      recent_dists[3] = recent_dists[2];
      recent_dists[2] = recent_dists[1];
      recent_dists[1] = recent_dists[0];
      recent_dists[0] = dist;
      repeat_dist = dist;
      repeat_len = 2;
      if (!copy_match(2, dist)) return;
    }
  }
  flush_window();
}

}  // namespace lzref
