// Name handling through the Win32 API.
#include <windows.h>

#include "platform/os_names.h"

namespace os {

int compare_names(const char* a, int na, const char* b, int nb) {
  // CompareStringA answers 1, 2 or 3 (0 on failure).
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, na, b, nb) - 2;
}

char upper_ansi_char(char c) {
  // With a high word of zero the argument is one character, uppercased in the result.
  UINT_PTR one = static_cast<unsigned char>(c);
  return static_cast<char>(reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(one))));
}

bool full_path_name(const char* path, char* buffer, int size) {
  char* file_part = nullptr;
  DWORD n = GetFullPathNameA(path, static_cast<DWORD>(size), buffer, &file_part);
  return n != 0 && n < static_cast<DWORD>(size);
}

NameRules native_name_rules() { return NameRules::windows; }

}  // namespace os
