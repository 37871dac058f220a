// LZ decoding throughput (MB/s of output), in process, from memory to a counting sink
// (BM_LzDecodeCrc: a sink that also keeps the CRC-32, as the extraction pipe does).
// The streams are made here: a greedy matcher over generated data, Huffman tables per
// block. QUILLO_BENCH_DUMP=<folder> writes each data set there (<name>.raw, and the
// stream as <name>.lz) for comparisons with other tools; QUILLO_BENCH_CACHE=<folder>
// takes them from there when present instead of making them again.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "../tests/unit/lz_test_support.h"
#include "crypto/crc32.h"
#include "decode/lz_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- data sets ----

Bytes make_text(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 6000; i++) {
    std::string w;
    int n = 2 + static_cast<int>(rng() % 9);
    for (int k = 0; k < n; k++) w += static_cast<char>('a' + rng() % 26);
    words.push_back(w);
  }
  Bytes out;
  out.reserve(size + 64);
  int column = 0;
  while (out.size() < size) {
    // Zipf-like choice: small indices far more often.
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    size_t index = static_cast<size_t>(std::pow(static_cast<double>(words.size()), u)) - 1;
    const std::string& w = words[index % words.size()];
    out.insert(out.end(), w.begin(), w.end());
    column += static_cast<int>(w.size()) + 1;
    uint32_t r = rng() % 20;
    if (r == 0) out.push_back(',');
    if (r == 1) out.push_back('.');
    if (column > 70) {
      out.push_back('\n');
      column = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(size);
  return out;
}

// Records of counters, small deltas, tags and some noise, like program data.
Bytes make_binary(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 64);
  uint32_t counter = 0x401000;
  while (out.size() < size) {
    uint32_t kind = rng() % 8;
    if (kind < 4) {
      counter += 4 + (rng() % 4) * 4;
      for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(counter >> (8 * k)));
      out.push_back(static_cast<uint8_t>(0xE8 + rng() % 2));
      out.push_back(static_cast<uint8_t>(rng() % 16));
    } else if (kind < 6) {
      static const char* tags[] = {"GetProcAddress", "LoadLibrary", "\x55\x8B\xEC\x83\xEC", "\x00\x00\x00\x00",
                                   "kernel32.dll", "\xC3\xCC\xCC\xCC"};
      const char* t = tags[rng() % 6];
      size_t n = std::max<size_t>(std::strlen(t), 4);
      out.insert(out.end(), t, t + n);
    } else {
      int n = 1 + static_cast<int>(rng() % 12);
      for (int k = 0; k < n; k++) out.push_back(static_cast<uint8_t>(rng()));
    }
  }
  out.resize(size);
  return out;
}

Bytes make_random(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Long runs and repeated blocks: long matches, short distances.
Bytes make_runs(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 1024);
  while (out.size() < size) {
    uint32_t kind = rng() % 3;
    if (kind == 0) {
      out.insert(out.end(), 50 + rng() % 400, static_cast<uint8_t>(rng()));
    } else if (kind == 1 && out.size() > 5000) {
      size_t from = out.size() - 1 - rng() % 5000;
      size_t n = 100 + rng() % 900;
      for (size_t k = 0; k < n; k++) out.push_back(out[from + k]);
    } else {
      for (int k = 0; k < 8; k++) out.push_back(static_cast<uint8_t>(rng() % 4));
    }
  }
  out.resize(size);
  return out;
}

// ---- a small compressor for the streams ----

struct Token {
  uint32_t len;  // 0: literal
  uint32_t dist;
  uint8_t literal;
};

std::vector<Token> parse(const Bytes& data) {
  constexpr uint32_t kWin = 0x400000;
  constexpr int kHashBits = 17;
  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> prev(kWin, -1);
  std::vector<Token> tokens;
  const size_t n = data.size();
  auto hash = [&](size_t p) {
    uint32_t v = data[p] | data[p + 1] << 8 | data[p + 2] << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](size_t p) {
    if (p + 3 > n) return;
    uint32_t h = hash(p);
    prev[p & (kWin - 1)] = head[h];
    head[h] = static_cast<int64_t>(p);
  };
  size_t p = 0;
  while (p < n) {
    uint32_t best_len = 0, best_dist = 0;
    if (p + 3 <= n) {
      int64_t cand = head[hash(p)];
      for (int chain = 0; chain < 12 && cand >= 0; chain++) {
        size_t c = static_cast<size_t>(cand);
        uint32_t dist = static_cast<uint32_t>(p - c);
        if (dist >= kWin) break;
        uint32_t limit = static_cast<uint32_t>(std::min<size_t>(255, n - p));
        uint32_t len = 0;
        while (len < limit && data[c + len] == data[p + len]) len++;
        uint32_t need = 3 + (dist >= 0x2000) + (dist >= 0x40000);
        if (len >= need && len > best_len) {
          best_len = len;
          best_dist = dist;
        }
        cand = prev[c & (kWin - 1)];
        if (cand >= 0 && static_cast<size_t>(cand) >= c) break;
      }
    }
    if (best_len) {
      tokens.push_back({best_len, best_dist, 0});
      for (uint32_t k = 0; k < best_len; k++) insert(p + k);
      p += best_len;
    } else {
      tokens.push_back({0, 0, data[p]});
      insert(p);
      p++;
    }
  }
  return tokens;
}

std::vector<uint8_t> huffman_lengths(std::vector<uint64_t> freq) {
  const size_t n = freq.size();
  std::vector<uint8_t> lengths(n, 0);
  for (;;) {
    std::vector<int> used;
    for (size_t i = 0; i < n; i++) {
      if (freq[i]) used.push_back(static_cast<int>(i));
    }
    if (used.empty()) return lengths;
    if (used.size() == 1) {
      lengths[used[0]] = 1;
      return lengths;
    }
    // Nodes: leaves 0..n-1, inner nodes after them.
    std::vector<int> parent(2 * n, -1);
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
    for (int i : used) q.push({freq[i], i});
    int next = static_cast<int>(n);
    while (q.size() > 1) {
      Item a = q.top();
      q.pop();
      Item b = q.top();
      q.pop();
      parent[a.second] = parent[b.second] = next;
      q.push({a.first + b.first, next++});
    }
    int deepest = 0;
    for (int i : used) {
      int d = 0;
      for (int x = i; parent[x] >= 0; x = parent[x]) d++;
      lengths[i] = static_cast<uint8_t>(d);
      deepest = std::max(deepest, d);
    }
    if (deepest <= 15) return lengths;
    for (auto& f : freq) {
      if (f) f = (f >> 1) | 1;
    }
  }
}

// Symbol mapping shared by the counting and the writing pass.
struct Coder {
  uint32_t recent[4] = {};

  struct Symbols {
    int lit = -1, dist = -1, low = -1, rep = -1;
  };
  Symbols map(const Token& t, bool update) {
    Symbols s;
    if (t.len == 0) {
      s.lit = t.literal;
      return s;
    }
    for (int k = 0; k < 4; k++) {
      if (recent[k] == t.dist && t.len <= 257) {
        s.lit = 259 + k;
        int i = 27;
        while (lztest::kLengthBase[i] + 2u > t.len) i--;
        s.rep = i;
        if (update) {
          for (int j = k; j > 0; j--) recent[j] = recent[j - 1];
          recent[0] = t.dist;
        }
        return s;
      }
    }
    uint32_t coded = t.len - (t.dist >= 0x2000) - (t.dist >= 0x40000);
    int i = 27;
    while (lztest::kLengthBase[i] + 3u > coded) i--;
    s.lit = 271 + i;
    const auto& slots = lztest::distance_slots();
    int slot = 59;
    while (slots[slot].base + 1 > t.dist) slot--;
    s.dist = slot;
    if (slot > 9) s.low = static_cast<int>((t.dist - 1 - slots[slot].base) & 15);
    if (update) {
      recent[3] = recent[2];
      recent[2] = recent[1];
      recent[1] = recent[0];
      recent[0] = t.dist;
    }
    return s;
  }
};

Bytes compress(const Bytes& data) {
  std::vector<Token> tokens = parse(data);
  lztest::StreamWriter w;
  Coder coder;
  const size_t kBlock = 200000;
  for (size_t start = 0; start < tokens.size(); start += kBlock) {
    size_t end = std::min(tokens.size(), start + kBlock);
    std::vector<uint64_t> f_lit(299), f_dist(60), f_low(17), f_rep(28);
    Coder counting = coder;
    for (size_t k = start; k < end; k++) {
      Coder::Symbols s = counting.map(tokens[k], true);
      f_lit[s.lit]++;
      if (s.dist >= 0) f_dist[s.dist]++;
      if (s.low >= 0) f_low[s.low]++;
      if (s.rep >= 0) f_rep[s.rep]++;
    }
    f_lit[256]++;
    std::vector<uint8_t> lengths;
    for (auto* f : {&f_lit, &f_dist, &f_low, &f_rep}) {
      std::vector<uint8_t> l = huffman_lengths(*f);
      lengths.insert(lengths.end(), l.begin(), l.end());
    }
    if (start > 0) w.new_table();
    w.header(lengths);
    for (size_t k = start; k < end; k++) {
      const Token& t = tokens[k];
      Coder::Symbols s = coder.map(t, true);
      if (t.len == 0) {
        w.literal(t.literal);
      } else if (s.lit >= 259 && s.lit <= 262) {
        w.recent_match(s.lit - 259, t.len);
      } else {
        w.match(t.len, t.dist);
      }
    }
  }
  w.end_file(false);
  return w.bytes();
}

// ---- the decoder in a memory pipe ----

class BenchPipe : public DataPipe {
 public:
  int read(void* buffer, int count) override {
    size_t n = std::min(static_cast<size_t>(count), packed->size() - at);
    std::memcpy(buffer, packed->data() + at, n);
    at += n;
    return static_cast<int>(n);
  }
  void write(const void* data, int count) override {
    if (check) check->insert(check->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    if (with_crc) crc = crc32_update(crc, data, static_cast<size_t>(count));
    written += static_cast<uint64_t>(count);
  }
  const Bytes* packed = nullptr;
  size_t at = 0;
  uint64_t written = 0;
  Bytes* check = nullptr;
  bool with_crc = false;  // the CRC-32 that the extraction pipe keeps
  uint32_t crc = 0xFFFFFFFFu;
};

Bytes read_all(const std::string& path) {
  Bytes data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return data;
}

void write_all(const std::string& path, const Bytes& data) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
}

struct DataSet {
  Bytes raw;
  Bytes packed;
};

const DataSet& data_set(const std::string& name) {
  static std::map<std::string, DataSet> sets;
  auto it = sets.find(name);
  if (it != sets.end()) return it->second;
  DataSet d;
  if (const char* cache = std::getenv("QUILLO_BENCH_CACHE")) {
    d.raw = read_all(std::string(cache) + "/" + name + ".raw");
    d.packed = read_all(std::string(cache) + "/" + name + ".lz");
    if (!d.raw.empty() && !d.packed.empty()) return sets.emplace(name, std::move(d)).first->second;
  }
  const size_t kSize = 16u << 20;
  if (name == "text") d.raw = make_text(kSize, 1);
  if (name == "binary") d.raw = make_binary(kSize, 2);
  if (name == "random") d.raw = make_random(kSize / 2, 3);
  if (name == "runs") d.raw = make_runs(kSize, 4);
  d.packed = compress(d.raw);
  // Check once that the stream decodes to the data.
  BenchPipe pipe;
  Bytes out;
  pipe.packed = &d.packed;
  pipe.check = &out;
  LzDecoder dec(&pipe);
  dec.set_window();
  dec.expected_size = static_cast<int64_t>(d.raw.size());
  dec.decode_file(29, false);
  if (out != d.raw) {
    std::fprintf(stderr, "data set %s does not decode to its data\n", name.c_str());
    std::exit(1);
  }
  if (const char* dump = std::getenv("QUILLO_BENCH_DUMP")) {
    write_all(std::string(dump) + "/" + name + ".raw", d.raw);
    write_all(std::string(dump) + "/" + name + ".lz", d.packed);
  }
  return sets.emplace(name, std::move(d)).first->second;
}

void decode_loop(benchmark::State& state, const char* name, bool with_crc) {
  const DataSet& d = data_set(name);
  BenchPipe pipe;
  pipe.packed = &d.packed;
  pipe.with_crc = with_crc;
  LzDecoder dec(&pipe);
  dec.set_window();
  for (auto _ : state) {
    pipe.at = 0;
    dec.expected_size = static_cast<int64_t>(d.raw.size());
    dec.decode_file(29, false);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
  state.counters["ratio"] = static_cast<double>(d.packed.size()) / static_cast<double>(d.raw.size());
}

void BM_LzDecode(benchmark::State& state, const char* name) { decode_loop(state, name, false); }
void BM_LzDecodeCrc(benchmark::State& state, const char* name) { decode_loop(state, name, true); }

BENCHMARK_CAPTURE(BM_LzDecode, text, "text")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecode, binary, "binary")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecode, random, "random")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecode, runs, "runs")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecodeCrc, text, "text")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzDecodeCrc, binary, "binary")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
