#include "archive/volume.h"

#include "app/report.h"
#include "ui/catalogue.h"

// Multi-volume sets are not read yet: a set ends at its first volume with the
// missing-volume message.
bool next_volume(ArchiveReader&, DataPipe*, char) {
  log_error(message_text(119));
  return false;
}

void next_volume_name(char*, bool) {}
