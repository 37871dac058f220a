// Security descriptors and streams are not restored yet: the sub-blocks are skipped.
#include "platform/streams.h"

void apply_sub_block(ExtractionJob&, ArchiveReader&, const char*, const WChar*) {}
