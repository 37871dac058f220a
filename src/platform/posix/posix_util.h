// Helpers shared by the files of the Linux platform layer.
#pragma once

#include <sys/stat.h>

#include "platform/times.h"
#include "platform/types.h"

constexpr int kSystemPathSize = kPathSize * 3;  // a name of 1023 UTF-16 units as UTF-8

// The system path of a name pair by the wide/narrow rule (the wide name converted to
// UTF-8), backslashes turned into slashes.
void posix_system_path(const char* narrow, const WChar* wide, char* out);
// Win32 error code of an errno value.
uint32_t posix_error_code(int e);
// Sets the last system error from errno.
void posix_set_error();
// Win32 attribute bits of a file of this mode; base is its last path component.
uint32_t posix_attributes(mode_t mode, const char* base);
// File time of a time since the Unix epoch.
FileTime posix_file_time(int64_t seconds, int64_t nanoseconds);
// Simple uppercase mapping of a code point (Latin, Greek, Cyrillic, full-width Latin).
uint32_t unicode_upper(uint32_t c);
