// What the portable core asks of the user interface. The module implements these with
// its dialogs (ui/win32); the command-line tools and tests with the console (ui/console),
// where answers come from the terminal or from a scripted answer list.
#pragma once

#include "platform/types.h"

// The log pane: one line per call; emphasised lines are errors (bold, dark red).
void log_pane_append(const char* text, bool emphasised);

// Handles one waiting window message, if any.
void pump_one_message();
// Dispatches every waiting window message (the pump of keep_ui_alive).
void pump_pending_messages();
// Sets the progress bar from the two counts, then pumps one message.
void show_progress(uint64_t total, uint64_t done);

// Message box with Retry and Cancel and the warning icon; true for Retry.
bool show_retry_box(const char* text, const char* caption);
// The waiting state after a fatal error: returns when the user has closed the dialog.
void wait_for_close();

// Loads the resource text of a numbered message (empty when there is none); the length.
int load_resource_string(int id, char* buffer, int size);

// Dialog primitives behind the prompts (the prompt logic itself is portable, ui/prompts).
// Password dialog: 1 OK (typed holds at most 127 characters), 0 cancel, -1 not shown.
int run_password_dialog(int kind, const char* file_name, char* typed, int size);
// Next-volume dialog: 1 OK (name, 1024 bytes, possibly edited), 0 cancel.
int run_next_volume_dialog(char* name);
// Replace dialog: 1 yes, 2 no, 3 yes to all, 4 rename, 5 cancel, 6 no to all; 0 or -1 not shown.
int run_replace_dialog(const char* file_name, int64_t new_size, uint32_t new_dos_time);
// Rename dialog: 1 OK (name holds at most 79 characters), 0 cancel.
int run_rename_dialog(char* name);

// The prompts (Part of the portable core, built on the primitives above).
// kind 1: an encrypted file; kind 2: encrypted headers.
bool ask_password(int kind, const char* file_name, char* output, int size);
// 1 OK (name possibly edited), 0 cancel.
int ask_next_volume(char* name);
// answer becomes 'Y', 'N', 'R' (file_name holds the new name) or 'C'.
void ask_replace(char* answer, char* file_name, int64_t size, uint32_t dos_time);
