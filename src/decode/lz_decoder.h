// The LZ decoder of the compressed-stream format (versions 29 and 36): Huffman-coded
// LZ77 over a 4 MB window, with PPM blocks and filter records.
#pragma once

#include "platform/types.h"

class DataPipe;

class LzDecoder {
 public:
  explicit LzDecoder(DataPipe* pipe);
  ~LzDecoder();
  LzDecoder(const LzDecoder&) = delete;
  LzDecoder& operator=(const LzDecoder&) = delete;

  // Allocates the window (out of memory is fatal) and resets the stream state. The
  // window, the input buffer and the filter machine start out zero, also when this is
  // called again.
  void set_window();
  // Decodes one file; solid continues the previous file's stream. Other versions than
  // 29 and 36 do nothing.
  void decode_file(int version, bool solid);

  int64_t expected_size = 0;  // bytes the current file must produce; set before each file
  int64_t produced_size = 0;

 private:
  struct State;
  State* state_ = nullptr;
  DataPipe* pipe_;
};
