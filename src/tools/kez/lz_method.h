#pragma once

#include <memory>

#include "encode/archive_writer.h"

// The LZ compressor at level 1 (fastest) to 5 (smallest); null when this build has none.
std::unique_ptr<EntryCompressor> make_lz_compressor(int level);
