// Directory scanning: one FindRecord per directory entry, or one named file.
#include "platform/scan.h"

#include <cstring>

#include "platform/file.h"
#include "platform/os_scan.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr intptr_t kNoSearch = -1;

template <class C>
bool printable_ascii(const C* s) {
  for (; *s; s++) {
    uint32_t c = static_cast<uint32_t>(*s) & (sizeof(C) == 1 ? 0xFFu : 0xFFFFu);
    if (c < 0x20 || c > 0x7F) return false;
  }
  return true;
}

// Folder part of the search name followed by the found name, at most 1023 units.
template <class C>
void join_found(const C* search, const C* found, C* out) {
  size_t n = static_cast<size_t>(name_part(search) - search);
  if (n > kPathSize - 1) n = kPathSize - 1;
  std::memcpy(out, search, n * sizeof(C));
  size_t i = 0;
  for (; n + i < kPathSize - 1 && found[i]; i++) out[n + i] = found[i];
  out[n + i] = 0;
}

void fill_times(const os::FoundEntry& e, FindRecord& r) {
  r.size = e.size;
  r.attributes = e.attributes;
  r.raw_ctime = e.creation;
  r.raw_atime = e.access;
  r.raw_mtime = e.modification;
  r.mtime = from_file_time(e.modification);
  r.ctime = from_file_time(e.creation);
  r.atime = from_file_time(e.access);
  r.dos_time = to_dos_time(r.mtime);
}

// One step of a search: a first search (storing the new handle) or a following one.
bool search_step(intptr_t* handle, bool first, const char* narrow, const WChar* wide, FindRecord& r) {
  os::FoundEntry e;
  if (use_wide_api()) {
    WChar search[kPathSize];
    if (wide && *wide) {
      wide_copy_bounded(search, wide, kPathSize - 1);
      search[kPathSize - 1] = 0;
    } else if (!ansi_to_wide(narrow ? narrow : "", search, kPathSize)) {
      search[0] = 0;
    }
    if (first) {
      intptr_t h = os::find_first_wide(search, e);
      if (h == kNoSearch) {
        uint32_t error = last_system_error();
        if (error != kErrorFileNotFound && error != kErrorPathNotFound && error != kErrorNoMoreFiles) r.error = true;
        return false;
      }
      *handle = h;
    } else if (!os::find_next_wide(*handle, e)) {
      if (last_system_error() != kErrorNoMoreFiles) r.error = true;
      return false;
    }
    join_found(search, e.wide_name, r.wide_name);
    if (!wide_to_ansi(r.wide_name, r.name, kPathSize)) r.name[0] = 0;
    if (!e.wide_short_name[0] || !wide_to_ansi(e.wide_short_name, r.short_name, kPathSize)) r.short_name[0] = 0;
    fill_times(e, r);
    if (printable_ascii(r.wide_name)) r.wide_name[0] = 0;
    return true;
  }
  char search[kPathSize];
  if (narrow && *narrow) copy_bounded(search, narrow, sizeof(search));
  else if (!wide || !wide_to_ansi(wide, search, sizeof(search))) search[0] = 0;
  if (first) {
    intptr_t h = os::find_first_narrow(search, e);
    if (h == kNoSearch) {
      uint32_t error = last_system_error();
      if (error != kErrorFileNotFound && error != kErrorPathNotFound) r.error = true;
      return false;
    }
    *handle = h;
  } else if (!os::find_next_narrow(*handle, e)) {
    if (last_system_error() != kErrorNoMoreFiles) r.error = true;
    return false;
  }
  join_found(search, e.name, r.name);
  if (!ansi_to_wide(r.name, r.wide_name, kPathSize)) r.wide_name[0] = 0;
  copy_bounded(r.short_name, e.short_name, sizeof(r.short_name));
  fill_times(e, r);
  if (printable_ascii(r.name)) r.wide_name[0] = 0;
  return true;
}

}  // namespace

DirScanner::DirScanner() = default;

DirScanner::~DirScanner() {
  if (search != kNoSearch) os::find_close(search);
}

void DirScanner::set_mask(const char* new_mask) {
  copy_bounded(mask, new_mask, sizeof(mask));
  // A wide mask left from an earlier search would not match the new narrow mask.
  if (!wide_mask_given_) wide_mask[0] = 0;
  wide_mask_given_ = false;
  if (!wide_mask[0] && !ansi_to_wide(mask, wide_mask, kPathSize)) wide_mask[0] = 0;
  first = true;
}

void DirScanner::set_wide_mask(const WChar* new_mask) {
  wide_copy_bounded(wide_mask, new_mask, kPathSize - 1);
  wide_mask[kPathSize - 1] = 0;
  wide_mask_given_ = true;
}

bool DirScanner::next_entry(FindRecord& record) {
  record.error = false;
  if (!mask[0]) return false;
  for (;;) {
    if (first) {
      if (search != kNoSearch) {
        os::find_close(search);
        search = kNoSearch;
      }
      if (!search_step(&search, true, mask, wide_mask, record)) return false;
    } else if (search == kNoSearch || !search_step(&search, false, mask, wide_mask, record)) {
      return false;
    }
    record.is_folder = is_folder_attributes(record.attributes);
    first = false;
    const char* name = name_part(record.name);
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    return true;
  }
}

bool find_one(const char* narrow, const WChar* wide, FindRecord& record) {
  record.error = false;
  if (has_wildcards(narrow, wide)) return false;
  intptr_t handle = kNoSearch;
  if (!search_step(&handle, true, narrow, wide, record)) return false;
  os::find_close(handle);
  record.is_folder = is_folder_attributes(record.attributes);
  return true;
}
