// The data pipe between the archive and the decoders: packed bytes in (from the
// reader's file, across volumes, decrypted), unpacked bytes out (to a file or memory),
// with the CRC-32 of what went out.
#pragma once

#include "crypto/aes.h"
#include "platform/types.h"

class ArchiveReader;
class DiskFile;
struct FileHeader;

class DataPipe {
 public:
  DataPipe();
  virtual ~DataPipe() = default;
  DataPipe(const DataPipe&) = delete;
  DataPipe& operator=(const DataPipe&) = delete;

  // A null argument leaves that end unchanged.
  void set_ends(ArchiveReader* reader, DiskFile* file);
  void set_decryption(int version, const char* password, const uint8_t* salt, bool newer_scheme);
  void set_memory_output(uint8_t* buffer, int size);
  // Per entry: byte counters 0, both CRCs 0xFFFFFFFF.
  void reset_counters();

  // Packed bytes: count placed, 0 at the end of the entry's data, -1 when the source is
  // closed or a needed volume is missing. Callers ask for multiples of 16 and leave room
  // for the rounding of decryption.
  virtual int read(void* buffer, int count);
  // Unpacked bytes.
  virtual void write(const void* data, int count);
  void copy_stored(uint64_t size);

  ArchiveReader* source = nullptr;
  DiskFile* sink = nullptr;
  FileHeader* crc_header = nullptr;
  uint64_t packed_left = 0;
  uint64_t packed_read = 0;
  uint64_t unpacked_written = 0;
  uint32_t unpacked_crc = 0xFFFFFFFFu;
  uint32_t packed_crc = 0xFFFFFFFFu;
  BlockDecryptor decryptor;
  int decrypt_version = 0;
  bool suppress_output = false;
  bool suppress_crc = false;
  bool progress_enabled = true;
  bool memory_output = false;
  uint8_t* memory_buffer = nullptr;
  int memory_space = 0;
  bool continues = false;
  bool volume_missing = false;
  char volume_command = 'X';
  uint64_t archive_size = 0;
  const void* last_write_data = nullptr;
  int last_write_size = 0;
};
