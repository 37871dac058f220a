// The operating system's file primitives behind DiskFile and the name-level
// operations. Each takes the name pair and applies the wide/narrow rule itself.
// Failures leave the system's last error set (the Linux build maps errno).
#pragma once

#include "platform/times.h"
#include "platform/types.h"

namespace os {

constexpr intptr_t kInvalidHandle = -1;

intptr_t open_file(const char* narrow, const WChar* wide, bool for_update, bool share_write);
intptr_t create_file(const char* narrow, const WChar* wide);
bool close_file(intptr_t handle);
int read_file(intptr_t handle, void* buffer, int count);  // -1 on failure
// false on failure; written receives the bytes written before the failure.
bool write_file(intptr_t handle, const void* buffer, int size, int* written);
bool seek_file(intptr_t handle, int64_t offset, int origin);
int64_t tell_file(intptr_t handle);  // -1 on failure
bool truncate_file(intptr_t handle);
int file_type(intptr_t handle);  // 1 disk, 2 character device, 3 pipe, 0 unknown
// Null pointers leave that time unchanged.
bool set_file_time(intptr_t handle, const FileTime* creation, const FileTime* access, const FileTime* modification);

uint32_t get_attributes(const char* narrow, const WChar* wide);
bool set_attributes(const char* narrow, const WChar* wide, uint32_t attributes);
bool delete_file(const char* narrow, const WChar* wide);
bool create_directory(const char* narrow, const WChar* wide);
bool remove_directory(const char* narrow, const WChar* wide);  // an empty folder
bool rename_file(const char* from, const WChar* from_wide, const char* to, const WChar* to_wide);
// Opens a file or folder by its narrow name for writing times (backup semantics).
intptr_t open_for_times(const char* narrow);

}  // namespace os
