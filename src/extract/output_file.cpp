#include "extract/output_file.h"

#include <cstring>

#include "app/report.h"
#include "extract/extraction.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/scan.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/ui.h"

namespace {

const WChar* wide_or_null(const WChar* w) { return (w && *w) ? w : nullptr; }

// On Windows a long-named file also answers to its 8.3 name; an entry named like that
// alias would overwrite the unrelated file. Moves the file away and back so that it
// receives another alias and the path becomes free.
bool free_short_name_alias(const char* path, const WChar* path_w) {
  FindRecord found;
  if (!find_one(path, wide_or_null(path_w), found)) return false;
  const char* long_name = name_part(found.name);
  if (!*long_name || !found.short_name[0]) return false;
  if (compare_names(long_name, found.short_name) == 0 || compare_names(name_part(path), found.short_name) != 0)
    return false;

  char folder[kPathSize];
  folder_part_copy(path, folder, sizeof(folder));
  char temporary[kPathSize];
  bool free_name = false;
  for (int n = 0; n < 10000; n += 123) {
    char name[32];
    format_text(name, sizeof(name), "rtmp%d", n);
    copy_bounded(temporary, folder, sizeof(temporary));
    append_bounded(temporary, name, sizeof(temporary));
    if (!file_exists(temporary, nullptr)) {
      free_name = true;
      break;
    }
  }
  if (!free_name) return false;
  if (!rename_file(found.name, wide_or_null(found.wide_name), temporary, nullptr)) return false;

  DiskFile placeholder;
  bool made_placeholder = false;
  if (!file_exists(path, wide_or_null(path_w))) made_placeholder = placeholder.create(path, wide_or_null(path_w));
  rename_file(temporary, nullptr, found.name, wide_or_null(found.wide_name));
  if (made_placeholder) placeholder.close_and_delete();
  return true;
}

}  // namespace

bool create_output_file(ExtractionJob& job, DiskFile* file, char* path, uint32_t dos_mtime, int64_t size,
                        bool* skipped, WChar* path_w) {
  (void)job;
  *skipped = false;
  bool first = true;
  while (file_exists(path, wide_or_null(path_w))) {
    if (first) {
      first = false;
      if (free_short_name_alias(path, path_w)) continue;
    }
    char name[kPathSize];
    copy_bounded(name, path, sizeof(name));
    char answer = 0;
    ask_replace(&answer, name, size, dos_mtime);
    if (answer == 'Y') break;
    if (answer == 'N') {
      *skipped = true;
      return false;
    }
    if (answer == 'R') {
      if (name_part(name) == name) {
        char* tail = name_part(path);
        size_t room = kPathSize - static_cast<size_t>(tail - path);
        copy_bounded(tail, name, room);
      } else {
        copy_bounded(path, name, kPathSize);
      }
      if (path_w) path_w[0] = 0;
      continue;
    }
    if (answer == 'C') fatal_error(kExitUserBreak);
    // The prompt could not be shown: keep the existing file rather than ask forever.
    *skipped = true;
    return false;
  }
  if (file && file->create(path, wide_or_null(path_w))) return true;
  set_attributes(path, wide_or_null(path_w), 0);
  create_all_folders(path, wide_or_null(path_w), true);
  if (file) return file->create(path, wide_or_null(path_w));
  return delete_file(path, wide_or_null(path_w));
}
