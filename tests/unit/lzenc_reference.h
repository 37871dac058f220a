// A plain, slow reader of the compressed stream for the encoder tests, written from the
// format rules alone (it shares no tables with the encoder). It checks every field
// strictly and counts what the stream used, so tests can tell that a feature was
// exercised.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

class RefStreamReader {
 public:
  struct Stats {
    uint64_t literals = 0, repeat_last = 0, recent[4] = {0, 0, 0, 0}, shorts = 0, longs = 0;
    uint64_t bonus1 = 0, bonus2 = 0;  // long matches at distances with one / two extra
    uint64_t low_reuse = 0;           // low-distance code 16
    uint64_t headers = 0, headers_keep = 0, kept_tables_files = 0;
    uint64_t max_dist = 0;
    uint64_t pre_runs[4] = {0, 0, 0, 0};  // pre-code symbols 16..19
    uint64_t pre_escape15 = 0, pre_zero_escape = 0;
  };
  Stats stats;
  const char* error = nullptr;

  RefStreamReader() { build_slots(); }

  // Decodes one file's packed bytes, appending its output. False (with error set) on
  // anything a correct encoder must not produce.
  bool decode_file(const std::vector<uint8_t>& packed, bool solid, std::vector<uint8_t>& out) {
    in_ = &packed;
    bit_ = 0;
    if (!solid) {
      have_tables_ = false;
      std::memset(reps_, 0, sizeof reps_);
      last_len_ = 0;
      last_dist_ = 0;
      std::memset(prev_, 0, sizeof prev_);
      history_.clear();
    }
    if (!solid || !have_tables_) {
      if (!read_header()) return false;
    } else {
      ++stats.kept_tables_files;
    }
    size_t start = history_.size();
    for (;;) {
      int s;
      if (!decode(main_, s)) return false;
      if (s < 256) {
        history_.push_back(uint8_t(s));
        ++stats.literals;
      } else if (s == 256) {
        uint32_t b;
        if (!bits(1, b)) return false;
        if (b == 1) {
          have_tables_ = false;
          if (!read_header()) return false;
          continue;
        }
        if (!bits(1, b)) return false;
        have_tables_ = b == 0;
        break;
      } else if (s == 257) {
        return fail("filter record");
      } else if (s == 258) {
        ++stats.repeat_last;
        if (last_len_ == 0) return fail("repeat before any match");
        if (!copy(last_len_, last_dist_)) return false;
      } else if (s < 263) {
        int n = s - 259;
        ++stats.recent[n];
        uint32_t d = reps_[n];
        for (int i = n; i > 0; --i) reps_[i] = reps_[i - 1];
        reps_[0] = d;
        int li;
        if (!decode(rep_, li)) return false;
        uint32_t e = 0;
        if (kLenBits[li] && !bits(kLenBits[li], e)) return false;
        uint32_t len = kLenBase[li] + 2 + e;
        last_dist_ = d;
        last_len_ = len;
        if (!copy(len, d)) return false;
      } else if (s < 271) {
        int i = s - 263;
        ++stats.shorts;
        uint32_t e;
        if (!bits(kShortBits[i], e)) return false;
        uint32_t d = kShortBase[i] + 1 + e;
        push(d);
        last_dist_ = d;
        last_len_ = 2;
        if (!copy(2, d)) return false;
      } else {
        int i = s - 271;
        ++stats.longs;
        uint32_t e = 0;
        if (kLenBits[i] && !bits(kLenBits[i], e)) return false;
        uint32_t len = kLenBase[i] + 3 + e;
        int slot;
        if (!decode(dist_, slot)) return false;
        uint32_t d = base_[slot] + 1;
        int b = nbits_[slot];
        if (b > 0) {
          if (slot > 9) {
            if (b > 4) {
              if (!bits(b - 4, e)) return false;
              d += e << 4;
            }
            if (low_reuse_ > 0) {
              --low_reuse_;
              d += low_prev_;
            } else {
              int low;
              if (!decode(low_, low)) return false;
              if (low == 16) {
                ++stats.low_reuse;
                low_reuse_ = 15;
                d += low_prev_;
              } else {
                d += uint32_t(low);
                low_prev_ = uint32_t(low);
              }
            }
          } else {
            if (!bits(b, e)) return false;
            d += e;
          }
        }
        if (d >= 0x2000) ++len, ++stats.bonus1;
        if (d >= 0x40000) ++len, ++stats.bonus2;
        push(d);
        last_dist_ = d;
        last_len_ = len;
        if (!copy(len, d)) return false;
      }
    }
    // The rest of the last byte must be padding.
    if ((bit_ + 7) / 8 != in_->size()) return fail("bytes after the end of the file's data");
    out.insert(out.end(), history_.begin() + ptrdiff_t(start), history_.end());
    return true;
  }

 private:
  struct Table {
    int n = 0;
    uint8_t len[299];
    int count[16];
    int sorted[299];
    bool empty = true;
  };
  static constexpr uint8_t kLenBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                           24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
  static constexpr uint8_t kLenBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                           2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
  static constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
  static constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

  void build_slots() {
    int slot = 0;
    uint32_t b = 0;
    auto add = [&](int count, int nb) {
      for (int i = 0; i < count; ++i, ++slot) {
        base_[slot] = b;
        nbits_[slot] = nb;
        b += 1u << nb;
      }
    };
    add(4, 0);
    for (int nb = 1; nb <= 15; ++nb) add(2, nb);
    add(14, 16);
    add(12, 18);
  }

  bool fail(const char* why) {
    error = why;
    return false;
  }
  bool bits(int n, uint32_t& v) {
    v = 0;
    for (int i = 0; i < n; ++i) {
      if (bit_ / 8 >= in_->size()) return fail("read past the end of the packed data");
      v = (v << 1) | (((*in_)[bit_ / 8] >> (7 - bit_ % 8)) & 1u);
      ++bit_;
    }
    return true;
  }
  // Canonical decoding, one bit at a time; a code that no symbol has is an error.
  bool decode(const Table& t, int& sym) {
    uint32_t code = 0;
    int first = 0, index = 0;
    for (int l = 1; l <= 15; ++l) {
      uint32_t b;
      if (!bits(1, b)) return false;
      code = (code << 1) | b;
      int count = t.count[l];
      if (int(code) - first < count) {
        sym = t.sorted[index + int(code) - first];
        return true;
      }
      index += count;
      first = (first + count) << 1;
    }
    return fail("code without a symbol");
  }
  void set_table(Table& t, const uint8_t* len, int n) {
    t.n = n;
    std::memcpy(t.len, len, size_t(n));
    int k2 = 0;
    for (int l = 0; l < 16; ++l) t.count[l] = 0;
    for (int l = 1; l < 16; ++l)
      for (int i = 0; i < n; ++i)
        if (len[i] == l) t.sorted[k2++] = i, ++t.count[l];
    // Kraft check: complete, or a single code of length 1, or unused.
    uint64_t k = 0;
    int used = 0;
    for (int i = 0; i < n; ++i)
      if (len[i]) k += 1u << (15 - len[i]), ++used;
    t.empty = used == 0;
    if (used > 1 && k != (1u << 15)) error = "incomplete or over-full code";
    if (used == 1 && k != (1u << 14)) error = "lone code not of length 1";
  }
  bool read_header() {
    // Byte alignment, then the flags.
    bit_ = (bit_ + 7) / 8 * 8;
    uint32_t ppm, keep;
    if (!bits(1, ppm) || !bits(1, keep)) return false;
    if (ppm) return fail("block of the other kind");
    ++stats.headers;
    if (keep) ++stats.headers_keep;
    if (!keep) std::memset(prev_, 0, sizeof prev_);
    low_prev_ = low_reuse_ = 0;
    uint8_t pl[20] = {0};
    for (int i = 0; i < 20;) {
      uint32_t v;
      if (!bits(4, v)) return false;
      if (v == 15) {
        uint32_t z;
        if (!bits(4, z)) return false;
        if (z == 0) {
          pl[i++] = 15;
          ++stats.pre_escape15;
        } else {
          ++stats.pre_zero_escape;
          for (uint32_t k = 0; k < z + 2 && i < 20; ++k) pl[i++] = 0;
        }
      } else {
        pl[i++] = uint8_t(v);
      }
    }
    Table pre;
    error = nullptr;
    set_table(pre, pl, 20);
    if (error) return false;
    uint8_t cur[404];
    for (int i = 0; i < 404;) {
      int c;
      if (!decode(pre, c)) return false;
      if (c < 16) {
        cur[i] = uint8_t((c + prev_[i]) & 15);
        ++i;
        continue;
      }
      ++stats.pre_runs[c - 16];
      uint32_t e;
      int n;
      if (c == 16 || c == 18) {
        if (!bits(3, e)) return false;
        n = 3 + int(e);
      } else {
        if (!bits(7, e)) return false;
        n = 11 + int(e);
      }
      if (c <= 17 && i == 0) return fail("repeat at the first length");
      if (i + n > 404) return fail("run past the last length");
      uint8_t v = c <= 17 ? cur[i - 1] : 0;
      while (n-- > 0) cur[i++] = v;
    }
    set_table(main_, cur, 299);
    set_table(dist_, cur + 299, 60);
    set_table(low_, cur + 359, 17);
    set_table(rep_, cur + 376, 28);
    if (error) return false;
    std::memcpy(prev_, cur, 404);
    have_tables_ = true;
    return true;
  }
  void push(uint32_t d) {
    reps_[3] = reps_[2];
    reps_[2] = reps_[1];
    reps_[1] = reps_[0];
    reps_[0] = d;
  }
  bool copy(uint32_t len, uint32_t d) {
    if (d == 0 || d > history_.size()) return fail("distance before the start of the stream");
    if (d > (4u << 20)) return fail("distance beyond the window");
    if (d > stats.max_dist) stats.max_dist = d;
    size_t from = history_.size() - d;
    for (uint32_t i = 0; i < len; ++i) history_.push_back(history_[from + i]);
    return true;
  }

  const std::vector<uint8_t>* in_ = nullptr;
  size_t bit_ = 0;
  std::vector<uint8_t> history_;
  Table main_, dist_, low_, rep_;
  uint8_t prev_[404] = {0};
  bool have_tables_ = false;
  uint32_t reps_[4] = {0, 0, 0, 0};
  uint32_t last_len_ = 0, last_dist_ = 0;
  uint32_t low_prev_ = 0, low_reuse_ = 0;
  uint32_t base_[60];
  int nbits_[60];
};
