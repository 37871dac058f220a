// The archive comment: the installation script of the module.
#pragma once

#include "platform/memory.h"

class ArchiveReader;

// Reads the comment of the archive in module_path. On success text_out receives a new
// heap text (size + 1 bytes, NUL-terminated, freed with mem_free) and size_out its size;
// otherwise both are left untouched.
void read_script_comment(const char* module_path, char** text_out, int* size_out);
bool read_comment(ArchiveReader& reader, GrowArray<uint8_t>& buffer);
