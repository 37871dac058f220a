// Output files: clearing the way for an entry (replace prompt, short-name aliases) and
// creating the file with its missing folders.
#pragma once

#include "platform/types.h"

class DiskFile;
struct ExtractionJob;

// Creates file at path (or, without a file, only clears the path). skipped is set when
// the user chose to keep the existing file. path may be changed by a rename answer,
// which also clears path_w.
bool create_output_file(ExtractionJob& job, DiskFile* file, char* path, uint32_t dos_mtime, int64_t size,
                        bool* skipped, WChar* path_w);
