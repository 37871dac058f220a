#include "decode/bit_reader.h"

#include "platform/memory.h"

BitReader::BitReader() {
  buffer = static_cast<uint8_t*>(mem_alloc_or_die(kBufferSize + kSlack));
  std::memset(buffer, 0, kBufferSize + kSlack);
}

BitReader::~BitReader() { mem_free(buffer); }
