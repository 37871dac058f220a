#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archive/archive_reader.h"
#include "archive/comment.h"
#include "archive_fixtures.h"
#include "extract/extraction.h"
#include "ui/catalogue.h"

using namespace fixtures;

namespace {

std::string message(int id, const char* arg = nullptr) {
  char text[512];
  std::snprintf(text, sizeof(text), message_text(id), arg);
  return text;
}

Entry stored(const std::string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = Bytes(data.begin(), data.end());
  return e;
}

}  // namespace

TEST(ArchiveSignature, FoundAtStartOrBehindAPrefixUpToTheLimit) {
  Bytes archive = archive_of({file_block(stored("a.txt", "hello")), end_block()});
  struct Case {
    size_t prefix;
    bool found;
  } cases[] = {{0, true}, {7, true}, {4096, true}, {524272, true}, {524273, false}};
  for (const Case& c : cases) {
    Bytes module(c.prefix, 0x90);
    // A partial signature in the prefix does not count.
    if (c.prefix > 10) {
      module[3] = 0x4B;
      module[4] = 0x65;
      module[5] = 0x7A;
    }
    append(module, archive);
    std::string path = write_temp(module, "module.exe");
    reset_exit_status();
    ArchiveReader reader;
    ::testing::internal::CaptureStderr();
    bool ok = reader.open_archive(path.c_str(), nullptr);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.found) << "prefix " << c.prefix;
    if (ok) {
      EXPECT_EQ(reader.archive_offset, static_cast<int64_t>(c.prefix));
      ASSERT_GT(reader.read_header(), 0);
      EXPECT_EQ(reader.current_type, kBlockFile);
      EXPECT_STREQ(reader.file.name, "a.txt");
    } else {
      EXPECT_NE(log.find(message(120)), std::string::npos) << log;
      EXPECT_EQ(exit_code(), 0);
    }
  }
}

TEST(ArchiveSignature, ShortOrForeignFilesAreNotArchives) {
  for (const Bytes& bytes : {Bytes{0x4B, 0x65, 0x7A}, Bytes(100000, 'x'), Bytes{}}) {
    std::string path = write_temp(bytes);
    ReadResult r = walk(path);
    EXPECT_FALSE(r.opened);
    EXPECT_NE(r.log.find(message(120)), std::string::npos);
  }
}

TEST(ArchiveMainHeader, CorruptCrcIsRefusedUnlessTolerated) {
  Bytes archive = archive_of({end_block()}, 0x0008);
  archive[7] ^= 0x55;  // the main header's CRC
  std::string path = write_temp(archive);
  for (bool tolerate : {false, true}) {
    ArchiveReader reader;
    ASSERT_TRUE(reader.open(path.c_str(), nullptr));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(reader.check_archive(tolerate), tolerate);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(message(124)), std::string::npos);
    if (tolerate) {
      EXPECT_TRUE(reader.is_solid);
    }
  }
}

TEST(ArchiveMainHeader, FlagsAndTooNewCryptVersion) {
  Bytes archive = archive_of({end_block()}, 0x0001 | 0x0008 | 0x0100);
  ArchiveReader reader;
  std::string path = write_temp(archive);
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  EXPECT_TRUE(reader.is_volume);
  EXPECT_TRUE(reader.is_solid);
  EXPECT_FALSE(reader.has_comment);
  EXPECT_FALSE(reader.starts_mid_set);
  EXPECT_STREQ(reader.set_first_name, path.c_str());

  Bytes body;
  put16(body, 0);
  put32(body, 0);
  body.push_back(37);
  Bytes v37 = signature();
  append(v37, block(0x73, 0x0200, body));
  append(v37, end_block());
  reset_exit_status();
  ReadResult r = walk(write_temp(v37));
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.exit, 1);
}

TEST(ArchiveMainHeader, LookAheadSeesCommentsAndSetContinuation) {
  Entry cmt = stored("CMT", "x");
  Entry split = stored("b.bin", "data");
  split.flags |= 0x0001;
  struct Case {
    std::vector<Bytes> blocks;
    uint16_t main_flags;
    bool comment, mid_set;
  } cases[] = {
      {{sub_block(cmt), file_block(stored("a", "1")), end_block()}, 0, true, false},
      {{file_block(stored("a", "1")), sub_block(cmt), end_block()}, 0, false, false},
      {{file_block(split), end_block()}, 0, false, true},
      {{file_block(stored("a", "1")), end_block()}, 0x0001, false, true},
      {{file_block(stored("a", "1")), end_block()}, 0x0001 | 0x0100, false, false},
  };
  for (const Case& c : cases) {
    ArchiveReader reader;
    std::string path = write_temp(archive_of(c.blocks, c.main_flags));
    ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
    EXPECT_EQ(reader.has_comment, c.comment);
    EXPECT_EQ(reader.starts_mid_set, c.mid_set);
    // The look-ahead leaves the reader on the first block after the main header.
    ASSERT_GT(reader.read_header(), 0);
    EXPECT_NE(reader.current_type, kBlockEnd);
  }
}

TEST(ArchiveHeaders, SizesAboveFourGigabytes) {
  Entry big = stored("big.iso", "");
  big.large = true;
  big.packed_override = 0x10;
  big.size_override = 0xFFFFFFFF;
  big.packed_hi = 0;
  big.size_hi = 5;
  Entry unknown = stored("unknown.bin", "");
  unknown.size_override = 0xFFFFFFFF;
  Bytes archive = archive_of({file_block(unknown), file_block(big)});
  archive.resize(archive.size() + 0x10);
  uint64_t sizes[2] = {}, packed[2] = {};
  uint32_t lo[2] = {}, hi[2] = {};
  int n = 0;
  ReadResult r = walk(write_temp(archive), [&](ArchiveReader& reader) {
    sizes[n] = reader.file.unpacked_size;
    packed[n] = reader.file.packed_size;
    lo[n] = reader.file.size_lo;
    hi[n] = reader.file.size_hi;
    n++;
  });
  ASSERT_EQ(n, 2);
  EXPECT_EQ(lo[0], 0u);
  EXPECT_EQ(hi[0], 0x7FFFFFFFu);
  EXPECT_EQ(sizes[0], 0x7FFFFFFFull << 32);
  EXPECT_EQ(sizes[1], (5ull << 32) | 0xFFFFFFFFull);
  EXPECT_EQ(packed[1], 0x10u);
  // No end block: the archive ends where the last data ends, which is a normal end.
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.log, "");
}

TEST(ArchiveHeaders, DamageIsReportedAndNeverLoops) {
  struct Case {
    const char* what;
    std::function<Bytes()> build;
    std::vector<std::string> names;
    int message_id;
    const char* message_arg;
    int exit;
  };
  std::vector<Case> cases = {
      {"wrong file header CRC",
       [] {
         Bytes a = archive_of({file_block(stored("bad.txt", "abc")), file_block(stored("next.txt", "x")), end_block()});
         a[20] ^= 1;
         return a;
       },
       {"bad.txt", "next.txt"}, 104, "bad.txt", 1},
      {"header_length below 7",
       [] {
         Bytes a = archive_of({file_block(stored("first.txt", "abc"))});
         Bytes bad = block(0x74, 0x8000, {});
         bad[5] = 5;
         append(a, bad);
         append(a, file_block(stored("never.txt", "x")));
         return a;
       },
       {"first.txt"}, 104, "???", 3},
      {"next block not advancing",
       [] {
         Entry e = stored("loop.bin", "");
         e.large = true;
         // header_length + packed size wraps around to the block's own start.
         Bytes h = file_block(e);
         uint64_t packed = 0 - static_cast<uint64_t>(h.size());
         e.packed_override = static_cast<uint32_t>(packed);
         e.packed_hi = static_cast<uint32_t>(packed >> 32);
         return archive_of({file_block(e), end_block()});
       },
       {}, 104, "???", 3},
      {"truncated inside file data",
       [] {
         Bytes a = archive_of({file_block(stored("one.txt", "0123456789")), file_block(stored("cut.txt", "0123456789"))});
         a.resize(a.size() - 4);
         return a;
       },
       {"one.txt", "cut.txt"}, 103, nullptr, 1},
      {"truncated inside a header",
       [] {
         Bytes a = archive_of({file_block(stored("one.txt", "0123456789")), file_block(stored("cut.txt", "0123456789"))});
         a.resize(a.size() - 10 - 6);
         return a;
       },
       {"one.txt", "c"}, 103, nullptr, 1},
  };
  for (const Case& c : cases) {
    ReadResult r = walk(write_temp(c.build()));
    ASSERT_TRUE(r.opened) << c.what;
    EXPECT_EQ(r.names, c.names) << c.what;
    EXPECT_NE(r.log.find(message(c.message_id, c.message_arg)), std::string::npos) << c.what << ": " << r.log;
    EXPECT_EQ(r.exit, c.exit) << c.what;
  }
}

TEST(ArchiveHeaders, CorruptSubBlockNameIsMarked) {
  Bytes a = archive_of({sub_block(stored("STM", "abc")), end_block()});
  a[20 + 7] ^= 1;
  ArchiveReader reader;
  std::string path = write_temp(a);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  ASSERT_GT(reader.read_header(), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_STREQ(reader.sub.name, "STM- ???");
  EXPECT_TRUE(reader.broken_header);
  reset_exit_status();
}

TEST(ArchiveNames, EncodedUnicodeForm) {
  struct Case {
    const char* what;
    Bytes encoded;
    std::string narrow;
    std::u16string expected;
  } cases[] = {
      {"four type-0 entries", {0x00, 0x00, 0x41, 0x42}, "AB", u"AB"},
      {"high byte", {0x04, 0x54, 0x10, 0x11, 0x12}, "???", u"\u0410\u0411\u0412"},
      {"explicit pairs", {0x00, 0xA8, 0x2D, 0x4E, 0x3D, 0xD8, 0x00, 0xDE}, "??", u"\u4E2D\U0001F600"},
      {"copied run", {0x00, 0xC0, 0x03}, "hello", u"hello"},
      {"shifted run", {0x04, 0xC0, 0x81, 0x80}, "\x90\x91\x92", u"\u0410\u0411\u0412"},
      {"runs cut at the end of the data", {0x00, 0x00}, "xyz", u""},
  };
  for (const Case& c : cases) {
    WChar out[kPathSize];
    decode_unicode_name(c.encoded.data(), static_cast<uint32_t>(c.encoded.size()),
                        reinterpret_cast<const uint8_t*>(c.narrow.c_str()), static_cast<uint32_t>(c.narrow.size() + 1),
                        out);
    EXPECT_EQ(std::u16string(out), c.expected) << c.what;
  }
  // A run that would pass the 1024-unit limit ends at 1023 units.
  Bytes many = {0x00};
  for (int i = 0; i < 300; i++) {
    many.push_back(0xFF);
    for (int k = 0; k < 4; k++) {
      many.push_back(0x7F);
    }
  }
  std::string narrow(2000, 'n');
  WChar out[kPathSize];
  decode_unicode_name(many.data(), static_cast<uint32_t>(many.size()), reinterpret_cast<const uint8_t*>(narrow.data()),
                      static_cast<uint32_t>(narrow.size()), out);
  EXPECT_EQ(std::u16string(out).size(), 1023u);
}

TEST(ArchiveNames, FieldFormsAndPostProcessing) {
  Entry utf8 = stored("dir/\xC3\xA9t\xC3\xA9.txt", "1");
  utf8.flags |= 0x0200;
  Entry encoded = stored(std::string("AB\0\0\0\x41\x42", 7), "2");
  encoded.flags |= 0x0200;
  Entry empty_form = stored(std::string("plain.txt\0\0", 11), "3");
  empty_form.flags |= 0x0200;
  Entry legacy = stored("old_dir", "");
  legacy.version = 15;
  legacy.attributes = 0x10;
  Entry unix_file = stored("a/b", "4");
  unix_file.origin_os = 3;
  unix_file.attributes = 0x81A4;
  Entry unknown_os = stored("x", "5");
  unknown_os.origin_os = 9;
  unknown_os.attributes = 0x1234;
  Entry volume_label = stored("LABEL", "");
  volume_label.attributes = 0x08;
  Entry long_name = stored(std::string(2000, 'n') + "/x", "6");

  struct Seen {
    std::string narrow, wide;
    uint16_t flags;
    uint32_t attributes;
    bool folder, label;
  };
  std::vector<Seen> seen;
  walk(write_temp(archive_of({file_block(utf8), file_block(encoded), file_block(empty_form), file_block(legacy),
                              file_block(unix_file), file_block(unknown_os), file_block(volume_label),
                              file_block(long_name), end_block()})),
       [&](ArchiveReader& r) {
         bool folder = r.is_folder();
         bool label = r.is_volume_label();
         r.normalize_attributes();
         seen.push_back({r.file.name, utf8_of(r.file.name_wide), r.file.block_flags, r.file.host_attributes, folder, label});
       });
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen[7].narrow, std::string(1023, 'n'));
  EXPECT_EQ(seen[0].wide, "dir\\\xC3\xA9t\xC3\xA9.txt");
#ifndef _WIN32
  EXPECT_EQ(seen[0].narrow, "dir\\\x82t\x82.txt");  // the OEM form (437) of the UTF-8 name
#endif
  EXPECT_EQ(seen[1].narrow, "AB");
  EXPECT_EQ(seen[1].wide, "AB");
  EXPECT_EQ(seen[2].wide, "");
  EXPECT_EQ(seen[2].flags & 0x0200, 0);
  EXPECT_TRUE(seen[3].folder);
  EXPECT_EQ(seen[4].narrow, "a\\b");
  EXPECT_EQ(seen[4].attributes, 0x20u);
  EXPECT_EQ(seen[5].attributes, 0x20u);
  EXPECT_FALSE(seen[5].label);
  EXPECT_TRUE(seen[6].label);
}

TEST(ArchiveTimes, ExtendedTimes) {
  // mtime: +1 s and three remainder bytes; ctime: DOS time and one byte; atime: absent;
  // archived time: DOS time without remainder.
  Bytes ext;
  put16(ext, (0xF << 12) | (0x9 << 8) | (0x8 << 0));
  ext.push_back(0x56);
  ext.push_back(0x34);
  ext.push_back(0x12);
  uint32_t ctime_dos = (38u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 2u;  // 2018-01-02 03:04:04
  put32(ext, ctime_dos);
  ext.push_back(0x12);
  put32(ext, ctime_dos);
  Entry e = stored("t.txt", "x");
  e.flags |= 0x1000;
  e.after_name = ext;
  Entry plain = stored("p.txt", "y");
  TimeStamp m, c, a, ar, pm, pc;
  walk(write_temp(archive_of({file_block(e), file_block(plain), end_block()})), [&](ArchiveReader& r) {
    if (std::strcmp(r.file.name, "t.txt") == 0) {
      m = r.file.mtime;
      c = r.file.ctime;
      a = r.file.atime;
      ar = r.file.archived_time;
    } else {
      pm = r.file.mtime;
      pc = r.file.ctime;
    }
  });
  EXPECT_EQ(m.year, 2020u);
  EXPECT_EQ(m.second, 7u);
  EXPECT_EQ(m.remainder, 0x123456u);
  EXPECT_EQ(c.year, 2018u);
  EXPECT_EQ(c.second, 4u);
  EXPECT_EQ(c.remainder, 0x120000u);
  EXPECT_FALSE(a.present());
  EXPECT_EQ(ar.second, 4u);
  EXPECT_EQ(ar.remainder, 0u);
  EXPECT_EQ(pm.second, 6u);
  EXPECT_FALSE(pc.present());
}

TEST(ArchiveBlocks, FindBlockAndOtherBlockTypes) {
  Bytes other_body;
  put32(other_body, 5);
  Bytes other = block(0x76, 0x8000, other_body);
  append(other, std::string("12345"));
  Bytes a = archive_of({other, sub_block(stored("STM", "s")), file_block(stored("f.txt", "abc")), end_block()});
  ArchiveReader reader;
  std::string path = write_temp(a);
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  EXPECT_GT(reader.find_block(kBlockFile), 0);
  EXPECT_STREQ(reader.file.name, "f.txt");
  reader.skip_block();
  EXPECT_EQ(reader.find_block(kBlockFile), 0);  // the end block stops the search
  EXPECT_EQ(reader.current_type, kBlockEnd);

  reader.seek(reader.archive_offset + 20, SeekOrigin::begin);
  EXPECT_GT(reader.find_sub_block("STM"), 0);
  GrowArray<uint8_t> data;
  ASSERT_TRUE(reader.read_sub_block_data(&data, nullptr));
  ASSERT_EQ(data.count, 1u);
  EXPECT_EQ(data[0], 's');
  EXPECT_EQ(reader.find_sub_block("ACL"), 0);
}

TEST(ArchiveBlocks, SubBlockDataChecks) {
  struct Case {
    const char* what;
    Entry entry;
    bool ok;
    int exit;
  };
  Entry good = stored("STM", "payload");
  Entry bad_method = good;
  bad_method.method = 0x36;
  Entry too_new = good;
  too_new.version = 37;
  Entry empty = stored("STM", "");
  Entry encrypted = good;
  encrypted.flags |= 0x0004;
  std::vector<Case> cases = {
      {"stored", good, true, 0},      {"unknown method", bad_method, false, 0}, {"version above 36", too_new, false, 0},
      {"no data", empty, true, 0},    {"encrypted without password", encrypted, false, 0},
  };
  for (const Case& c : cases) {
    ArchiveReader reader;
    std::string path = write_temp(archive_of({sub_block(c.entry), end_block()}));
    reset_exit_status();
    ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
    ASSERT_GT(reader.find_sub_block("STM"), 0);
    GrowArray<uint8_t> data;
    EXPECT_EQ(reader.read_sub_block_data(&data, nullptr), c.ok) << c.what;
    EXPECT_EQ(exit_code(), c.exit) << c.what;
    if (c.ok) {
      EXPECT_EQ(std::string(data.items, data.items + data.count), std::string(c.entry.data.begin(), c.entry.data.end()));
    }
  }

  // Damaged header or data: exit code 3, no text.
  for (int damage = 0; damage < 2; damage++) {
    Bytes a = archive_of({sub_block(good), end_block()});
    if (damage == 0) a[20 + 12] ^= 1;       // a byte of the header
    else a[20 + 32 + 3 + 2] ^= 1;           // a byte of the data
    ArchiveReader reader;
    std::string path = write_temp(a);
    reset_exit_status();
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
    reset_exit_status();
    ASSERT_GT(reader.find_block(kBlockSub), 0);
    GrowArray<uint8_t> data;
    EXPECT_FALSE(reader.read_sub_block_data(&data, nullptr));
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(exit_code(), 3) << "damage " << damage;
  }
  reset_exit_status();
}

TEST(ArchiveBlocks, SubBlockDataKeptInTheHeader) {
  Entry acl = stored("ACL", "");
  acl.after_name = {1, 2, 3, 4, 5};
  Bytes a = archive_of({sub_block(acl), end_block()});
  ArchiveReader reader;
  std::string path = write_temp(a);
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  ASSERT_GT(reader.find_sub_block("ACL"), 0);
  ASSERT_EQ(reader.sub.block_data.count, 5u);
  EXPECT_EQ(reader.sub.block_data[4], 5);
  EXPECT_EQ(reader.computed_header_crc, reader.sub.crc16);
}

TEST(ArchiveEncryptedHeaders, WrongPasswordNamesTheArchive) {
  // Whatever the key, these bytes do not decrypt to a header with a matching CRC.
  Bytes a = signature();
  append(a, main_header(0x0080));
  Bytes garbage(8 + 48);
  for (size_t i = 0; i < garbage.size(); i++) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  append(a, garbage);
  std::string path = write_temp(a);

  ExtractionJob job;
  std::strcpy(job.password, "wrong");
  reset_exit_status();
  ArchiveReader reader(&job);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  EXPECT_TRUE(reader.encrypted_headers);
  EXPECT_TRUE(reader.starts_mid_set);  // no first-volume flag: cannot tell, so assumed
  EXPECT_EQ(reader.read_header(), 0);
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(message(112, path.c_str())), std::string::npos) << log;
  EXPECT_FALSE(reader.is_open());
  EXPECT_TRUE(reader.broken_header);
  EXPECT_EQ(exit_code(), 3);
  EXPECT_EQ(reader.read_header(), 0);  // closed: nothing more, and no crash
  reset_exit_status();
}
