// DiskFile: the one file object through which the module reads and writes disk files,
// the open-file table used by the fatal path, and the name-level file operations.
#pragma once

#include "platform/times.h"
#include "platform/types.h"

enum class SeekOrigin { begin = 0, current = 1, end = 2 };

class DiskFile {
 public:
  DiskFile();
  virtual ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  bool open(const char* name, const WChar* wide, bool for_update = false, bool share_write = false);
  bool open_or_report(const char* name, const WChar* wide);
  bool create(const char* name, const WChar* wide);
  bool create_or_report(const char* name, const WChar* wide);
  bool close();
  bool close_and_delete();

  int read(void* buffer, int count);      // bytes read, 0 at end of file, -1 on failure (reported)
  int read_raw(void* buffer, int count);  // no reporting
  int read_byte();                        // the byte, or 0
  void write(const void* buffer, int size);

  bool seek_raw(int64_t offset, SeekOrigin origin);
  bool seek(int64_t offset, SeekOrigin origin);
  int64_t tell();
  int64_t length();
  bool truncate_here();
  bool presize(int64_t length);
  bool set_times(const TimeStamp* modification, const TimeStamp* creation, const TimeStamp* access);
  bool set_attributes(uint32_t attributes);
  bool is_device();
  bool is_open() const { return handle != kClosed; }

  static bool close_all();

  static constexpr intptr_t kClosed = -1;
  intptr_t handle = kClosed;  // HANDLE on Windows, file descriptor elsewhere
  bool created_here = false;
  bool delete_if_unfinished = true;
  bool report_errors = true;
  bool share_for_writing = false;
  char narrow_name[kPathSize] = {};
  WChar wide_name[kPathSize] = {};
  uint32_t close_count = 0;

 private:
  void take_names(const char* name, const WChar* wide);
  void register_open();
  void unregister();
};

// Seeks its file back to where it was when made, unless the file was closed meanwhile.
class FilePositionKeeper {
 public:
  explicit FilePositionKeeper(DiskFile& file);
  ~FilePositionKeeper();
  FilePositionKeeper(const FilePositionKeeper&) = delete;
  FilePositionKeeper& operator=(const FilePositionKeeper&) = delete;

 private:
  DiskFile& file_;
  int64_t position_;
  uint32_t close_count_;
};

constexpr int kOpenFileSlots = 256;
extern DiskFile* open_file_table[kOpenFileSlots];

bool file_exists(const char* narrow, const WChar* wide);
uint32_t get_attributes(const char* narrow, const WChar* wide);  // kInvalidAttributes on failure
bool set_attributes(const char* narrow, const WChar* wide, uint32_t attributes);
bool delete_file(const char* narrow, const WChar* wide);
// 0 created; 2 a parent is missing; 1 any other failure (an existing folder included).
int create_folder(const char* narrow, const WChar* wide, uint32_t attributes);
// Removes an empty folder.
bool remove_folder(const char* narrow, const WChar* wide);
void set_times_by_name(const char* narrow, const TimeStamp* modification, const TimeStamp* creation,
                       const TimeStamp* access);
bool is_folder_attributes(uint32_t attributes);
bool rename_file(const char* from, const WChar* from_wide, const char* to, const WChar* to_wide);
