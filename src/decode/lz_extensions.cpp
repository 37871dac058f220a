// PPM blocks and filter records in the LZ stream. Neither is decoded by this build: a
// PPM block header fails like a PPM block that cannot start, and a filter record fails
// like an unreadable record; both end the file's decoding.
#include "decode/lz_state.h"

bool LzDecoder::State::ppm_start_block() { return false; }

int LzDecoder::State::ppm_decode_byte() { return -1; }

bool LzDecoder::State::read_filter_record_lz() { return false; }

bool LzDecoder::State::read_filter_record_ppm() { return false; }

void LzDecoder::State::reset_filters() {
  for (uint32_t k = 0; k < pending.count; k++) delete pending[k];
  pending.release();
}

void LzDecoder::State::run_filters(uint32_t k, uint32_t, uint32_t, const uint8_t** result, uint32_t* result_size) {
  // Nothing queues an invocation yet; one that got here would produce no output.
  delete pending[k];
  pending[k] = nullptr;
  *result = window;
  *result_size = 0;
}
