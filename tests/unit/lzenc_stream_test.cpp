// Streams written by the LZ encoder, read back by the independent reference reader:
// every level, solid and not, over inputs that force each kind of symbol.
#include <gtest/gtest.h>

#include "encode/lz_encoder.h"
#include "lzenc_data.h"
#include "lzenc_reference.h"

using lzenc_data::concat;

namespace {

using Bytes = std::vector<uint8_t>;

// Encodes the files as one stream (solid) or as separate streams through one encoder, and
// reads each back. Returns the reader's statistics.
RefStreamReader::Stats round_trip(int level, const std::vector<Bytes>& files, bool solid,
                                  size_t* packed_total = nullptr) {
  LzEncoder enc(level);
  RefStreamReader ref;
  size_t total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    bool continues = solid && i > 0;
    Bytes packed, got;
    enc.encode_file(files[i].data(), files[i].size(), continues, solid && i + 1 < files.size(), packed);
    total += packed.size();
    bool ok = ref.decode_file(packed, continues, got);
    EXPECT_TRUE(ok) << "level " << level << " file " << i << ": " << (ref.error ? ref.error : "");
    if (!ok) break;
    EXPECT_EQ(got.size(), files[i].size()) << "level " << level << " file " << i;
    EXPECT_TRUE(got == files[i]) << "level " << level << " file " << i;
  }
  EXPECT_EQ(enc.repaired_stretches(), 0u) << "level " << level;
  if (packed_total) *packed_total = total;
  return ref.stats;
}

}  // namespace

TEST(LzEncStream, RoundTripsAtEveryLevelSolidAndNot) {
  for (const lzenc_data::Input& in : lzenc_data::inputs()) {
    for (int level = 1; level <= 5; ++level) {
      for (bool solid : {false, true}) {
        SCOPED_TRACE(std::string(in.name) + (solid ? ", solid" : ", separate") + ", level " + std::to_string(level));
        round_trip(level, in.files, solid);
      }
    }
  }
}

TEST(LzEncStream, UsesEverySymbolKind) {
  Bytes data = concat({lzenc_data::text(100 << 10, 21), lzenc_data::records(200 << 10, 22), lzenc_data::far_repeat(23),
                       lzenc_data::runs(30 << 10, 24), lzenc_data::random_bytes(50 << 10, 25),
                       lzenc_data::rows(40 << 10, 27), lzenc_data::text(100 << 10, 26)});
  for (int level : {3, 5}) {
    SCOPED_TRACE("level " + std::to_string(level));
    RefStreamReader::Stats s = round_trip(level, {data}, false);
    EXPECT_GT(s.literals, 0u);
    EXPECT_GT(s.repeat_last, 0u);
    EXPECT_GT(s.recent[0], 0u);
    EXPECT_GT(s.recent[1] + s.recent[2] + s.recent[3], 0u);
    EXPECT_GT(s.shorts, 0u);
    EXPECT_GT(s.longs, 0u);
    EXPECT_GT(s.bonus1, 0u);
    EXPECT_GT(s.bonus2, 0u);
    EXPECT_GT(s.low_reuse, 0u);
    EXPECT_GT(s.headers, 1u) << "statistics change, so should the tables";
    EXPECT_GT(s.pre_runs[0] + s.pre_runs[1], 0u);
    EXPECT_GT(s.pre_runs[2] + s.pre_runs[3], 0u);
  }
}

TEST(LzEncStream, SolidFilesKeepOrRenewTables) {
  // Small similar files: the later ones are best coded with the tables already in force.
  std::vector<Bytes> similar;
  for (int i = 0; i < 8; ++i) similar.push_back(lzenc_data::text(3000 + 500 * size_t(i), 31));
  // Files of very different kinds: new tables, coded against the previous ones where
  // that is shorter.
  std::vector<Bytes> different;
  for (int i = 0; i < 4; ++i) {
    different.push_back(lzenc_data::text(60 << 10, 40 + uint64_t(i)));
    different.push_back(lzenc_data::records(60 << 10, 50 + uint64_t(i)));
  }
  for (int level : {1, 3, 5}) {
    SCOPED_TRACE("level " + std::to_string(level));
    RefStreamReader::Stats s = round_trip(level, similar, true);
    EXPECT_GT(s.kept_tables_files, 3u);
    s = round_trip(level, different, true);
    EXPECT_GT(s.headers, 4u);
    EXPECT_GT(s.headers_keep, 0u);
  }
}

TEST(LzEncStream, SolidStreamLongerThanTheWindow) {
  // 13 MB in files of 1.3 MB: the history slides several times, and a block repeated
  // just under 4 MB later is found again.
  std::vector<Bytes> files = lzenc_data::longer_than_window();
  for (int level : {1, 4}) {
    SCOPED_TRACE("level " + std::to_string(level));
    size_t packed = 0;
    RefStreamReader::Stats s = round_trip(level, files, true, &packed);
    EXPECT_GT(s.max_dist, 3900000u);
    EXPECT_LT(packed, 10u * (600u << 10) + 4u * (700u << 10));
  }
}

TEST(LzEncStream, HigherLevelsCompressBetter) {
  Bytes data = concat({lzenc_data::text(300 << 10, 91), lzenc_data::records(200 << 10, 92), lzenc_data::far_repeat(93)});
  size_t prev = SIZE_MAX;
  for (int level : {1, 3, 5}) {
    size_t packed = 0;
    round_trip(level, {data}, false, &packed);
    EXPECT_LT(packed, prev) << "level " << level;
    prev = packed;
  }
}
