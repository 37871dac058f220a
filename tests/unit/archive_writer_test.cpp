#include <gtest/gtest.h>

#include <cstring>

#include "archive/comment.h"
#include "archive_fixtures.h"
#include "encode/archive_writer.h"
#include "platform/text.h"

using namespace fixtures;

namespace {

TimeStamp stamp(uint32_t y, uint32_t mo, uint32_t d, uint32_t h, uint32_t mi, uint32_t s, uint32_t rem) {
  TimeStamp t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.remainder = rem;
  return t;
}

struct Listed {
  std::string name;
  bool folder;
  uint64_t size;
  uint32_t attributes;
  TimeStamp mtime;
  uint8_t method;
  uint16_t flags;
};

std::vector<Listed> list_archive(const std::string& path, ReadResult* result = nullptr) {
  std::vector<Listed> out;
  ReadResult r = walk(path, [&](ArchiveReader& reader) {
    const FileHeader& h = reader.file;
    out.push_back({entry_name(h), reader.is_folder(), h.unpacked_size, h.host_attributes, h.mtime, h.method, h.block_flags});
  });
  EXPECT_TRUE(r.opened);
  if (result) *result = r;
  return out;
}

// A compressor stand-in that "packs" by copying, to check the writer's plumbing.
class CopyCompressor : public EntryCompressor {
 public:
  uint8_t method() const override { return 0x33; }
  uint8_t method_version() const override { return 29; }
  void compress(const uint8_t* data, size_t size, bool solid, bool more_follow, std::vector<uint8_t>& out) override {
    calls.push_back({size, solid, more_follow});
    out.insert(out.end(), data, data + size);
    if (size > 0 && data[0] == 'z') out.resize(size / 2);  // "compresses" well
  }
  struct Call {
    size_t size;
    bool solid, more_follow;
  };
  std::vector<Call> calls;
};

}  // namespace

TEST(ArchiveWriter, UnicodeNameFormDecodesToTheSameName) {
  struct Case {
    std::u16string wide;
    std::string narrow;
  } cases[] = {
      {u"中文件名.txt", "????.txt"},
      {u"emoji_😀_end", "emoji_?_end"},
      {u"Папка\\файл.txt", "\x8F\xA0\xAF\xAA\xA0\\\xE4\xA0\xA9\xAB.txt"},
      {u"mixed_Ж中😀x", "mixed_???x"},
      {std::u16string(600, u'ж') + u"tail", std::string(600, 'x') + "tail"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> encoded = encode_unicode_name(c.wide, c.narrow);
    std::vector<uint8_t> narrow_field(c.narrow.begin(), c.narrow.end());
    narrow_field.push_back(0);
    WChar out[kPathSize];
    decode_unicode_name(encoded.data(), static_cast<uint32_t>(encoded.size()), narrow_field.data(),
                        static_cast<uint32_t>(narrow_field.size()), out);
    EXPECT_EQ(std::u16string(out), c.wide) << utf8_of(reinterpret_cast<const WChar*>(c.wide.c_str()));
  }
  // Runs against the narrow name keep long Latin names short.
  std::u16string latin = u"a_long_plain_name_with_one_é_in_it.txt";
  std::string narrow = "a_long_plain_name_with_one_\x82_in_it.txt";
  EXPECT_LT(encode_unicode_name(latin, narrow).size(), latin.size() / 2);
}

TEST(ArchiveWriter, RoundTripThroughTheReader) {
  std::string path = temp_folder().string() + "/out.kez";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ArchiveWriter w;
  WriterOptions options;
  options.comment = "Title=Round trip\r\n";
  ASSERT_TRUE(w.begin(f, options));

  EntryInfo folder;
  folder.name = u"top";
  folder.mtime = stamp(2021, 3, 4, 5, 6, 7, 1234567);
  ASSERT_TRUE(w.add_folder(folder));
  EntryInfo nested = folder;
  nested.name = u"top/子文件夹";
  ASSERT_TRUE(w.add_folder(nested));

  std::string body = "hello, world\n";
  EntryInfo file;
  file.name = u"top/子文件夹/文件😀.txt";
  file.attributes = 0x21;
  file.size = body.size();
  file.mtime = stamp(2022, 12, 31, 23, 59, 59, 9999999);
  MemorySource source(reinterpret_cast<const uint8_t*>(body.data()), body.size());
  ASSERT_TRUE(w.add_file(file, source));

  EntryInfo empty;
  empty.name = u"top/empty";
  empty.attributes = 0x20;
  empty.mtime = stamp(1970, 1, 1, 0, 0, 0, 0);  // before 1980: stored as the earliest DOS time
  MemorySource nothing(nullptr, 0);
  ASSERT_TRUE(w.add_file(empty, nothing));
  ASSERT_TRUE(w.finish());
  std::fclose(f);

  ReadResult r;
  std::vector<Listed> listed = list_archive(path, &r);
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.log, "");
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[0].name, "top");
  EXPECT_TRUE(listed[0].folder);
  EXPECT_TRUE(times_equal(listed[0].mtime, folder.mtime));
  EXPECT_EQ(listed[1].name, "top/子文件夹");
  EXPECT_EQ(listed[2].name, "top/子文件夹/文件😀.txt");
  EXPECT_FALSE(listed[2].folder);
  EXPECT_EQ(listed[2].size, body.size());
  EXPECT_EQ(listed[2].attributes, 0x21u);
  EXPECT_TRUE(times_equal(listed[2].mtime, file.mtime));
  EXPECT_EQ(listed[2].method, 0x30);
  EXPECT_EQ(listed[3].name, "top/empty");
  EXPECT_EQ(listed[3].size, 0u);
  EXPECT_EQ(listed[3].mtime.year, 1980u);

  // The stored data comes back with its CRC through the reader's sub-block path too.
  char* text = nullptr;
  int size = 0;
  read_script_comment(path.c_str(), &text, &size);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, static_cast<size_t>(size)), options.comment);
  mem_free(text);

  // The file's data follows its header exactly: size and CRC.
  ArchiveReader reader;
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  ASSERT_GT(reader.find_block(kBlockFile), 0);
  ASSERT_GT((reader.skip_block(), reader.find_block(kBlockFile)), 0);
  ASSERT_GT((reader.skip_block(), reader.find_block(kBlockFile)), 0);
  ASSERT_EQ(reader.file.packed_size, body.size());
  reader.seek(reader.next_block - static_cast<int64_t>(reader.file.packed_size), SeekOrigin::begin);
  char data[64] = {};
  ASSERT_EQ(reader.read(data, static_cast<int>(body.size())), static_cast<int>(body.size()));
  EXPECT_EQ(std::string(data), body);
  EXPECT_EQ(reader.file.data_crc, crc32_of(body.data(), body.size()));
}

TEST(ArchiveWriter, LargeSizesUseTheHighWords) {
  struct Case {
    uint64_t size;
    bool large;
  } cases[] = {{0xFFFFFFFEull, false}, {0xFFFFFFFFull, true}, {5ull << 32 | 123, true}};
  for (const Case& c : cases) {
    EntryInfo info;
    info.name = u"big.bin";
    info.size = c.size;
    info.mtime = stamp(2020, 1, 1, 0, 0, 0, 0);
    std::vector<uint8_t> h = build_file_header(info, 0x30, 29, 0, 0, c.size);
    Bytes a = signature();
    append(a, main_header());
    append(a, Bytes(h.begin(), h.end()));
    uint64_t size = 0, packed = 0;
    uint16_t flags = 0;
    walk(write_temp(a), [&](ArchiveReader& r) {
      size = r.file.unpacked_size;
      packed = r.file.packed_size;
      flags = r.file.block_flags;
    });
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(packed, c.size);
    EXPECT_EQ((flags & 0x0100) != 0, c.large) << c.size;
  }
}

TEST(ArchiveWriter, CompressedEntriesPlugIn) {
  for (bool solid : {false, true}) {
    std::string path = temp_folder().string() + "/lz.kez";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ArchiveWriter w;
    auto compressor = std::make_unique<CopyCompressor>();
    CopyCompressor* calls = compressor.get();
    w.set_compressor(std::move(compressor));
    WriterOptions options;
    options.method = PackMethod::automatic;
    options.solid = solid;
    ASSERT_TRUE(w.begin(f, options));
    std::string a = "zzzzzzzz", b = "abcdefgh";
    EntryInfo info;
    info.mtime = stamp(2020, 1, 1, 0, 0, 0, 0);
    info.name = u"a";
    info.size = a.size();
    MemorySource sa(reinterpret_cast<const uint8_t*>(a.data()), a.size());
    ASSERT_TRUE(w.add_file(info, sa));
    EntryInfo dir;
    dir.name = u"d";
    ASSERT_TRUE(w.add_folder(dir));
    info.name = u"b";
    info.size = b.size();
    MemorySource sb(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    ASSERT_TRUE(w.add_file(info, sb));
    ASSERT_TRUE(w.finish());
    std::fclose(f);

    ASSERT_EQ(calls->calls.size(), 2u);
    EXPECT_FALSE(calls->calls[0].solid);
    EXPECT_EQ(calls->calls[0].more_follow, solid);
    EXPECT_EQ(calls->calls[1].solid, solid);
    EXPECT_FALSE(calls->calls[1].more_follow);

    ReadResult r;
    std::vector<Listed> listed = list_archive(path, &r);
    ASSERT_EQ(listed.size(), 3u) << "solid " << solid;
    EXPECT_EQ(listed[0].name, "a");
    EXPECT_EQ(listed[1].name, "d");
    EXPECT_EQ(listed[2].name, "b");
    EXPECT_EQ(listed[0].method, 0x33);
    EXPECT_EQ(listed[0].flags & 0x0010, 0);
    // Automatic keeps the packed form only where it is smaller, except in a solid stream.
    EXPECT_EQ(listed[2].method, solid ? 0x33 : 0x30);
    EXPECT_EQ((listed[2].flags & 0x0010) != 0, solid);
    EXPECT_EQ(r.exit, 0);
  }
}

TEST(ArchiveWriter, LzWithoutACompressorFails) {
  std::string path = temp_folder().string() + "/none.kez";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ArchiveWriter w;
  WriterOptions options;
  options.method = PackMethod::lz;
  EXPECT_FALSE(w.begin(f, options));
  EXPECT_NE(w.error(), "");
  std::fclose(f);
}
