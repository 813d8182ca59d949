// The LZX and Quantum encoders: round trips through our decoders for every
// window and level, the data-block rules the cabinet writer relies on,
// cabextract's and 7z's reading of what they write, and the length limiting
// of the Huffman codes at its boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/block_encoder.h"
#include "cabinet/huffman_builder.h"
#include "cabinet/match_finder.h"
#include "support/cab_builder.h"
#include "support/child.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::HaveProgram;
using kestrin::testing::ReadFileOrDie;
using kestrin::testing::RunProgram;
using kestrin::testing::ScopedTempDir;
using kestrin::testing::WriteFileOrDie;
using Blocks = std::vector<DataBlock>;

struct Method {
  int level;  // 0 for LZX
  int window;
};

std::string Name(const Method& m) {
  return m.level == 0 ? "lzx:" + std::to_string(m.window)
                      : "quantum:" + std::to_string(m.level) + ":" + std::to_string(m.window);
}

std::unique_ptr<BlockEncoder> Make(const Method& m, EncodedBlockSink sink, std::string* error) {
  return m.level == 0 ? MakeLzxEncoder(m.window, std::move(sink), error)
                      : MakeQuantumEncoder(m.level, m.window, std::move(sink), error);
}

// Encodes each folder in Writes of `chunk` bytes and checks the block rules:
// every block but a folder's last holds 32768 bytes, none is empty, none
// passes the compressed maximum.
std::vector<Blocks> Encode(const Method& m, const std::vector<std::string>& folders, size_t chunk) {
  std::vector<Blocks> out(1);
  std::string error;
  auto encoder = Make(m, [&out](const uint8_t* data, uint32_t size, uint32_t produced) {
    out.back().push_back({std::string(reinterpret_cast<const char*>(data), size),
                          static_cast<uint16_t>(produced), {}});
    return true;
  }, &error);
  if (!encoder) {
    ADD_FAILURE() << Name(m) << ": " << error;
    return {};
  }
  for (const std::string& folder : folders) {
    for (size_t at = 0; at < folder.size(); at += chunk) {
      EXPECT_TRUE(encoder->Write(reinterpret_cast<const uint8_t*>(folder.data()) + at,
                                 std::min(chunk, folder.size() - at)));
    }
    EXPECT_TRUE(encoder->EndFolder()) << encoder->LastError();
    const Blocks& blocks = out.back();
    EXPECT_EQ(blocks.size(), (folder.size() + kMaxBlockSize - 1) / kMaxBlockSize);
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_LE(blocks[i].data.size(), kMaxEncodedBlockSize);
      EXPECT_EQ(blocks[i].uncompressed, i + 1 < blocks.size() ? kMaxBlockSize : (folder.size() - 1) % kMaxBlockSize + 1);
    }
    out.emplace_back();
  }
  out.pop_back();
  return out;
}

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* block) { std::free(block); }

// Decodes the folders with one decoder handle, reset between them.
std::vector<std::string> Decode(const Method& m, const std::vector<Blocks>& folders) {
  const CabBlockCodec& codec = m.level == 0 ? kLzxCodec : kQuantumCodec;
  const LzxConfig lzx{1u << m.window, 1};
  const QuantumConfig quantum{m.window, 1};
  const void* config = m.level == 0 ? static_cast<const void*>(&lzx) : &quantum;
  uint32_t min_input = 0;
  void* handle = nullptr;
  if (codec.create(0, config, Alloc, Free, &min_input, &handle) != kCodecOk) return {};
  std::vector<std::string> out;
  std::vector<uint8_t> input(min_input), output(kMaxBlockSize);
  for (const Blocks& blocks : folders) {
    EXPECT_EQ(codec.reset(handle), kCodecOk);
    out.emplace_back();
    for (const DataBlock& b : blocks) {
      std::memcpy(input.data(), b.data.data(), b.data.size());
      uint32_t size = b.uncompressed;
      EXPECT_EQ(codec.decompress(handle, input.data(), static_cast<uint32_t>(b.data.size()),
                                 output.data(), &size), kCodecOk);
      out.back().append(reinterpret_cast<const char*>(output.data()), size);
    }
  }
  codec.destroy(handle);
  return out;
}

std::string Random(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// Code-like bytes: calls (E8) to a few targets, also in the last ten bytes
// of a frame and at targets on either side of the translation's limits.
std::string X86Like(size_t n) {
  std::mt19937 random(7);
  std::string s;
  // Target t gives E8 position + call value t - 1: the translation's limits
  // are 0 and 2^26 (inside below them, outside from them on).
  const int32_t targets[] = {0x1000, 0x1040, 0, 1, (1 << 26), (1 << 26) + 1, -0x7FFFFFFF};
  while (s.size() < n) {
    const bool near_end = s.size() % kMaxBlockSize > kMaxBlockSize - 16;
    s += near_end || random() % 3 == 0 ? "\xE8" : "\x55\x8B\xEC\x83\xC4\x08\xE8";
    const int32_t target = targets[random() % 7];
    const uint32_t rel = static_cast<uint32_t>(target) - static_cast<uint32_t>(s.size());
    for (int b = 0; b < 4; ++b) s += static_cast<char>(rel >> (8 * b));
  }
  s.resize(n);
  return s;
}

// A block of text, far random filler, and the block again: a match as far
// back as the larger windows reach.
std::string FarRepeat() {
  const std::string block = Payload(20000, 9);
  return block + Random(300000, 4) + block;
}

const std::vector<std::pair<const char*, std::string>>& Payloads() {
  static const std::vector<std::pair<const char*, std::string>> payloads = {
      {"empty", ""},
      {"one byte", "x"},
      {"one frame", Payload(kMaxBlockSize, 1)},
      {"a frame and a byte", Payload(kMaxBlockSize + 1, 2)},
      {"random", Random(70000, 3)},
      {"text", Payload(120000, 4)},
      {"x86", X86Like(100000)},
      {"runs", std::string(40000, '\0') + std::string(300, 'a') + Random(100, 5) + std::string(70000, '\xFF')},
      {"far repeat", FarRepeat()},
  };
  return payloads;
}

void ExpectRoundTrips(const Method& m, const std::string& label, const std::string& payload) {
  SCOPED_TRACE(Name(m) + " " + label);
  const auto blocks = Encode(m, {payload}, 10000);
  const auto decoded = Decode(m, blocks);
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(decoded[0] == payload) << "decoded " << decoded[0].size() << " bytes of " << payload.size();
}

TEST(LzxEncoderTest, RoundTripsEveryWindow) {
  for (int window = 15; window <= 21; ++window) {
    for (const auto& [label, payload] : Payloads()) ExpectRoundTrips({0, window}, label, payload);
  }
}

TEST(QuantumEncoderTest, RoundTripsEveryLevelAndWindow) {
  for (const Method m : {Method{1, 10}, Method{4, 15}, Method{7, 21}}) {
    for (const auto& [label, payload] : Payloads()) ExpectRoundTrips(m, label, payload);
  }
  const std::string mixed = Payload(20000, 6) + X86Like(20000) + Random(5000, 7);
  for (int level = 1; level <= 7; ++level) {
    for (int window = 10; window <= 21; ++window) ExpectRoundTrips({level, window}, "mixed", mixed);
  }
}

// Several folders through one encoder, and the same bytes whatever the
// pieces they are written in.
TEST(EncoderTest, FoldersAndPieces) {
  const std::vector<std::string> folders = {Payload(50000, 8), "", X86Like(40000) + Random(3000, 9)};
  for (const Method m : {Method{0, 16}, Method{6, 16}}) {
    SCOPED_TRACE(Name(m));
    const auto whole = Encode(m, folders, SIZE_MAX);
    EXPECT_EQ(Decode(m, whole), folders);
    const auto pieces = Encode(m, folders, 1);
    ASSERT_EQ(pieces.size(), whole.size());
    for (size_t f = 0; f < whole.size(); ++f) {
      ASSERT_EQ(pieces[f].size(), whole[f].size());
      for (size_t b = 0; b < whole[f].size(); ++b) EXPECT_TRUE(pieces[f][b].data == whole[f][b].data);
    }
  }
}

// Compressed data is searched sparsely, but a second copy of it is still
// coded as a match.
TEST(EncoderTest, RepeatedCompressedDataShrinks) {
  const std::string once = Random(3 * kMaxBlockSize, 11);
  for (const Method m : {Method{0, 18}, Method{7, 18}}) {
    const auto folders = Encode(m, {once + once}, SIZE_MAX);
    size_t total = 0;
    for (const DataBlock& b : folders.at(0)) total += b.data.size();
    EXPECT_LT(total, once.size() * 11 / 10) << Name(m);
  }
}

TEST(EncoderTest, SinkRefusalStopsTheEncoder) {
  for (const Method m : {Method{0, 15}, Method{3, 12}}) {
    SCOPED_TRACE(Name(m));
    int calls = 0;
    std::string error;
    auto encoder = Make(m, [&calls](const uint8_t*, uint32_t, uint32_t) { return ++calls < 2; }, &error);
    ASSERT_TRUE(encoder);
    const std::string payload = Random(5 * kMaxBlockSize, 10);  // no block held back
    EXPECT_FALSE(encoder->Write(reinterpret_cast<const uint8_t*>(payload.data()), payload.size()));
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(encoder->LastError().empty());
    EXPECT_FALSE(encoder->Write(reinterpret_cast<const uint8_t*>(payload.data()), 1));
    EXPECT_FALSE(encoder->EndFolder());
    EXPECT_EQ(calls, 2);
  }
}

TEST(EncoderTest, FactoryLimitsAndTypes) {
  const auto sink = [](const uint8_t*, uint32_t, uint32_t) { return true; };
  for (const Method bad : {Method{0, 14}, Method{0, 22}, Method{1, 9}, Method{1, 22}, Method{8, 16},
                           Method{-1, 16}}) {
    std::string error;
    EXPECT_EQ(Make(bad, sink, &error), nullptr) << Name(bad);
    EXPECT_FALSE(error.empty()) << Name(bad);
  }
  std::string error;
  EXPECT_EQ(Make({0, 21}, sink, &error)->TypeCompress(), 0x1503);
  EXPECT_EQ(Make({0, 15}, sink, &error)->TypeCompress(), 0x0F03);
  EXPECT_EQ(Make({7, 21}, sink, &error)->TypeCompress(), 0x1572);
  EXPECT_EQ(Make({1, 10}, sink, &error)->TypeCompress(), 0x0A12);
}

// One cabinet with a folder per LZX window and a Quantum folder per level:
// cabextract extracts every file as written, 7z the LZX ones.
TEST(EncoderTest, PeersExtractWhatWeWrite) {
  if (!HaveProgram("cabextract")) GTEST_SKIP() << "cabextract missing";
  std::vector<Method> methods;
  for (int window = 15; window <= 21; ++window) methods.push_back({0, window});
  for (int level = 1; level <= 7; ++level) methods.push_back({level, std::min(21, 8 + 2 * level)});
  CabBuilder cab;
  NamedContents files;
  for (size_t i = 0; i < methods.size(); ++i) {
    std::string content = X86Like(20000 + 100 * i) + Payload(50000, 20 + i) + Random(1000, 20 + i);
    if (methods[i].level == 0 && methods[i].window <= 16) {
      // A repeat as far back as the window allows (7-Zip fails at 3 less).
      const std::string edge = Random((size_t{1} << methods[i].window) - 3, 30 + i);
      content += edge + edge.substr(0, 5000);
    }
    std::string name = Name(methods[i]);
    std::replace(name.begin(), name.end(), ':', '_');
    Folder folder;
    folder.type = Make(methods[i], [](const uint8_t*, uint32_t, uint32_t) { return true; }, nullptr)->TypeCompress();
    folder.blocks = Encode(methods[i], {content}, SIZE_MAX).at(0);
    cab.folders.push_back(folder);
    cab.AddFiles(static_cast<int>(i), {{name, content}});
    files.push_back({name, content});
  }
  ScopedTempDir work;
  WriteFileOrDie(work.Sub("all.cab"), cab.Build());
  const auto check = [&](const std::string& dir, bool lzx_only) {
    for (size_t i = 0; i < methods.size(); ++i) {
      if (lzx_only && methods[i].level != 0) continue;
      EXPECT_TRUE(ReadFileOrDie(work.path() / dir / files[i].first) == files[i].second)
          << dir << ": " << files[i].first;
    }
  };
  const auto cabextract = RunProgram({"cabextract", "-q", "-d", work.Sub("cabextract"), work.Sub("all.cab")});
  EXPECT_EQ(cabextract.exit_code, 0) << cabextract.err;
  check("cabextract", false);
  if (HaveProgram("7z")) {
    const auto sevenz = RunProgram({"7z", "x", "-y", "-o" + work.Sub("7z"), work.Sub("all.cab")});
    check("7z", true);
  }
}

// Every match the finder reports is real and exactly as long as it says (or
// as long as its search looks), on data full of long repeats that differ
// here and there, where the tree's nodes are replaced and cut most.
TEST(MatchFinderTest, ReportsOnlyRealMatches) {
  std::mt19937 random(3);
  std::vector<std::string> phrases;
  for (int i = 0; i < 40; ++i) phrases.push_back(Payload(40 + random() % 200, 100 + i));
  std::string data;
  while (data.size() < 400000) {
    std::string p = phrases[random() % phrases.size()];
    if (random() % 2) p[random() % p.size()] ^= 1;
    data += p;
  }
  for (const uint32_t nice : {48u, 257u}) {
    MatchFinder finder;
    ASSERT_TRUE(finder.Init({16, 65532, 2, nice, 8, 257}));
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    for (size_t at = 0; at < data.size(); at += 50000) {
      if (finder.Room() < 50000) finder.Slide(finder.cursor());
      finder.Append(bytes + at, std::min<size_t>(50000, data.size() - at));
      Match matches[MatchFinder::kMaxMatches];
      while (finder.end() - finder.cursor() > (at + 50000 < data.size() ? 257u : 0u)) {
        const uint8_t* cur = finder.data() + finder.cursor();
        const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(nice, finder.end() - finder.cursor()));
        const int n = finder.FindMatches(matches);
        for (int k = 0; k < n; ++k) {
          const Match& m = matches[k];
          ASSERT_LE(m.length, limit);
          ASSERT_EQ(MatchFinder::CommonLength(cur, cur - m.offset, limit), m.length) << at << " " << k;
          if (k > 0) {
            ASSERT_GT(m.length, matches[k - 1].length);
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Length-limited Huffman codes

uint64_t Cost(const std::vector<uint32_t>& freqs, const std::vector<uint8_t>& lengths) {
  uint64_t cost = 0;
  for (size_t i = 0; i < freqs.size(); ++i) cost += uint64_t{freqs[i]} * lengths[i];
  return cost;
}

// Lengths of the used symbols fill the code space exactly (sum of
// 2^-length is 1), none is over the limit, unused symbols have none.
void ExpectComplete(const std::vector<uint32_t>& freqs, const std::vector<uint8_t>& lengths, int limit) {
  uint64_t kraft = 0;
  for (size_t i = 0; i < freqs.size(); ++i) {
    EXPECT_LE(lengths[i], limit) << i;
    if (freqs[i] != 0) {
      EXPECT_GT(lengths[i], 0) << i;
    }
    if (lengths[i] != 0) kraft += uint64_t{1} << (kMaxHuffmanLength - lengths[i]);
  }
  EXPECT_EQ(kraft, uint64_t{1} << kMaxHuffmanLength);
}

std::vector<uint8_t> Build(const std::vector<uint32_t>& freqs, int limit) {
  static HuffmanScratch scratch;
  std::vector<uint8_t> lengths(freqs.size(), 0xEE);
  BuildLimitedLengths(freqs.data(), static_cast<int>(freqs.size()), limit, lengths.data(), scratch);
  return lengths;
}

TEST(HuffmanBuilderTest, Boundaries) {
  // Fewer than two symbols in use still give a complete code of two.
  EXPECT_EQ(Build({0, 0, 0}, 16), (std::vector<uint8_t>{1, 1, 0}));
  EXPECT_EQ(Build({0, 0, 5}, 16), (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(Build({9, 0, 0, 0}, 7), (std::vector<uint8_t>{1, 1, 0, 0}));
  // As many symbols as the limit allows: all of the limit's length.
  EXPECT_EQ(Build({1, 1000, 1, 50, 7, 1, 1, 300}, 3), std::vector<uint8_t>(8, 3));
  // Fibonacci frequencies: an unlimited code would be 19 deep for 20
  // symbols, 29 for 30.
  for (const auto& [n, limit] : {std::pair{20, 15}, std::pair{30, 16}, std::pair{20, 7}, std::pair{8, 7}}) {
    std::vector<uint32_t> freqs(n);
    for (int i = 0; i < n; ++i) freqs[i] = i < 2 ? 1 : freqs[i - 1] + freqs[i - 2];
    const auto lengths = Build(freqs, limit);
    ExpectComplete(freqs, lengths, limit);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), std::min(limit, n - 1)) << n << "/" << limit;
  }
  // A main tree's worth of symbols.
  std::mt19937 random(1);
  std::vector<uint32_t> freqs(656);
  for (auto& f : freqs) f = random() % 5 == 0 ? 0 : 1u << (random() % 20);
  ExpectComplete(freqs, Build(freqs, 16), 16);
}

// Against every complete assignment of lengths, for small alphabets: the
// code built is the cheapest within the limit.
TEST(HuffmanBuilderTest, CheapestWithinTheLimit) {
  std::mt19937 random(2);
  for (int round = 0; round < 60; ++round) {
    const int n = 2 + static_cast<int>(random() % 6);
    const int limit = 3 + static_cast<int>(random() % 2);
    std::vector<uint32_t> freqs(n);
    for (auto& f : freqs) f = 1 + random() % (round % 2 ? 1000 : 8);
    const auto lengths = Build(freqs, limit);
    ExpectComplete(freqs, lengths, limit);
    uint64_t best = UINT64_MAX;
    std::vector<uint8_t> trial(n, 1);
    for (;;) {
      uint64_t kraft = 0;
      for (uint8_t l : trial) kraft += uint64_t{1} << (limit - l);
      if (kraft == uint64_t{1} << limit) best = std::min(best, Cost(freqs, trial));
      int i = 0;
      while (i < n && trial[i] == limit) trial[i++] = 1;
      if (i == n) break;
      ++trial[i];
    }
    EXPECT_EQ(Cost(freqs, lengths), best) << "round " << round;
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
