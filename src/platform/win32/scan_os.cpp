// Directory search over FindFirstFileW/A and FindNextFileW/A.
#include <windows.h>

#include "platform/os_scan.h"
#include "platform/text.h"

namespace {

FileTime from_filetime(const FILETIME& f) {
  return (static_cast<FileTime>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

template <class Data>
void fill_common(const Data& d, os::FoundEntry& entry) {
  entry.attributes = d.dwFileAttributes;
  entry.creation = from_filetime(d.ftCreationTime);
  entry.access = from_filetime(d.ftLastAccessTime);
  entry.modification = from_filetime(d.ftLastWriteTime);
  entry.size = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

void fill(const WIN32_FIND_DATAW& d, os::FoundEntry& entry) {
  fill_common(d, entry);
  static_assert(sizeof(d.cFileName) / sizeof(d.cFileName[0]) == os::kFoundNameSize, "name size");
  static_assert(sizeof(d.cAlternateFileName) / sizeof(d.cAlternateFileName[0]) == os::kFoundShortSize, "short size");
  CopyMemory(entry.wide_name, d.cFileName, sizeof(d.cFileName));
  CopyMemory(entry.wide_short_name, d.cAlternateFileName, sizeof(d.cAlternateFileName));
  entry.wide_name[os::kFoundNameSize - 1] = 0;
  entry.wide_short_name[os::kFoundShortSize - 1] = 0;
  entry.name[0] = 0;
  entry.short_name[0] = 0;
}

void fill(const WIN32_FIND_DATAA& d, os::FoundEntry& entry) {
  fill_common(d, entry);
  CopyMemory(entry.name, d.cFileName, sizeof(d.cFileName));
  CopyMemory(entry.short_name, d.cAlternateFileName, sizeof(d.cAlternateFileName));
  entry.name[os::kFoundNameSize - 1] = 0;
  entry.short_name[os::kFoundShortSize - 1] = 0;
  entry.wide_name[0] = 0;
  entry.wide_short_name[0] = 0;
}

}  // namespace

namespace os {

intptr_t find_first_wide(const WChar* search, FoundEntry& entry) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(reinterpret_cast<LPCWSTR>(search), &d);
  if (h == INVALID_HANDLE_VALUE) return -1;
  fill(d, entry);
  return reinterpret_cast<intptr_t>(h);
}

bool find_next_wide(intptr_t handle, FoundEntry& entry) {
  WIN32_FIND_DATAW d;
  if (!FindNextFileW(reinterpret_cast<HANDLE>(handle), &d)) return false;
  fill(d, entry);
  return true;
}

intptr_t find_first_narrow(const char* search, FoundEntry& entry) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA(search, &d);
  if (h == INVALID_HANDLE_VALUE) return -1;
  fill(d, entry);
  return reinterpret_cast<intptr_t>(h);
}

bool find_next_narrow(intptr_t handle, FoundEntry& entry) {
  WIN32_FIND_DATAA d;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(handle), &d)) return false;
  fill(d, entry);
  return true;
}

void find_close(intptr_t handle) { FindClose(reinterpret_cast<HANDLE>(handle)); }

}  // namespace os
