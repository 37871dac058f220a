// PPM blocks from the packer's encoder through the module's LZ decoder.
#include <gtest/gtest.h>

#include <functional>

#include "encode/ppm_encoder.h"
#include "lz_ppm_data.h"

using ppmtest::Bytes;

namespace {

// Equality without printing megabytes on failure.
::testing::AssertionResult same_bytes(const Bytes& want, const Bytes& got) {
  if (want == got) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) i++;
  return ::testing::AssertionFailure() << "sizes " << want.size() << " / " << got.size() << ", first difference at "
                                       << i;
}

TEST(PpmRoundTrip, DataKindsOrdersAndMemory) {
  struct Case {
    const char* what;
    std::function<Bytes()> data;
    int order;
    int megabytes;
  } cases[] = {
      {"text, order 2", [] { return ppmtest::text_data(300000); }, 2, 16},
      {"text, order 6", [] { return ppmtest::text_data(300000); }, 6, 16},
      {"text, order 16", [] { return ppmtest::text_data(300000); }, 16, 8},
      {"text, order 64", [] { return ppmtest::text_data(300000); }, 64, 8},
      {"binary, order 4", [] { return ppmtest::binary_data(300000); }, 4, 4},
      {"binary, order 64", [] { return ppmtest::binary_data(300000); }, 64, 16},
      {"random, order 6", [] { return ppmtest::random_data(200000); }, 6, 2},
      {"random, order 64", [] { return ppmtest::random_data(200000); }, 64, 1},
      {"empty", [] { return Bytes(); }, 6, 1},
      {"one byte", [] { return Bytes{0x41}; }, 6, 1},
      {"a run longer than a window", [] { return Bytes(5000000, 0x37); }, 6, 1},
  };
  for (const Case& c : cases) {
    Bytes data = c.data();
    PpmEncoder enc(c.order, c.megabytes);
    Bytes packed;
    enc.encode_file(data.data(), data.size(), false, false, packed);
    ppmtest::Harness h;
    EXPECT_TRUE(same_bytes(data, h.decode(packed, data.size(), false))) << c.what;
    EXPECT_EQ(h.pipe.read_at, packed.size()) << c.what;
  }
}

}  // namespace
