#include "app/progress.h"

uint32_t progress_percent(uint64_t total64, uint64_t done64) {
  uint32_t total = static_cast<uint32_t>(total64);
  uint32_t done = static_cast<uint32_t>(done64);
  if (done > 1000000) {
    total >>= 8;
    done >>= 8;
  }
  if (total == 0) return 0;
  if (done > total) return 100;
  return static_cast<uint32_t>(static_cast<uint64_t>(done) * 100 / total);
}
