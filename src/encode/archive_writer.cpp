#include "encode/archive_writer.h"

#include <cstring>
#include <map>

#include "crypto/crc32.h"
#include "platform/text.h"
#include "platform/types.h"

namespace {

constexpr uint16_t kLong = 0x8000;
constexpr uint16_t kExtTime = 0x1000;
constexpr uint16_t kUnicode = 0x0200;
constexpr uint16_t kLarge = 0x0100;
constexpr uint16_t kFolder = 0x00E0;
constexpr uint16_t kSolid = 0x0010;
constexpr uint8_t kOriginOs = 2;  // MS-DOS-style attributes: read-only and the rest survive
constexpr uint8_t kStoredVersion = 29;

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void set16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}

// Seconds and fractions beyond what a DOS date-time holds, for one time.
void put_time_extension(std::vector<uint8_t>& v, const TimeStamp& t, bool with_dos_time, uint16_t& flags, int shift) {
  uint32_t remainder = t.remainder % 10000000u;
  uint32_t count = remainder == 0 ? 0 : (remainder & 0xFFFF) == 0 ? 1 : (remainder & 0xFF) == 0 ? 2 : 3;
  uint32_t group = 8 | ((t.second & 1) ? 4 : 0) | count;
  flags = static_cast<uint16_t>(flags | (group << shift));
  if (with_dos_time) put32(v, to_dos_time(t));
  for (uint32_t k = 0; k < count; k++) v.push_back(static_cast<uint8_t>(remainder >> (8 * (k + 3 - count))));
}

TimeStamp clamp_to_dos_range(TimeStamp t) {
  if (!t.present() || t.year < 1980) {
    TimeStamp d;
    d.year = 1980;
    d.month = 1;
    d.day = 1;
    return d;
  }
  if (t.year > 2107) {
    t.year = 2107;
    t.month = 12;
    t.day = 31;
    t.hour = 23;
    t.minute = 59;
    t.second = 59;
    t.remainder = 9999999;
  }
  return t;
}

std::u16string with_backslashes(std::u16string name) {
  for (char16_t& c : name)
    if (c == u'/') c = u'\\';
  return name;
}

bool plain_ascii(const std::u16string& s) {
  for (char16_t c : s)
    if (c >= 0x80) return false;
  return true;
}

int64_t file_tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

bool file_seek(std::FILE* f, int64_t at) {
#ifdef _WIN32
  return _fseeki64(f, at, SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

}  // namespace

long long MemorySource::read(uint8_t* buffer, size_t count) {
  size_t n = size_ - at_ < count ? size_ - at_ : count;
  if (n) std::memcpy(buffer, data_ + at_, n);
  at_ += n;
  return static_cast<long long>(n);
}

uint16_t header_crc16(const uint8_t* header, size_t size) {
  return static_cast<uint16_t>(~crc32_update(0xFFFFFFFFu, header + 2, size - 2));
}

std::vector<uint8_t> encode_unicode_name(const std::u16string& wide, const std::string& narrow) {
  // The high byte most characters share.
  std::map<uint32_t, size_t> highs;
  for (char16_t c : wide)
    if (c >> 8) highs[c >> 8]++;
  uint32_t high = 0;
  size_t best = 0;
  for (auto& h : highs)
    if (h.second > best) {
      best = h.second;
      high = h.first;
    }

  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(high));
  size_t flags_at = 0;
  int ops_in_group = 4;
  auto start_op = [&](uint32_t type) {
    if (ops_in_group == 4) {
      flags_at = out.size();
      out.push_back(0);
      ops_in_group = 0;
    }
    out[flags_at] = static_cast<uint8_t>(out[flags_at] | (type << (6 - 2 * ops_in_group)));
    ops_in_group++;
  };
  auto narrow_at = [&](size_t j) -> uint32_t { return static_cast<uint8_t>(narrow[j]); };

  size_t j = 0;
  while (j < wide.size()) {
    // Runs that repeat the narrow bytes, as they are or shifted by a constant in the
    // high byte's page.
    size_t plain = 0;
    while (j + plain < wide.size() && j + plain < narrow.size() && plain < 129 &&
           wide[j + plain] == narrow_at(j + plain))
      plain++;
    size_t shifted = 0;
    uint32_t correction = 0;
    if (j < narrow.size() && (wide[j] >> 8) == high) {
      correction = ((wide[j] & 0xFF) - narrow_at(j)) & 0xFF;
      while (j + shifted < wide.size() && j + shifted < narrow.size() && shifted < 129 &&
             (wide[j + shifted] >> 8) == high &&
             (((wide[j + shifted] & 0xFF) - narrow_at(j + shifted)) & 0xFF) == correction)
        shifted++;
    }
    if (plain >= 3 && plain >= shifted) {
      start_op(3);
      out.push_back(static_cast<uint8_t>(plain - 2));
      j += plain;
    } else if (shifted >= 4) {
      start_op(3);
      out.push_back(static_cast<uint8_t>(0x80 | (shifted - 2)));
      out.push_back(static_cast<uint8_t>(correction));
      j += shifted;
    } else {
      char16_t c = wide[j++];
      if ((c >> 8) == 0) {
        start_op(0);
        out.push_back(static_cast<uint8_t>(c));
      } else if ((c >> 8) == high) {
        start_op(1);
        out.push_back(static_cast<uint8_t>(c & 0xFF));
      } else {
        start_op(2);
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
      }
    }
  }
  return out;
}

std::string oem_name_of(const std::u16string& wide_in) {
  std::u16string wide = with_backslashes(wide_in);
  if (plain_ascii(wide)) return std::string(wide.begin(), wide.end());
  WChar buffer[kPathSize];
  size_t n = wide.size() < kPathSize - 1 ? wide.size() : kPathSize - 1;
  for (size_t i = 0; i < n; i++) buffer[i] = wide[i];
  buffer[n] = 0;
  char ansi[kPathSize * 3];
  wide_to_ansi(buffer, ansi, sizeof(ansi));
  ansi[kPathSize - 1] = 0;
  char oem[kPathSize];
  ansi_to_oem(ansi, oem);
  return oem;
}

std::vector<uint8_t> build_file_header(const EntryInfo& info, uint8_t method, uint8_t version, uint16_t extra_flags,
                                       uint32_t crc, uint64_t packed_size) {
  std::u16string wide = with_backslashes(info.name);
  std::string narrow = oem_name_of(wide);
  std::vector<uint8_t> name(narrow.begin(), narrow.end());
  uint16_t flags = static_cast<uint16_t>(kLong | extra_flags);
  if (!plain_ascii(wide)) {
    std::vector<uint8_t> encoded = encode_unicode_name(wide, narrow);
    name.push_back(0);
    name.insert(name.end(), encoded.begin(), encoded.end());
    flags |= kUnicode;
  }
  uint64_t size = info.is_folder ? 0 : info.size;
  if (info.is_folder) flags |= kFolder;
  bool large = size >= 0xFFFFFFFFull || packed_size > 0xFFFFFFFFull;
  if (large) flags |= kLarge;

  TimeStamp mtime = clamp_to_dos_range(info.mtime);
  std::vector<uint8_t> times;
  uint16_t time_flags = 0;
  put_time_extension(times, mtime, false, time_flags, 12);
  if (info.ctime.present()) put_time_extension(times, clamp_to_dos_range(info.ctime), true, time_flags, 8);
  if (info.atime.present()) put_time_extension(times, clamp_to_dos_range(info.atime), true, time_flags, 4);
  flags |= kExtTime;

  std::vector<uint8_t> h;
  put16(h, 0);
  h.push_back(0x74);
  put16(h, flags);
  put16(h, 0);
  put32(h, static_cast<uint32_t>(packed_size));
  put32(h, static_cast<uint32_t>(size));
  h.push_back(kOriginOs);
  put32(h, crc);
  put32(h, to_dos_time(mtime));
  h.push_back(version);
  h.push_back(method);
  put16(h, static_cast<uint32_t>(name.size()));
  uint32_t attributes = info.attributes;
  if (info.is_folder) attributes |= 0x10;
  else attributes &= ~0x10u;
  put32(h, attributes);
  if (large) {
    put32(h, static_cast<uint32_t>(packed_size >> 32));
    put32(h, static_cast<uint32_t>(size >> 32));
  }
  h.insert(h.end(), name.begin(), name.end());
  put16(h, time_flags);
  h.insert(h.end(), times.begin(), times.end());
  set16(h, 5, static_cast<uint32_t>(h.size()));
  set16(h, 0, header_crc16(h.data(), h.size()));
  return h;
}

struct ArchiveWriter::Pending {
  EntryInfo info;
  std::vector<uint8_t> data;
  bool solid = false;
};

ArchiveWriter::ArchiveWriter() { crc32_fill_table(); }
ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::set_compressor(std::unique_ptr<EntryCompressor> compressor) { compressor_ = std::move(compressor); }

bool ArchiveWriter::fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

bool ArchiveWriter::write_bytes(const void* data, size_t size) {
  if (size && std::fwrite(data, 1, size, out_) != size) return fail("cannot write the archive");
  written_ += size;
  return true;
}

bool ArchiveWriter::begin(std::FILE* out, const WriterOptions& options) {
  out_ = out;
  options_ = options;
  if (options_.method != PackMethod::store && !compressor_)
    return fail("the LZ method is not available in this build");

  // The signature: "Kez!" 0x1A 0x07 0x00.
  const uint8_t signature[7] = {0x4B, 0x65, 0x7A, 0x21, 0x1A, 0x07, 0x00};
  if (!write_bytes(signature, sizeof(signature))) return false;

  uint16_t flags = 0;
  if (options_.volume) flags |= 0x0001;
  if (options_.solid) flags |= 0x0008;
  if (options_.first_volume) flags |= 0x0100;
  std::vector<uint8_t> main;
  put16(main, 0);
  main.push_back(0x73);
  put16(main, flags);
  put16(main, 13);
  put16(main, 0);
  put32(main, 0);
  set16(main, 0, header_crc16(main.data(), main.size()));
  if (!write_bytes(main.data(), main.size())) return false;

  if (!options_.comment.empty()) {
    const std::string& text = options_.comment;
    if (text.size() > 0x7FFFFFF0u) return fail("the comment is too large");
    uint32_t crc = ~crc32_update(0xFFFFFFFFu, text.data(), text.size());
    // With a compressing method the comment is compressed too, in a stream of its own,
    // when that makes it smaller.
    std::vector<uint8_t> packed;
    uint8_t method = 0x30, version = kStoredVersion;
    if (compressor_ && options_.method != PackMethod::store) {
      compressor_->compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false, false, packed);
      if (packed.size() < text.size()) {
        method = compressor_->method();
        version = compressor_->method_version();
      } else {
        packed.clear();
      }
    }
    const uint8_t* data = packed.empty() ? reinterpret_cast<const uint8_t*>(text.data()) : packed.data();
    size_t data_size = packed.empty() ? text.size() : packed.size();
    std::vector<uint8_t> h;
    put16(h, 0);
    h.push_back(0x7A);
    put16(h, kLong);
    put16(h, 0);
    put32(h, static_cast<uint32_t>(data_size));
    put32(h, static_cast<uint32_t>(text.size()));
    h.push_back(kOriginOs);
    put32(h, crc);
    put32(h, 0);
    h.push_back(version);
    h.push_back(method);
    put16(h, 3);
    put32(h, options_.comment_utf16 ? 1 : 0);
    h.push_back('C');
    h.push_back('M');
    h.push_back('T');
    set16(h, 5, static_cast<uint32_t>(h.size()));
    set16(h, 0, header_crc16(h.data(), h.size()));
    if (!write_bytes(h.data(), h.size()) || !write_bytes(data, data_size)) return false;
  }
  return true;
}

bool ArchiveWriter::write_entry(const EntryInfo& info, uint8_t method, uint8_t version, bool solid, uint32_t crc,
                                uint64_t packed_size, const uint8_t* packed) {
  std::vector<uint8_t> h = build_file_header(info, method, version, solid ? kSolid : 0, crc, packed_size);
  if (h.size() > 0xFFFF) return fail("the header of an entry is too large");
  if (!write_bytes(h.data(), h.size())) return false;
  return packed == nullptr || write_bytes(packed, static_cast<size_t>(packed_size));
}

static bool name_fits(const EntryInfo& info, std::string& error) {
  if (info.name.empty()) {
    error = "an entry has an empty name";
    return false;
  }
  if (info.name.size() >= kPathSize) {
    error = "a name is longer than 1023 characters";
    return false;
  }
  return true;
}

bool ArchiveWriter::add_folder(const EntryInfo& info) {
  std::string e;
  if (!name_fits(info, e)) return fail(e);
  EntryInfo folder = info;
  folder.is_folder = true;
  folder.size = 0;
  // A folder does not interrupt a solid stream; it waits behind a pending file.
  if (pending_) {
    deferred_.push_back(build_file_header(folder, 0x30, kStoredVersion, 0, 0, 0));
    return true;
  }
  return write_entry(folder, 0x30, kStoredVersion, false, 0, 0, nullptr);
}

bool ArchiveWriter::flush_pending(bool more_follow) {
  if (!pending_) return true;
  std::unique_ptr<Pending> p = std::move(pending_);
  std::vector<uint8_t> packed;
  compressor_->compress(p->data.data(), p->data.size(), p->solid, more_follow, packed);
  uint32_t crc = ~crc32_update(0xFFFFFFFFu, p->data.data(), p->data.size());
  bool keep_packed = options_.solid || options_.method == PackMethod::lz || packed.size() < p->data.size();
  bool ok = keep_packed ? write_entry(p->info, compressor_->method(), compressor_->method_version(), p->solid, crc,
                                      packed.size(), packed.data())
                        : write_entry(p->info, 0x30, kStoredVersion, false, crc, p->data.size(), p->data.data());
  for (const std::vector<uint8_t>& h : deferred_) ok = ok && write_bytes(h.data(), h.size());
  deferred_.clear();
  return ok;
}

bool ArchiveWriter::add_file(const EntryInfo& info, ByteSource& source) {
  std::string e;
  if (!name_fits(info, e)) return fail(e);
  if (info.size == 0 && pending_) {
    deferred_.push_back(build_file_header(info, 0x30, kStoredVersion, 0, 0, 0));
    return true;
  }
  if (options_.method == PackMethod::store || info.size == 0) {
    // Stored: the header goes first with the CRC patched in once the data is through.
    int64_t header_at = file_tell(out_);
    std::vector<uint8_t> h = build_file_header(info, 0x30, kStoredVersion, 0, 0, info.size);
    if (h.size() > 0xFFFF) return fail("the header of an entry is too large");
    if (!write_bytes(h.data(), h.size())) return false;
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t left = info.size;
    uint32_t crc = 0xFFFFFFFFu;
    while (left > 0) {
      size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
      long long n = source.read(buffer.data(), want);
      if (n < 0) return fail("cannot read a file");
      if (n == 0) return fail("a file became shorter while it was read");
      crc = crc32_update(crc, buffer.data(), static_cast<size_t>(n));
      if (!write_bytes(buffer.data(), static_cast<size_t>(n))) return false;
      left -= static_cast<uint64_t>(n);
    }
    crc = ~crc;
    if (crc != 0) {
      int64_t end_at = file_tell(out_);
      h = build_file_header(info, 0x30, kStoredVersion, 0, crc, info.size);
      if (header_at < 0 || end_at < 0 || !file_seek(out_, header_at) || std::fwrite(h.data(), 1, h.size(), out_) != h.size() ||
          !file_seek(out_, end_at))
        return fail("cannot update a header in the archive");
    }
    return true;
  }

  // Compressed: the whole file goes through the compressor once the next entry tells
  // whether the stream goes on.
  auto p = std::make_unique<Pending>();
  p->info = info;
  if (info.size > 0x7FFFFFFFull) return fail("a file is too large to be compressed");
  p->data.resize(static_cast<size_t>(info.size));
  size_t at = 0;
  while (at < p->data.size()) {
    long long n = source.read(p->data.data() + at, p->data.size() - at);
    if (n < 0) return fail("cannot read a file");
    if (n == 0) return fail("a file became shorter while it was read");
    at += static_cast<size_t>(n);
  }
  p->solid = options_.solid && stream_started_;
  if (!flush_pending(options_.solid)) return false;
  if (!options_.solid) {
    pending_ = std::move(p);
    return flush_pending(false);
  }
  stream_started_ = true;
  pending_ = std::move(p);
  return true;
}

bool ArchiveWriter::finish() {
  if (!flush_pending(false)) return false;
  std::vector<uint8_t> end;
  put16(end, 0);
  end.push_back(0x7B);
  put16(end, 0);
  put16(end, 7);
  set16(end, 0, header_crc16(end.data(), end.size()));
  if (!write_bytes(end.data(), end.size())) return false;
  if (std::fflush(out_) != 0) return fail("cannot write the archive");
  return true;
}
