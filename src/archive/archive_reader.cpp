// The archive reader: finds the signature, walks the blocks, checks header CRCs,
// decrypts encrypted headers, decodes names and reads the data of small sub-blocks.
#include "archive/archive_reader.h"

#include <cstring>

#include "app/report.h"
#include "crypto/crc32.h"
#include "decode/lz_decoder.h"
#include "extract/extraction.h"
#include "platform/text.h"
#include "ui/catalogue.h"
#include "ui/ui.h"

namespace {

constexpr int kSignatureSearchLength = 524272;

// The signature is never kept as one run of bytes: each byte is compared with its own
// constant, so the module's code and data cannot be taken for an archive start.
bool is_signature(const uint8_t* p) {
  if (p[0] != 0x4B) return false;
  if (p[3] != 0x21) return false;
  if (p[1] != 0x65) return false;
  if (p[5] != 0x07) return false;
  if (p[2] != 0x7A) return false;
  if (p[6] != 0x00) return false;
  return p[4] == 0x1A;
}

// Reads little-endian fields; everything past the bytes held reads as zero.
struct ByteCursor {
  const uint8_t* data;
  uint32_t size;
  uint32_t pos;

  uint8_t u8() {
    uint8_t v = pos < size ? data[pos] : 0;
    pos++;
    return v;
  }
  uint16_t u16() {
    uint16_t lo = u8();
    return static_cast<uint16_t>(lo | (u8() << 8));
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (static_cast<uint32_t>(u16()) << 16);
  }
  void bytes(uint8_t* out, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) out[i] = u8();
  }
};

uint16_t header_crc(const uint8_t* bytes, uint32_t end) {
  if (end <= 2) return static_cast<uint16_t>(~0xFFFFFFFFu);
  return static_cast<uint16_t>(~crc32_update(0xFFFFFFFFu, bytes + 2, end - 2));
}

void read_time_remainder(ByteCursor& c, uint32_t group, TimeStamp& t) {
  if (group & 4) t.second++;
  uint32_t count = group & 3;
  uint32_t remainder = 0;
  for (uint32_t k = 0; k < count; k++) remainder |= static_cast<uint32_t>(c.u8()) << (8 * (k + 3 - count));
  t.remainder = remainder;
}

void read_extended_times(ByteCursor& c, FileHeader& h) {
  uint16_t flags = c.u16();
  TimeStamp* times[4] = {&h.mtime, &h.ctime, &h.atime, &h.archived_time};
  for (int i = 0; i < 4; i++) {
    uint32_t group = (flags >> (12 - 4 * i)) & 0x0F;
    TimeStamp& t = *times[i];
    if (!(group & 8)) {
      if (i > 0) t.clear();
      continue;
    }
    if (i == 0) from_dos_time(h.dos_mtime, t);
    else from_dos_time(c.u32(), t);
    read_time_remainder(c, group, t);
  }
}

// "/" becomes "\"; in the narrow name the trail byte of a double-byte character stays.
void to_backslashes(char* name) {
  for (char* p = name; *p;) {
    if (*p == '/') *p = '\\';
    if (multibyte_code_page()) p = next_char(p);
    else p++;
  }
}

void to_backslashes(WChar* name) {
  for (; *name; name++)
    if (*name == '/') *name = '\\';
}

}  // namespace

void decode_unicode_name(const uint8_t* encoded, uint32_t n, const uint8_t* narrow, uint32_t narrow_size,
                         WChar* out) {
  auto at = [&](uint32_t i) -> uint32_t { return i < n ? encoded[i] : 0; };
  auto narrow_at = [&](uint32_t j) -> uint32_t { return j < narrow_size ? narrow[j] : 0; };
  const uint32_t limit = kPathSize;
  uint32_t high = at(0);
  uint32_t i = 1, j = 0;
  uint32_t flags = 0;
  int flag_bits = 0;
  while (i < n && j < limit) {
    if (flag_bits == 0) {
      flags = at(i++);
      flag_bits = 8;
    }
    switch (flags >> 6) {
      case 0:
        out[j++] = static_cast<WChar>(at(i++));
        break;
      case 1:
        out[j++] = static_cast<WChar>(at(i++) + (high << 8));
        break;
      case 2:
        out[j++] = static_cast<WChar>(at(i) + (at(i + 1) << 8));
        i += 2;
        break;
      default: {
        uint32_t length = at(i++);
        if (length & 0x80) {
          uint32_t correction = at(i++);
          for (length = (length & 0x7F) + 2; length > 0 && j < limit; length--, j++)
            out[j] = static_cast<WChar>(((narrow_at(j) + correction) & 0xFF) + (high << 8));
        } else {
          for (length += 2; length > 0 && j < limit; length--, j++) out[j] = static_cast<WChar>(narrow_at(j));
        }
        break;
      }
    }
    flags = (flags << 2) & 0xFF;
    flag_bits -= 2;
  }
  out[j < limit ? j : limit - 1] = 0;
}

ArchiveReader::ArchiveReader(ExtractionJob* job_in) : job(job_in) {
  if (!job) {
    own_job = new ExtractionJob;
    job = own_job;
  }
  main.block_kind = kBlockMain;
  main.header_length = 13;
}

ArchiveReader::~ArchiveReader() {
  close();
  delete own_job;
}

bool ArchiveReader::open_archive(const char* name, const WChar* wide) {
  if (!open(name, wide)) {
    log_error(message_text(120));
    return false;
  }
  if (!check_archive(false)) {
    log_error(message_text(120));
    close();
    return false;
  }
  return true;
}

void ArchiveReader::open_or_stop(bool tolerate) {
  if (check_archive(tolerate)) return;
  log_error(message_text(120));
  fatal_error(kExitFatal);
}

bool ArchiveReader::check_archive(bool tolerate) {
  crc32_fill_table();
  int64_t start = tell();
  if (read(signature_buffer, kSignatureSize) != kSignatureSize) return false;
  if (is_signature(signature_buffer)) {
    archive_offset = start;
  } else {
    uint8_t* scan = static_cast<uint8_t*>(mem_alloc(kMaxSignatureSearch));
    if (!scan) report_memory_error();
    int n = read(scan, kSignatureSearchLength);
    int found = -1;
    for (int i = 0; i + kSignatureSize <= n; i++) {
      if (scan[i] == 0x4B && is_signature(scan + i)) {
        found = i;
        break;
      }
    }
    mem_free(scan);
    if (found < 0) return false;
    archive_offset = start + kSignatureSize + found;
    seek(archive_offset, SeekOrigin::begin);
    if (read(signature_buffer, kSignatureSize) != kSignatureSize) return false;
  }

  // Flags that steer read_header must describe this archive before its main header.
  encrypted_headers = false;
  next_block = archive_offset + kSignatureSize;
  if (read_header() == 0 || current_type != kBlockMain) return false;
  skip_block();
  if (computed_header_crc != main.crc16) {
    log_error(message_text(124));
    if (!tolerate) return false;
  }

  uint16_t flags = main.block_flags;
  is_volume = (flags & kMainVolume) != 0;
  is_solid = (flags & kMainSolid) != 0;
  has_comment = (flags & kMainComment) != 0;
  encrypted_headers = (flags & kMainEncryptedHeaders) != 0;

  if (main.crypt_version > 36) {
    raise_exit_code(kExitWarning);
    return false;
  }
  starts_mid_set = encrypted_headers && !(flags & kMainFirstVolume);

  if (!encrypted_headers) {
    int64_t position = tell();
    int64_t saved_start = block_start, saved_next = next_block;
    uint8_t saved_type = current_type;
    bool saved_broken = broken_header;
    starts_mid_set = false;
    // The look-ahead is quiet: a damaged header is reported once, when it is read for real.
    quiet_ = true;
    while (read_header() != 0) {
      if (current_type == kBlockSub) {
        if (std::strcmp(sub.name, "CMT") == 0) has_comment = true;
        if ((sub.block_flags & kFileSplitBefore) || (is_volume && !(flags & kMainFirstVolume))) starts_mid_set = true;
        skip_block();
        continue;
      }
      if (current_type == kBlockFile) {
        if ((file.block_flags & kFileSplitBefore) ||
            (is_volume && file.method_version >= 29 && !(flags & kMainFirstVolume)))
          starts_mid_set = true;
      }
      break;
    }
    quiet_ = false;
    broken_header = saved_broken;
    block_start = saved_start;
    next_block = saved_next;
    current_type = saved_type;
    if (is_open()) seek(position, SeekOrigin::begin);
  }

  if (!is_volume || (flags & kMainFirstVolume)) {
    copy_bounded(set_first_name, narrow_name, sizeof(set_first_name));
    wide_copy_bounded(set_first_name_wide, wide_name, kPathSize - 1);
    set_first_name_wide[kPathSize - 1] = 0;
  }
  return true;
}

// Plain headers come straight from the file; encrypted ones in whole 16-byte blocks, the
// surplus of one request being the start of the next.
int ArchiveReader::read_header_bytes(uint8_t* out, int count) {
  if (!decrypting_) {
    int n = read(out, count);
    return n < 0 ? 0 : n;
  }
  int done = 0;
  while (done < count) {
    if (plain_left_ > 0) {
      int take = count - done < plain_left_ ? count - done : plain_left_;
      std::memcpy(out + done, plain_ + 16 - plain_left_, static_cast<size_t>(take));
      plain_left_ -= take;
      done += take;
      continue;
    }
    if (read(plain_, 16) != 16) break;
    decrypt_blocks(header_decryptor, plain_, 16);
    plain_left_ = 16;
  }
  return done;
}

void ArchiveReader::header_log(const char* format, const char* argument) {
  if (!quiet_) log_error(format, argument);
}

void ArchiveReader::header_raise(int code) {
  if (!quiet_) raise_exit_code(code);
}

int ArchiveReader::read_header() {
  if (!is_open()) return 0;
  block_start = tell();
  decrypting_ = encrypted_headers && block_start >= archive_offset + 20;
  plain_left_ = 0;
  if (decrypting_) {
    if (read(header_salt, 8) != 8) return 0;
    if (!job->password[0] && !ask_password(2, narrow_name, job->password, kPasswordSize)) {
      close();
      fatal_error(kExitUserBreak);
    }
    set_key_from_password(header_decryptor, job->password, header_salt, main.crypt_version >= 36);
  }

  header_bytes_.resize(0);
  header_bytes_.resize(7);
  uint8_t* bytes = header_bytes_.items;
  std::memset(bytes, 0, 7);
  int got = read_header_bytes(bytes, 7);
  if (got == 0) {
    int64_t size = length();
    if (block_start > size || next_block > size) {
      header_log(message_text(103));
      header_raise(kExitWarning);
    }
    return 0;
  }

  ByteCursor c{bytes, static_cast<uint32_t>(got), 0};
  block.crc16 = c.u16();
  block.block_kind = c.u8();
  block.block_flags = c.u16();
  block.header_length = c.u16();
  block.data_size = 0;
  if (block.header_length < 7) {
    header_log(message_text(104), "???");
    broken_header = true;
    header_raise(kExitCrc);
    return 0;
  }

  uint32_t rest = block.header_length - 7u;
  if (block.block_kind == kBlockOldComment || (block.block_kind == kBlockMain && (block.block_flags & kMainComment)))
    rest = 6;
  header_bytes_.resize(7 + rest);
  bytes = header_bytes_.items;
  std::memset(bytes + 7, 0, rest);
  uint32_t read_size = static_cast<uint32_t>(got);
  if (got == 7 && rest > 0) read_size += static_cast<uint32_t>(read_header_bytes(bytes + 7, static_cast<int>(rest)));

  uint64_t next = static_cast<uint64_t>(block_start) + block.header_length;
  c = ByteCursor{bytes, read_size, 7};

  switch (block.block_kind) {
    case kBlockMain:
      static_cast<BlockHeader&>(main) = block;
      main.auth_pos_hi = c.u16();
      main.auth_pos = c.u32();
      main.crypt_version = (block.block_flags & kMainCryptVersion) ? c.u8() : 0;
      break;
    case kBlockFile:
    case kBlockSub: {
      bool is_sub = block.block_kind == kBlockSub;
      FileHeader& h = is_sub ? sub : file;
      parse_file_header(h, read_size, is_sub);
      next += h.packed_size;
      break;
    }
    case kBlockEnd:
      static_cast<BlockHeader&>(end) = block;
      end.archive_crc = (block.block_flags & kEndArchiveCrc) ? c.u32() : 0;
      end.volume_index = (block.block_flags & kEndVolumeIndex) ? c.u16() : 0;
      break;
    default:
      if (block.block_flags & kLongBlock) {
        block.data_size = c.u32();
        next += block.data_size;
      }
      break;
  }

  computed_header_crc = header_crc(bytes, read_size);
  current_type = block.block_kind;

  if (decrypting_) {
    next += 8 + ((16 - block.header_length % 16) % 16);
    if (computed_header_crc != block.crc16) {
      bool zero_tail = true;
      for (int i = 9; i < 16; i++) zero_tail = zero_tail && plain_[i] == 0;
      if (!(block.block_kind == kBlockEnd && (block.block_flags & kEndRevSpace) && zero_tail)) {
        header_log(message_text(112), narrow_name);
        close();
        broken_header = true;
        header_raise(kExitCrc);
        return 0;
      }
    }
  }

  // Sizes near 2^64 wrap around: the position then fails to advance, as it must.
  next_block = static_cast<int64_t>(next);
  if (next > static_cast<uint64_t>(INT64_MAX) || next_block <= block_start) {
    header_log(message_text(104), "???");
    broken_header = true;
    header_raise(kExitCrc);
    return 0;
  }
  return static_cast<int>(read_size);
}

void ArchiveReader::parse_file_header(FileHeader& h, uint32_t read_size, bool is_sub) {
  const uint8_t* bytes = header_bytes_.items;
  ByteCursor c{bytes, read_size, 7};
  static_cast<BlockHeader&>(h) = block;
  h.packed_lo = c.u32();
  h.size_lo = c.u32();
  h.origin_os = c.u8();
  h.data_crc = c.u32();
  h.dos_mtime = c.u32();
  h.method_version = c.u8();
  h.method = c.u8();
  h.name_length = c.u16();
  h.host_attributes = c.u32();
  if (h.block_flags & kFileLarge) {
    h.packed_hi = c.u32();
    h.size_hi = c.u32();
  } else {
    h.packed_hi = 0;
    h.size_hi = 0;
    if (h.size_lo == 0xFFFFFFFFu) {
      h.size_lo = 0;
      h.size_hi = 0x7FFFFFFF;
    }
  }
  h.packed_size = (static_cast<uint64_t>(h.packed_hi) << 32) | h.packed_lo;
  h.unpacked_size = (static_cast<uint64_t>(h.size_hi) << 32) | h.size_lo;

  // The name field, zero-filled where the header ends early.
  uint32_t field_length = h.name_length;
  uint32_t name_at = c.pos;
  const uint8_t* field = name_at < read_size ? bytes + name_at : nullptr;
  uint32_t field_held = field ? (read_size - name_at < field_length ? read_size - name_at : field_length) : 0;
  read_name(h, field, field_held, is_sub);
  c.pos += field_length;

  h.block_data.resize(0);
  if (is_sub) {
    int data_size = static_cast<int>(h.header_length) - static_cast<int>(h.name_length) - 32;
    if (h.block_flags & kFileSalt) data_size -= 8;
    if (data_size > 0) {
      h.block_data.resize(static_cast<uint32_t>(data_size));
      c.bytes(h.block_data.items, static_cast<uint32_t>(data_size));
    }
  }
  if (h.block_flags & kFileSalt) c.bytes(h.salt, 8);
  else std::memset(h.salt, 0, sizeof(h.salt));

  from_dos_time(h.dos_mtime, h.mtime);
  if (h.block_flags & kFileExtTime) {
    read_extended_times(c, h);
  } else {
    h.ctime.clear();
    h.atime.clear();
    h.archived_time.clear();
  }

  // The header CRC: with an old-style comment inside, only up to the parsed fields.
  uint32_t covered = read_size;
  if ((h.block_flags & kFileComment) && c.pos < covered) covered = c.pos;
  uint16_t crc = header_crc(bytes, covered);
  if (crc != h.crc16) {
    if (is_sub) append_bounded(h.name, "- ???", sizeof(h.name));
    broken_header = true;
    header_raise(kExitWarning);
    header_log(message_text(104), oem_to_ansi_for_display(h.name));
  }
}

void ArchiveReader::read_name(FileHeader& h, const uint8_t* field, uint32_t held, bool is_sub) {
  // Up to 4095 bytes of the field, terminated.
  static uint8_t buffer[4096];
  uint32_t length = h.name_length < 4095 ? h.name_length : 4095;
  std::memset(buffer, 0, length + 1);
  if (field) std::memcpy(buffer, field, held < length ? held : length);
  uint32_t text_length = static_cast<uint32_t>(std::strlen(reinterpret_cast<char*>(buffer)));
  uint32_t cut = text_length < kPathSize - 1 ? text_length : kPathSize - 1;
  std::memcpy(h.name, buffer, cut);
  h.name[cut] = 0;
  h.name_wide[0] = 0;
  if (is_sub) return;

  if (h.block_flags & kFileUnicode) {
    if (text_length == h.name_length) {
      utf8_to_wide(reinterpret_cast<char*>(buffer), h.name_wide, kPathSize);
      char ansi[kPathSize];
      wide_to_ansi(h.name_wide, ansi, sizeof(ansi));
      ansi[kPathSize - 1] = 0;
      ansi_to_oem(ansi, h.name);
    } else {
      uint32_t encoded_at = text_length + 1;
      uint32_t encoded_length = length > encoded_at ? length - encoded_at : 0;
      decode_unicode_name(buffer + encoded_at, encoded_length, buffer, length + 1, h.name_wide);
    }
    if (h.name_wide[0] == 0) h.block_flags &= static_cast<uint16_t>(~kFileUnicode);
  }

  if (h.method_version < 20 && (h.host_attributes & kAttrDirectory)) h.block_flags |= kFileFolderMask;
  if (h.origin_os > 5) h.host_attributes = ((h.block_flags & kFileFolderMask) == kFileFolderMask) ? 0x10 : 0x20;
  to_backslashes(h.name);
  to_backslashes(h.name_wide);
}

void ArchiveReader::skip_block() { seek(next_block, SeekOrigin::begin); }

int ArchiveReader::find_block(uint8_t type) {
  for (uint32_t count = 1;; count++) {
    int size = read_header();
    if (size == 0) return 0;
    if (current_type == type) return size;
    if (current_type == kBlockEnd) return 0;
    skip_block();
    if ((count & 127) == 0) keep_ui_alive();
  }
}

int ArchiveReader::find_sub_block(const char* name) {
  for (uint32_t count = 1;; count++) {
    int size = read_header();
    if (size == 0 || current_type == kBlockEnd) return 0;
    if (current_type == kBlockSub && std::strcmp(sub.name, name) == 0) return size;
    skip_block();
    if ((count & 127) == 0) keep_ui_alive();
  }
}

bool ArchiveReader::read_sub_block_data(GrowArray<uint8_t>* buffer, DiskFile* target) {
  if (computed_header_crc != sub.crc16) {
    log_error(message_text(1135));
    raise_exit_code(kExitCrc);
    return false;
  }
  if (sub.method < 0x30 || sub.method > 0x35 || sub.method_version > 36) {
    log_error(message_text(1136));
    return false;
  }
  if (buffer) buffer->resize(0);
  if (sub.packed_lo == 0 && !(sub.block_flags & kFileSplitAfter)) return true;
  // A memory buffer is an int-sized pipe output.
  if (!target && (!buffer || sub.size_lo > 0x7FFFFFF0u)) return false;

  bool encrypted = (sub.block_flags & kFileEncrypted) != 0;
  if (encrypted && !job->password[0]) return false;

  seek(next_block - static_cast<int64_t>(sub.packed_size), SeekOrigin::begin);
  pipe.set_ends(this, target);
  pipe.reset_counters();
  pipe.crc_header = &sub;
  pipe.packed_left = sub.packed_lo;
  pipe.continues = (sub.block_flags & kFileSplitAfter) != 0;
  pipe.archive_size = static_cast<uint64_t>(length());
  pipe.suppress_output = false;
  pipe.suppress_crc = false;
  pipe.memory_output = false;
  if (!target) {
    buffer->resize(sub.size_lo);
    pipe.set_memory_output(buffer->items, static_cast<int>(sub.size_lo));
  }
  pipe.set_decryption(encrypted ? sub.method_version : 0, encrypted ? job->password : nullptr,
                      (sub.block_flags & kFileSalt) ? sub.salt : nullptr, sub.method_version >= 36);

  if (sub.method == 0x30) {
    pipe.copy_stored(sub.size_lo);
  } else {
    LzDecoder decoder(&pipe);
    decoder.set_window();
    decoder.expected_size = sub.size_lo;
    decoder.decode_file(sub.method_version, false);
  }
  uint64_t written = pipe.unpacked_written;
  uint32_t crc = ~pipe.unpacked_crc;
  pipe.memory_output = false;
  pipe.memory_buffer = nullptr;
  pipe.memory_space = 0;
  pipe.decrypt_version = 0;
  pipe.crc_header = nullptr;
  if (!target) pipe.sink = nullptr;

  if (crc != sub.data_crc) {
    log_error(message_text(1137), sub.name);
    raise_exit_code(kExitCrc);
    if (buffer) buffer->release();
    return false;
  }
  if (buffer && written < buffer->count) buffer->resize(static_cast<uint32_t>(written));
  return true;
}

bool ArchiveReader::is_folder() const { return (file.block_flags & kFileFolderMask) == kFileFolderMask; }

bool ArchiveReader::is_volume_label() const { return file.origin_os <= 2 && (file.host_attributes & 0x08); }

void ArchiveReader::normalize_attributes() {
  if (file.origin_os >= 3) file.host_attributes = is_folder() ? 0x10 : 0x20;
}
