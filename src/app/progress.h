// The percentage shown by the progress bar of the start dialog.
#pragma once

#include "platform/types.h"

// Only the low 32 bits of both counts are used; counts above 1,000,000 are scaled down
// by 256 first. 0 without a total, 100 once done passes total.
uint32_t progress_percent(uint64_t total, uint64_t done);
