// The one process-wide record of settings and results.
#pragma once

#include "platform/types.h"

struct ExitCode {
  int code = 0;
  int raises = 0;
};

enum ExitCodes : int {
  kExitSuccess = 0,
  kExitWarning = 1,
  kExitFatal = 2,
  kExitCrc = 3,
  kExitWrite = 5,
  kExitOpen = 6,
  kExitMemory = 8,
  kExitCreate = 9,
  kExitUserBreak = 255,
};

struct RunState {
  // Command line.
  char destination[kPathSize];
  char password[kPasswordSize];
  char setup_parameters[kPathSize];
  int silent_level;
  bool silent_from_command_line;
  bool elevated_instance;
  bool temp_mode;

  char module_path[kPathSize];
  void* instance_handle;

  int user_break;  // 0 none, 1 cancel asked (or prompt refused), 2 dialog closing
  ExitCode exit_status;
  int error_lines;
  bool extraction_running;
  bool extraction_finished;
  bool waiting_for_close;
  void* elevated_child;

  char* comment_text;
  int comment_size;
  char typed_password[kPasswordSize];

  bool lead_byte_table[256];
  bool multibyte_code_page;

  // Script settings.
  bool overwrite_all;
  bool skip_all_existing;
  bool save_path;
  char script_path[kPathSize];
  char* main_text;
  char* license_text;
  bool keep_temp_folder;

  // Start dialog.
  void* main_window;
  void* message_box_owner;
  bool log_pane_in_use;
};

// Zero-filled at load time, never freed.
extern RunState run_state;
