// Hand-built archives for the reader, writer and packer tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "crypto/crc32.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void put32(Bytes& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
inline void append(Bytes& v, const Bytes& more) { v.insert(v.end(), more.begin(), more.end()); }
inline void append(Bytes& v, const std::string& more) { v.insert(v.end(), more.begin(), more.end()); }

inline Bytes signature() { return {0x4B, 0x65, 0x7A, 0x21, 0x1A, 0x07, 0x00}; }

// A block: common header with the given kind and flags, then body; length and CRC filled.
inline Bytes block(uint8_t kind, uint16_t flags, const Bytes& body) {
  Bytes b;
  put16(b, 0);
  b.push_back(kind);
  put16(b, flags);
  put16(b, static_cast<uint32_t>(7 + body.size()));
  append(b, body);
  uint16_t crc = static_cast<uint16_t>(~crc32_update(0xFFFFFFFFu, b.data() + 2, b.size() - 2));
  b[0] = static_cast<uint8_t>(crc);
  b[1] = static_cast<uint8_t>(crc >> 8);
  return b;
}

inline Bytes main_header(uint16_t flags = 0) {
  Bytes body;
  put16(body, 0);
  put32(body, 0);
  return block(0x73, flags, body);
}

inline Bytes end_block() { return block(0x7B, 0, {}); }

struct Entry {
  std::string name;  // the raw name field
  Bytes data;
  uint16_t flags = 0x8000;
  uint8_t version = 29;
  uint8_t method = 0x30;
  uint8_t origin_os = 2;
  uint32_t attributes = 0x20;
  uint32_t dos_time = (40u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 3u;  // 2020-01-02 03:04:06
  uint32_t size_hi = 0, packed_hi = 0;
  bool large = false;
  Bytes after_name;  // salt, extended times, sub-block data
  long long packed_override = -1;
  long long size_override = -1;
};

inline Bytes entry_block(uint8_t kind, const Entry& e) {
  Bytes body;
  uint32_t packed = e.packed_override >= 0 ? static_cast<uint32_t>(e.packed_override) : static_cast<uint32_t>(e.data.size());
  uint32_t size = e.size_override >= 0 ? static_cast<uint32_t>(e.size_override) : static_cast<uint32_t>(e.data.size());
  put32(body, packed);
  put32(body, size);
  body.push_back(e.origin_os);
  put32(body, crc32_of(e.data.data(), e.data.size()));
  put32(body, e.dos_time);
  body.push_back(e.version);
  body.push_back(e.method);
  put16(body, static_cast<uint32_t>(e.name.size()));
  put32(body, e.attributes);
  uint16_t flags = e.flags;
  if (e.large) {
    flags |= 0x0100;
    put32(body, e.packed_hi);
    put32(body, e.size_hi);
  }
  append(body, e.name);
  append(body, e.after_name);
  Bytes b = block(kind, flags, body);
  append(b, e.data);
  return b;
}

inline Bytes file_block(const Entry& e) { return entry_block(0x74, e); }
inline Bytes sub_block(const Entry& e) { return entry_block(0x7A, e); }

inline Bytes archive_of(const std::vector<Bytes>& blocks, uint16_t main_flags = 0) {
  Bytes a = signature();
  append(a, main_header(main_flags));
  for (const Bytes& b : blocks) append(a, b);
  return a;
}

inline std::filesystem::path temp_folder() {
  static int counter = 0;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("quillo_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                             std::to_string(counter++));
  // A read-only file left by an earlier run must not stop the clean-up.
  std::error_code ec;
  if (std::filesystem::exists(p, ec))
    for (std::filesystem::recursive_directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(p, ec);
  std::filesystem::create_directories(p);
  return p;
}

inline std::string write_temp(const Bytes& bytes, const char* name = "test.kez") {
  std::filesystem::path p = temp_folder() / name;
  std::FILE* f = std::fopen(p.string().c_str(), "wb");
  if (f) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return p.string();
}

// Everything the reader logged while alive, and the exit code it left.
struct ReadResult {
  std::vector<std::string> names;  // file and folder entries in order (wide form when present)
  std::string log;
  int exit = 0;
  bool opened = false;
};

inline std::string utf8_of(const WChar* w) {
  std::string out;
  for (size_t i = 0; w[i]; i++) {
    uint32_t cp = w[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      i++;
    }
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

inline std::string entry_name(const FileHeader& h) {
  std::string n = h.name_wide[0] ? utf8_of(h.name_wide) : std::string(h.name);
  for (char& c : n)
    if (c == '\\') c = '/';
  return n;
}

// Opens path and walks every block as a lister would; visit sees each file header.
template <class Visit>
ReadResult walk(const std::string& path, Visit visit) {
  ReadResult r;
  reset_exit_status();
  ::testing::internal::CaptureStderr();
  {
    ArchiveReader reader;
    r.opened = reader.open_archive(path.c_str(), nullptr);
    int guard = 0;
    while (r.opened && reader.read_header() != 0 && guard++ < 10000) {
      if (reader.current_type == kBlockFile) {
        r.names.push_back(entry_name(reader.file));
        visit(reader);
      }
      if (reader.current_type == kBlockEnd) break;
      reader.skip_block();
    }
  }
  r.log = ::testing::internal::GetCapturedStderr();
  r.exit = exit_code();
  reset_exit_status();
  return r;
}

inline ReadResult walk(const std::string& path) {
  return walk(path, [](ArchiveReader&) {});
}

}  // namespace fixtures
