// Filter records in the LZ stream. Not decoded by this build yet: a filter record fails
// like an unreadable record, which ends the file's decoding.
#include "decode/lz_state.h"

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
