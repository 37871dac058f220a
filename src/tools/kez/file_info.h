// What the packer learns about a file or folder on disk.
#pragma once

#include <string>

#include "platform/times.h"

struct DiskEntry {
  bool exists = false;
  bool is_folder = false;
  bool is_link = false;
  uint64_t size = 0;
  uint32_t attributes = 0;  // MS-DOS attribute bits
  TimeStamp mtime;          // local time with the fraction of the second
};

// Looks at path (UTF-8) without following a final symbolic link.
DiskEntry look_at(const std::string& path);
// The same for the target of a link.
DiskEntry look_through(const std::string& path);
