// The PPM compressor of the packer: writes PPM blocks of the compressed-stream format
// (version 29) with the same context model as the module's decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class PpmEncoder {
 public:
  // order: 2 .. 64 context bytes (above 16 rounded down to 16 + a multiple of 3);
  // megabytes: model memory, 1 .. 256. The decoder needs the same memory.
  explicit PpmEncoder(int order = 6, int megabytes = 16);
  ~PpmEncoder();
  PpmEncoder(const PpmEncoder&) = delete;
  PpmEncoder& operator=(const PpmEncoder&) = delete;

  // Compresses one file as one PPM block and appends the packed bytes to out. A
  // non-solid file starts a fresh model, a solid one continues the model of the
  // previous call. more_follow is accepted for symmetry with the LZ compressor: a file
  // after a PPM block always starts with a block header, so it changes nothing.
  void encode_file(const uint8_t* data, size_t size, bool solid, bool more_follow, std::vector<uint8_t>& out);

  // The pieces of a stream, for mixing PPM blocks with LZ blocks.
  // A non-solid file starts: the escape character goes back to 2.
  void start_stream();
  // A block header at the end of out (which must be at a byte boundary of the stream).
  // new_model restarts the model (required for the first block); escape >= 0 replaces
  // the escape character.
  void begin_block(std::vector<uint8_t>& out, bool new_model, int escape = -1);
  // Data bytes: the escape character is coded as an escape sequence; with runs, long
  // runs of one byte become run codes (history: the byte before data, or -1 for none).
  void put(const uint8_t* data, size_t size, bool runs = true, int history = -1);
  // One symbol of the model as it is, for escape sequences of the caller's own.
  void put_symbol(uint8_t symbol);
  // Ends the block: with end_of_file the file's data ends (escape, 2); otherwise
  // another block header must follow (escape, 0). Flushes the range coder.
  void end_block(bool end_of_file);

  int order() const;
  // Model restarts (memory full) since the current model started.
  uint32_t restarts() const;
  uint32_t escape() const;
  // The least frequent byte of data (the lowest one of equal counts).
  static uint8_t rarest_byte(const uint8_t* data, size_t size);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
