// The operating system's directory search behind DirScanner and find_one.
#pragma once

#include "platform/times.h"
#include "platform/types.h"

namespace os {

constexpr int kFoundNameSize = 260;
constexpr int kFoundShortSize = 14;

// One entry as the search returned it. A wide search fills the wide names, a narrow
// search the narrow ones.
struct FoundEntry {
  uint32_t attributes;
  FileTime creation, access, modification;  // UTC
  uint64_t size;
  WChar wide_name[kFoundNameSize];
  WChar wide_short_name[kFoundShortSize];
  char name[kFoundNameSize];
  char short_name[kFoundShortSize];
};

// First search for the name (wildcards allowed in its last component): the search
// handle, or -1 with the system's last error set. The next calls give false at the end
// (last error ERROR_NO_MORE_FILES) or on failure.
intptr_t find_first_wide(const WChar* search, FoundEntry& entry);
bool find_next_wide(intptr_t handle, FoundEntry& entry);
intptr_t find_first_narrow(const char* search, FoundEntry& entry);
bool find_next_narrow(intptr_t handle, FoundEntry& entry);
void find_close(intptr_t handle);

}  // namespace os
