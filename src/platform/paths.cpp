// Placeholder until the path helpers land: only create_all_folders, over the narrow name.
#include "platform/paths.h"

#include "platform/file.h"
#include "platform/text.h"

bool create_all_folders(const char* path, const WChar*, bool last_is_file) {
  char prefix[kPathSize];
  bool all_created = true;
  int i = 0;
  for (const char* p = path; *p && i < kPathSize - 1;) {
    const char* next = next_char(p);
    if (*p == '\\') {
      prefix[i] = 0;
      if (create_folder(prefix, nullptr, 0) != 0) all_created = false;
    }
    for (; p < next && i < kPathSize - 1; p++) prefix[i++] = *p;
  }
  prefix[i] = 0;
  if (!last_is_file && i > 0 && prefix[i - 1] != '\\' && prefix[i - 1] != '/') {
    if (create_folder(prefix, nullptr, 0) != 0) all_created = false;
  }
  return all_created;
}
