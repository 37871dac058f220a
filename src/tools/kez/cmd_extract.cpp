// kez extract / kez test: the module's extraction run through the console.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "extract/extraction.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/kez/kez.h"
#include "ui/console/console_hooks.h"

namespace {

const char kExtractUsage[] =
    "usage: kez extract [--password P] [-C DIR | --output DIR] ARCHIVE\n"
    "       kez test [--password P] ARCHIVE\n"
    "\n"
    "extract writes every entry of ARCHIVE (an archive or an installer made by kez sfx)\n"
    "into DIR (default: the current folder); test decodes every entry and checks it\n"
    "without writing anything. The exit status is the module's exit code: 0 success,\n"
    "1 warning, 2 fatal error, 3 CRC error or damaged data, 5 write error, 6 open error,\n"
    "8 out of memory, 9 create error, 255 user break.\n"
    "\n"
    "options:\n"
    "  -p, --password P       password for encrypted entries\n"
    "  -C, --output DIR       destination folder (created when missing; extract only)\n"
    "  -q, --quiet            no line per entry, only errors (the default of test)\n"
    "  -v, --verbose          a line per entry (the default of extract)\n"
    "  -h, --help             show this help\n";

// True when the file opens but holds no archive this program can read; message 120 is
// logged then, as the module logs it.
bool opens_but_is_no_archive(const char* narrow, const WChar* wide) {
  DiskFile probe;
  if (!probe.open(narrow, wide)) return false;
  probe.close();
  ArchiveReader reader;
  return !reader.open_archive(narrow, wide);
}

int run(bool testing, const Args& args) {
  std::string password, output, archive;
  bool have_archive = false;
  console_quiet = testing;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        print_error(a + " needs a value");
        return false;
      }
      into = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kExtractUsage, stdout);
      return 0;
    } else if (a == "--quiet" || a == "-q") {
      console_quiet = true;
    } else if (a == "--verbose" || a == "-v") {
      console_quiet = false;
    } else if (a == "--password" || a == "-p") {
      if (!value(password)) return 2;
    } else if (a.rfind("--password=", 0) == 0) {
      password = a.substr(11);
    } else if (!testing && (a == "--output" || a == "-C")) {
      if (!value(output)) return 2;
    } else if (!testing && a.rfind("--output=", 0) == 0) {
      output = a.substr(9);
    } else if (a.size() > 1 && a[0] == '-') {
      print_error("unknown option " + a + std::string(" (try kez ") + (testing ? "test" : "extract") + " --help)");
      return 2;
    } else if (have_archive) {
      print_error("only one archive can be given");
      return 2;
    } else {
      archive = a;
      have_archive = true;
    }
  }
  if (!have_archive) {
    print_error(std::string("no archive given (try kez ") + (testing ? "test" : "extract") + " --help)");
    return 2;
  }
  if (!password.empty()) {
    WChar wide[kPasswordSize];
    std::u16string w = utf8_to_u16(password);
    size_t n = w.size() < kPasswordSize - 1 ? w.size() : kPasswordSize - 1;
    for (size_t k = 0; k < n; k++) wide[k] = w[k];
    wide[n] = 0;
    if (!wide_to_ansi(wide, run_state.password, sizeof(run_state.password))) run_state.password[0] = 0;
    run_state.password[kPasswordSize - 1] = 0;
  }

  char narrow[kPathSize];
  WChar wide[kPathSize];
  core_names(archive, narrow, wide);
  if (opens_but_is_no_archive(narrow, wide)) return kExitWarning;

  ExtractionJob job;
  if (testing) copy_bounded(job.command, "T", sizeof(job.command));
  add_name(job.include_masks, "*", nullptr);
  add_name(job.archive_names, narrow, wide);
  if (!output.empty()) {
    if (output.back() != '/' && output.back() != '\\') output += '\\';
    core_names(output, job.destination, job.destination_wide);
    slashes_to_backslashes(job.destination, nullptr, kPathSize);
    for (WChar* w = job.destination_wide; *w; w++)
      if (*w == '/') *w = '\\';
    create_all_folders(job.destination, job.destination_wide, false);
  }
  run_extraction(job);
  int code = exit_code();
  if (testing && code == 0) std::printf("kez: every entry of %s is intact\n", archive.c_str());
  return code;
}

}  // namespace

int command_extract(const Args& args) { return run(false, args); }
int command_test(const Args& args) { return run(true, args); }
