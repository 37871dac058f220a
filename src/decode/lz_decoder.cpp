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

// The match copy: len bytes from dist bytes back, one at a time in effect, so that a
// distance shorter than the length repeats the pattern. Returns the new write position.
// Copies that touch neither end of the window use whole 16 or 8 byte moves; short ones
// store 16 bytes and put back the bytes after the match, so no byte outside the match
// changes (the window has slack after its end for these moves).
__attribute__((always_inline)) inline uint32_t window_copy(uint8_t* win, uint32_t op, uint32_t dist, uint32_t len) {
  uint32_t src = (op - dist) & kWindowMask;
  if (__builtin_expect(op + len <= kWindowSize && src + len <= kWindowSize, 1)) {
    uint8_t* d = win + op;
    const uint8_t* s = win + src;
    if (__builtin_expect(s < d, 1)) {
      uint32_t delta = static_cast<uint32_t>(d - s);
      if (__builtin_expect(delta >= len && len <= 16, 1)) {
        uint8_t v[16], after[16];
        std::memcpy(v, s, 16);
        std::memcpy(after, d + len, 16);
        std::memcpy(d, v, 16);
        std::memcpy(d + len, after, 16);
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

// The main loop over LZ symbols. The checks that precede every symbol (refill when
// byte_pos passes refill_mark, flush when the free room ahead falls below the margin)
// are made exactly, but only where they could fire: from a check point, a symbol takes
// at most 8 bytes of input and makes at most 260 bytes of output, so the number of
// symbols before either check can fire is known, and those symbols run without them.
LzDecoder::State::Outcome LzDecoder::State::run_lz() {
  uint8_t* const win = window;
  const uint8_t* const in = input.buffer;

  // Bit buffer: the next bc bits of the stream are the top bits of bb; bits below them
  // are zero or the stream bits that follow. ip is the next byte to load.
  const uint8_t* ip;
  uint64_t bb;
  uint32_t bc;
  uint32_t op;
  uint32_t d0, d1, d2, d3, rep_dist, rep_len, low_prev, low_reuse;

  // From the fields into the locals (after anything that works on the fields), and back.
  auto load = [&]() __attribute__((always_inline)) {
    bb = load_be64(in + input.byte_pos) << input.bit_pos;
    bc = 56 - static_cast<uint32_t>(input.bit_pos);
    ip = in + input.byte_pos + 7;
    op = out_pos;
    d0 = recent_dists[0];
    d1 = recent_dists[1];
    d2 = recent_dists[2];
    d3 = recent_dists[3];
    rep_dist = repeat_dist;
    rep_len = repeat_len;
    low_prev = low_bits_prev;
    low_reuse = low_bits_reuse;
  };
  auto sync = [&]() __attribute__((always_inline)) {
    uint32_t pos = static_cast<uint32_t>(ip - in) * 8 - bc;
    input.byte_pos = static_cast<int32_t>(pos >> 3);
    input.bit_pos = static_cast<int32_t>(pos & 7);
    out_pos = op;
    recent_dists[0] = d0;
    recent_dists[1] = d1;
    recent_dists[2] = d2;
    recent_dists[3] = d3;
    repeat_dist = rep_dist;
    repeat_len = rep_len;
    low_bits_prev = low_prev;
    low_bits_reuse = low_reuse;
  };
  // Afterwards bc >= 56.
  auto refill = [&]() __attribute__((always_inline)) {
    bb |= load_be64(ip) >> bc;
    ip += (63 - bc) >> 3;
    bc |= 56;
  };
  auto consume = [&](uint32_t n) __attribute__((always_inline)) {
    bb <<= n;
    bc -= n;
  };
  auto take = [&](uint32_t n) __attribute__((always_inline)) {  // 1 <= n <= bc
    uint32_t v = static_cast<uint32_t>(bb >> (64 - n));
    consume(n);
    return v;
  };

  load();
  for (;;) {
    // Check point: the exact checks before a symbol.
    int32_t byte_pos = static_cast<int32_t>(ip - in) - static_cast<int32_t>((bc + 7) >> 3);
    if (byte_pos > refill_mark) {
      sync();
      if (!refill_buffer()) return kLeave;
      load();
      byte_pos = input.byte_pos;
    }
    uint32_t room = (flushed_pos - 1 - op) & kWindowMask;  // free bytes ahead, minus 1
    if (room < kFlushMargin - 1) {
      sync();
      flush_window();
      if (owner.produced_size > owner.expected_size) return kComplete;
      room = (flushed_pos - 1 - op) & kWindowMask;
    }
    uint32_t by_input = byte_pos > refill_mark ? 1 : static_cast<uint32_t>(refill_mark - byte_pos) / 8 + 1;
    uint32_t by_output = room < kFlushMargin - 1 ? 1 : (room - (kFlushMargin - 1)) / kFlushMargin + 1;
    uint32_t budget = by_input < by_output ? by_input : by_output;

    for (;;) {
      uint32_t s;
      refill();
      // Up to three literals per refill: each code has at most 15 bits. A code longer
      // than the lookup comes as the symbol kLongCode with length 0.
      uint32_t e = literal.quick[bb >> (64 - kLiteralQuickBits)];
      s = e >> 4;
      if (s < 256) {
        win[op] = static_cast<uint8_t>(s);
        op = (op + 1) & kWindowMask;
        consume(e & 15);
        if (--budget == 0) break;
        e = literal.quick[bb >> (64 - kLiteralQuickBits)];
        s = e >> 4;
        if (s < 256) {
          win[op] = static_cast<uint8_t>(s);
          op = (op + 1) & kWindowMask;
          consume(e & 15);
          if (--budget == 0) break;
          e = literal.quick[bb >> (64 - kLiteralQuickBits)];
          s = e >> 4;
          if (s < 256) {
            win[op] = static_cast<uint8_t>(s);
            op = (op + 1) & kWindowMask;
            consume(e & 15);
            if (--budget == 0) break;
            continue;
          }
        }
      }
      if (s == kLongCode) {
        e = decode_long(literal, static_cast<uint32_t>(bb >> 48), kLiteralQuickBits + 1);
        s = entry_symbol(e);
        if (s < 256) {
          consume(entry_length(e));
          win[op] = static_cast<uint8_t>(s);
          op = (op + 1) & kWindowMask;
          if (--budget == 0) break;
          continue;
        }
      }
      consume(entry_length(e));

      refill();
      uint32_t len, dist;
      if (s >= 271) {
        uint32_t i = s - 271;
        len = kLengthBase[i] + 3u;
        if (uint32_t b = kLengthBits[i]) len += take(b);
        uint32_t slot = decode_quick<kDistanceQuickBits>(distance, bb);
        consume(entry_length(slot));
        slot >>= 4;
        refill();
        dist = kDistanceSlots.base[slot] + 1;
        uint32_t b = kDistanceSlots.bits[slot];
        if (slot > 9) {
          if (b > 4) dist += take(b - 4) << 4;
          if (low_reuse > 0) {
            low_reuse--;
            dist += low_prev;
          } else {
            uint32_t low = decode_quick<kLowDistanceQuickBits>(low_distance, bb);
            consume(entry_length(low));
            low >>= 4;
            if (low == 16) {
              low_reuse = 15;
              dist += low_prev;
            } else {
              dist += low;
              low_prev = low;
            }
          }
        } else if (b) {
          dist += take(b);
        }
        if (dist >= 0x2000) {
          len++;
          if (dist >= 0x40000) len++;
        }
        d3 = d2;
        d2 = d1;
        d1 = d0;
        d0 = dist;
      } else if (s >= 263) {
        uint32_t i = s - 263;
        dist = kShortBase[i] + 1u + take(kShortBits[i]);
        d3 = d2;
        d2 = d1;
        d1 = d0;
        d0 = dist;
        len = 2;
      } else if (s >= 259) {
        switch (s) {
          case 259:
            dist = d0;
            break;
          case 260:
            dist = d1;
            d1 = d0;
            break;
          case 261:
            dist = d2;
            d2 = d1;
            d1 = d0;
            break;
          default:
            dist = d3;
            d3 = d2;
            d2 = d1;
            d1 = d0;
            break;
        }
        d0 = dist;
        uint32_t i = decode_quick<kRepeatLengthQuickBits>(repeat_length, bb);
        consume(entry_length(i));
        i >>= 4;
        len = kLengthBase[i] + 2u;
        if (uint32_t b = kLengthBits[i]) len += take(b);
      } else if (s == 258) {
        if (rep_len == 0) {
          if (--budget == 0) break;
          continue;
        }
        len = rep_len;
        dist = rep_dist;
      } else if (s == 256) {
        if (bb >> 63) {  // a new table follows
          consume(1);
          have_tables = false;
          sync();
          if (!read_block_header()) return kLeave;
          if (block_type != BlockType::kLz) return kSwitch;
          load();
          break;
        }
        // End of the file's data; 0, 0 lets a following solid file keep these tables.
        have_tables = ((bb >> 62) & 1) == 0;
        consume(2);
        sync();
        return kLeave;
      } else {  // 257: filter record
        sync();
        if (!read_filter_record_lz()) return kLeave;
        load();
        break;
      }
      rep_dist = dist;
      rep_len = len;
      if (((flushed_pos - 1 - op) & kWindowMask) < len) {  // the copy would reach unwritten output
        sync();
        flush_window();
        if (owner.produced_size > owner.expected_size) return kComplete;
      }
      op = window_copy(win, op, dist, len);
      if (--budget == 0) break;
    }
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
  if (!state_->window) state_->window = static_cast<uint8_t*>(mem_alloc_or_die(kWindowSize + kWindowSlack));
  // Nothing of an earlier stream (or of the heap) can show through a damaged stream.
  std::memset(state_->window, 0, kWindowSize + kWindowSlack);
  std::memset(state_->input.buffer, 0, BitReader::kBufferSize + BitReader::kSlack);
  state_->vm.clear();
  state_->reset_stream_state(false);
}

void LzDecoder::decode_file(int version, bool solid) {
  if (version != 29 && version != 36) return;
  if (!state_->window) set_window();
  state_->decode_file(solid);
}
