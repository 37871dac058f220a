#include <gtest/gtest.h>

#include "archive/comment.h"
#include "archive_fixtures.h"
#include "platform/memory.h"

using namespace fixtures;

namespace {

Entry comment_entry(const std::string& bytes, uint32_t attributes = 0) {
  Entry e;
  e.name = "CMT";
  e.data = Bytes(bytes.begin(), bytes.end());
  e.attributes = attributes;
  return e;
}

struct Script {
  bool present = false;
  std::string text;
  int exit = 0;
};

Script script_of(const Bytes& archive) {
  std::string path = write_temp(archive);
  char* text = nullptr;
  int size = 0;
  ::testing::internal::CaptureStderr();
  read_script_comment(path.c_str(), &text, &size);
  ::testing::internal::GetCapturedStderr();
  Script s;
  s.exit = exit_code();
  if (text) {
    s.present = true;
    s.text.assign(text, static_cast<size_t>(size));
    EXPECT_EQ(text[size], 0);
    mem_free(text);
  }
  reset_exit_status();
  return s;
}

}  // namespace

TEST(ArchiveComment, ScriptFromTheCommentSubBlock) {
  struct Case {
    const char* what;
    Bytes archive;
    bool present;
    std::string text;
    int exit;
  };
  Bytes old_style = signature();
  {
    // The old kind of comment inside the main header: located, not decoded.
    Bytes body;
    put16(body, 0);
    put32(body, 0);
    Bytes inner = block(0x75, 0, {4, 0, 1, 0, 0, 0});
    append(body, inner);
    Bytes main = block(0x73, 0x0002, body);
    // Its CRC covers the 13 bytes of the main header proper.
    uint16_t crc = static_cast<uint16_t>(~crc32_update(0xFFFFFFFFu, main.data() + 2, 11));
    main[0] = static_cast<uint8_t>(crc);
    main[1] = static_cast<uint8_t>(crc >> 8);
    append(old_style, main);
    append(old_style, end_block());
  }
  Bytes damaged = archive_of({sub_block(comment_entry("Title=x")), end_block()});
  damaged[damaged.size() - 8] ^= 0x20;
  Bytes padded_utf16 = archive_of({sub_block(comment_entry(std::string("A\0B\0\0\0C\0", 8), 1)), end_block()});

  std::vector<Case> cases = {
      {"plain text", archive_of({sub_block(comment_entry("Setup=setup.exe\r\nTitle=Demo")), file_block([] {
                                   Entry f;
                                   f.name = "a.txt";
                                   f.data = {'1'};
                                   return f;
                                 }()),
                                 end_block()}),
       true, "Setup=setup.exe\r\nTitle=Demo", 0},
      {"UTF-16 text", archive_of({sub_block(comment_entry(std::string("A\0B\0", 4), 1)), end_block()}), true, "AB", 0},
      {"UTF-16 up to its first zero", padded_utf16, true, "AB", 0},
      {"no comment", archive_of({end_block()}), false, "", 0},
      {"empty comment", archive_of({sub_block(comment_entry("")), end_block()}), false, "", 0},
      {"old style", old_style, false, "", 0},
      {"after the first file", archive_of({file_block([] {
                                             Entry f;
                                             f.name = "a.txt";
                                             f.data = {'1'};
                                             return f;
                                           }()),
                                           sub_block(comment_entry("late")), end_block()}),
       false, "", 0},
      {"damaged data", damaged, false, "", 3},
      {"not an archive", Bytes(64, 'z'), false, "", 0},
  };
  for (const Case& c : cases) {
    Script s = script_of(c.archive);
    EXPECT_EQ(s.present, c.present) << c.what;
    EXPECT_EQ(s.text, c.text) << c.what;
    EXPECT_EQ(s.exit, c.exit) << c.what;
  }
}

TEST(ArchiveComment, ReadCommentKeepsThePosition) {
  std::string path = write_temp(archive_of({sub_block(comment_entry("hello")), end_block()}));
  ArchiveReader reader;
  ASSERT_TRUE(reader.open_archive(path.c_str(), nullptr));
  int64_t before = reader.tell();
  GrowArray<uint8_t> buffer;
  ASSERT_TRUE(read_comment(reader, buffer));
  EXPECT_EQ(std::string(buffer.items, buffer.items + buffer.count), "hello");
  EXPECT_EQ(reader.tell(), before);
}
