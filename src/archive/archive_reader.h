// The archive block format and the reader that walks it.
#pragma once

#include "crypto/aes.h"
#include "extract/data_pipe.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/times.h"

// Block types.
constexpr uint8_t kBlockMain = 0x73;
constexpr uint8_t kBlockFile = 0x74;
constexpr uint8_t kBlockOldComment = 0x75;
constexpr uint8_t kBlockStopMark = 0x76;
constexpr uint8_t kBlockStopMark2 = 0x79;
constexpr uint8_t kBlockSub = 0x7A;
constexpr uint8_t kBlockEnd = 0x7B;

// Main header flags.
constexpr uint16_t kMainVolume = 0x0001;
constexpr uint16_t kMainComment = 0x0002;
constexpr uint16_t kMainSolid = 0x0008;
constexpr uint16_t kMainNewNumbering = 0x0010;
constexpr uint16_t kMainEncryptedHeaders = 0x0080;
constexpr uint16_t kMainFirstVolume = 0x0100;
constexpr uint16_t kMainCryptVersion = 0x0200;

// File header flags.
constexpr uint16_t kFileSplitBefore = 0x0001;
constexpr uint16_t kFileSplitAfter = 0x0002;
constexpr uint16_t kFileEncrypted = 0x0004;
constexpr uint16_t kFileComment = 0x0008;
constexpr uint16_t kFileSolid = 0x0010;
constexpr uint16_t kFileFolderMask = 0x00E0;
constexpr uint16_t kFileLarge = 0x0100;
constexpr uint16_t kFileUnicode = 0x0200;
constexpr uint16_t kFileSalt = 0x0400;
constexpr uint16_t kFileVersion = 0x0800;
constexpr uint16_t kFileExtTime = 0x1000;
constexpr uint16_t kLongBlock = 0x8000;

// End header flags.
constexpr uint16_t kEndNextVolume = 0x0001;
constexpr uint16_t kEndArchiveCrc = 0x0002;
constexpr uint16_t kEndRevSpace = 0x0004;
constexpr uint16_t kEndVolumeIndex = 0x0008;

constexpr int kSignatureSize = 7;
constexpr int kMaxSignatureSearch = 524288;  // buffer; the signature may start up to 524,272

struct BlockHeader {
  uint16_t crc16 = 0;
  uint8_t block_kind = 0;
  uint16_t block_flags = 0;
  uint16_t header_length = 0;
  uint32_t data_size = 0;  // other block types with flag 0x8000
};

struct MainHeader : BlockHeader {
  uint16_t auth_pos_hi = 0;
  uint32_t auth_pos = 0;
  uint8_t crypt_version = 0;
};

struct FileHeader : BlockHeader {
  uint32_t packed_lo = 0;
  uint32_t size_lo = 0;
  uint8_t origin_os = 0;
  uint32_t data_crc = 0;
  uint32_t dos_mtime = 0;
  uint8_t method_version = 0;
  uint8_t method = 0;
  uint16_t name_length = 0;
  uint32_t host_attributes = 0;
  uint32_t packed_hi = 0;
  uint32_t size_hi = 0;
  uint64_t packed_size = 0;
  uint64_t unpacked_size = 0;
  char name[kPathSize] = {};       // OEM code page inside the reader
  WChar name_wide[kPathSize] = {};  // empty without a Unicode form
  uint8_t salt[8] = {};
  TimeStamp mtime, ctime, atime, archived_time;
  GrowArray<uint8_t> block_data;  // sub-blocks: data kept in the header
};

struct EndHeader : BlockHeader {
  uint32_t archive_crc = 0;
  uint16_t volume_index = 0;
};

struct ExtractionJob;

class ArchiveReader : public DiskFile {
 public:
  explicit ArchiveReader(ExtractionJob* job = nullptr);
  ~ArchiveReader() override;

  bool open_archive(const char* name, const WChar* wide);
  bool check_archive(bool tolerate);
  void open_or_stop(bool tolerate);
  int read_header();  // header bytes read, 0 when there is no further block
  void skip_block();
  int find_block(uint8_t type);
  int find_sub_block(const char* name);
  // Mode 0 (no file): into buffer. With a file: written to it.
  bool read_sub_block_data(GrowArray<uint8_t>* buffer, DiskFile* file);
  bool is_folder() const;
  bool is_volume_label() const;
  void normalize_attributes();

  ExtractionJob* job;
  ExtractionJob* own_job = nullptr;
  BlockDecryptor header_decryptor;
  uint8_t header_salt[8] = {};
  DataPipe pipe;
  uint8_t signature_buffer[kSignatureSize] = {};
  int64_t archive_offset = 0;

  BlockHeader block;
  MainHeader main;
  FileHeader file;
  FileHeader sub;
  EndHeader end;

  uint8_t current_type = 0;
  int64_t block_start = 0;
  int64_t next_block = 0;
  uint16_t computed_header_crc = 0;

  bool is_volume = false;
  bool is_solid = false;
  bool has_comment = false;
  bool encrypted_headers = false;
  bool starts_mid_set = false;
  bool broken_header = false;

  char set_first_name[kPathSize] = {};
  WChar set_first_name_wide[kPathSize] = {};

 private:
  int read_header_bytes(uint8_t* out, int count);
  void header_log(const char* format, const char* argument = nullptr);
  void header_raise(int code);
  void parse_file_header(FileHeader& h, uint32_t read_size, bool is_sub);
  void read_name(FileHeader& h, const uint8_t* field, uint32_t field_length, bool is_sub);

  GrowArray<uint8_t> header_bytes_;  // the bytes of the header being read
  bool decrypting_ = false;          // this header is read through header_decryptor
  uint8_t plain_[16] = {};           // the last decrypted block
  int plain_left_ = 0;               // its bytes not yet handed out (at its end)
  bool quiet_ = false;               // looking ahead: header errors are not reported
};

// Decodes the encoded Unicode form of a name (encoded bytes after the zero byte of the
// name field) against the narrow bytes of the field; writes at most 1024 units including
// the terminator.
void decode_unicode_name(const uint8_t* encoded, uint32_t encoded_length, const uint8_t* narrow,
                         uint32_t narrow_size, WChar* out);
