// The extraction driver: one run over the archive appended to the module.
#pragma once

#include "extract/data_pipe.h"
#include "platform/memory.h"
#include "platform/types.h"

class ArchiveReader;
class LzDecoder;

struct ExtractionJob {
  char command[8] = {'X', 0};
  NameList include_masks;
  NameList archive_names;
  char password[kPasswordSize] = {};
  char destination[kPathSize] = {};
  WChar destination_wide[kPathSize] = {};
  bool keep_broken = false;
  bool restore_ntfs_data = true;
  int set_mtime = 4, set_ctime = 4, set_atime = 4;
};

class ExtractionRun : public DataPipe {
 public:
  ExtractionRun();
  ~ExtractionRun() override;

  LzDecoder* decoder = nullptr;
  char archive_name[kPathSize] = {};
  WChar archive_name_w[kPathSize] = {};
  char run_password[kPasswordSize] = {};
  bool run_password_set = false;
  char output_path[kPathSize] = {};
  WChar output_path_w[kPathSize] = {};
  bool output_done = false;
  uint32_t files_done = 0;
  uint32_t files_seen = 0;
  uint32_t files_matched = 0;
  bool stop_at_next_file = false;
  bool password_refused = false;
  uint64_t total_size = 0;
  uint64_t done_size = 0;
};

// Extracts the archive of module_path into the current folder.
void start_extraction(const char* module_path);
// One run of a job built by the caller (command "X" extracts, "T" only tests; masks,
// archive names, destination prefix). The exit code tells the result.
void run_extraction(ExtractionJob& job);
void run_job(ExtractionJob& job, ExtractionRun& run);
void extract_archive(ExtractionJob& job, ExtractionRun& run, const char* name, const WChar* wide);
bool extract_entry(ExtractionJob& job, ExtractionRun& run, ArchiveReader& reader, int header_size);
int is_selected(ExtractionJob& job, const struct FileHeader& header, bool* exact);
