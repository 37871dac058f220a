#include "platform/system.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "platform/posix/posix_util.h"
#include "platform/text.h"

namespace {
thread_local uint32_t g_last_error = 0;
}

uint32_t tick_count() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000ull + ts.tv_nsec / 1000000);
}

uint32_t last_system_error() { return g_last_error; }
void set_last_system_error(uint32_t code) { g_last_error = code; }

// Maps the C library's errno to the Win32 codes the portable code tests.
uint32_t posix_error_code(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EROFS: case EISDIR: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case ENOSPC: case EFBIG: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EBADF: return 6;      // ERROR_INVALID_HANDLE
    case EINVAL: return 87;    // ERROR_INVALID_PARAMETER
    case ESPIPE: return 132;   // ERROR_SEEK_ON_DEVICE
    default: return 0x10000u + static_cast<uint32_t>(e);
  }
}

void exit_process(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

void sleep_ms(uint32_t ms) { usleep(ms * 1000u); }

namespace {
int g_nt_major_override = -1;
}

int nt_major_version() { return g_nt_major_override >= 0 ? g_nt_major_override : 10; }
bool use_wide_api() { return nt_major_version() != 0; }
void override_nt_major_version(int major) { g_nt_major_override = major; }

static const char* g_command_line = nullptr;
void set_process_command_line(const char* text) { g_command_line = text; }
const char* process_command_line() { return g_command_line; }

bool get_module_path(char* buffer, int size) {
  ssize_t n = readlink("/proc/self/exe", buffer, size > 0 ? size - 1 : 0);
  if (n < 0) {
    if (size > 0) buffer[0] = 0;
    return false;
  }
  buffer[n] = 0;
  return true;
}

bool set_environment_variable(const char* name, const char* value) {
  return value ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

bool expand_environment(const char* text, char* buffer, int size) {
  // %NAME% references are replaced by the variable's value; unknown ones stay as written.
  int out = 0;
  bool ok = true;
  for (const char* p = text; *p;) {
    const char* close = (*p == '%') ? std::strchr(p + 1, '%') : nullptr;
    if (close && close > p + 1) {
      char name[kLineSize];
      size_t n = static_cast<size_t>(close - p - 1);
      if (n >= sizeof(name)) n = sizeof(name) - 1;
      std::memcpy(name, p + 1, n);
      name[n] = 0;
      const char* v = getenv(name);
      if (v) {
        for (; *v; v++) {
          if (out < size - 1) buffer[out++] = *v; else ok = false;
        }
        p = close + 1;
        continue;
      }
    }
    if (out < size - 1) buffer[out++] = *p; else ok = false;
    p++;
  }
  if (size > 0) buffer[out] = 0;
  return ok;
}

static void to_backslashes(char* s) {
  for (; *s; s++) if (*s == '/') *s = '\\';
}

bool get_current_folder(char* buffer, int size) {
  if (!getcwd(buffer, static_cast<size_t>(size))) {
    set_last_system_error(posix_error_code(errno));
    if (size > 0) buffer[0] = 0;
    return false;
  }
  to_backslashes(buffer);
  return true;
}

bool set_current_folder(const char* path) {
  char p[kPathSize];
  copy_bounded(p, path, sizeof(p));
  for (char* s = p; *s; s++) if (*s == '\\') *s = '/';
  if (chdir(p) != 0) {
    set_last_system_error(posix_error_code(errno));
    return false;
  }
  return true;
}

bool get_temp_folder(char* buffer, int size) {
  const char* t = getenv("TMPDIR");
  if (!t || !*t) t = "/tmp";
  copy_bounded(buffer, t, static_cast<size_t>(size));
  to_backslashes(buffer);
  size_t n = std::strlen(buffer);
  if (n + 1 < static_cast<size_t>(size) && (n == 0 || buffer[n - 1] != '\\')) {
    buffer[n] = '\\';
    buffer[n + 1] = 0;
  }
  return true;
}

int format_text_v(char* buffer, int size, const char* format, va_list args) {
  if (size <= 0) return 0;
  int n = vsnprintf(buffer, static_cast<size_t>(size), format, args);
  if (n < 0) {
    buffer[0] = 0;
    return 0;
  }
  return n >= size ? size - 1 : n;
}

int format_text(char* buffer, int size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = format_text_v(buffer, size, format, args);
  va_end(args);
  return n;
}
