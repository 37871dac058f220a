#include <cstring>

#include "app/run_state.h"
#include "platform/file.h"
#include "platform/text.h"
#include "ui/ui.h"

bool ask_password(int kind, const char* file_name, char* output, int size) {
  if (run_state.password[0]) {
    copy_bounded(output, run_state.password, static_cast<size_t>(size));
    return true;
  }
  bool ask = run_state.typed_password[0] == 0;
  bool cancelled = false;
  if (ask) {
    int r = run_password_dialog(kind, file_name, run_state.typed_password, kPasswordSize);
    if (r == 0) {
      output[0] = 0;
      run_state.user_break = 1;
      cancelled = true;
    } else if (r < 0) {
      run_state.typed_password[0] = 0;
    }
  }
  if (!cancelled) copy_bounded(output, run_state.typed_password, static_cast<size_t>(size));
  if (output[0]) copy_bounded(run_state.password, output, kPasswordSize);
  return output[0] != 0;
}

int ask_next_volume(char* name) { return run_next_volume_dialog(name); }

void ask_replace(char* answer, char* file_name, int64_t size, uint32_t dos_time) {
  for (;;) {
    int result;
    if (run_state.overwrite_all) result = 1;
    else if (run_state.skip_all_existing) result = 2;
    else result = run_replace_dialog(file_name, size, dos_time);
    switch (result) {
      case 3:
        run_state.overwrite_all = true;
        [[fallthrough]];
      case 1:
        set_attributes(file_name, nullptr, 0);
        *answer = 'Y';
        return;
      case 6:
        run_state.skip_all_existing = true;
        [[fallthrough]];
      case 2:
        *answer = 'N';
        return;
      case 4: {
        char name[kPathSize];
        copy_bounded(name, file_name, sizeof(name));
        if (run_rename_dialog(name) == 1) {
          name[79] = 0;
          copy_bounded(file_name, name, kPathSize);
          *answer = 'R';
          return;
        }
        break;  // ask again
      }
      case 5:
        run_state.user_break = 1;
        *answer = 'C';
        return;
      default:
        return;  // not shown: the answer stays unchanged
    }
  }
}
