// PPM blocks in the LZ stream. Not decoded by this build yet: a PPM block header fails
// like a PPM block that cannot start, which ends the file's decoding.
#include "decode/lz_state.h"

bool LzDecoder::State::ppm_start_block() { return false; }

int LzDecoder::State::ppm_decode_byte() { return -1; }
