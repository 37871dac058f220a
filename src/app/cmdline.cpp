#include "app/cmdline.h"

#include "app/run_state.h"
#include "platform/text.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Collects one token from p into token; quotes toggle the quoted state and are dropped.
// Returns the position after the token.
const char* next_token(const char* p, char* token) {
  int length = 0;
  bool quoted = false;
  for (; *p; p++) {
    char c = *p;
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && is_blank(c)) break;
    if (length < kTokenLength) token[length++] = c;
  }
  token[length] = 0;
  return p;
}

void apply_switch(const char* token) {
  char letter = upper_char_oem(token[1]);
  char third = token[1] ? upper_char_oem(token[2]) : 0;
  switch (letter) {
    case 'D':
      copy_bounded(run_state.destination, token + 2, sizeof(run_state.destination));
      break;
    case 'E':
      if (third == 'L' && token[3] == 0) run_state.elevated_instance = true;
      break;
    case 'P':
      copy_bounded(run_state.password, token + 2, sizeof(run_state.password));
      break;
    case 'S':
      if (third == 0 || third == '1') {
        run_state.silent_level = 1;
        run_state.silent_from_command_line = true;
      } else if (third == '2') {
        run_state.silent_level = 2;
        run_state.silent_from_command_line = true;
      } else if (third == 'P') {
        copy_bounded(run_state.setup_parameters, token + 3, sizeof(run_state.setup_parameters));
      }
      break;
    default:
      break;
  }
}

}  // namespace

void parse_command_line(const char* text) {
  if (!text) return;
  char token[kTokenLength + 1];
  bool first = true;
  const char* p = text;
  for (;;) {
    while (is_blank(*p)) p++;
    if (!*p) return;
    p = next_token(p, token);
    if (first) {
      first = false;
      continue;
    }
    if (token[0] == '-' || token[0] == '/') apply_switch(token);
  }
}
