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
#include "ui/catalogue.h"

namespace {

void usage_extract(FILE* out) {
  std::fprintf(out,
               "usage: kez extract [--password P] [--output DIR | -C DIR] ARCHIVE\n"
               "       kez test [--password P] ARCHIVE\n"
               "Extracts (or only decodes and checks) every entry of ARCHIVE, which may be an\n"
               "installer made by kez sfx. The exit status is the module's exit code:\n"
               "0 success, 1 warning, 2 fatal, 3 CRC error, 5 write, 6 open, 8 memory,\n"
               "9 create error, 255 user break.\n");
}

// True when the file opens but holds no archive this program can read; message 120 is
// logged then, as the module logs it.
bool opens_but_is_no_archive(const char* name) {
  DiskFile probe;
  if (!probe.open(name, nullptr)) return false;
  probe.close();
  ArchiveReader reader;
  return !reader.open_archive(name, nullptr);
}

int run(bool testing, int argc, char** argv) {
  const char* password = nullptr;
  const char* output = nullptr;
  const char* archive = nullptr;
  for (int i = 0; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](const char* option) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kez: %s needs a value\n", option);
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage_extract(stdout);
      return 0;
    } else if (a == "--password" || a == "-p") {
      if (!(password = value("--password"))) return 2;
    } else if (a.rfind("--password=", 0) == 0) {
      password = argv[i] + 11;
    } else if (!testing && (a == "--output" || a == "-C" || a == "-o")) {
      if (!(output = value("--output"))) return 2;
    } else if (!testing && a.rfind("--output=", 0) == 0) {
      output = argv[i] + 9;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "kez: unknown option %s (see kez %s --help)\n", argv[i], testing ? "test" : "extract");
      return 2;
    } else if (archive) {
      std::fprintf(stderr, "kez: only one archive can be given\n");
      return 2;
    } else {
      archive = argv[i];
    }
  }
  if (!archive) {
    usage_extract(stderr);
    return 2;
  }
  fill_lead_byte_table();
  if (password) copy_bounded(run_state.password, password, sizeof(run_state.password));

  if (opens_but_is_no_archive(archive)) return kExitWarning;

  ExtractionJob job;
  if (testing) copy_bounded(job.command, "T", sizeof(job.command));
  add_name(job.include_masks, "*", nullptr);
  add_name(job.archive_names, archive, nullptr);
  if (output && *output) {
    copy_bounded(job.destination, output, sizeof(job.destination));
    size_t n = std::strlen(job.destination);
    if (!is_separator(job.destination[n - 1])) append_bounded(job.destination, "\\", sizeof(job.destination));
    create_all_folders(job.destination, nullptr, false);
    if (!ansi_to_wide(job.destination, job.destination_wide, kPathSize)) job.destination_wide[0] = 0;
  }
  run_extraction(job);
  int code = exit_code();
  if (testing && code == 0) std::printf("kez: every entry of %s is intact\n", archive);
  return code;
}

}  // namespace

int command_extract(int argc, char** argv) { return run(false, argc, argv); }
int command_test(int argc, char** argv) { return run(true, argc, argv); }
