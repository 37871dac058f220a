// The packer's commands and the helpers they share.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/types.h"

using Args = std::vector<std::string>;  // UTF-8, without the program and command names

int command_create(const Args& args);
int command_list(const Args& args);
int command_test(const Args& args);
int command_extract(const Args& args);
int command_sfx(const Args& args);

// One line on stderr: "kez: " and the text.
void print_error(const std::string& text);

std::u16string utf8_to_u16(const std::string& text);
std::string u16_to_utf8(const std::u16string& text);
std::string wide_to_utf8_string(const WChar* text);
// Opens a file by its UTF-8 name (wide names on Windows).
std::FILE* open_file_utf8(const std::string& name, const char* mode);
// The name pair the core's file object takes for a UTF-8 path.
void core_names(const std::string& name, char* narrow, WChar* wide);
