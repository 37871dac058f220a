// Text encodings: the ANSI and OEM code pages, UTF-16, UTF-8, little-endian byte strings.
// On Windows the ANSI/OEM conversions are the system's; in the Linux build the ANSI
// code page is UTF-8 and the OEM code page is 437.
#pragma once

#include "platform/types.h"

// Lead-byte table of the ANSI code page (kept in the run state); filled at start-up.
void fill_lead_byte_table();
bool is_lead_byte(uint8_t b);
bool multibyte_code_page();

bool ansi_to_wide(const char* text, WChar* buffer, int capacity);
bool wide_to_ansi(const WChar* text, char* buffer, int capacity);
void oem_to_ansi(const char* text, char* buffer);  // buffer may be text; holds kPathSize bytes
void ansi_to_oem(const char* text, char* buffer);  // buffer may be text
const char* oem_to_ansi_for_display(const char* text);
void wide_to_le_bytes(const WChar* text, uint8_t* bytes, int max_units);
void le_bytes_to_wide(const uint8_t* bytes, WChar* buffer, int max_units);
// Decodes NUL-terminated UTF-8; returns the position after the last byte consumed.
const char* utf8_to_wide(const char* text, WChar* buffer, int capacity);
// Encodes UTF-16 as UTF-8 (surrogate pairs joined); always terminates. Returns the length.
int wide_to_utf8(const WChar* text, char* buffer, int capacity);

char upper_char_oem(char c);
char upper_char_for_names(char c);

const char* next_char(const char* p);
inline char* next_char(char* p) { return const_cast<char*>(next_char(static_cast<const char*>(p))); }
const char* find_char_dbcs(const char* text, char c);
const char* find_last_char_dbcs(const char* text, char c);
inline char* find_char_dbcs(char* t, char c) { return const_cast<char*>(find_char_dbcs(static_cast<const char*>(t), c)); }
inline char* find_last_char_dbcs(char* t, char c) {
  return const_cast<char*>(find_last_char_dbcs(static_cast<const char*>(t), c));
}

// Wide string helpers (NUL-terminated UTF-16).
size_t wide_length(const WChar* s);
WChar* wide_copy(WChar* dst, const WChar* src);
WChar* wide_copy_bounded(WChar* dst, const WChar* src, size_t n);  // adds no terminator of its own
WChar* wide_append(WChar* dst, const WChar* src);
const WChar* wide_find(const WChar* s, WChar c);
const WChar* wide_find_last(const WChar* s, WChar c);
const WChar* wide_find_any(const WChar* s, const WChar* set);
uint32_t wide_parse_decimal(const WChar* s);
bool wide_equal(const WChar* a, const WChar* b);

// Narrow helpers the module uses in place of the C library's (bounded, always terminated).
char* copy_bounded(char* buffer, const char* text, size_t size);
char* append_bounded(char* buffer, const char* text, size_t size);
