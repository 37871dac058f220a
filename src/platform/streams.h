// Security descriptors and alternate streams stored after a file's block.
#pragma once

#include "platform/types.h"

class ArchiveReader;
struct ExtractionJob;

// Applies an "ACL" or "STM" sub-block (the reader is positioned on it) to the file just
// extracted; other sub-blocks are left alone.
void apply_sub_block(ExtractionJob& job, ArchiveReader& reader, const char* narrow, const WChar* wide);
