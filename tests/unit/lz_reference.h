// A plain, literal LZ decoder for comparison with the fast one: a bit reader with a
// 3-byte peek, the comparison-tree symbol decoder, byte-by-byte match copies, and
// filter records run in a plain filter machine (lz_reference_vm.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decode/ppm_decoder.h"

class DataPipe;

namespace lzref {

class Vm;
struct Record;

struct Table {
  uint32_t symbol_count = 0;
  uint32_t length_limits[16] = {};
  uint32_t first_index[16] = {};
  uint32_t symbols_by_code[299] = {};
};

void build_table(const uint8_t* lengths, int n, Table& t);

struct Reader {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(32768 + 128, 0);
  int32_t byte_pos = 0;
  int32_t bit_pos = 0;
  uint32_t peek16() const;
  void skip_bits(int n);
  uint32_t read_bits(int k);
};

// Decodes and consumes one code with the fixed comparison tree.
uint32_t decode_symbol(Reader& in, const Table& t);

class Decoder {
 public:
  explicit Decoder(DataPipe* pipe);
  ~Decoder();
  void set_window();
  void decode_file(int version, bool solid);

  int64_t expected_size = 0;
  int64_t produced_size = 0;

  // State after the last file, for inspection.
  uint32_t out_pos = 0;
  uint32_t flushed_pos = 0;
  uint32_t recent_dists[4] = {};
  uint32_t repeat_dist = 0, repeat_len = 0;
  uint32_t low_bits_prev = 0, low_bits_reuse = 0;
  bool have_tables = false;
  bool ppm_block = false;

 private:
  void reset_stream_state(bool solid);
  bool refill_buffer();
  bool read_block_header();
  bool copy_match(uint32_t len, uint32_t dist);
  void flush_window();
  void emit_range(uint32_t from, uint32_t to);
  void emit_bytes(const uint8_t* bytes, uint32_t n);
  bool read_filter_record();
  bool add_filter(uint32_t first, const std::vector<uint8_t>& body);
  void reset_filters();

  DataPipe* pipe_;
  Reader in_;
  int32_t data_end_ = 0, refill_mark_ = 0;
  std::vector<uint8_t> window_;
  Table precode_, literal_, distance_, low_distance_, repeat_length_;
  uint8_t prev_lengths_[404] = {};

  // Filters: the machine from the first record on, stored filters, pending invocations
  // (null once run), last block length per stored filter, last filter number.
  std::unique_ptr<Vm> vm_;
  std::unique_ptr<Reader> body_;
  std::vector<std::unique_ptr<Record>> filters_;
  std::vector<std::unique_ptr<Record>> pending_;
  std::vector<uint32_t> last_lengths_;
  uint32_t current_filter_ = 0;
  // PPM blocks: the module's PPM decoder; the reference only frames them.
  PpmDecoder ppm_;
  uint32_t ppm_escape_ = 2;
  bool ppm_step(bool* stop);
};

}  // namespace lzref
