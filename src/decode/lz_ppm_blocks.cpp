// PPM blocks in the LZ stream: the PPM decoder reads its bytes from the LZ decoder's
// input buffer.
#include "decode/lz_state.h"

bool LzDecoder::State::ppm_start_block() {
  ppm.attach(input.buffer, &input.byte_pos, [](void* s) { return static_cast<State*>(s)->refill_buffer(); }, this);
  return ppm.start_block(&ppm_escape);
}

int LzDecoder::State::ppm_decode_byte() { return ppm.decode_byte(); }
