#include "extract/extraction.h"

#include <cstring>

#include "app/report.h"
#include "archive/archive_reader.h"
#include "archive/volume.h"
#include "decode/lz_decoder.h"
#include "extract/output_file.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "ui/catalogue.h"
#include "ui/ui.h"

namespace {

const WChar* wide_or_null(const WChar* w) { return (w && *w) ? w : nullptr; }

// The wide counterpart of is_valid_local_name: a wide path that would not pass it (a
// colon past the drive, which names a stream; a wildcard; a control character) is not
// used, so the narrow name decides.
bool is_valid_local_wide_name(const WChar* name) {
  if (!name[0]) return false;
  for (size_t i = 0; name[i]; i++) {
    WChar c = name[i];
    if (c < 0x20) return false;
    if (c == ':' && i >= 1) return false;
    if (c == '?' || c == '*' || c == '<' || c == '>' || c == '|' || c == '"') return false;
  }
  return true;
}

void set_entry_times(const ExtractionJob& job, const FileHeader& h, const TimeStamp** m, const TimeStamp** c,
                     const TimeStamp** a) {
  *m = (job.set_mtime && h.mtime.present()) ? &h.mtime : nullptr;
  *c = (job.set_ctime && h.ctime.present()) ? &h.ctime : nullptr;
  *a = (job.set_atime && h.atime.present()) ? &h.atime : nullptr;
}

// Handles a block that is not a file. Returns false to end the archive.
bool handle_other_block(ExtractionJob& job, ExtractionRun& run, ArchiveReader& reader) {
  switch (reader.current_type) {
    case kBlockStopMark:
    case kBlockStopMark2:
      run.stop_at_next_file = true;
      reader.skip_block();
      return true;
    case kBlockSub:
      if (std::strcmp(reader.sub.name, "AV") == 0) run.stop_at_next_file = true;
      if (run.output_done)
        apply_sub_block(job, reader, run.output_path, wide_or_null(run.output_path_w));
      reader.skip_block();
      return true;
    case kBlockEnd:
      if (!(reader.end.block_flags & kEndNextVolume)) return false;
      if (!next_volume(reader, nullptr, job.command[0])) {
        raise_exit_code(kExitWarning);
        return false;
      }
      run.stop_at_next_file = false;
      reader.seek(reader.block_start, SeekOrigin::begin);
      return true;
    default:
      reader.skip_block();
      return true;
  }
}

bool extract_file_entry(ExtractionJob& job, ExtractionRun& run, ArchiveReader& reader);

// A file cannot take a name that is empty or ends in "." or "..": such a name is the
// destination or one of its folders.
bool names_a_folder(const char* name) {
  const char* last = name_part(name);
  return !*last || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0;
}

}  // namespace

ExtractionRun::ExtractionRun() { decoder = new LzDecoder(this); }

ExtractionRun::~ExtractionRun() { delete decoder; }

int is_selected(ExtractionJob& job, const FileHeader& header, bool* exact) {
  if (exact) *exact = false;
  if (std::strlen(header.name) >= kPathSize || wide_length(header.name_wide) >= kPathSize) return 0;
  rewind_names(job.include_masks);
  const char* mask;
  const WChar* wide;
  int number = 0;
  while (next_name(job.include_masks, &mask, &wide)) {
    number++;
    if (mask_matches(mask, header.name, 4)) {
      if (exact) *exact = compare_names(mask, header.name) == 0;
      return number;
    }
  }
  return 0;
}

void start_extraction(const char* module_path) {
  ExtractionJob job;
  add_name(job.include_masks, "*", nullptr);
  add_name(job.archive_names, module_path, nullptr);
  run_extraction(job);
}

void run_extraction(ExtractionJob& job) {
  reset_exit_status();
  ExtractionRun* run = new ExtractionRun;
  run->decoder->set_window();
  run_job(job, *run);
  delete run;
}

void run_job(ExtractionJob& job, ExtractionRun& run) {
  const char* name;
  const WChar* wide;
  rewind_names(job.archive_names);
  while (next_name(job.archive_names, &name, &wide)) {
    DiskFile f;
    if (f.open(name, wide)) run.total_size += static_cast<uint64_t>(f.length());
  }
  rewind_names(job.archive_names);
  while (next_name(job.archive_names, &name, &wide)) {
    char saved_password[kPasswordSize];
    copy_bounded(saved_password, job.password, sizeof(saved_password));
    extract_archive(job, run, name, wide);
    copy_bounded(job.password, saved_password, sizeof(job.password));
    DiskFile f;
    if (f.open(name, wide)) run.done_size += static_cast<uint64_t>(f.length());
  }
  if (run.files_done == 0) {
    if (!run.password_refused) report(run.archive_name, message_text(835), run.archive_name);
    raise_exit_code(kExitWarning);
  }
}

void extract_archive(ExtractionJob& job, ExtractionRun& run, const char* name, const WChar* wide) {
  copy_bounded(run.archive_name, name, sizeof(run.archive_name));
  run.archive_name_w[0] = 0;
  if (wide) wide_copy_bounded(run.archive_name_w, wide, kPathSize - 1), run.archive_name_w[kPathSize - 1] = 0;

  ArchiveReader* reader = new ArchiveReader(&job);
  if (!reader->open_or_report(name, wide)) {
    raise_exit_code(kExitOpen);
    delete reader;
    return;
  }
  if (!reader->check_archive(true)) {
    if (has_extension(name, "kez")) raise_exit_code(kExitWarning);
    delete reader;
    return;
  }
  run.archive_size = static_cast<uint64_t>(reader->length());
  run.reset_counters();
  run.packed_left = 0;
  if (job.password[0]) {
    copy_bounded(run.run_password, job.password, sizeof(run.run_password));
    run.run_password_set = true;
  } else {
    run.run_password[0] = 0;
    run.run_password_set = false;
  }
  run.continues = false;
  run.volume_missing = false;
  run.volume_command = job.command[0];
  run.output_done = false;
  run.stop_at_next_file = false;
  run.source = reader;
  run.sink = nullptr;

  for (;;) {
    int header_size = reader->read_header();
    if (!extract_entry(job, run, *reader, header_size)) break;
  }
  run.source = nullptr;
  run.sink = nullptr;
  delete reader;
}

bool extract_entry(ExtractionJob& job, ExtractionRun& run, ArchiveReader& reader, int header_size) {
  if (header_size == 0) {
    if (!run.continues) return false;
    if (!next_volume(reader, &run, job.command[0])) {
      raise_exit_code(kExitWarning);
      return false;
    }
    run.stop_at_next_file = false;
  }
  if (reader.current_type != kBlockFile) return handle_other_block(job, run, reader);
  return extract_file_entry(job, run, reader);
}

namespace {

bool extract_file_entry(ExtractionJob& job, ExtractionRun& run, ArchiveReader& reader) {
  FileHeader& h = reader.file;
  // Command T tests: every entry is decoded and checked, nothing is written.
  const bool testing = job.command[0] == 'T';
  run.output_done = false;
  if (run.stop_at_next_file) return false;

  oem_to_ansi(h.name, h.name);
  char working[kPathSize];
  copy_bounded(working, h.name, sizeof(working));
  bool exact = false;
  int matched = is_selected(job, h, &exact);

  bool unicode = (h.block_flags & kFileUnicode) && h.name_wide[0];
  if (unicode) {
    char converted[kPathSize];
    if (wide_to_ansi(h.name_wide, converted, sizeof(converted)) && is_valid_local_name(converted))
      copy_bounded(working, converted, sizeof(working));
  }
  char safe[kPathSize];
  make_safe_relative(working, safe);
  make_system_safe(safe);
  copy_bounded(working, safe, sizeof(working));

  if (reader.is_volume_label()) {
    reader.skip_block();
    return true;
  }
  if (h.block_flags & kFileVersion) matched = 0;

  reader.normalize_attributes();
  run.continues = (h.block_flags & kFileSplitAfter) != 0;
  reader.seek(reader.next_block - static_cast<int64_t>(h.packed_size), SeekOrigin::begin);

  bool solid_skip = false;
  bool extract_data = false;
  if (!matched) {
    if (!reader.is_solid) goto finish;
    solid_skip = true;
  }

  if (!progress_line(working, solid_skip)) return false;

  if ((h.block_flags & kFileEncrypted) && !run.run_password[0]) {
    if (!ask_password(1, working, run.run_password, sizeof(run.run_password))) {
      log_error(message_text(115), working);
      run.password_refused = true;
      return false;
    }
    run.run_password_set = true;
  }

  {
    copy_bounded(run.output_path, job.destination, sizeof(run.output_path));
    append_bounded(run.output_path, working, sizeof(run.output_path));
    run.output_path_w[0] = 0;
    if (unicode) {
      WChar cleaned[kPathSize];
      make_safe_relative(h.name_wide, cleaned);
      make_system_safe(cleaned);
      if (is_valid_local_wide_name(cleaned)) {
        WChar dest[kPathSize];
        if (job.destination_wide[0]) wide_copy(dest, job.destination_wide);
        else if (!ansi_to_wide(job.destination, dest, kPathSize)) dest[0] = 0;
        if (wide_length(dest) + wide_length(cleaned) < kPathSize) {
          wide_copy(run.output_path_w, dest);
          wide_append(run.output_path_w, cleaned);
        }
      }
    }
  }

  extract_data = !solid_skip && !(h.block_flags & kFileSplitBefore);

  if (!(h.method_version == 29 || h.method_version == 36 || h.method == 0x30)) {
    log_error(message_text(108), working);
    extract_data = false;
    raise_exit_code(kExitWarning);
  }

  if (reader.is_folder()) {
    if (!extract_data || solid_skip) goto finish;
    run.files_done++;
    if (testing) goto finish;
    const WChar* wide = wide_or_null(run.output_path_w);
    int r = create_folder(run.output_path, wide, h.host_attributes);
    if (r == 0) {
      run.output_done = true;
    } else {
      uint32_t attributes = get_attributes(run.output_path, wide);
      bool folder_there = attributes != kInvalidAttributes;
      if (folder_there && !is_folder_attributes(attributes)) {
        bool skipped = false;
        create_output_file(job, nullptr, run.output_path, h.dos_mtime, static_cast<int64_t>(h.unpacked_size),
                           &skipped, run.output_path_w);
        wide = wide_or_null(run.output_path_w);
        folder_there = false;
      }
      create_all_folders(run.output_path, wide, true);
      if (create_folder(run.output_path, wide, h.host_attributes) == 0) {
        run.output_done = true;
      } else if (folder_there) {
        set_attributes(run.output_path, wide, h.host_attributes);
        run.output_done = true;
      } else {
        log_error(message_text(111), run.output_path);
        raise_exit_code(kExitCreate);
      }
    }
    if (run.output_done) {
      const TimeStamp *m, *c, *a;
      set_entry_times(job, h, &m, &c, &a);
      set_times_by_name(run.output_path, m, c, a);
    }
    goto finish;
  }

  {
    DiskFile out;
    if (extract_data && !testing) {
      bool skipped = false;
      if (names_a_folder(working)) {
        extract_data = false;
        log_error(message_text(110), run.output_path);
        raise_exit_code(kExitCreate);
      } else if (!create_output_file(job, &out, run.output_path, h.dos_mtime, static_cast<int64_t>(h.unpacked_size),
                              &skipped, run.output_path_w)) {
        extract_data = false;
        if (!skipped) {
          log_error(message_text(110), run.output_path);
          raise_exit_code(kExitCreate);
          if (!is_valid_local_name(run.output_path)) {
            log_error(message_text(1110));
            replace_invalid_chars(run.output_path, true);
            create_all_folders(run.output_path, nullptr, true);
            run.output_path_w[0] = 0;
            if (create_output_file(job, &out, run.output_path, h.dos_mtime, static_cast<int64_t>(h.unpacked_size),
                                   &skipped, nullptr))
              extract_data = true;
            else
              log_error(message_text(110), run.output_path);
          }
        }
      }
    }
    if (!extract_data && reader.is_solid) {
      solid_skip = true;
      extract_data = true;
    }
    if (extract_data) {
      if (!solid_skip) {
        if (!testing && out.is_device()) {
          log_error(message_text(1030));
          report_write_error(run.output_path);
        }
        run.files_done++;
      }
      run.files_seen++;
      run.reset_counters();
      bool encrypted = (h.block_flags & kFileEncrypted) != 0;
      run.set_decryption(encrypted ? h.method_version : 0, run.run_password,
                         (h.block_flags & kFileSalt) ? h.salt : nullptr, h.method_version >= 36);
      run.packed_left = h.packed_size;
      run.set_ends(&reader, nullptr);
      run.sink = (solid_skip || testing) ? nullptr : &out;
      run.suppress_output = solid_skip || testing;
      run.suppress_crc = solid_skip;
      if (!solid_skip && !testing && !reader.broken_header && h.packed_size * 2048 > h.unpacked_size &&
          (h.unpacked_size < 100000000 || static_cast<uint64_t>(reader.length()) > h.packed_size))
        out.presize(static_cast<int64_t>(h.unpacked_size));
      out.delete_if_unfinished = !job.keep_broken;

      if (!(h.block_flags & kFileSplitBefore)) {
        if (h.method == 0x30) {
          run.copy_stored(h.unpacked_size);
        } else {
          run.decoder->expected_size = static_cast<int64_t>(h.unpacked_size);
          run.decoder->decode_file(h.method_version, (h.block_flags & kFileSolid) != 0);
        }
      }
      if (reader.is_open()) reader.seek(reader.next_block, SeekOrigin::begin);

      if (!solid_skip) {
        // A presized file that received less than its header promised is cut back to what
        // was written, so that no zero tail passes for data.
        if (!testing && run.unpacked_written < h.unpacked_size) out.truncate_here();
        bool crc_ok = run.unpacked_crc == ~h.data_crc;
        if (!crc_ok) {
          log_error(message_text(encrypted ? 112 : 113), working);
          raise_exit_code(kExitCrc);
        } else if (!testing) {
          const TimeStamp *m, *c, *a;
          set_entry_times(job, h, &m, &c, &a);
          out.set_times(m, c, a);
          out.close();
          out.set_attributes(h.host_attributes);
          run.output_done = true;
        }
      }
      run.sink = nullptr;
    }
  }

finish:
  if (matched) run.files_matched++;
  if (run.volume_missing || !reader.is_open()) return false;
  if (!extract_data && !reader.is_solid) reader.skip_block();
  return true;
}

}  // namespace
