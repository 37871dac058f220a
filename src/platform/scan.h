// Directory scanning: one FindRecord per directory entry, or one named file.
#pragma once

#include "platform/times.h"
#include "platform/types.h"

struct FindRecord {
  char name[kPathSize] = {};
  WChar wide_name[kPathSize] = {};
  uint64_t size = 0;
  uint32_t attributes = 0;
  uint32_t dos_time = 0;
  bool is_folder = false;
  TimeStamp mtime, ctime, atime;
  char short_name[kPathSize] = {};
  FileTime raw_ctime = 0, raw_atime = 0, raw_mtime = 0;  // as found (UTC)
  bool error = false;
};

class DirScanner {
 public:
  DirScanner();
  ~DirScanner();
  DirScanner(const DirScanner&) = delete;
  DirScanner& operator=(const DirScanner&) = delete;
  void set_mask(const char* mask);
  void set_wide_mask(const WChar* mask);
  bool next_entry(FindRecord& record);

  char mask[kPathSize] = {};
  WChar wide_mask[kPathSize] = {};
  bool first = true;
  intptr_t search = -1;
};

bool find_one(const char* narrow, const WChar* wide, FindRecord& record);
