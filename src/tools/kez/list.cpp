// kez list: every block of an archive, read by the module's own reader. The archive may
// sit behind a module (an executable with the archive appended).
#include <cinttypes>
#include <cstring>
#include <string>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "platform/text.h"
#include "tools/kez/kez.h"

namespace {

const char kListUsage[] =
    "usage: kez list ARCHIVE\n"
    "\n"
    "Shows the archive flags and, for every block, its kind, unpacked and packed size,\n"
    "method, version, attributes, modification time, flags and name.\n";

std::string flag_words(const std::string& words) { return words.empty() ? "-" : words; }

void add_word(std::string& words, bool on, const char* word) {
  if (!on) return;
  if (!words.empty()) words += ',';
  words += word;
}

std::string archive_flags(uint16_t f) {
  std::string w;
  add_word(w, f & kMainVolume, "volume");
  add_word(w, f & kMainComment, "old-comment");
  add_word(w, f & kMainSolid, "solid");
  add_word(w, f & kMainNewNumbering, "new-numbering");
  add_word(w, f & kMainEncryptedHeaders, "encrypted-headers");
  add_word(w, f & kMainFirstVolume, "first-volume");
  return flag_words(w);
}

std::string entry_flags(const FileHeader& h, bool is_file) {
  uint16_t f = h.block_flags;
  std::string w;
  bool folder = (f & kFileFolderMask) == kFileFolderMask;
  if (is_file) add_word(w, true, folder ? "folder" : "file");
  add_word(w, !folder && (f & kFileSolid), "solid");
  add_word(w, f & kFileEncrypted, "encrypted");
  add_word(w, f & kFileSplitBefore, "continued-from-previous");
  add_word(w, f & kFileSplitAfter, "continued-in-next");
  add_word(w, f & kFileUnicode, "unicode");
  add_word(w, f & kFileLarge, "64-bit");
  return flag_words(w);
}

std::string method_name(uint8_t method) {
  if (method == 0x30) return "stored";
  if (method >= 0x31 && method <= 0x35) return "lz-" + std::to_string(method - 0x30);
  char b[16];
  std::snprintf(b, sizeof(b), "0x%02X", method);
  return b;
}

std::string time_text(const TimeStamp& t) {
  if (!t.present()) return "-";
  char b[48];
  std::snprintf(b, sizeof(b), "%04u-%02u-%02u %02u:%02u:%02u.%07u", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.remainder);
  return b;
}

// Names for display: the Unicode form when there is one, else the OEM name; '/' between
// components.
std::string display_name(const FileHeader& h) {
  std::string name;
  if (h.name_wide[0]) {
    name = wide_to_utf8_string(h.name_wide);
  } else {
    char ansi[kPathSize];
    oem_to_ansi(h.name, ansi);
    WChar wide[kPathSize];
    if (ansi_to_wide(ansi, wide, kPathSize)) name = wide_to_utf8_string(wide);
    else name = ansi;
  }
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

void print_entry(const char* kind, const FileHeader& h, bool is_file) {
  std::printf("%-6s %14" PRIu64 " %14" PRIu64 " %-7s %3u 0x%08X %-27s %-18s %s\n", kind, h.unpacked_size,
              h.packed_size, method_name(h.method).c_str(), h.method_version, h.host_attributes,
              time_text(h.mtime).c_str(), entry_flags(h, is_file).c_str(), display_name(h).c_str());
}

}  // namespace

int command_list(const Args& args) {
  std::string archive;
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kListUsage, stdout);
      return 0;
    }
    if (a.size() > 1 && a[0] == '-') {
      print_error("unknown option " + a + " (try kez list --help)");
      return 2;
    }
    if (!archive.empty()) {
      print_error("give one archive to list");
      return 2;
    }
    archive = a;
  }
  if (archive.empty()) {
    print_error("no archive given (kez list ARCHIVE)");
    return 2;
  }

  static char narrow[kPathSize];
  static WChar wide[kPathSize];
  core_names(archive, narrow, wide);
  reset_exit_status();
  ArchiveReader reader;
  if (!reader.open(narrow, wide)) {
    print_error("cannot open " + archive);
    return 2;
  }
  if (!reader.check_archive(false)) {
    print_error(archive + " is not an archive or is damaged");
    return exit_code() > kExitFatal ? exit_code() : kExitFatal;
  }

  std::printf("Archive: %s\n", archive.c_str());
  std::printf("Signature at offset %" PRId64 "\n", reader.archive_offset);
  std::printf("Archive flags: 0x%04X %s\n", reader.main.block_flags, archive_flags(reader.main.block_flags).c_str());
  if (reader.starts_mid_set) std::printf("Starts inside a volume set\n");
  std::printf("\n%-6s %14s %14s %-7s %3s %-10s %-27s %-18s %s\n", "Kind", "Size", "Packed", "Method", "Ver",
              "Attributes", "Modified", "Flags", "Name");

  uint64_t files = 0, folders = 0, total = 0;
  while (reader.read_header() != 0) {
    switch (reader.current_type) {
      case kBlockFile:
        print_entry(reader.is_folder() ? "folder" : "file", reader.file, true);
        if (reader.is_folder()) folders++;
        else {
          files++;
          total += reader.file.unpacked_size;
        }
        break;
      case kBlockSub:
        print_entry("sub", reader.sub, false);
        break;
      case kBlockEnd:
        std::printf("%-6s flags 0x%04X%s\n", "end", reader.end.block_flags,
                    (reader.end.block_flags & kEndNextVolume) ? " (another volume follows)" : "");
        break;
      default:
        std::printf("%-6s type 0x%02X, %u header bytes, %u data bytes\n", "block", reader.current_type,
                    reader.block.header_length, reader.block.data_size);
        break;
    }
    if (reader.current_type == kBlockEnd) break;
    reader.skip_block();
  }
  std::printf("\n%" PRIu64 " files, %" PRIu64 " folders, %" PRIu64 " bytes\n", files, folders, total);
  std::fflush(stdout);
  return exit_code();
}
