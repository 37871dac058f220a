// The archive comment: the installation script of the module. Only the "CMT" sub-block
// is decoded; a comment kept inside the main header (the older kind) yields no text.
#include "archive/comment.h"

#include <cstring>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "crypto/crc32.h"
#include "platform/text.h"

namespace {

// The current sub-block is the "CMT" block: its text, and the text's length (0 on failure).
int read_cmt(ArchiveReader& reader, GrowArray<uint8_t>& buffer) {
  if (!reader.read_sub_block_data(&buffer, nullptr)) return 0;
  if (!(reader.sub.host_attributes & 0x01)) return static_cast<int>(buffer.count);

  // UTF-16 text: into the ANSI code page, up to its first zero.
  uint32_t units = buffer.count / 2;
  WChar* wide = static_cast<WChar*>(mem_alloc_or_die((static_cast<size_t>(units) + 1) * sizeof(WChar)));
  for (uint32_t i = 0; i < units; i++)
    wide[i] = static_cast<WChar>(buffer.items[2 * i] | (buffer.items[2 * i + 1] << 8));
  wide[units] = 0;
  uint32_t capacity = 4 * units + 1;
  char* text = static_cast<char*>(mem_alloc_or_die(capacity));
  text[0] = 0;
  wide_to_ansi(wide, text, static_cast<int>(capacity));
  text[capacity - 1] = 0;
  uint32_t length = static_cast<uint32_t>(std::strlen(text));
  buffer.resize(0);
  buffer.append(reinterpret_cast<uint8_t*>(text), length);
  mem_free(text);
  mem_free(wide);
  return static_cast<int>(length);
}

}  // namespace

bool read_comment(ArchiveReader& reader, GrowArray<uint8_t>& buffer) {
  if (!reader.has_comment) return false;
  FilePositionKeeper keep(reader);
  if (reader.main.block_flags & kMainComment) {
    reader.seek(reader.archive_offset + 20, SeekOrigin::begin);
    reader.read_header();
    buffer.resize(0);
    return false;
  }
  reader.seek(reader.archive_offset + kSignatureSize + reader.main.header_length, SeekOrigin::begin);
  if (reader.find_sub_block("CMT") == 0) return false;
  return read_cmt(reader, buffer) > 0;
}

void read_script_comment(const char* module_path, char** text_out, int* size_out) {
  reset_exit_status();
  crc32_fill_table();
  ArchiveReader reader;
  if (!reader.open_archive(module_path, nullptr)) return;
  GrowArray<uint8_t> buffer;
  if (!read_comment(reader, buffer)) return;
  char* text = static_cast<char*>(mem_alloc_or_die(buffer.count + 1));
  std::memcpy(text, buffer.items, buffer.count);
  text[buffer.count] = 0;
  *text_out = text;
  *size_out = static_cast<int>(buffer.count);
}
