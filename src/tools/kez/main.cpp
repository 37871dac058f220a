// kez: the packer. Each command lives in its own file; main only dispatches.
#include <cstring>
#include <string>

#include "app/run_state.h"
#include "crypto/crc32.h"
#include "platform/text.h"
#include "tools/kez/kez.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

const char kUsage[] =
    "usage: kez COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  create -o ARCHIVE [OPTIONS] PATH...  pack files and folders into a new archive\n"
    "  list ARCHIVE                        show every block of an archive\n"
    "  test ARCHIVE                        decode every entry and check it, write nothing\n"
    "  extract [-C DIR] ARCHIVE            extract every entry (exit status: the module's)\n"
    "  sfx -o SETUP.EXE [OPTIONS] PATH...  make an installer: the module and a new archive\n"
    "\n"
    "kez COMMAND --help shows the options of a command.\n";

struct Command {
  const char* name;
  int (*run)(const Args&);
};

const Command kCommands[] = {
    {"create", command_create},
    {"list", command_list},
    {"test", command_test},
    {"extract", command_extract},
    {"sfx", command_sfx},
};

Args utf8_arguments(int argc, char** argv) {
  Args args;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide && i < count; i++) {
    std::u16string w(reinterpret_cast<const char16_t*>(wide[i]));
    args.push_back(u16_to_utf8(w));
  }
  if (wide) LocalFree(wide);
#else
  for (int i = 1; i < argc; i++) args.push_back(argv[i]);
#endif
  return args;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);  // listings are written in UTF-8
#endif
  fill_lead_byte_table();
  crc32_fill_table();
  Args args = utf8_arguments(argc, argv);
  if (args.empty()) {
    print_error("no command given (try kez --help)");
    return 2;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (name == c.name) return c.run(Args(args.begin() + 1, args.end()));
  }
  print_error("unknown command '" + name + "' (try kez --help)");
  return 2;
}
