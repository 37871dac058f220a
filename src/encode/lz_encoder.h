// The LZ compressor of the packer: produces the compressed-stream format that the
// module's LZ decoder reads (version 29).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class LzEncoder {
 public:
  // level 1 (fastest) .. 5 (smallest).
  explicit LzEncoder(int level);
  ~LzEncoder();
  LzEncoder(const LzEncoder&) = delete;
  LzEncoder& operator=(const LzEncoder&) = delete;

  // Compresses one file and appends the packed bytes to out. With solid, the file
  // continues the stream of the previous call (window, distances, tables); the first
  // call of a stream must not be solid. more_follow tells whether another solid file will
  // continue this stream (it decides the end-of-file control bits).
  void encode_file(const uint8_t* data, size_t size, bool solid, bool more_follow, std::vector<uint8_t>& out);

  // Every parsed stretch is checked against the data before it is written; a stretch that
  // does not reproduce its bytes (a fault of the parser) is written as literals instead.
  // Number of such stretches so far (0 unless something is wrong).
  size_t repaired_stretches() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
