// Directory search of the Linux build: the folder of the search name is read with
// readdir and its entries are matched against the last component the way the Windows
// search matches (ignoring case, "*.*" and "*." included). A last component without
// wildcards names one entry, looked up directly. Links are reported as such, never
// followed; there are no short names.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/memory.h"
#include "platform/os_scan.h"
#include "platform/paths.h"
#include "platform/posix/posix_util.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

struct Search {
  DIR* dir;  // null for a search without wildcards (one entry)
  char pattern[kSystemPathSize];
  bool wide;
};

void set_error_code(uint32_t code) { set_last_system_error(code); }

// Fills entry from the object name in the folder of dirfd; false when it is gone.
bool fill_entry(int dirfd, const char* name, bool wide, os::FoundEntry& entry) {
  struct statx sx;
  if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    posix_set_error();
    return false;
  }
  entry.attributes = posix_attributes(sx.stx_mode, name);
  entry.size = S_ISDIR(sx.stx_mode) ? 0 : sx.stx_size;
  entry.modification = posix_file_time(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  entry.access = posix_file_time(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  entry.creation = (sx.stx_mask & STATX_BTIME) ? posix_file_time(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                                : entry.modification;
  entry.wide_short_name[0] = 0;
  entry.short_name[0] = 0;
  if (wide) {
    entry.name[0] = 0;
    utf8_to_wide(name, entry.wide_name, os::kFoundNameSize);
  } else {
    entry.wide_name[0] = 0;
    copy_bounded(entry.name, name, sizeof(entry.name));
  }
  return true;
}

bool next_match(Search* s, os::FoundEntry& entry) {
  if (!s->dir) {
    set_error_code(kErrorNoMoreFiles);
    return false;
  }
  for (;;) {
    errno = 0;
    dirent* d = readdir(s->dir);
    if (!d) {
      if (errno) posix_set_error();
      else set_error_code(kErrorNoMoreFiles);
      return false;
    }
    if (!wildcard_match(s->pattern, d->d_name, false)) continue;
    if (fill_entry(dirfd(s->dir), d->d_name, s->wide, entry)) return true;
  }
}

intptr_t find_first(const char* search, bool wide, os::FoundEntry& entry) {
  // search is a system path (UTF-8, slashes).
  const char* slash = std::strrchr(search, '/');
  const char* pattern = slash ? slash + 1 : search;
  char folder[kSystemPathSize];
  if (slash == search) {
    copy_bounded(folder, "/", sizeof(folder));
  } else if (slash) {
    size_t n = static_cast<size_t>(slash - search);
    std::memcpy(folder, search, n);
    folder[n] = 0;
  } else {
    copy_bounded(folder, ".", sizeof(folder));
  }
  if (!*pattern) {
    set_error_code(kErrorFileNotFound);
    return -1;
  }
  Search* s = static_cast<Search*>(mem_alloc(sizeof(Search)));
  if (!s) {
    set_error_code(8);  // ERROR_NOT_ENOUGH_MEMORY
    return -1;
  }
  s->dir = nullptr;
  s->wide = wide;
  copy_bounded(s->pattern, pattern, sizeof(s->pattern));
  if (!std::strpbrk(pattern, "*?")) {
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && fill_entry(fd, pattern, wide, entry);
    if (fd < 0) posix_set_error();
    else close(fd);
    if (!ok) {
      mem_free(s);
      return -1;
    }
    return reinterpret_cast<intptr_t>(s);
  }
  s->dir = opendir(folder);
  if (!s->dir) {
    posix_set_error();
    mem_free(s);
    return -1;
  }
  if (!next_match(s, entry)) {
    // Nothing matched: the search finds no file, as on Windows.
    if (last_system_error() == kErrorNoMoreFiles) set_error_code(kErrorFileNotFound);
    LastErrorKeeper keep;
    closedir(s->dir);
    mem_free(s);
    return -1;
  }
  return reinterpret_cast<intptr_t>(s);
}

}  // namespace

namespace os {

intptr_t find_first_wide(const WChar* search, FoundEntry& entry) {
  char path[kSystemPathSize];
  posix_system_path(nullptr, search, path);
  return find_first(path, true, entry);
}

bool find_next_wide(intptr_t handle, FoundEntry& entry) {
  return next_match(reinterpret_cast<Search*>(handle), entry);
}

intptr_t find_first_narrow(const char* search, FoundEntry& entry) {
  char path[kSystemPathSize];
  copy_bounded(path, search, sizeof(path));
  for (char* p = path; *p; p++)
    if (*p == '\\') *p = '/';
  return find_first(path, false, entry);
}

bool find_next_narrow(intptr_t handle, FoundEntry& entry) {
  return next_match(reinterpret_cast<Search*>(handle), entry);
}

void find_close(intptr_t handle) {
  Search* s = reinterpret_cast<Search*>(handle);
  if (!s) return;
  if (s->dir) closedir(s->dir);
  mem_free(s);
}

}  // namespace os
