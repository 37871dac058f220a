// Turns tokens into blocks of the compressed stream: chooses where new Huffman tables
// pay off, codes the table headers (differences against the previous tables when that is
// cheaper, pre-code with runs) and writes the symbols. Keeps the decoder's table state
// across the files of a solid stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encode/lz_bit_writer.h"
#include "encode/lz_tokens.h"

// Frequencies of the 404 symbols of the four main tables.
struct LzHistogram {
  uint32_t f[lzf::kTableSymbols];
  LzHistogram() { clear(); }
  void clear();
  void add(const LzHistogram& o);
  // Counts the symbols of a token (low four bits counted as explicit codes).
  void count(const LzToken& t);
};

// One pre-code symbol of a table header with its extra bits.
struct LzPreToken {
  uint8_t sym;
  uint8_t extra_bits;
  uint8_t extra;
};

struct LzHeaderPlan {
  bool keep = false;  // differences against the previous lengths (bit 14)
  uint8_t pre_lengths[lzf::kPreSymbols] = {0};
  std::vector<LzPreToken> tokens;
  uint64_t bits = UINT64_MAX;  // whole header after byte alignment
};

// Best coding of the lengths, as differences against base (keep) or plain.
LzHeaderPlan plan_header(const uint8_t* lengths, const uint8_t* base, bool keep);

// Code lengths of the four tables for a histogram (end-of-block always gets a code).
void table_lengths(const LzHistogram& h, uint8_t* lengths);

class LzBlockCoder {
 public:
  LzBlockCoder();
  // Start of a new (non-solid) stream.
  void reset();
  // Writes a run of tokens, splitting them into blocks. The first block may continue with
  // the tables in force (after a kept-tables end of file or a previous run of tokens).
  void write_tokens(const LzToken* tokens, size_t n, LzBitWriter& out);
  // Ends the file's data: end of block with the control bits, then byte alignment.
  void end_file(bool more_follow, LzBitWriter& out);

  bool tables_in_force() const { return in_force_; }
  // Lengths of the tables in force (or of the last ones written).
  const uint8_t* lengths() const { return lengths_; }

  // Tokens per segment considered for a table change.
  size_t segment_tokens = 2048;

 private:
  void plan_low_codes(const LzToken* t, size_t n, bool after_header, bool allow16, std::vector<int8_t>& codes,
                      uint32_t& prev, uint32_t& reuse) const;
  uint64_t block_cost(const LzHistogram& h, uint8_t* lengths_out) const;
  void write_block(const LzToken* t, size_t n, bool new_header, LzBitWriter& out);
  void write_header(const uint8_t* lengths, LzBitWriter& out);
  void write_symbols(const LzToken* t, size_t n, const std::vector<int8_t>& low_codes, LzBitWriter& out);
  void set_codes();

  uint8_t lengths_[lzf::kTableSymbols];
  uint16_t codes_[lzf::kTableSymbols];
  // The decoder holds tables that the next symbols may use; a new header must then be
  // announced by an end-of-block symbol.
  bool in_force_ = false;
  uint32_t low_prev_ = 0;
  uint32_t low_reuse_ = 0;
};
