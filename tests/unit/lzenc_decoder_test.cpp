// Streams written by the LZ encoder, decoded by the module's LZ decoder through a memory
// pipe, as the extraction run does it: one decoder for the whole stream.
#include <gtest/gtest.h>

#include "decode/lz_decoder.h"
#include "encode/lz_encoder.h"
#include "lz_test_support.h"
#include "lzenc_data.h"

namespace {

using Bytes = std::vector<uint8_t>;

void decode_round_trip(int level, const std::vector<Bytes>& files, bool solid) {
  LzEncoder enc(level);
  lztest::MemoryPipe pipe;
  LzDecoder dec(&pipe);
  dec.set_window();
  for (size_t i = 0; i < files.size(); ++i) {
    const bool continues = solid && i > 0;
    Bytes packed;
    enc.encode_file(files[i].data(), files[i].size(), continues, solid && i + 1 < files.size(), packed);
    pipe.next_input(packed);
    pipe.output.clear();
    dec.expected_size = int64_t(files[i].size());
    dec.decode_file(29, continues);
    ASSERT_EQ(pipe.output.size(), files[i].size()) << "level " << level << " file " << i;
    ASSERT_TRUE(pipe.output == files[i]) << "level " << level << " file " << i;
    ASSERT_EQ(pipe.read_at, packed.size()) << "the decoder must read all of the file's packed data";
  }
  EXPECT_EQ(enc.repaired_stretches(), 0u) << "level " << level;
}

}  // namespace

TEST(LzEncDecoder, RoundTripsAtEveryLevelSolidAndNot) {
  for (const lzenc_data::Input& in : lzenc_data::inputs()) {
    for (int level = 1; level <= 5; ++level) {
      for (bool solid : {false, true}) {
        SCOPED_TRACE(std::string(in.name) + (solid ? ", solid" : ", separate") + ", level " + std::to_string(level));
        decode_round_trip(level, in.files, solid);
      }
    }
  }
}

TEST(LzEncDecoder, SolidStreamWrapsAroundTheWindow) {
  std::vector<Bytes> files = lzenc_data::longer_than_window();
  for (int level : {1, 4}) {
    SCOPED_TRACE("level " + std::to_string(level));
    decode_round_trip(level, files, true);
  }
}
