#include "encode/lz_encoder.h"

#include <algorithm>

#include "encode/lz_bit_writer.h"
#include "encode/lz_block_coder.h"
#include "encode/lz_parser.h"
#include "encode/match_finder.h"

namespace {

struct LevelParams {
  bool optimal;
  LzFastParams fast;
  LzOptimalParams opt;
  size_t chunk;  // bytes parsed at a time
};

LevelParams params_for(int level) {
  switch (level) {
    case 1:
      return {false, {4, 0, 24}, {}, size_t(4) << 20};
    case 2:
      return {false, {10, 1, 48}, {}, size_t(4) << 20};
    case 3:
      return {false, {32, 2, 96}, {}, size_t(4) << 20};
    case 4:
      return {true, {}, {32, 128, 128, 2}, size_t(256) << 10};
    default:
      return {true, {}, {128, 260, 260, 4}, size_t(128) << 10};
  }
}

}  // namespace

struct LzEncoder::Impl {
  LevelParams params;
  LzHistory hist;
  std::unique_ptr<HashChainFinder> chains;
  std::unique_ptr<BinaryTreeFinder> trees;
  LzOptimalParser optimal;
  LzPrices prices;
  bool have_prices = false;
  LzParseState state;
  LzBlockCoder coder;
  std::vector<LzToken> tokens;
  size_t repaired = 0;

  // True when the tokens, applied from state `st`, reproduce history [begin, end).
  bool tokens_reproduce(size_t begin, size_t end, LzParseState st) const {
    size_t p = begin;
    for (const LzToken& t : tokens) {
      if (t.kind == kTokLiteral) {
        if (p >= end || hist.data[p] != t.value) return false;
        ++p;
        continue;
      }
      uint32_t dist = st.distance_of(t);
      uint32_t len = t.kind == kTokRepeatLast ? st.last_len : t.len;
      if (len < 2 || dist == 0 || dist > p || p - dist < hist.limit(p) || end - p < len) return false;
      if (hist.common(p - dist, p, len) != len) return false;
      if (t.kind == kTokLong && (len < uint32_t(lzf::min_match_at(dist)) || len > uint32_t(lzf::max_match_at(dist))))
        return false;
      if (t.kind == kTokShort && (dist > 256 || len != 2)) return false;
      if (t.kind == kTokRecent && len > uint32_t(lzf::kMaxRecentLen)) return false;
      st.apply(t);
      p += len;
    }
    return p == end;
  }

  // Makes room for n more bytes, keeping at least a window of history. Shifts happen in
  // whole windows so that the finders' tables indexed by position keep their slots.
  void make_room(size_t n) {
    const size_t w = lzf::kWindowSize;
    if (hist.data.size() + n <= 3 * w) return;
    if (hist.data.size() < 2 * w) return;
    size_t delta = (hist.data.size() - w) / w * w;
    hist.data.erase(hist.data.begin(), hist.data.begin() + ptrdiff_t(delta));
    hist.stream_begin = hist.stream_begin > delta ? hist.stream_begin - delta : 0;
    if (chains) chains->rebase(delta);
    if (trees) trees->rebase(delta);
  }
};

LzEncoder::LzEncoder(int level) : impl_(new Impl) {
  impl_->params = params_for(std::min(5, std::max(1, level)));
  if (impl_->params.optimal) {
    impl_->trees.reset(new BinaryTreeFinder);
  } else {
    impl_->chains.reset(new HashChainFinder);
    impl_->coder.segment_tokens = 8192;  // fewer table trials for the fast levels
  }
}

LzEncoder::~LzEncoder() = default;

void LzEncoder::encode_file(const uint8_t* data, size_t size, bool solid, bool more_follow,
                            std::vector<uint8_t>& out) {
  Impl& m = *impl_;
  if (!solid) {
    m.hist.stream_begin = m.hist.data.size();
    m.state = LzParseState();
    m.coder.reset();
  }
  LzBitWriter bits(out);
  size_t done = 0;
  size_t have = 0;  // bytes of the file in the history (a longest match ahead of the parse)
  while (done < size) {
    size_t n = std::min(size - done, m.params.chunk);
    size_t want = std::min(size, done + n + size_t(lzf::kMaxMatch));
    if (want > have) {
      m.make_room(want - have);
      m.hist.data.insert(m.hist.data.end(), data + have, data + want);
      have = want;
    }
    size_t begin = m.hist.data.size() - (have - done);
    size_t end = begin + n;
    m.tokens.clear();
    const LzParseState before = m.state;
    if (m.params.optimal) {
      m.optimal.parse(m.hist, *m.trees, begin, end, m.params.opt, m.prices, m.have_prices, m.state, m.tokens);
      m.have_prices = true;
    } else {
      parse_fast(m.hist, *m.chains, begin, end, m.params.fast, m.state, m.tokens);
    }
    if (!m.tokens_reproduce(begin, end, before)) {
      ++m.repaired;
      m.tokens.clear();
      for (size_t p = begin; p < end; ++p) m.tokens.push_back(LzToken::literal(m.hist.data[p]));
      m.state = before;
    }
    m.coder.write_tokens(m.tokens.data(), m.tokens.size(), bits);
    done += n;
  }
  m.coder.end_file(more_follow, bits);
}

size_t LzEncoder::repaired_stretches() const { return impl_->repaired; }
