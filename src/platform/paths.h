// Paths and names: splitting, validity, safe relative names, masks, folder creation.
// Both separators are recognised; only the backslash is written.
#pragma once

#include "platform/os_names.h"
#include "platform/types.h"

bool is_separator(int c);
const char* name_part(const char* path);
const WChar* name_part(const WChar* path);
inline char* name_part(char* p) { return const_cast<char*>(name_part(static_cast<const char*>(p))); }
inline WChar* name_part(WChar* p) { return const_cast<WChar*>(name_part(static_cast<const WChar*>(p))); }
const char* last_char(const char* path);
const char* extension_of(const char* path);
inline char* extension_of(char* p) { return const_cast<char*>(extension_of(static_cast<const char*>(p))); }
bool has_extension(const char* path, const char* extension);
bool has_wildcards(const char* narrow, const WChar* wide);
void folder_part_copy(const char* path, char* buffer, int size);
void strip_name_part(char* path);
bool starts_with_drive(const char* path);
void root_of(const char* path, char* buffer);
void full_path(const char* path, char* buffer);
char* slashes_to_backslashes(char* path, char* buffer, int size);
uint32_t split_version_suffix(char* narrow, WChar* wide, bool cut);

bool is_valid_local_name(const char* name);
void replace_invalid_chars(char* name, bool strict);
// Returns the kept tail of name; with a buffer, copies it there (at most 1023 characters).
const char* make_safe_relative(const char* name, char* buffer);
const WChar* make_safe_relative(const WChar* name, WChar* buffer);
// Second cleaning of a relative name (after make_safe_relative), in place, at most 1023
// characters: no component can climb above the folder the name is joined to or reach a
// device. "." components and ".." components that are not last are resolved (never
// above the start); a last ".." stays only below a kept component; leading separators
// and runs of separators are dropped. Under the Windows rules a component that names a
// device (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$, CONOUT$, CLOCK$, also with an
// extension or trailing blanks) gets a leading "_", and its trailing dots and blanks
// become "_". A name that would grow past 1023 characters loses its last components.
void make_system_safe(char* name);
void make_system_safe(WChar* name);
void make_system_safe(char* name, NameRules rules);
void make_system_safe(WChar* name, NameRules rules);

bool create_all_folders(const char* path, const WChar* wide, bool last_is_file);
bool wildcard_match(const char* mask, const char* name, bool case_sensitive);
constexpr uint32_t kMaskCaseSensitive = 0x80000000u;
bool mask_matches(const char* mask, const char* name, uint32_t mode);
const char* volume_number_position(const char* name);
inline char* volume_number_position(char* n) {
  return const_cast<char*>(volume_number_position(static_cast<const char*>(n)));
}

// Locale comparison of names ignoring case: 0 when equal. n < 0 compares whole strings.
int compare_names(const char* a, const char* b, int n = -1);

