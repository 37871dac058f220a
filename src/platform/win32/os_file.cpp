// File primitives over the Win32 API. Each applies the wide/narrow rule: the W function
// with the wide name on the NT family when the wide name is given, else the A function.
#include "platform/os_file.h"

#include <windows.h>

#include "platform/system.h"
#include "platform/text.h"

namespace {

bool wide_rule(const WChar* wide) { return wide && *wide && use_wide_api(); }
LPCWSTR W(const WChar* s) { return reinterpret_cast<LPCWSTR>(s); }
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The name for an A function: the narrow name, or the wide one converted when only that
// was given.
struct Narrow {
  char converted[kPathSize];
  const char* name;
  Narrow(const char* narrow, const WChar* wide) : name(narrow) {
    if (!name) {
      if (!wide || !wide_to_ansi(wide, converted, sizeof(converted))) converted[0] = 0;
      name = converted;
    }
  }
};

}  // namespace

namespace os {

intptr_t open_file(const char* narrow, const WChar* wide, bool for_update, bool share_write) {
  DWORD access = GENERIC_READ | (for_update ? GENERIC_WRITE : 0);
  DWORD share = FILE_SHARE_READ | (share_write ? FILE_SHARE_WRITE : 0);
  HANDLE h = wide_rule(wide)
                 ? CreateFileW(W(wide), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                 : CreateFileA(Narrow(narrow, wide).name, access, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return reinterpret_cast<intptr_t>(h);
}

intptr_t create_file(const char* narrow, const WChar* wide) {
  HANDLE h = wide_rule(wide) ? CreateFileW(W(wide), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, 0, nullptr)
                             : CreateFileA(Narrow(narrow, wide).name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, 0, nullptr);
  return reinterpret_cast<intptr_t>(h);
}

bool close_file(intptr_t handle) { return CloseHandle(H(handle)) != 0; }

int read_file(intptr_t handle, void* buffer, int count) {
  DWORD n = 0;
  if (!ReadFile(H(handle), buffer, static_cast<DWORD>(count), &n, nullptr)) return -1;
  return static_cast<int>(n);
}

bool write_file(intptr_t handle, const void* buffer, int size, int* written) {
  DWORD n = 0;
  BOOL ok = WriteFile(H(handle), buffer, static_cast<DWORD>(size), &n, nullptr);
  *written = static_cast<int>(n);
  return ok && n == static_cast<DWORD>(size);
}

bool seek_file(intptr_t handle, int64_t offset, int origin) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  // 0xFFFFFFFF is also a valid low part: only a fresh error tells a failure.
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(H(handle), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
  return !(low == 0xFFFFFFFF && GetLastError() != 0);
}

int64_t tell_file(intptr_t handle) {
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(H(handle), 0, &high, FILE_CURRENT);
  if (low == 0xFFFFFFFF && GetLastError() != 0) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

bool truncate_file(intptr_t handle) { return SetEndOfFile(H(handle)) != 0; }

int file_type(intptr_t handle) { return static_cast<int>(GetFileType(H(handle))); }

bool set_file_time(intptr_t handle, const FileTime* creation, const FileTime* access,
                   const FileTime* modification) {
  FILETIME c, a, m;
  auto fill = [](const FileTime* t, FILETIME& f) -> const FILETIME* {
    if (!t) return nullptr;
    f.dwLowDateTime = static_cast<DWORD>(*t);
    f.dwHighDateTime = static_cast<DWORD>(*t >> 32);
    return &f;
  };
  return SetFileTime(H(handle), fill(creation, c), fill(access, a), fill(modification, m)) != 0;
}

uint32_t get_attributes(const char* narrow, const WChar* wide) {
  return wide_rule(wide) ? GetFileAttributesW(W(wide)) : GetFileAttributesA(Narrow(narrow, wide).name);
}

bool set_attributes(const char* narrow, const WChar* wide, uint32_t attributes) {
  return (wide_rule(wide) ? SetFileAttributesW(W(wide), attributes) : SetFileAttributesA(Narrow(narrow, wide).name, attributes)) != 0;
}

bool delete_file(const char* narrow, const WChar* wide) {
  return (wide_rule(wide) ? DeleteFileW(W(wide)) : DeleteFileA(Narrow(narrow, wide).name)) != 0;
}

bool create_directory(const char* narrow, const WChar* wide) {
  return (wide_rule(wide) ? CreateDirectoryW(W(wide), nullptr) : CreateDirectoryA(Narrow(narrow, wide).name, nullptr)) != 0;
}

bool remove_directory(const char* narrow, const WChar* wide) {
  return (wide_rule(wide) ? RemoveDirectoryW(W(wide)) : RemoveDirectoryA(Narrow(narrow, wide).name)) != 0;
}

bool rename_file(const char* from, const WChar* from_wide, const char* to, const WChar* to_wide) {
  if (wide_rule(from_wide) && wide_rule(to_wide)) return MoveFileW(W(from_wide), W(to_wide)) != 0;
  return MoveFileA(Narrow(from, from_wide).name, Narrow(to, to_wide).name) != 0;
}

intptr_t open_for_times(const char* narrow) {
  HANDLE h = CreateFileA(narrow, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return reinterpret_cast<intptr_t>(h);
}

}  // namespace os
