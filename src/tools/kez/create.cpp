// kez create: packs files and folders into a new archive. Paths are stored relative to
// the parent of each PATH argument, names in order, each folder after its contents.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "encode/archive_writer.h"
#include "tools/kez/file_info.h"
#include "tools/kez/kez.h"
#include "tools/kez/lz_method.h"

namespace fs = std::filesystem;

namespace {

const char kCreateUsage[] =
    "usage: kez create -o ARCHIVE [OPTIONS] PATH...\n"
    "\n"
    "Packs each PATH (a file or a folder, recursively) into a new archive. Names are\n"
    "stored relative to the folder that holds PATH.\n"
    "\n"
    "options:\n"
    "  -o, --output ARCHIVE   the archive to write (replaced when it exists)\n"
    "  --comment FILE         store FILE as the archive comment (the installation script);\n"
    "                         a file that starts with a UTF-16LE byte-order mark is kept as UTF-16\n"
    "  --method store|lz|auto store the data, compress it, or compress where it helps\n"
    "                         (default auto; auto stores everything when LZ is not built in)\n"
    "  --level N              compression level, 1 (fastest) to 5 (smallest); default 3\n"
    "  --solid                one compression stream over all files\n"
    "  -h, --help             show this help\n";

class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* f) : f_(f) {}
  long long read(uint8_t* buffer, size_t count) override {
    size_t n = std::fread(buffer, 1, count, f_);
    if (n == 0 && std::ferror(f_)) return -1;
    return static_cast<long long>(n);
  }

 private:
  std::FILE* f_;
};

struct CreateJob {
  ArchiveWriter writer;
  fs::path output;
  int files = 0;
  int folders = 0;
  uint64_t bytes = 0;
};

fs::path path_of(const std::string& utf8) { return fs::u8path(utf8); }
std::string utf8_of(const fs::path& p) { return p.u8string(); }

EntryInfo info_for(const std::string& archive_name, const DiskEntry& e) {
  EntryInfo info;
  info.name = utf8_to_u16(archive_name);
  info.is_folder = e.is_folder;
  info.attributes = e.attributes;
  info.size = e.size;
  info.mtime = e.mtime;
  return info;
}

bool same_file(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

bool add_path(CreateJob& job, const fs::path& disk, const std::string& archive_name) {
  std::string disk_name = utf8_of(disk);
  DiskEntry e = look_at(disk_name);
  if (!e.exists) {
    print_error("cannot read " + disk_name);
    return false;
  }
  if (e.is_link) {
    DiskEntry target = look_through(disk_name);
    if (!target.exists || target.is_folder) {
      std::fprintf(stderr, "kez: skipping the link %s\n", disk_name.c_str());
      return true;
    }
    e = target;
  }
  if (same_file(disk, job.output)) return true;

  if (e.is_folder) {
    std::vector<fs::path> children;
    std::error_code ec;
    for (fs::directory_iterator it(disk, ec), end; !ec && it != end; it.increment(ec)) children.push_back(it->path());
    if (ec) {
      print_error("cannot list " + disk_name + ": " + ec.message());
      return false;
    }
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children)
      if (!add_path(job, child, archive_name + "\\" + utf8_of(child.filename()))) return false;
    // The folder's own entry follows its contents, so that the times restored for it are
    // not changed again by the files extracted into it.
    if (!job.writer.add_folder(info_for(archive_name, e))) {
      print_error(job.writer.error() + " (" + disk_name + ")");
      return false;
    }
    job.folders++;
    return true;
  }

  std::FILE* f = open_file_utf8(disk_name, "rb");
  if (!f) {
    print_error("cannot open " + disk_name);
    return false;
  }
  FileSource source(f);
  bool ok = job.writer.add_file(info_for(archive_name, e), source);
  std::fclose(f);
  if (!ok) {
    print_error(job.writer.error() + " (" + disk_name + ")");
    return false;
  }
  job.files++;
  job.bytes += e.size;
  return true;
}

// True for valid UTF-8 text that holds characters beyond ASCII (text in another
// encoding is stored as it is).
bool needs_unicode_comment(const std::string& text) {
  bool beyond_ascii = false;
  for (size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= text.size() + (extra == 0)) return false;
    for (int k = 1; k <= extra; k++)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    if (extra) beyond_ascii = true;
    i += static_cast<size_t>(extra) + 1;
  }
  return beyond_ascii;
}

bool read_whole_file(const std::string& name, std::string& out) {
  std::FILE* f = open_file_utf8(name, "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) out.append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The name a PATH argument is stored under: its last component, "." and ".." resolved.
std::string stored_name_of(const std::string& argument) {
  fs::path p = path_of(argument);
  std::error_code ec;
  fs::path absolute = fs::absolute(p, ec);
  if (ec) return {};
  absolute = absolute.lexically_normal();
  if (!absolute.has_filename()) absolute = absolute.parent_path();
  return utf8_of(absolute.filename());
}

}  // namespace

int command_create(const Args& args) {
  std::string output, comment_file;
  WriterOptions options;
  options.method = PackMethod::automatic;
  int level = 3;
  std::vector<std::string> paths;

  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) -> bool {
      size_t eq = a.find('=');
      if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
        out = a.substr(eq + 1);
        return true;
      }
      if (i + 1 >= args.size()) {
        print_error("option " + a + " needs a value");
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string key = a.substr(0, a.find('='));
    if (a == "-h" || a == "--help") {
      std::fputs(kCreateUsage, stdout);
      return 0;
    } else if (a == "-o" || key == "--output") {
      if (!value(output)) return 2;
    } else if (key == "--comment") {
      if (!value(comment_file)) return 2;
    } else if (key == "--method") {
      std::string m;
      if (!value(m)) return 2;
      if (m == "store") options.method = PackMethod::store;
      else if (m == "lz") options.method = PackMethod::lz;
      else if (m == "auto") options.method = PackMethod::automatic;
      else {
        print_error("unknown method '" + m + "' (store, lz or auto)");
        return 2;
      }
    } else if (key == "--level") {
      std::string v;
      if (!value(v)) return 2;
      if (v.size() != 1 || v[0] < '1' || v[0] > '5') {
        print_error("the level must be 1 to 5");
        return 2;
      }
      level = v[0] - '0';
    } else if (a == "--solid") {
      options.solid = true;
    } else if (a == "--") {
      paths.insert(paths.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      print_error("unknown option " + a + " (try kez create --help)");
      return 2;
    } else {
      paths.push_back(a);
    }
  }
  if (output.empty()) {
    print_error("no archive given (-o ARCHIVE)");
    return 2;
  }
  if (paths.empty()) {
    print_error("nothing to pack: give at least one PATH");
    return 2;
  }

  CreateJob job;
  if (options.solid && options.method == PackMethod::store) {
    print_error("--solid needs a compressing method (--method lz or auto)");
    return 2;
  }
  std::unique_ptr<EntryCompressor> lz;
  if (options.method != PackMethod::store) lz = make_lz_compressor(level);
  if (!lz) {
    if (options.method == PackMethod::lz || options.solid) {
      print_error("the LZ method is not available in this build (use --method store)");
      return 2;
    }
    options.method = PackMethod::store;
  }
  job.writer.set_compressor(std::move(lz));

  if (!comment_file.empty()) {
    if (!read_whole_file(comment_file, options.comment)) {
      print_error("cannot read the comment file " + comment_file);
      return 1;
    }
    if (options.comment.size() >= 2 && static_cast<uint8_t>(options.comment[0]) == 0xFF &&
        static_cast<uint8_t>(options.comment[1]) == 0xFE) {
      options.comment.erase(0, 2);
      options.comment_utf16 = true;
    } else if (needs_unicode_comment(options.comment)) {
      // A UTF-8 script with characters beyond ASCII is stored as UTF-16, so that the
      // module shows it in whatever code page the target system has.
      std::string text = options.comment;
      if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
      std::u16string wide = utf8_to_u16(text);
      options.comment.clear();
      for (char16_t c : wide) {
        options.comment += static_cast<char>(c & 0xFF);
        options.comment += static_cast<char>(c >> 8);
      }
      options.comment_utf16 = true;
    }
  }

  std::vector<std::pair<fs::path, std::string>> roots;
  for (const std::string& p : paths) {
    std::string name = stored_name_of(p);
    if (name.empty() || name == "." || name == "..") {
      print_error("cannot pack " + p + ": it has no name to store");
      return 2;
    }
    if (!look_at(p).exists) {
      print_error("cannot read " + p);
      return 1;
    }
    roots.emplace_back(path_of(p), name);
  }

  job.output = path_of(output);
  std::FILE* out = open_file_utf8(output, "wb");
  if (!out) {
    print_error("cannot create " + output);
    return 1;
  }
  bool ok = job.writer.begin(out, options);
  if (!ok) print_error(job.writer.error());
  for (size_t i = 0; ok && i < roots.size(); i++) ok = add_path(job, roots[i].first, roots[i].second);
  if (ok && !job.writer.finish()) {
    print_error(job.writer.error());
    ok = false;
  }
  if (std::fclose(out) != 0 && ok) {
    print_error("cannot write " + output);
    ok = false;
  }
  if (!ok) {
    std::error_code ec;
    fs::remove(job.output, ec);
    return 1;
  }
  std::printf("%s: %d files, %d folders, %llu bytes packed into %llu bytes\n", output.c_str(), job.files,
              job.folders, static_cast<unsigned long long>(job.bytes),
              static_cast<unsigned long long>(job.writer.bytes_written()));
  return 0;
}
