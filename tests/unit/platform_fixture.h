// Helpers of the platform tests: a scratch folder under the system's temporary folder,
// whole-file reads and writes, name conversions, and a double-byte code page.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "platform/file.h"
#include "platform/scan.h"
#include "platform/system.h"
#include "platform/text.h"

namespace platform_test {

inline std::u16string wide_of(const char* ansi) {
  WChar w[kPathSize];
  if (!ansi_to_wide(ansi, w, kPathSize)) w[0] = 0;
  return std::u16string(w);
}

inline std::string ansi_of(const std::u16string& wide) {
  char a[kPathSize * 3];
  if (!wide_to_ansi(wide.c_str(), a, sizeof(a))) a[0] = 0;
  return std::string(a);
}

// Removes a file or a folder with everything in it (names as a narrow and wide pair).
inline void remove_tree(const std::string& narrow, const std::u16string& wide = std::u16string()) {
  const WChar* w = wide.empty() ? nullptr : wide.c_str();
  uint32_t attributes = get_attributes(narrow.c_str(), w);
  if (attributes == kInvalidAttributes) return;
  set_attributes(narrow.c_str(), w, 0);
  if (!is_folder_attributes(attributes) || (attributes & kAttrReparsePoint)) {
    delete_file(narrow.c_str(), w);
    return;
  }
  std::vector<std::pair<std::string, std::u16string>> entries;
  {
    DirScanner scan;
    if (w) scan.set_wide_mask((wide + u"\\*").c_str());
    scan.set_mask((narrow + "\\*").c_str());
    FindRecord r;
    while (scan.next_entry(r)) entries.emplace_back(r.name, r.wide_name);
  }
  for (const auto& e : entries) remove_tree(e.first, e.second);
  remove_folder(narrow.c_str(), w);
}

// A new empty folder under the system's temporary folder, removed with its contents
// at the end of the test. path() ends with a backslash.
class ScratchFolder {
 public:
  ScratchFolder() {
    char temp[kPathSize];
    EXPECT_TRUE(get_temp_folder(temp, sizeof(temp)));
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; attempt++) {
      char name[kPathSize];
      format_text(name, sizeof(name), "%squillo-platform-%u-%u", temp, static_cast<unsigned>(tick_count()),
                  ++serial);
      if (create_folder(name, nullptr, 0) == 0) {
        root_ = name;
        break;
      }
    }
    EXPECT_FALSE(root_.empty()) << "no scratch folder";
  }
  ~ScratchFolder() {
    if (!root_.empty()) remove_tree(root_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path() const { return root_ + "\\"; }
  std::string operator/(const std::string& name) const { return root_ + "\\" + name; }
  std::u16string wide_path() const { return wide_of(path().c_str()); }

 private:
  std::string root_;
};

inline bool write_whole(const std::string& name, const std::string& bytes, const WChar* wide = nullptr) {
  DiskFile f;
  if (!f.create(name.c_str(), wide)) return false;
  f.write(bytes.data(), static_cast<int>(bytes.size()));
  return f.close();
}

inline std::string read_whole(const std::string& name, const WChar* wide = nullptr) {
  DiskFile f;
  if (!f.open(name.c_str(), wide)) return "<missing>";
  std::string bytes;
  char buffer[4096];
  int n;
  while ((n = f.read(buffer, sizeof(buffer))) > 0) bytes.append(buffer, static_cast<size_t>(n));
  f.close();
  return bytes;
}

// A double-byte ANSI code page for the duration of a test: on Windows the system's own
// when it has one (the Wine run uses code page 936), elsewhere the lead bytes of code
// page 936 (0x81 to 0xFE). available() is false when the system's code page is single-byte.
class DoubleByteCodePage {
 public:
  DoubleByteCodePage() {
    std::memcpy(saved_table_, run_state.lead_byte_table, sizeof(saved_table_));
    saved_flag_ = run_state.multibyte_code_page;
#ifdef _WIN32
    fill_lead_byte_table();
#else
    for (int i = 0; i < 256; i++) run_state.lead_byte_table[i] = i >= 0x81 && i <= 0xFE;
    run_state.multibyte_code_page = true;
#endif
  }
  ~DoubleByteCodePage() {
    std::memcpy(run_state.lead_byte_table, saved_table_, sizeof(saved_table_));
    run_state.multibyte_code_page = saved_flag_;
  }
  bool available() const { return multibyte_code_page() && is_lead_byte(0x81); }

 private:
  bool saved_table_[256];
  bool saved_flag_;
};

// Behaves as the Windows 9x family (narrow calls only) for the duration of a test.
class NarrowApiOnly {
 public:
  NarrowApiOnly() { override_nt_major_version(0); }
  ~NarrowApiOnly() { override_nt_major_version(-1); }
};

}  // namespace platform_test
