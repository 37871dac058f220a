// The LZ decoder's main loop, match copies and the output window.
#include "decode/lz_decoder.h"

#include <cstring>

#include "decode/lz_state.h"
#include "decode/lz_tables.h"
#include "extract/data_pipe.h"

namespace {

// Bytes after the window that the match copies may load from or store into and restore.
constexpr uint32_t kWindowSlack = 64;

inline void move8(uint8_t* d, const uint8_t* s) {
  uint64_t v;
  std::memcpy(&v, s, 8);
  std::memcpy(d, &v, 8);
}

inline void move16(uint8_t* d, const uint8_t* s) {
  uint8_t v[16];
  std::memcpy(v, s, 16);
  std::memcpy(d, v, 16);
}

// Copies n bytes between ranges that do not overlap.
inline void copy_disjoint(uint8_t* d, const uint8_t* s, uint32_t n) {
  if (n <= 16) {
    if (n >= 8) {
      uint64_t a, b;
      std::memcpy(&a, s, 8);
      std::memcpy(&b, s + n - 8, 8);
      std::memcpy(d, &a, 8);
      std::memcpy(d + n - 8, &b, 8);
    } else if (n >= 4) {
      uint32_t a, b;
      std::memcpy(&a, s, 4);
      std::memcpy(&b, s + n - 4, 4);
      std::memcpy(d, &a, 4);
      std::memcpy(d + n - 4, &b, 4);
    } else if (n >= 2) {
      uint16_t a, b;
      std::memcpy(&a, s, 2);
      std::memcpy(&b, s + n - 2, 2);
      std::memcpy(d, &a, 2);
      std::memcpy(d + n - 2, &b, 2);
    } else if (n == 1) {
      d[0] = s[0];
    }
    return;
  }
  uint32_t k = 0;
  do {
    move16(d + k, s + k);
    k += 16;
  } while (k + 16 < n);
  move16(d + n - 16, s + n - 16);
}

// The match copy: len bytes from dist bytes back, one at a time in effect, so that a
// distance shorter than the length repeats the pattern. Returns the new write position.
inline uint32_t window_copy(uint8_t* win, uint32_t op, uint32_t dist, uint32_t len) {
  uint32_t src = (op - dist) & kWindowMask;
  if (op + len <= kWindowSize && src + len <= kWindowSize) {
    uint8_t* d = win + op;
    const uint8_t* s = win + src;
    if (s < d) {
      uint32_t delta = static_cast<uint32_t>(d - s);
      if (delta >= len) {
        copy_disjoint(d, s, len);
      } else if (delta >= 16) {
        // Each chunk reads bytes that are already final; the last one ends exactly at len.
        uint32_t k = 0;
        do {
          move16(d + k, s + k);
          k += 16;
        } while (k + 16 < len);
        move16(d + len - 16, s + len - 16);
      } else if (delta >= 8) {
        uint32_t k = 0;
        do {
          move8(d + k, s + k);
          k += 8;
        } while (k + 8 < len);
        move8(d + len - 8, s + len - 8);
      } else if (delta == 1) {
        std::memset(d, s[0], len);
      } else {
        for (uint32_t k = 0; k < len; k++) d[k] = s[k];
      }
    } else if (s > d) {
      // Reading ahead of the write position (a distance close to the window size):
      // forward byte order is what a move does.
      std::memmove(d, s, len);
    }
    return (op + len) & kWindowMask;
  }
  for (uint32_t k = 0; k < len; k++) win[(op + k) & kWindowMask] = win[(src + k) & kWindowMask];
  return (op + len) & kWindowMask;
}

}  // namespace

LzDecoder::State::State(LzDecoder& o, DataPipe* p) : owner(o), pipe(p) {}

LzDecoder::State::~State() {
  reset_filters();
  mem_free(window);
}

void LzDecoder::State::reset_stream_state(bool solid) {
  if (!solid) {
    have_tables = false;
    for (uint32_t& d : recent_dists) d = 0;
    repeat_dist = repeat_len = 0;
    std::memset(prev_lengths, 0, sizeof prev_lengths);
    out_pos = flushed_pos = 0;
    ppm_escape = 2;
    reset_filters();
  }
  input.rewind();
  owner.produced_size = 0;
  data_end = refill_mark = 0;
}

bool LzDecoder::State::refill_buffer() {
  int32_t left = data_end - input.byte_pos;
  if (left < 0) return false;
  if (input.byte_pos > 16384) {
    if (left > 0) std::memmove(input.buffer, input.buffer + input.byte_pos, static_cast<size_t>(left));
    input.byte_pos = 0;
    data_end = left;
  }
  int request = (BitReader::kBufferSize - data_end) & ~15;
  int got = pipe->read(input.buffer + data_end, request);
  if (got > request) got = request;
  if (got > 0) data_end += got;
  refill_mark = data_end - 30;
  return got >= 0;
}

void LzDecoder::State::decode_file(bool solid) {
  reset_stream_state(solid);
  if (!refill_buffer()) return;
  if (!solid || !have_tables) {
    if (!read_block_header()) return;
  }
  for (;;) {
    Outcome r = block_type == BlockType::kLz ? run_lz() : run_ppm();
    if (r == kComplete) return;
    if (r == kLeave) break;
  }
  flush_window();
}

LzDecoder::State::Outcome LzDecoder::State::run_lz() {
  uint8_t* const win = window;
  const uint8_t* const in = input.buffer;
  uint32_t bp, op, fm1;
  int32_t mark;
  auto sync = [&] {
    input.byte_pos = static_cast<int32_t>(bp >> 3);
    input.bit_pos = static_cast<int32_t>(bp & 7);
    out_pos = op;
  };
  auto load = [&] {
    bp = static_cast<uint32_t>(input.byte_pos) * 8 + static_cast<uint32_t>(input.bit_pos);
    op = out_pos;
    mark = refill_mark;
    fm1 = flushed_pos - 1;  // ((fm1 - op) & mask) is the free room ahead minus 1
  };
  load();

  for (;;) {
    if (static_cast<int32_t>(bp >> 3) > mark) {
      sync();
      if (!refill_buffer()) return kLeave;
      load();
    }
    if (((fm1 - op) & kWindowMask) < kFlushMargin - 1) {
      sync();
      flush_window();
      if (owner.produced_size > owner.expected_size) return kComplete;
      load();
    }

    uint64_t w = load_be64(in + (bp >> 3)) << (bp & 7);  // at least 57 valid bits
    uint32_t n;
    uint32_t s = decode_from(literal, w, &n);
    bp += n;
    if (s < 256) {
      win[op] = static_cast<uint8_t>(s);
      op = (op + 1) & kWindowMask;
      continue;
    }
    w <<= n;  // at least 42 valid bits
    uint32_t len, dist;
    if (s >= 271) {
      uint32_t i = s - 271;
      len = kLengthBase[i] + 3u;
      uint32_t b = kLengthBits[i];
      if (b) {
        len += static_cast<uint32_t>(w >> (64 - b));
        bp += b;
      }
      w = load_be64(in + (bp >> 3)) << (bp & 7);
      uint32_t slot = decode_from(distance, w, &n);
      bp += n;
      w <<= n;
      dist = kDistanceSlots.base[slot] + 1;
      b = kDistanceSlots.bits[slot];
      if (b) {
        if (slot > 9) {
          if (b > 4) {
            dist += static_cast<uint32_t>(w >> (64 - (b - 4))) << 4;
            bp += b - 4;
          }
          if (low_bits_reuse > 0) {
            low_bits_reuse--;
            dist += low_bits_prev;
          } else {
            w = load_be64(in + (bp >> 3)) << (bp & 7);
            uint32_t low = decode_from(low_distance, w, &n);
            bp += n;
            if (low == 16) {
              low_bits_reuse = 15;
              dist += low_bits_prev;
            } else {
              dist += low;
              low_bits_prev = low;
            }
          }
        } else {
          dist += static_cast<uint32_t>(w >> (64 - b));
          bp += b;
        }
      }
      if (dist >= 0x2000) {
        len++;
        if (dist >= 0x40000) len++;
      }
      recent_dists[3] = recent_dists[2];
      recent_dists[2] = recent_dists[1];
      recent_dists[1] = recent_dists[0];
      recent_dists[0] = dist;
    } else if (s >= 263) {
      uint32_t i = s - 263;
      uint32_t b = kShortBits[i];
      dist = kShortBase[i] + 1u + static_cast<uint32_t>(w >> (64 - b));
      bp += b;
      recent_dists[3] = recent_dists[2];
      recent_dists[2] = recent_dists[1];
      recent_dists[1] = recent_dists[0];
      recent_dists[0] = dist;
      len = 2;
    } else if (s >= 259) {
      uint32_t k = s - 259;
      dist = recent_dists[k];
      for (; k > 0; k--) recent_dists[k] = recent_dists[k - 1];
      recent_dists[0] = dist;
      uint32_t i = decode_from(repeat_length, w, &n);
      bp += n;
      w <<= n;
      len = kLengthBase[i] + 2u;
      uint32_t b = kLengthBits[i];
      if (b) {
        len += static_cast<uint32_t>(w >> (64 - b));
        bp += b;
      }
    } else if (s == 258) {
      if (repeat_len == 0) continue;
      len = repeat_len;
      dist = repeat_dist;
    } else if (s == 256) {
      uint32_t control = static_cast<uint32_t>(w >> 62);
      if (control & 2) {  // a new table follows
        bp += 1;
        have_tables = false;
        sync();
        if (!read_block_header()) return kLeave;
        if (block_type != BlockType::kLz) return kSwitch;
        load();
        continue;
      }
      // End of the file's data; 0, 0 lets a following solid file keep these tables.
      bp += 2;
      have_tables = (control & 1) == 0;
      sync();
      return kLeave;
    } else {  // 257: filter record
      sync();
      if (!read_filter_record_lz()) return kLeave;
      load();
      continue;
    }
    repeat_dist = dist;
    repeat_len = len;
    if (((fm1 - op) & kWindowMask) < len) {  // the copy would reach unwritten output
      sync();
      flush_window();
      if (owner.produced_size > owner.expected_size) return kComplete;
      load();
    }
    op = window_copy(win, op, dist, len);
  }
}

bool LzDecoder::State::copy_match(uint32_t len, uint32_t dist) {
  if (((flushed_pos - 1 - out_pos) & kWindowMask) < len) {
    flush_window();
    if (owner.produced_size > owner.expected_size) return false;
  }
  out_pos = window_copy(window, out_pos, dist, len);
  return true;
}

LzDecoder::State::Outcome LzDecoder::State::run_ppm() {
  for (;;) {
    if (input.byte_pos > refill_mark) {
      if (!refill_buffer()) return kLeave;
    }
    if (((flushed_pos - 1 - out_pos) & kWindowMask) < kFlushMargin - 1) {
      flush_window();
      if (owner.produced_size > owner.expected_size) return kComplete;
    }
    int c = ppm_decode_byte();
    if (c < 0) return kLeave;
    if (static_cast<uint32_t>(c) != ppm_escape) {
      window[out_pos] = static_cast<uint8_t>(c);
      out_pos = (out_pos + 1) & kWindowMask;
      continue;
    }
    int next = ppm_decode_byte();
    switch (next) {
      case 0:  // end of the PPM block: a new block header follows
        if (!read_block_header()) return kLeave;
        if (block_type != BlockType::kPpm) return kSwitch;
        break;
      case 2:
      case -1:  // end of the file's data
        return kLeave;
      case 3:
        if (!read_filter_record_ppm()) return kLeave;
        break;
      case 4: {
        uint32_t dist = 0;
        for (int k = 0; k < 3; k++) {
          int ch = ppm_decode_byte();
          if (ch < 0) return kLeave;
          dist = dist << 8 | static_cast<uint32_t>(ch);
        }
        int len = ppm_decode_byte();
        if (len < 0) return kLeave;
        if (!copy_match(static_cast<uint32_t>(len) + 32, dist + 2)) return kComplete;
        break;
      }
      case 5: {
        int len = ppm_decode_byte();
        if (len < 0) return kLeave;
        if (!copy_match(static_cast<uint32_t>(len) + 4, 1)) return kComplete;
        break;
      }
      default:  // the escape character itself
        window[out_pos] = static_cast<uint8_t>(c);
        out_pos = (out_pos + 1) & kWindowMask;
        break;
    }
  }
}

void LzDecoder::State::flush_window() {
  uint32_t border = flushed_pos;
  uint32_t size = (out_pos - border) & kWindowMask;
  for (uint32_t k = 0; k < pending.count; k++) {
    PendingFilter* f = pending[k];
    if (!f) continue;
    if (f->skip_once) {
      f->skip_once = false;
      continue;
    }
    uint32_t start = f->block_start;
    uint32_t length = f->block_length;
    if (((start - border) & kWindowMask) >= size) continue;  // does not begin in the unwritten data
    if (border != start) {
      emit_range(border, start);
      border = start;
      size = (out_pos - border) & kWindowMask;
    }
    if (length > size) {  // not fully decoded yet: hold everything from its start back
      for (uint32_t j = k; j < pending.count; j++) {
        if (pending[j]) pending[j]->skip_once = false;
      }
      flushed_pos = border;
      return;
    }
    const uint8_t* result;
    uint32_t result_size;
    run_filters(k, start, length, &result, &result_size);
    pipe->write(result, static_cast<int>(result_size));  // filtered output is passed whole
    owner.produced_size += result_size;
    border = (start + length) & kWindowMask;
    size = (out_pos - border) & kWindowMask;
  }
  emit_range(border, out_pos);
  flushed_pos = out_pos;
}

void LzDecoder::State::emit_range(uint32_t from, uint32_t to) {
  if (to < from) {
    emit_bytes(window + from, kWindowSize - from);
    emit_bytes(window, to);
  } else {
    emit_bytes(window + from, to - from);
  }
}

void LzDecoder::State::emit_bytes(const uint8_t* bytes, uint32_t n) {
  if (owner.produced_size < owner.expected_size) {
    int64_t room = owner.expected_size - owner.produced_size;
    int64_t count = static_cast<int64_t>(n) < room ? static_cast<int64_t>(n) : room;
    pipe->write(bytes, static_cast<int>(count));
  }
  owner.produced_size += n;
}

LzDecoder::LzDecoder(DataPipe* pipe) : state_(new State(*this, pipe)), pipe_(pipe) {}

LzDecoder::~LzDecoder() { delete state_; }

void LzDecoder::set_window() {
  if (!state_->window) {
    state_->window = static_cast<uint8_t*>(mem_alloc_or_die(kWindowSize + kWindowSlack));
    std::memset(state_->window, 0, kWindowSize + kWindowSlack);
  }
  state_->reset_stream_state(false);
}

void LzDecoder::decode_file(int version, bool solid) {
  if (version != 29 && version != 36) return;
  if (!state_->window) set_window();
  state_->decode_file(solid);
}
