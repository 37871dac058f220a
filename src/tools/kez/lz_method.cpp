// The LZ method of the packer, when the compressor is part of this build.
#include "tools/kez/lz_method.h"

#ifdef QUILLO_HAVE_LZ_ENCODER
#include "encode/lz_encoder.h"

namespace {

class LzCompressor : public EntryCompressor {
 public:
  explicit LzCompressor(int level) : level_(level), encoder_(level) {}
  uint8_t method() const override { return static_cast<uint8_t>(0x30 + level_); }
  uint8_t method_version() const override { return 29; }
  void compress(const uint8_t* data, size_t size, bool solid, bool more_follow, std::vector<uint8_t>& out) override {
    encoder_.encode_file(data, size, solid, more_follow, out);
  }

 private:
  int level_;
  LzEncoder encoder_;
};

}  // namespace

std::unique_ptr<EntryCompressor> make_lz_compressor(int level) { return std::make_unique<LzCompressor>(level); }

#else

std::unique_ptr<EntryCompressor> make_lz_compressor(int) { return nullptr; }

#endif
