// Internal state of the LZ decoder, shared by its parts: the main loop and output
// window (lz_decoder.cpp), block headers (lz_header.cpp), PPM blocks and filters.
#pragma once

#include "decode/bit_reader.h"
#include "decode/filter_vm.h"
#include "decode/huffman.h"
#include "decode/lz_decoder.h"
#include "decode/ppm_decoder.h"
#include "platform/memory.h"
#include "platform/types.h"

constexpr uint32_t kWindowSize = 0x400000;  // 4 MB
constexpr uint32_t kWindowMask = kWindowSize - 1;
constexpr int kTableLengths = 404;  // literal/length 299, distance 60, low distance 17, repeat length 28
constexpr int kLiteralSymbols = 299;
constexpr int kDistanceSymbols = 60;
constexpr int kLowDistanceSymbols = 17;
constexpr int kRepeatLengthSymbols = 28;
constexpr int kPrecodeSymbols = 20;
// A flush is due when fewer than this many bytes separate the write position from
// unwritten output ahead of it (the longest LZ match is 260 bytes).
constexpr uint32_t kFlushMargin = 260;

// Lookup widths of the tables: wide enough for the usual short codes, small enough to
// build quickly for every block.
constexpr int kPrecodeQuickBits = 7;
constexpr int kLiteralQuickBits = 11;
constexpr int kDistanceQuickBits = 9;
constexpr int kLowDistanceQuickBits = 7;
constexpr int kRepeatLengthQuickBits = 7;

enum class BlockType : uint8_t { kLz, kPpm };

// A queued filter invocation; the flush sees its block_start, block_length and skip_once.
using PendingFilter = FilterRecord;

struct LzDecoder::State {
  State(LzDecoder& owner, DataPipe* pipe);
  ~State();

  LzDecoder& owner;
  DataPipe* pipe;

  // Packed input of the current file.
  BitReader input;
  int32_t data_end = 0;     // valid bytes in input.buffer
  int32_t refill_mark = 0;  // data_end - 30

  // Output window.
  uint8_t* window = nullptr;
  uint32_t out_pos = 0;      // where the next byte goes (always < kWindowSize)
  uint32_t flushed_pos = 0;  // first byte not yet passed on

  uint32_t recent_dists[4] = {};
  uint32_t repeat_dist = 0;
  uint32_t repeat_len = 0;
  uint32_t low_bits_prev = 0;
  uint32_t low_bits_reuse = 0;

  HuffTable precode;
  HuffTable literal;
  HuffTable distance;
  HuffTable low_distance;
  HuffTable repeat_length;
  uint8_t prev_lengths[kTableLengths] = {};
  bool have_tables = false;
  BlockType block_type = BlockType::kLz;
  uint32_t ppm_escape = 2;
  // PPM blocks: the model and its arena live on across blocks and files.
  PpmDecoder ppm;

  // Filter invocations in order of arrival; empty slots are null.
  GrowArray<PendingFilter*> pending;

  void reset_stream_state(bool solid);
  void decode_file(bool solid);
  bool refill_buffer();
  bool read_block_header();
  void flush_window();
  void emit_range(uint32_t from, uint32_t to);
  void emit_bytes(const uint8_t* bytes, uint32_t n);

  // Result of a stretch of the main loop.
  enum Outcome { kLeave, kComplete, kSwitch };
  Outcome run_lz();
  Outcome run_ppm();
  // Copies a match, flushing first when it would reach unwritten output; false when
  // that flush found the file complete.
  bool copy_match(uint32_t len, uint32_t dist);

  // PPM blocks and filter records.
  bool ppm_start_block();
  int ppm_decode_byte();
  bool read_filter_record_lz();
  bool read_filter_record_ppm();
  void reset_filters();

  // Filters (lz_filter_records.cpp): the machine, whose memory is allocated at the first
  // record; the stored filters by number, the block length of each one's last use and
  // the number of the filter used last.
  FilterVm vm;
  GrowArray<FilterRecord*> filters;
  GrowArray<uint32_t> last_span_lengths;
  uint32_t current_filter = 0;
  // Parses a record body (flags in first_byte) and queues its invocation.
  bool add_filter(uint32_t first_byte, const uint8_t* bytes, uint32_t count);
  // Runs the pending invocation at index k, whose block [start, start + length) is fully
  // decoded, and the invocations chained to it; removes them from the list and returns
  // the final result.
  void run_filters(uint32_t k, uint32_t start, uint32_t length, const uint8_t** result, uint32_t* result_size);
};
