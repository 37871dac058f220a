// Security descriptors ("ACL") and alternate streams ("STM") stored after a file's block.
#include "platform/streams.h"

#include <cstring>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "extract/extraction.h"
#include "platform/file.h"
#include "platform/os_file.h"
#include "platform/os_security.h"
#include "platform/paths.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "ui/catalogue.h"

namespace {

bool security_privilege_enabled = false;
bool privileges_tried = false;

constexpr uint32_t kOwnerGroupDacl = 7;  // owner, group and DACL information
constexpr uint32_t kSacl = 8;            // the auditing part

void enable_restore_privileges() {
  if (privileges_tried) return;
  privileges_tried = true;
  os::enable_restore_privileges(&security_privilege_enabled);
}

void apply_security(ArchiveReader& reader, const char* narrow, const WChar* wide) {
  if (!os::ntfs_data_supported()) return;
  GrowArray<uint8_t> descriptor;
  if (!reader.read_sub_block_data(&descriptor, nullptr)) return;
  enable_restore_privileges();
  uint32_t information = kOwnerGroupDacl | (security_privilege_enabled ? kSacl : 0);
  if (descriptor.count == 0 || !os::set_file_security(narrow, wide, descriptor.items, information)) {
    report(reader.narrow_name, message_text(996), reader.narrow_name, narrow);
    raise_exit_code(kExitWarning);
  }
}

void extract_stream(ArchiveReader& reader, const char* narrow, const WChar* wide) {
  if (!os::ntfs_data_supported()) return;
  constexpr size_t kStreamPathSize = 1026;
  WChar target[kPathSize];
  if (wide && *wide) {
    wide_copy_bounded(target, wide, kPathSize - 1);
    target[kPathSize - 1] = 0;
  } else if (!ansi_to_wide(narrow, target, kPathSize)) {
    target[0] = 0;
  }
  WChar stream_path[kStreamPathSize + 2];
  stream_path[0] = 0;
  if (wide_length(target) == 1) {
    stream_path[0] = '.';
    stream_path[1] = '\\';
    stream_path[2] = 0;
  }
  wide_append(stream_path, target);

  // The stream name: the header's own data, UTF-16 little-endian (an odd byte ignored).
  const GrowArray<uint8_t>& name_bytes = reader.sub.block_data;
  size_t units = name_bytes.count / 2;
  size_t n = 0;
  while (n < units && (name_bytes[2 * n] | name_bytes[2 * n + 1])) n++;
  size_t start = wide_length(stream_path);
  if (start + n >= kStreamPathSize) {
    raise_exit_code(kExitCrc);
    return;
  }
  for (size_t i = 0; i < n; i++)
    stream_path[start + i] = static_cast<WChar>(name_bytes[2 * i] | (name_bytes[2 * i + 1] << 8));
  stream_path[start + n] = 0;
  if (stream_path[start] != ':') {
    raise_exit_code(kExitCrc);
    return;
  }
  // The stream name can carry no drive, root or ".." components.
  WChar cleaned[kPathSize];
  make_safe_relative(stream_path + start + 1, cleaned);
  if (start + 1 + wide_length(cleaned) >= kStreamPathSize) return;
  wide_copy(stream_path + start + 1, cleaned);

  FindRecord found;
  bool target_found = find_one(narrow, wide, found);
  if (target_found && (found.attributes & kAttrReadOnly))
    set_attributes(narrow, wide, found.attributes & ~kAttrReadOnly);

  char stream_narrow[kPathSize];
  if (!wide_to_ansi(stream_path, stream_narrow, sizeof(stream_narrow))) stream_narrow[0] = 0;
  DiskFile stream;
  if (stream.create_or_report(stream_narrow, stream_path)) {
    if (reader.read_sub_block_data(nullptr, &stream)) stream.close();
  }
  DiskFile file;
  if (target_found) {
    if (file.open(narrow, wide, true, true))
      os::set_file_time(file.handle, &found.raw_ctime, &found.raw_atime, &found.raw_mtime);
    set_attributes(narrow, wide, found.attributes);
  }
}

}  // namespace

void apply_sub_block(ExtractionJob& job, ArchiveReader& reader, const char* narrow, const WChar* wide) {
  if (std::strcmp(reader.sub.name, "ACL") == 0) {
    if (job.restore_ntfs_data) apply_security(reader, narrow, wide);
  } else if (std::strcmp(reader.sub.name, "STM") == 0) {
    extract_stream(reader, narrow, wide);
  }
}
