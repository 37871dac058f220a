#include "extract/data_pipe.h"

#include <cstring>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "archive/volume.h"
#include "crypto/crc32.h"
#include "platform/memory.h"
#include "ui/ui.h"

DataPipe::DataPipe() { ensure_aes_tables(); }

void DataPipe::set_ends(ArchiveReader* reader, DiskFile* file) {
  if (reader) source = reader;
  if (file) sink = file;
}

void DataPipe::set_decryption(int version, const char* password, const uint8_t* salt, bool newer_scheme) {
  decrypt_version = (password && *password) ? version : 0;
  if (decrypt_version >= 29) set_key_from_password(decryptor, password, salt, newer_scheme);
}

void DataPipe::set_memory_output(uint8_t* buffer, int size) {
  memory_output = true;
  memory_buffer = buffer;
  memory_space = size;
}

void DataPipe::reset_counters() {
  packed_read = 0;
  unpacked_written = 0;
  unpacked_crc = 0xFFFFFFFFu;
  packed_crc = 0xFFFFFFFFu;
}

int DataPipe::read(void* buffer, int count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int total = 0;
  while (count > 0) {
    int n = static_cast<int>(static_cast<uint64_t>(count) < packed_left ? static_cast<uint64_t>(count) : packed_left);
    if (!source || !source->is_open()) return -1;
    int got = n > 0 ? source->read(out + total, n) : 0;
    if (got < 0) return -1;
    const FileHeader* h = crc_header ? crc_header : &source->file;
    if (h->block_flags & kFileSplitAfter) packed_crc = crc32_update(packed_crc, out + total, static_cast<size_t>(got));
    packed_read += static_cast<uint64_t>(got);
    total += got;
    packed_left -= static_cast<uint64_t>(got);
    count -= got;
    if (packed_left == 0 && continues) {
      if (!next_volume(*source, this, volume_command)) {
        volume_missing = true;
        return -1;
      }
      continue;
    }
    break;
  }
  if (progress_enabled && source)
    show_progress(archive_size, static_cast<uint64_t>(source->block_start) + packed_read);
  if (decrypt_version != 0) decrypt_blocks(decryptor, out, (total + 15) & ~15);
  keep_ui_alive();
  return total;
}

void DataPipe::write(const void* data, int count) {
  last_write_data = data;
  last_write_size = count;
  if (memory_output) {
    if (count <= memory_space) {
      std::memcpy(memory_buffer, data, static_cast<size_t>(count));
      memory_buffer += count;
      memory_space -= count;
    }
  } else if (!suppress_output && sink) {
    sink->write(data, count);
  }
  unpacked_written += static_cast<uint64_t>(count);
  if (!suppress_crc) unpacked_crc = crc32_update(unpacked_crc, data, static_cast<size_t>(count));
  keep_ui_alive();
}

void DataPipe::copy_stored(uint64_t size) {
  constexpr int kBlock = 65536;
  uint8_t* buffer = static_cast<uint8_t*>(mem_alloc_or_die(kBlock));
  uint64_t left = size;
  for (;;) {
    int n = read(buffer, kBlock);
    if (n <= 0) break;
    uint64_t w = static_cast<uint64_t>(n) < left ? static_cast<uint64_t>(n) : left;
    write(buffer, static_cast<int>(w));
    left -= w;
  }
  mem_free(buffer);
}
