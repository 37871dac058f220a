// The archive writer of the packer: signature, main header, an optional "CMT" comment,
// file and folder entries (stored, or compressed by a plugged-in compressor), end block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/times.h"

// Compresses file data for the writer: one stream per archive when solid.
class EntryCompressor {
 public:
  virtual ~EntryCompressor() = default;
  virtual uint8_t method() const = 0;          // 0x31 .. 0x35
  virtual uint8_t method_version() const = 0;  // version needed to unpack
  // Appends the packed bytes of one file to out; solid continues the previous file's
  // stream, more_follow tells whether another file will continue this one.
  virtual void compress(const uint8_t* data, size_t size, bool solid, bool more_follow,
                        std::vector<uint8_t>& out) = 0;
};

// Where the data of a file entry comes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes placed, 0 at the end, -1 on a read failure.
  virtual long long read(uint8_t* buffer, size_t count) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  long long read(uint8_t* buffer, size_t count) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

enum class PackMethod { store, lz, automatic };

struct EntryInfo {
  std::u16string name;       // path inside the archive; '/' or '\' separate components
  bool is_folder = false;
  uint32_t attributes = 0;   // MS-DOS attribute bits
  uint64_t size = 0;         // file size; the source must deliver exactly this much
  TimeStamp mtime;           // local times; absent ones are not stored (mtime defaults to 1980)
  TimeStamp ctime;
  TimeStamp atime;
};

struct WriterOptions {
  bool solid = false;
  PackMethod method = PackMethod::store;
  bool volume = false;        // main flag 0x0001
  bool first_volume = false;  // main flag 0x0100
  std::string comment;        // bytes of the comment; empty: no comment
  bool comment_utf16 = false; // the comment bytes are UTF-16LE text
};

class ArchiveWriter {
 public:
  ArchiveWriter();
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Makes the compressor used by PackMethod::lz and ::automatic (none: those fail).
  void set_compressor(std::unique_ptr<EntryCompressor> compressor);
  // Writes the signature, main header and comment to out (opened for binary write and
  // seekable). The writer neither owns nor closes out.
  bool begin(std::FILE* out, const WriterOptions& options);
  bool add_folder(const EntryInfo& info);
  bool add_file(const EntryInfo& info, ByteSource& source);
  // Flushes a pending compressed file and writes the end block.
  bool finish();

  const std::string& error() const { return error_; }
  uint64_t bytes_written() const { return written_; }

 private:
  struct Pending;
  bool fail(const std::string& message);
  bool write_bytes(const void* data, size_t size);
  bool write_entry(const EntryInfo& info, uint8_t method, uint8_t version, bool solid, uint32_t crc,
                   uint64_t packed_size, const uint8_t* packed);
  bool flush_pending(bool more_follow);

  std::FILE* out_ = nullptr;
  WriterOptions options_;
  std::unique_ptr<EntryCompressor> compressor_;
  std::unique_ptr<Pending> pending_;
  std::vector<std::vector<uint8_t>> deferred_;  // headers that follow the pending file
  bool stream_started_ = false;
  std::string error_;
  uint64_t written_ = 0;
};

// Header pieces, exposed for tests and tools.
// The encoded Unicode form of a name against its narrow bytes (without the zero byte).
std::vector<uint8_t> encode_unicode_name(const std::u16string& wide, const std::string& narrow);
// Narrow name of the archive (OEM code page) for a wide name; '/' becomes '\'.
std::string oem_name_of(const std::u16string& wide);
// A finished file or folder header for the given fields.
std::vector<uint8_t> build_file_header(const EntryInfo& info, uint8_t method, uint8_t version, uint16_t extra_flags,
                                       uint32_t crc, uint64_t packed_size);
uint16_t header_crc16(const uint8_t* header, size_t size);
