// Console user interface of the command-line tools and the tests: the log goes to
// stderr; prompts take their answers from the file named by QUILLO_ANSWERS (one line
// per prompt, in order) or, when stdin is a terminal, from the terminal; otherwise a
// prompt counts as cancelled.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/run_state.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/catalogue.h"
#include "ui/console/console_hooks.h"
#include "ui/ui.h"

namespace {

FILE* answers_file() {
  static bool opened = false;
  static FILE* f = nullptr;
  if (!opened) {
    opened = true;
    const char* name = getenv("QUILLO_ANSWERS");
    if (name && *name) f = fopen(name, "r");
  }
  return f;
}

// The next answer line without its line end; false when there is none.
bool next_answer(const char* question, char* buffer, int size) {
  FILE* f = answers_file();
  if (!f) {
    if (!isatty(0)) return false;
    fprintf(stderr, "%s ", question);
    fflush(stderr);
    f = stdin;
  }
  if (!fgets(buffer, size, f)) return false;
  size_t n = strlen(buffer);
  while (n && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) buffer[--n] = 0;
  return true;
}

FILE* log_copy() {
  static bool opened = false;
  static FILE* f = nullptr;
  if (!opened) {
    opened = true;
    const char* name = getenv("QUILLO_SFX_LOG");
    if (name && *name) f = fopen(name, "a");
  }
  return f;
}

}  // namespace

bool console_quiet = false;

void log_pane_append(const char* text, bool emphasised) {
  // Lines are collected and written at most every 100 ms: one system call per line would
  // cost more than extracting a small file.
  static bool buffered = false;
  static uint32_t last_flush = 0;
  if (!buffered) {
    buffered = true;
    setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    last_flush = tick_count();
  }
  run_state.log_pane_in_use = true;
  if (console_quiet && !emphasised) {
    if (FILE* f = log_copy()) fprintf(f, "%s\n", text);
    return;
  }
  fprintf(stderr, "%s%s\n", emphasised ? "! " : "", text);
  if (emphasised || static_cast<uint32_t>(tick_count() - last_flush) > 100) {
    fflush(stderr);
    last_flush = tick_count();
  }
  if (FILE* f = log_copy()) {
    fprintf(f, "%s\n", text);
    fflush(f);
  }
}

void (*console_pump_hook)() = nullptr;

void pump_one_message() {
  if (console_pump_hook) console_pump_hook();
}
void pump_pending_messages() {
  if (console_pump_hook) console_pump_hook();
}
void show_progress(uint64_t, uint64_t) {}

bool show_retry_box(const char* text, const char* caption) {
  fprintf(stderr, "%s: %s\n", caption, text);
  char answer[64];
  if (!next_answer("[r]etry or [c]ancel?", answer, sizeof(answer))) return false;
  return answer[0] == 'r' || answer[0] == 'R';
}

void wait_for_close() {
  run_state.extraction_finished = true;
  run_state.extraction_running = false;
  run_state.waiting_for_close = true;
  run_state.user_break = 2;
}

int load_resource_string(int id, char* buffer, int size) {
  const char* text = getenv("QUILLO_MESSAGES_ZH") ? string_table_text(id) : string_table_english(id);
  copy_bounded(buffer, text ? text : "", static_cast<size_t>(size));
  return static_cast<int>(strlen(buffer));
}

int run_password_dialog(int kind, const char* file_name, char* typed, int size) {
  char answer[kPasswordSize + 8];
  char question[kPathSize + 32];
  snprintf(question, sizeof(question), "Password for %s:", kind == 2 ? "the archive" : file_name);
  if (!next_answer(question, answer, sizeof(answer))) return 0;
  answer[kPasswordSize - 1] = 0;
  copy_bounded(typed, answer, static_cast<size_t>(size));
  return 1;
}

int run_next_volume_dialog(char* name) {
  char answer[kPathSize];
  char question[kPathSize + 48];
  snprintf(question, sizeof(question), "Next volume needed (%s), name or empty to cancel:", name);
  if (!next_answer(question, answer, sizeof(answer)) || !answer[0]) return 0;
  if (strcmp(answer, ".") != 0) copy_bounded(name, answer, kPathSize);
  return 1;
}

int run_replace_dialog(const char* file_name, int64_t, uint32_t) {
  char answer[kPathSize];
  char question[kPathSize + 80];
  snprintf(question, sizeof(question), "%s exists: [y]es, [n]o, [a]ll, [r]ename, n[o]ne, [c]ancel?", file_name);
  if (!next_answer(question, answer, sizeof(answer))) return 5;
  switch (answer[0]) {
    case 'y': case 'Y': return 1;
    case 'n': case 'N': return 2;
    case 'a': case 'A': return 3;
    case 'r': case 'R': return 4;
    case 'o': case 'O': return 6;
    default: return 5;
  }
}

int run_rename_dialog(char* name) {
  char answer[kPathSize];
  if (!next_answer("New name:", answer, sizeof(answer)) || !answer[0]) return 0;
  answer[79] = 0;
  copy_bounded(name, answer, kPathSize);
  return 1;
}
