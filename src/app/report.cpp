#include "app/report.h"

#include <cstdarg>
#include <cstring>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/catalogue.h"
#include "ui/ui.h"

void raise_exit_code(int code) {
  ExitCode& s = run_state.exit_status;
  switch (code) {
    case kExitWarning:
    case kExitUserBreak:
      if (s.code == kExitSuccess) s.code = code;
      break;
    case kExitFatal:
      if (s.code == kExitSuccess || s.code == kExitWarning) s.code = code;
      break;
    default:
      s.code = code;
      break;
  }
  s.raises++;
}

void reset_exit_status() {
  run_state.exit_status.code = 0;
  run_state.exit_status.raises = 0;
}

int exit_code() { return run_state.exit_status.code; }

void report(const char* context, const char* format, ...) {
  (void)context;
  if (run_state.user_break || !format || !*format) return;
  LastErrorKeeper keep;
  char text[4096];
  va_list args;
  va_start(args, format);
  format_text_v(text, sizeof(text), format, args);
  va_end(args);
  log_pane_append(text, true);
  run_state.error_lines++;
}

void report_open_error(const char* archive, const char* name) { report(archive, message_text(109), name); }
void report_create_error(const char* archive, const char* name) { report(archive, message_text(110), name); }

void report_read_error(const char* name) {
  report(nullptr, message_text(117), name);
  fatal_error(kExitFatal);
}

void report_write_error(const char* name) {
  report(nullptr, message_text(116), name);
  fatal_error(kExitWrite);
}

void report_close_error(const char* name) {
  report(nullptr, message_text(118), name);
  fatal_error(kExitFatal);
}

void report_seek_error(const char* name) {
  report(nullptr, message_text(516), name);
  fatal_error(kExitFatal);
}

void report_memory_error() {
  report(nullptr, message_text(107));
  fatal_error(kExitMemory);
}

bool ask_write_retry(const char* name) {
  LastErrorKeeper keep;
  char text[1024];
  format_text(text, sizeof(text), message_text(116), name);
  return show_retry_box(text, message_text(126));
}

void fatal_error(int code) {
  raise_exit_code(code);
  DiskFile::close_all();
  wait_for_close();
  exit_process(run_state.exit_status.code);
}

void log_line(const char* format, ...) {
  if (!format) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text_v(text, sizeof(text), format, args);
  va_end(args);
  log_pane_append(text, false);
}

void log_error(const char* format, ...) {
  if (!format) {
    run_state.error_lines++;
    return;
  }
  if (!*format) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text_v(text, sizeof(text), format, args);
  va_end(args);
  log_pane_append(text, true);
  run_state.error_lines++;
}

bool progress_line(const char* name, bool skipping) {
  log_line(message_text(skipping ? 102 : 101), name);
  pump_one_message();
  return run_state.user_break == 0;
}

void keep_ui_alive() {
  static bool started = false;
  static uint32_t first_tick = 0;
  if (!started) {
    started = true;
    first_tick = tick_count();
    return;
  }
  if (static_cast<uint32_t>(tick_count() - first_tick) <= 100) return;
  if (run_state.user_break) {
    raise_exit_code(kExitUserBreak);
    fatal_error(kExitUserBreak);
  }
  pump_pending_messages();
}
