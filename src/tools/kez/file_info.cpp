#include "tools/kez/file_info.h"

#include "tools/kez/kez.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

constexpr uint64_t kUnixEpochInFileTime = 116444736000000000ull;

}  // namespace

#ifdef _WIN32

static DiskEntry look(const std::string& path, bool) {
  DiskEntry e;
  std::u16string w = utf8_to_u16(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(w.c_str()), GetFileExInfoStandard, &data)) return e;
  e.exists = true;
  e.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  e.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  e.size = e.is_folder ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  e.attributes = data.dwFileAttributes & 0x37;
  FileTime t = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  e.mtime = from_file_time(t);
  return e;
}

#else

static DiskEntry look(const std::string& path, bool follow) {
  DiskEntry e;
  struct stat st;
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return e;
  e.exists = true;
  e.is_link = S_ISLNK(st.st_mode);
  e.is_folder = S_ISDIR(st.st_mode);
  e.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  e.attributes = e.is_folder ? 0x10 : 0x20;
  if (!(st.st_mode & S_IWUSR)) e.attributes |= 0x01;
  int64_t seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  FileTime t = static_cast<FileTime>(seconds * 10000000 + st.st_mtim.tv_nsec / 100) + kUnixEpochInFileTime;
  e.mtime = from_file_time(t);
  return e;
}

#endif

DiskEntry look_at(const std::string& path) { return look(path, false); }
DiskEntry look_through(const std::string& path) { return look(path, true); }
