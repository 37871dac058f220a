#include "ui/catalogue.h"

#include <cstring>

#include "crypto/crc32.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/ui.h"

MessageCatalogue message_catalogue;

namespace {

struct TableEntry {
  int id;
  const char* text;
  const char* english;
};

const TableEntry kStringTable[] = {
#define QUILLO_MESSAGE(id, zh, en) {id, zh, en},
#include "ui/messages.def"
#undef QUILLO_MESSAGE
};

const TableEntry* find_entry(int id) {
  for (const TableEntry& e : kStringTable)
    if (e.id == id) return &e;
  return nullptr;
}

constexpr int kBlockReadSize = 65536;
constexpr char kRecordSeparator = 0x0C;

// The marker and the archive signature are kept masked (each byte XOR 0x5A), so that
// the module's own bytes never hold them and the search cannot find the module itself.
constexpr unsigned char kMask = 0x5A;
const unsigned char kMaskedMarker[13] = {'*' ^ kMask, '*' ^ kMask, '*' ^ kMask, 'm' ^ kMask, 'e' ^ kMask,
                                         's' ^ kMask, 's' ^ kMask, 'a' ^ kMask, 'g' ^ kMask, 'e' ^ kMask,
                                         's' ^ kMask, '*' ^ kMask, '*' ^ kMask};
const unsigned char kMaskedSignature[6] = {'K' ^ kMask, 'e' ^ kMask, 'z' ^ kMask, '!' ^ kMask, 0x1A ^ kMask, 0x07 ^ kMask};

bool matches_masked(const unsigned char* p, const unsigned char* masked, int n) {
  for (int i = 0; i < n; i++)
    if ((p[i] ^ kMask) != masked[i]) return false;
  return true;
}

bool at_marker(const unsigned char* p) { return matches_masked(p, kMaskedMarker, 13); }
bool at_signature(const unsigned char* p) { return matches_masked(p, kMaskedSignature, 6); }

}  // namespace

const char* string_table_text(int id) {
  const TableEntry* e = find_entry(id);
  return e ? e->text : nullptr;
}

const char* string_table_english(int id) {
  const TableEntry* e = find_entry(id);
  return e ? e->english : nullptr;
}

void load_message_block(MessageCatalogue& catalogue, const char* file_name) {
  char path[kPathSize];
  if (!std::strchr(file_name, '\\') && !std::strchr(file_name, '/')) {
    char module[kPathSize];
    get_module_path(module, sizeof(module));
    char* slash = std::strrchr(module, '\\');
    if (!slash) slash = std::strrchr(module, '/');
    if (slash) slash[1] = 0; else module[0] = 0;
    copy_bounded(path, module, sizeof(path));
    append_bounded(path, file_name, sizeof(path));
  } else {
    copy_bounded(path, file_name, sizeof(path));
  }

  DiskFile file;
  if (!file.open(path, nullptr)) return;
  unsigned char chunk[8192];
  int64_t block_at = -1;
  for (int pass = 0; pass < 64 && block_at < 0; pass++) {
    int64_t position = file.tell();
    int n = file.read(chunk, sizeof(chunk));
    if (n < 16) break;
    for (int i = 0; i <= n - 16; i++) {
      if (at_marker(chunk + i)) {
        block_at = position + i;
        break;
      }
      if (at_signature(chunk + i)) return;  // the archive comes first: no block
    }
    if (block_at < 0) file.seek(position + n - 16, SeekOrigin::begin);
  }
  if (block_at < 0) return;

  char* block = static_cast<char*>(mem_alloc(kBlockReadSize + 1024));
  if (!block) return;
  file.seek(block_at, SeekOrigin::begin);
  int n = file.read(block, kBlockReadSize);
  if (n < 0) n = 0;
  block[n] = 0;
  int out = 0;
  for (int i = 0; i < n && block[i]; i++) {
    char c = block[i];
    if (c == '\\' && i + 1 < n) {
      char e = block[i + 1];
      char r = 0;
      switch (e) {
        case 'n': r = '\n'; break;
        case 'r': r = '\r'; break;
        case 't': r = '\t'; break;
        case '"': r = '"'; break;
        case '\\': r = '\\'; break;
        default: break;
      }
      if (r) {
        block[out++] = r;
        i++;
        continue;
      }
    }
    block[out++] = (c == '\r' || c == '\n') ? kRecordSeparator : c;
  }
  block[out] = 0;
  catalogue.block = block;
  catalogue.message_block_length = out;

  char direction[kPathSize];
  translate(catalogue, "LTR", direction, sizeof(direction), "LTR", '$');
  catalogue.right_to_left = std::strcmp(direction, "RTL") == 0;
}

void translate(MessageCatalogue& catalogue, const char* text, char* output, int output_size,
               const char* dialog_name, char kind) {
  if (output_size <= 0) return;
  if (catalogue.block) {
    uint32_t crc = 0xFFFFFFFFu;
    crc = crc32_update(crc, &kind, 1);
    if (dialog_name) crc = crc32_update(crc, dialog_name, std::strlen(dialog_name));
    crc = crc32_update(crc, text, std::strlen(text));
    char key[16];
    format_text(key, sizeof(key), "%08x", ~crc);

    const char* p = catalogue.block;
    const char* end = catalogue.block + catalogue.message_block_length;
    while (p < end) {
      if (end - p >= 10 && std::memcmp(p, key, 8) == 0 && p[8] == '=' && p[9] == '"') {
        const char* start = p + 10;
        const char* stop = static_cast<const char*>(std::memchr(start, kRecordSeparator, end - start));
        bool last = stop == nullptr;
        if (last) stop = end;
        size_t len = static_cast<size_t>(stop - start);
        if (last && len > 255) len = 255;
        size_t limit = kind == 's' ? 255 : 1023;
        if (len > limit) len = limit;
        if (len > static_cast<size_t>(output_size - 1)) len = static_cast<size_t>(output_size - 1);
        char result[1024];
        std::memcpy(result, start, len);
        result[len] = 0;
        char* quote = std::strrchr(result, '"');
        if (quote) *quote = 0;
        copy_bounded(output, result, static_cast<size_t>(output_size));
        return;
      }
      const char* sep = static_cast<const char*>(std::memchr(p, kRecordSeparator, end - p));
      if (!sep) break;
      p = sep;
      while (p < end && *p == kRecordSeparator) p++;
    }
  }
  if (output != text) copy_bounded(output, text, static_cast<size_t>(output_size));
}

const char* message_text(int id) {
  static char buffers[8][kMessageSize];
  static int next = 0;
  next = (next + 1) & 7;
  char* b = buffers[next];
  b[0] = 0;
  load_resource_string(id, b, kMessageSize);
  translate(message_catalogue, b, b, kMessageSize, nullptr, 's');
  return b;
}
