#include "platform/file.h"

#include <cstring>

#include "app/report.h"
#include "platform/os_file.h"
#include "platform/system.h"
#include "platform/text.h"

DiskFile* open_file_table[kOpenFileSlots];

namespace {
int closing_all = 0;
}

DiskFile::DiskFile() = default;

DiskFile::~DiskFile() {
  if (handle != kClosed) {
    if (created_here && delete_if_unfinished) close_and_delete();
    else close();
  }
}

void DiskFile::take_names(const char* name, const WChar* wide) {
  if (wide) {
    size_t i = 0;
    for (; i < kPathSize - 1 && wide[i]; i++) wide_name[i] = wide[i];
    wide_name[i] = 0;
  } else {
    wide_name[0] = 0;
  }
  if (name) copy_bounded(narrow_name, name, sizeof(narrow_name));
  else if (!wide || !wide_to_ansi(wide, narrow_name, sizeof(narrow_name))) narrow_name[0] = 0;
}

void DiskFile::register_open() {
  for (DiskFile* slot : open_file_table)
    if (slot == this) return;
  for (DiskFile*& slot : open_file_table) {
    if (!slot) {
      slot = this;
      return;
    }
  }
}

void DiskFile::unregister() {
  for (DiskFile*& slot : open_file_table)
    if (slot == this) slot = nullptr;
}

bool DiskFile::open(const char* name, const WChar* wide, bool for_update, bool share_write) {
  intptr_t h = os::open_file(name, wide, for_update, share_write || share_for_writing);
  created_here = false;
  if (h == os::kInvalidHandle) return false;
  handle = h;
  take_names(name, wide);
  register_open();
  return true;
}

bool DiskFile::open_or_report(const char* name, const WChar* wide) {
  if (open(name, wide)) return true;
  report_open_error(nullptr, name);
  return false;
}

bool DiskFile::create(const char* name, const WChar* wide) {
  handle = os::create_file(name, wide);
  created_here = true;
  LastErrorKeeper keep;  // the caller may tell access denied from other failures
  take_names(name, wide);
  if (handle == kClosed) return false;
  register_open();
  return true;
}

bool DiskFile::create_or_report(const char* name, const WChar* wide) {
  if (create(name, wide)) return true;
  raise_exit_code(kExitCreate);
  report_create_error(nullptr, name);
  return false;
}

bool DiskFile::close() {
  if (handle == kClosed) {
    close_count++;
    return true;
  }
  bool ok = os::close_file(handle);
  if (ok || closing_all == 0) unregister();
  handle = kClosed;
  close_count++;
  if (!ok && report_errors) report_close_error(narrow_name);
  return ok;
}

bool DiskFile::close_and_delete() {
  if (handle != kClosed) close();
  return delete_file(narrow_name, wide_name[0] ? wide_name : nullptr);
}

int DiskFile::read_raw(void* buffer, int count) {
  int n = os::read_file(handle, buffer, count);
  if (n < 0 && is_device() && count > 20000) return read_raw(buffer, 20000);
  return n;
}

int DiskFile::read(void* buffer, int count) {
  int n = read_raw(buffer, count);
  if (n != -1) return n;
  if (!report_errors) return -1;
  report_read_error(narrow_name);
}

int DiskFile::read_byte() {
  unsigned char b = 0;
  read(&b, 1);
  return b;
}

void DiskFile::write(const void* buffer, int size) {
  if (size <= 0) return;
  for (;;) {
    int written = 0;
    if (os::write_file(handle, buffer, size, &written)) return;
    if (!report_errors) return;
    if (!ask_write_retry(narrow_name)) report_write_error(narrow_name);
    if (written > 0 && written < size) seek(tell() - written, SeekOrigin::begin);
  }
}

bool DiskFile::seek_raw(int64_t offset, SeekOrigin origin) {
  if (handle == kClosed) return true;
  if (offset < 0 && origin != SeekOrigin::begin) {
    offset += origin == SeekOrigin::current ? tell() : length();
    origin = SeekOrigin::begin;
  }
  return os::seek_file(handle, offset, static_cast<int>(origin));
}

bool DiskFile::seek(int64_t offset, SeekOrigin origin) {
  if (seek_raw(offset, origin)) return true;
  if (report_errors) report_seek_error(narrow_name);
  return false;
}

int64_t DiskFile::tell() {
  int64_t p = os::tell_file(handle);
  if (p < 0 && report_errors) report_seek_error(narrow_name);
  return p;
}

int64_t DiskFile::length() {
  FilePositionKeeper keep(*this);
  seek(0, SeekOrigin::end);
  return tell();
}

bool DiskFile::truncate_here() { return os::truncate_file(handle); }

bool DiskFile::presize(int64_t new_length) {
  if (!seek_raw(new_length, SeekOrigin::begin)) return false;
  truncate_here();
  return seek(0, SeekOrigin::begin);
}

bool DiskFile::set_times(const TimeStamp* modification, const TimeStamp* creation, const TimeStamp* access) {
  FileTime m = 0, c = 0, a = 0;
  if (modification && modification->present()) m = to_file_time(*modification);
  if (creation && creation->present()) c = to_file_time(*creation);
  if (access && access->present()) a = to_file_time(*access);
  return os::set_file_time(handle, (creation && creation->present()) ? &c : nullptr,
                           (access && access->present()) ? &a : nullptr,
                           (modification && modification->present()) ? &m : nullptr);
}

bool DiskFile::set_attributes(uint32_t attributes) {
  return ::set_attributes(narrow_name, wide_name[0] ? wide_name : nullptr, attributes);
}

bool DiskFile::is_device() {
  if (handle == kClosed) return false;
  int t = os::file_type(handle);
  return t == 2 || t == 3;
}

bool DiskFile::close_all() {
  closing_all++;
  bool ok = true;
  for (DiskFile*& slot : open_file_table) {
    DiskFile* f = slot;
    if (!f) continue;
    f->report_errors = false;
    bool r = (f->created_here && f->delete_if_unfinished) ? f->close_and_delete() : f->close();
    if (r) slot = nullptr;
    else ok = false;
  }
  closing_all--;
  return ok;
}

FilePositionKeeper::FilePositionKeeper(DiskFile& file)
    : file_(file), position_(file.tell()), close_count_(file.close_count) {}

FilePositionKeeper::~FilePositionKeeper() {
  if (file_.close_count == close_count_) file_.seek(position_, SeekOrigin::begin);
}

bool file_exists(const char* narrow, const WChar* wide) {
  return os::get_attributes(narrow, wide) != kInvalidAttributes;
}

uint32_t get_attributes(const char* narrow, const WChar* wide) { return os::get_attributes(narrow, wide); }

bool set_attributes(const char* narrow, const WChar* wide, uint32_t attributes) {
  return os::set_attributes(narrow, wide, attributes);
}

bool delete_file(const char* narrow, const WChar* wide) { return os::delete_file(narrow, wide); }

int create_folder(const char* narrow, const WChar* wide, uint32_t attributes) {
  if (os::create_directory(narrow, wide)) {
    LastErrorKeeper keep;  // the last error stays the one the folder creation left
    os::set_attributes(narrow, wide, attributes);
    return 0;
  }
  uint32_t e = last_system_error();
  return (e == kErrorFileNotFound || e == kErrorPathNotFound) ? 2 : 1;
}

bool remove_folder(const char* narrow, const WChar* wide) { return os::remove_directory(narrow, wide); }

void set_times_by_name(const char* narrow, const TimeStamp* modification, const TimeStamp* creation,
                       const TimeStamp* access) {
  if (!use_wide_api()) return;
  uint32_t attributes = os::get_attributes(narrow, nullptr);
  bool cleared = attributes != kInvalidAttributes && (attributes & kAttrReadOnly);
  if (cleared) os::set_attributes(narrow, nullptr, 0);
  intptr_t h = os::open_for_times(narrow);
  if (h != os::kInvalidHandle) {
    FileTime m = 0, c = 0, a = 0;
    bool hm = modification && modification->present(), hc = creation && creation->present(),
         ha = access && access->present();
    if (hm) m = to_file_time(*modification);
    if (hc) c = to_file_time(*creation);
    if (ha) a = to_file_time(*access);
    os::set_file_time(h, hc ? &c : nullptr, ha ? &a : nullptr, hm ? &m : nullptr);
    os::close_file(h);
  }
  if (cleared) os::set_attributes(narrow, nullptr, attributes);
}

bool is_folder_attributes(uint32_t attributes) {
  return attributes != kInvalidAttributes && (attributes & kAttrDirectory);
}

bool rename_file(const char* from, const WChar* from_wide, const char* to, const WChar* to_wide) {
  return os::rename_file(from, from_wide, to, to_wide);
}
