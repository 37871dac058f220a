// PPM blocks in the LZ stream: headers, escape sequences, blocks mixed with LZ blocks,
// models that live across files, restarts, and damaged data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decode/ppm_decoder.h"
#include "encode/ppm_encoder.h"
#include "lz_ppm_data.h"

using ppmtest::Bytes;

namespace {

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

::testing::AssertionResult same_bytes(const Bytes& want, const Bytes& got) {
  if (want == got) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) i++;
  return ::testing::AssertionFailure() << "sizes " << want.size() << " / " << got.size() << ", first difference at "
                                       << i;
}

// The PPM decoder alone over a buffer holding one block header.
struct HeaderProbe {
  uint8_t buffer[BitReader::kBufferSize + BitReader::kSlack] = {};
  int32_t pos = 0;
  PpmDecoder dec;
  HeaderProbe() {
    dec.attach(buffer, &pos, [](void*) { return true; }, nullptr);
  }
  bool start(std::initializer_list<uint8_t> header, uint32_t* escape) {
    std::memset(buffer, 0, sizeof buffer);
    std::copy(header.begin(), header.end(), buffer);
    pos = 0;
    return dec.start_block(escape);
  }
};

TEST(PpmHeader, OrderFieldMemoryAndEscape) {
  struct Case {
    uint8_t field;
    uint32_t order;
  } cases[] = {{1, 2}, {5, 6}, {15, 16}, {16, 19}, {17, 22}, {30, 61}, {31, 64}};
  HeaderProbe p;
  for (const Case& c : cases) {
    uint32_t escape = 2;
    ASSERT_TRUE(p.start({static_cast<uint8_t>(0xA0 | c.field), 1}, &escape)) << int(c.field);
    EXPECT_EQ(p.dec.model().order_limit, c.order) << int(c.field);
    EXPECT_EQ(p.dec.model().arena.size, 2u << 20);
    EXPECT_EQ(p.pos, 6);  // flags, memory, four bytes of the range decoder
    EXPECT_EQ(escape, 2u);
  }
  // The escape flag replaces the character; a continuing header keeps the model.
  uint32_t escape = 2;
  ASSERT_TRUE(p.start({0xE5, 0, 0x7F}, &escape));
  EXPECT_EQ(escape, 0x7Fu);
  EXPECT_EQ(p.dec.model().arena.size, 1u << 20);
  EXPECT_EQ(p.pos, 7);
  ASSERT_TRUE(p.start({0x9F}, &escape));
  EXPECT_EQ(p.dec.model().order_limit, 6u);
  EXPECT_EQ(escape, 0x7Fu);
  EXPECT_EQ(p.pos, 5);
  // Order 1 releases the model: a continuing header then has nothing to continue.
  EXPECT_FALSE(p.start({0xA0, 0}, &escape));
  EXPECT_EQ(p.dec.model().arena.size, 0u);
  EXPECT_FALSE(p.start({0x80}, &escape));
}

TEST(PpmStream, FirstBlockMustStartAModel) {
  Bytes data = ppmtest::text_data(5000);
  PpmEncoder enc(6, 1);
  Bytes first, second;
  enc.encode_file(data.data(), data.size(), false, false, first);
  enc.encode_file(data.data(), data.size(), true, false, second);
  ASSERT_EQ(second[0] & 0x20, 0);
  EXPECT_LT(second.size() * 2, first.size());  // the second copy is coded by a trained model
  ppmtest::Harness h;
  EXPECT_TRUE(h.decode(second, data.size(), false).empty());
  EXPECT_TRUE(h.pipe.write_sizes.empty());
  // The same block decodes once a model exists, also in a non-solid file.
  EXPECT_TRUE(same_bytes(data, h.decode(first, data.size(), false)));
  EXPECT_TRUE(same_bytes(data, h.decode(second, data.size(), false)));
}

// Solid files continue the model, also through the restarts of a small arena.
TEST(PpmStream, ModelLivesAcrossFilesAndRestarts) {
  std::vector<Bytes> files = {ppmtest::text_data(1500000, 7), ppmtest::binary_data(700000, 8),
                              ppmtest::text_data(900000, 9)};
  PpmEncoder enc(8, 1);
  std::vector<Bytes> packed(files.size());
  for (size_t i = 0; i < files.size(); i++) {
    enc.encode_file(files[i].data(), files[i].size(), i > 0, i + 1 < files.size(), packed[i]);
  }
  EXPECT_GT(enc.restarts(), 3u);
  ppmtest::Harness h;
  for (size_t i = 0; i < files.size(); i++) {
    EXPECT_TRUE(same_bytes(files[i], h.decode(packed[i], files[i].size(), i > 0))) << i;
  }
}

TEST(PpmStream, EscapeSequences) {
  struct Case {
    const char* what;
    std::function<void(PpmEncoder&)> body;
    std::string want;
  } cases[] = {
      {"escape character as data",
       [](PpmEncoder& e) {
         Bytes b = {'a', 2, 2, 'b', 2};
         e.put(b.data(), b.size());
       },
       std::string("a\x02\x02" "b\x02", 5)},
      {"run of the previous byte",
       [](PpmEncoder& e) {
         e.put(bytes_of("xy").data(), 2);
         for (uint8_t s : {2, 5, 0}) e.put_symbol(s);
         for (uint8_t s : {2, 5, 3}) e.put_symbol(s);
       },
       "xy" + std::string(4 + 7, 'y')},
      {"match, distance and length",
       [](PpmEncoder& e) {
         std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
         e.put(bytes_of(text).data(), text.size());
         for (uint8_t s : {2, 4, 0, 0, 34, 1}) e.put_symbol(s);  // 33 bytes from 36 back
       },
       "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvw"},
      {"long run code",
       [](PpmEncoder& e) {
         Bytes b(1000, 'r');
         e.put(b.data(), b.size());
       },
       std::string(1000, 'r')},
  };
  for (const Case& c : cases) {
    PpmEncoder enc(4, 1);
    Bytes packed;
    enc.begin_block(packed, true);
    c.body(enc);
    enc.end_block(true);
    ppmtest::Harness h;
    Bytes got = h.decode(packed, c.want.size(), false);
    EXPECT_EQ(std::string(got.begin(), got.end()), c.want) << c.what;
    EXPECT_EQ(h.pipe.read_at, packed.size()) << c.what;
  }
}

// The escape character of a header holds until another header replaces it or a
// non-solid file starts.
TEST(PpmStream, EscapeCharacterAcrossBlocksAndFiles) {
  Bytes a = bytes_of("AAA with 2 \x02 and A again");
  PpmEncoder enc(5, 1);
  std::vector<Bytes> packed(3);
  enc.begin_block(packed[0], true, 'A');
  enc.put(a.data(), a.size());
  enc.end_block(true);
  enc.begin_block(packed[1], false);  // solid: still 'A'
  enc.put(a.data(), a.size());
  enc.end_block(true);
  enc.start_stream();  // non-solid: back to 2
  enc.begin_block(packed[2], false);
  EXPECT_EQ(enc.escape(), 2u);
  enc.put(a.data(), a.size());
  enc.end_block(true);
  ppmtest::Harness h;
  const bool solid[3] = {false, true, false};
  for (int i = 0; i < 3; i++) EXPECT_TRUE(same_bytes(a, h.decode(packed[i], a.size(), solid[i]))) << i;
}

// A PPM block, an LZ block that copies from the PPM output, a PPM block that continues
// the model, and a final LZ block.
TEST(PpmStream, BlocksAlternateWithLzBlocks) {
  std::string p1 = "prediction by partial matching codes this part; ";
  std::string p2 = "and this part continues the same model.";
  PpmEncoder enc(6, 1);
  Bytes packed;
  enc.begin_block(packed, true);
  enc.put(bytes_of(p1).data(), p1.size());
  enc.end_block(false);

  lztest::StreamWriter w;
  w.header(lztest::full_lengths());
  w.literals("LZ: ");
  w.match(10, static_cast<uint32_t>(p1.size() + 4));  // "prediction"
  w.new_table();
  Bytes lz = w.bytes();
  packed.insert(packed.end(), lz.begin(), lz.end());

  enc.begin_block(packed, false);
  enc.put(bytes_of(p2).data(), p2.size());
  enc.end_block(false);

  lztest::StreamWriter w2;
  w2.header(lztest::full_lengths());
  w2.literals("!");
  w2.end_file(false);
  lz = w2.bytes();
  packed.insert(packed.end(), lz.begin(), lz.end());

  std::string want = p1 + "LZ: prediction" + p2 + "!";
  ppmtest::Harness h;
  Bytes got = h.decode(packed, want.size(), false);
  EXPECT_EQ(std::string(got.begin(), got.end()), want);
}

// Damaged PPM data ends the file somewhere; it never reads or writes outside its
// buffers (run under the sanitizers) and never runs away.
TEST(PpmStream, DamagedStreams) {
  std::mt19937 rng(4242);
  Bytes text = ppmtest::text_data(60000, 11), bin = ppmtest::binary_data(60000, 12);
  ppmtest::Harness h;
  for (int round = 0; round < 150; round++) {
    const Bytes& data = round % 2 ? text : bin;
    static const int kOrders[] = {2, 6, 16, 64};
    PpmEncoder enc(kOrders[round % 4], 1);
    Bytes packed;
    enc.encode_file(data.data(), data.size(), false, false, packed);
    size_t header = (packed[0] & 0x40) ? 3 : 2;
    switch (rng() % 4) {
      case 0:  // bit flips
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; k--) {
          packed[header + rng() % (packed.size() - header)] ^= static_cast<uint8_t>(1 << (rng() % 8));
        }
        break;
      case 1:  // truncated
        packed.resize(rng() % packed.size());
        break;
      case 2:  // random bytes from some point on
        for (size_t k = header + rng() % (packed.size() - header); k < packed.size(); k++) {
          packed[k] = static_cast<uint8_t>(rng());
        }
        break;
      default:  // random bytes after a header of random order
        packed.resize(2 + rng() % 40000);
        packed[0] = static_cast<uint8_t>(0xA0 | (rng() & 0x5F));
        packed[1] = 0;
        for (size_t k = 2; k < packed.size(); k++) packed[k] = static_cast<uint8_t>(rng());
        break;
    }
    Bytes got = h.decode(packed, data.size(), rng() % 2 == 0);
    EXPECT_LE(got.size(), data.size());
  }
}

}  // namespace
