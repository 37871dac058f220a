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
  FileTime raw_ctime = 0, raw_atime = 0, raw_mtime = 0;  // as the search gave them (UTC)
  bool error = false;
};

class DirScanner {
 public:
  DirScanner();
  ~DirScanner();
  DirScanner(const DirScanner&) = delete;
  DirScanner& operator=(const DirScanner&) = delete;
  // Sets the mask for the next search. The wide mask is the one given by set_wide_mask
  // just before, else the narrow mask converted.
  void set_mask(const char* mask);
  void set_wide_mask(const WChar* mask);
  // The next entry other than "." and ".."; false at the end or on failure (then the
  // record's error flag tells a failure from finding nothing).
  bool next_entry(FindRecord& record);

  char mask[kPathSize] = {};
  WChar wide_mask[kPathSize] = {};
  bool first = true;
  intptr_t search = -1;

 private:
  bool wide_mask_given_ = false;
};

// Looks up one file or folder by name (no wildcards): true when it exists and record
// was filled.
bool find_one(const char* narrow, const WChar* wide, FindRecord& record);
