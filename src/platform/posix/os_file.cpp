// File primitives of the Linux build. Names are UTF-8 (the ANSI code page of this
// build); backslashes are folder separators and become slashes for the system.
#include "platform/os_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_util.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

void set_error() { posix_set_error(); }

// A file of the Linux build counts as read-only when its owner may not write it; like
// the read-only attribute of Windows this refuses writing, truncating and deleting it,
// also to the superuser.
bool refused_as_read_only(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return false;
  set_last_system_error(kErrorAccessDenied);
  return true;
}

timespec to_timespec(const FileTime* t) {
  timespec ts;
  if (!t) {
    ts.tv_sec = 0;
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  int64_t v = static_cast<int64_t>(*t) - kUnixEpochInFileTime;
  int64_t sec = v / 10000000;
  int64_t rem = v % 10000000;
  if (rem < 0) {
    rem += 10000000;
    sec--;
  }
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

}  // namespace

void posix_system_path(const char* narrow, const WChar* wide, char* out) {
  if (wide && *wide && use_wide_api()) wide_to_utf8(wide, out, kSystemPathSize);
  else if (narrow) copy_bounded(out, narrow, kSystemPathSize);
  else if (!wide || !wide_to_ansi(wide, out, kSystemPathSize)) out[0] = 0;
  for (char* p = out; *p; p++)
    if (*p == '\\') *p = '/';
}

void posix_set_error() { set_last_system_error(posix_error_code(errno)); }

uint32_t posix_attributes(mode_t mode, const char* base) {
  uint32_t a = 0;
  if (S_ISDIR(mode)) a |= kAttrDirectory;
  else a |= kAttrArchive;
  if (S_ISLNK(mode)) a |= kAttrReparsePoint;
  else if (!(mode & S_IWUSR)) a |= kAttrReadOnly;
  if (base[0] == '.' && base[1] && std::strcmp(base, "..") != 0) a |= kAttrHidden;
  return a;
}

FileTime posix_file_time(int64_t seconds, int64_t nanoseconds) {
  int64_t v = seconds * 10000000 + nanoseconds / 100 + kUnixEpochInFileTime;
  return v < 0 ? 0 : static_cast<FileTime>(v);
}

namespace os {

intptr_t open_file(const char* narrow, const WChar* wide, bool for_update, bool) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  if (for_update && refused_as_read_only(path)) return kInvalidHandle;
  int fd = ::open(path, (for_update ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    set_error();
    return kInvalidHandle;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    set_last_system_error(kErrorAccessDenied);
    return kInvalidHandle;
  }
  return fd;
}

intptr_t create_file(const char* narrow, const WChar* wide) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  if (refused_as_read_only(path)) return kInvalidHandle;
  int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    set_error();
    return kInvalidHandle;
  }
  return fd;
}

bool close_file(intptr_t handle) {
  if (::close(static_cast<int>(handle)) != 0) {
    set_error();
    return false;
  }
  return true;
}

int read_file(intptr_t handle, void* buffer, int count) {
  int total = 0;
  while (total < count) {
    ssize_t n = ::read(static_cast<int>(handle), static_cast<char*>(buffer) + total,
                       static_cast<size_t>(count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      set_error();
      return total > 0 ? total : -1;
    }
    if (n == 0) break;
    total += static_cast<int>(n);
  }
  return total;
}

bool write_file(intptr_t handle, const void* buffer, int size, int* written) {
  int total = 0;
  while (total < size) {
    ssize_t n = ::write(static_cast<int>(handle), static_cast<const char*>(buffer) + total,
                        static_cast<size_t>(size - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      set_error();
      *written = total;
      return false;
    }
    total += static_cast<int>(n);
  }
  *written = total;
  return true;
}

bool seek_file(intptr_t handle, int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  if (lseek(static_cast<int>(handle), static_cast<off_t>(offset), whence) < 0) {
    set_error();
    return false;
  }
  return true;
}

int64_t tell_file(intptr_t handle) {
  off_t p = lseek(static_cast<int>(handle), 0, SEEK_CUR);
  if (p < 0) {
    set_error();
    return -1;
  }
  return p;
}

bool truncate_file(intptr_t handle) {
  off_t p = lseek(static_cast<int>(handle), 0, SEEK_CUR);
  if (p < 0 || ftruncate(static_cast<int>(handle), p) != 0) {
    set_error();
    return false;
  }
  return true;
}

int file_type(intptr_t handle) {
  struct stat st;
  if (fstat(static_cast<int>(handle), &st) != 0) return 0;
  if (S_ISCHR(st.st_mode)) return 2;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return 3;
  return 1;
}

bool set_file_time(intptr_t handle, const FileTime* creation, const FileTime* access,
                   const FileTime* modification) {
  (void)creation;  // the Linux file systems keep no settable creation time
  if (!access && !modification) return true;
  timespec ts[2] = {to_timespec(access), to_timespec(modification)};
  if (futimens(static_cast<int>(handle), ts) != 0) {
    set_error();
    return false;
  }
  return true;
}

uint32_t get_attributes(const char* narrow, const WChar* wide) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  struct stat st;
  if (lstat(path, &st) != 0) {
    set_error();
    return kInvalidAttributes;
  }
  const char* base = std::strrchr(path, '/');
  return posix_attributes(st.st_mode, base ? base + 1 : path);
}

bool set_attributes(const char* narrow, const WChar* wide, uint32_t attributes) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  struct stat st;
  if (lstat(path, &st) != 0) {
    set_error();
    return false;
  }
  if (S_ISLNK(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else mode |= S_IWUSR;
  if (mode != (st.st_mode & 07777) && chmod(path, mode) != 0) {
    set_error();
    return false;
  }
  return true;
}

bool delete_file(const char* narrow, const WChar* wide) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  struct stat st;
  if (lstat(path, &st) == 0 && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))) {
    set_last_system_error(kErrorAccessDenied);
    return false;
  }
  if (unlink(path) != 0) {
    set_error();
    return false;
  }
  return true;
}

bool create_directory(const char* narrow, const WChar* wide) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  if (mkdir(path, 0777) != 0) {
    set_error();
    return false;
  }
  return true;
}

bool remove_directory(const char* narrow, const WChar* wide) {
  char path[kSystemPathSize];
  posix_system_path(narrow, wide, path);
  struct stat st;
  if (lstat(path, &st) == 0 && !S_ISDIR(st.st_mode)) {
    set_last_system_error(kErrorDirectory);
    return false;
  }
  if (rmdir(path) != 0) {
    set_error();
    return false;
  }
  return true;
}

bool rename_file(const char* from, const WChar* from_wide, const char* to, const WChar* to_wide) {
  char a[kSystemPathSize], b[kSystemPathSize];
  posix_system_path(from, from_wide, a);
  posix_system_path(to, to_wide, b);
  if (::rename(a, b) != 0) {
    set_error();
    return false;
  }
  return true;
}

intptr_t open_for_times(const char* narrow) {
  char path[kSystemPathSize];
  posix_system_path(narrow, nullptr, path);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    set_error();
    return kInvalidHandle;
  }
  return fd;
}

}  // namespace os
