// kez sfx: an installer is the module followed by an archive.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/kez/kez.h"

namespace fs = std::filesystem;

namespace {

const char kSfxUsage[] =
    "usage: kez sfx -o SETUP.EXE [--module MODULE] [CREATE OPTIONS] PATH...\n"
    "       kez sfx -o SETUP.EXE [--module MODULE] --archive ARCHIVE\n"
    "\n"
    "Writes the module followed by an archive: a new one packed from PATH... with the\n"
    "options of kez create (--comment holds the installation script), or ARCHIVE as it is.\n"
    "\n"
    "options:\n"
    "  -o, --output SETUP.EXE the installer to write\n"
    "  --module MODULE        the module (quillo-sfx.exe); default: $QUILLO_SFX_MODULE, the\n"
    "                         quillo-sfx.exe beside kez, or the one of the win32 build\n"
    "  --archive ARCHIVE      append this archive instead of packing PATH...\n"
    "  -h, --help             show this help\n";

// Where the module is when none is named.
std::string default_module() {
  if (const char* env = std::getenv("QUILLO_SFX_MODULE"); env && *env) return env;
  char self[kPathSize];
  if (!get_module_path(self, sizeof(self))) return std::string();
  fs::path dir = fs::path(self).parent_path();
  const fs::path candidates[] = {
      dir / "quillo-sfx.exe",
      dir / ".." / ".." / ".." / "quillo-sfx.exe",                   // the win32 build's own kez.exe
      dir / ".." / ".." / ".." / ".." / "win32" / "quillo-sfx.exe",  // the native build beside it
  };
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return fs::weakly_canonical(p, ec).u8string();
  }
  return std::string();
}

bool append_file(std::FILE* out, const std::string& name) {
  std::FILE* in = open_file_utf8(name, "rb");
  if (!in) {
    print_error("cannot open " + name);
    return false;
  }
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n == 0) {
      ok = !std::ferror(in);
      break;
    }
    if (std::fwrite(buffer.data(), 1, n, out) != n) {
      ok = false;
      break;
    }
  }
  std::fclose(in);
  if (!ok) print_error("cannot copy " + name);
  return ok;
}

}  // namespace

int command_sfx(const Args& args) {
  std::string output, module, archive;
  Args create_args;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    std::string key = a.substr(0, a.find('='));
    auto value = [&](std::string& into) {
      size_t eq = a.find('=');
      if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
        into = a.substr(eq + 1);
        return true;
      }
      if (i + 1 >= args.size()) {
        print_error("option " + a + " needs a value");
        return false;
      }
      into = args[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kSfxUsage, stdout);
      return 0;
    } else if (a == "-o" || key == "--output") {
      if (!value(output)) return 2;
    } else if (key == "--module") {
      if (!value(module)) return 2;
    } else if (key == "--archive") {
      if (!value(archive)) return 2;
    } else {
      create_args.push_back(a);
    }
  }
  if (output.empty()) {
    print_error("no installer named (-o SETUP.EXE)");
    return 2;
  }
  if (module.empty()) module = default_module();
  if (module.empty()) {
    print_error("no module found: give --module quillo-sfx.exe (built by the win32 preset)");
    return 2;
  }
  if (!archive.empty() && !create_args.empty()) {
    print_error("--archive takes no paths or create options");
    return 2;
  }

  std::string temporary;
  if (archive.empty()) {
    if (create_args.empty()) {
      print_error("nothing to pack (give PATH... or --archive ARCHIVE)");
      return 2;
    }
    temporary = output + ".archive.tmp";
    Args c = create_args;
    c.push_back("-o");
    c.push_back(temporary);
    int r = command_create(c);
    if (r != 0) {
      std::error_code ec;
      fs::remove(fs::u8path(temporary), ec);
      return r;
    }
    archive = temporary;
  }

  std::FILE* out = open_file_utf8(output, "wb");
  if (!out) {
    print_error("cannot create " + output);
    return 1;
  }
  bool ok = append_file(out, module) && append_file(out, archive);
  if (std::fclose(out) != 0) ok = false;
  std::error_code ec;
  if (!temporary.empty()) fs::remove(fs::u8path(temporary), ec);
  if (!ok) {
    fs::remove(fs::u8path(output), ec);
    print_error("cannot write " + output);
    return 1;
  }
  fs::permissions(fs::u8path(output), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  return 0;
}
