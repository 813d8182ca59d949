// Tests of the Quantum block decoder through the block-codec interface:
// round trips through an independent test encoder (with deliberately wrong
// encoder variants as controls), the failure rules, and the bench and corpus
// cabinets written by other encoders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/fdi.h"
#include "cabinet/fdi_harness.h"
#include "cabinet/quantum_test_encoder.h"
#include "cabinet/quantum_test_support.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kestrin::cab {
namespace {

using testing::QuantumEncoderOptions;
using testing::QuantumTestEncoder;

// Memory callbacks that count, and can be told to fail the n-th call.
int g_allocs = 0;
int g_frees = 0;
int g_fail_alloc_at = 0;  // 1-based call number that fails; 0 never
void* CountingAlloc(uint32_t size) {
  ++g_allocs;
  if (g_fail_alloc_at && g_allocs == g_fail_alloc_at) return nullptr;
  return std::malloc(size);
}
void CountingFree(void* block) {
  if (block) ++g_frees;
  std::free(block);
}

struct Block {
  std::vector<uint8_t> data;
  uint32_t size;
};

// Compares decoded bytes, reporting sizes and the first difference rather
// than megabytes of text.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return ::testing::AssertionFailure() << "decoded " << actual.size() << " bytes, expected "
                                       << expected.size() << ", first difference at " << i;
}

class QuantumTest : public ::testing::Test {
 protected:
  void SetUp() override { g_allocs = g_frees = g_fail_alloc_at = 0; }
  void TearDown() override {
    if (handle_) {
      EXPECT_EQ(kQuantumCodec.destroy(handle_), kCodecOk);
    }
    EXPECT_EQ(g_allocs - (g_fail_alloc_at ? 1 : 0), g_frees) << "leaked or double-freed blocks";
  }

  BlockCodecError Create(int window_bits, uint32_t max_block = 0) {
    if (handle_) kQuantumCodec.destroy(handle_);
    handle_ = nullptr;
    QuantumConfig config{window_bits, 1};
    uint32_t min_input = 0;
    return kQuantumCodec.create(max_block, &config, CountingAlloc, CountingFree, &min_input,
                                &handle_);
  }

  // Decodes one block asking for `owed` bytes; the output buffer has guard
  // bytes behind it that must stay untouched.
  BlockCodecError DecodeBlock(const std::vector<uint8_t>& in, uint32_t owed, std::string* out) {
    std::vector<uint8_t> buffer(owed + 64, 0xA5);
    uint32_t size = owed;
    const BlockCodecError e = kQuantumCodec.decompress(
        handle_, in.data(), static_cast<uint32_t>(in.size()), buffer.data(), &size);
    EXPECT_LE(size, owed);
    for (size_t i = owed; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], 0xA5) << "written beyond the owed size at " << i;
      if (buffer[i] != 0xA5) break;
    }
    out->append(reinterpret_cast<const char*>(buffer.data()), std::min(size, owed));
    return e;
  }

  // Decodes blocks in order; returns the decoded bytes (the first failure
  // stops, and *error tells it).
  std::string DecodeAll(const std::vector<Block>& blocks, BlockCodecError* error = nullptr) {
    std::string out;
    BlockCodecError e = kCodecOk;
    for (const Block& b : blocks) {
      e = DecodeBlock(b.data, b.size, &out);
      if (e != kCodecOk) break;
    }
    if (error) *error = e;
    return out;
  }

  void* handle_ = nullptr;
};

// Cuts an encoder's token stream into blocks: call Cut() after the tokens
// of each block.
struct BlockCutter {
  QuantumTestEncoder& encoder;
  std::vector<Block>& blocks;
  size_t mark = 0;
  void Cut() {
    const size_t size = encoder.expected().size() - mark;
    mark = encoder.expected().size();
    blocks.push_back({encoder.FinishBlock(), static_cast<uint32_t>(size)});
  }
};

// A deterministic text-like source with repeats, skewed byte frequencies
// and a change of character set half-way, so models rescale and reorder.
// Offsets stay within max_offset (the window size).
void EmitMixedStream(QuantumTestEncoder& enc, BlockCutter& cut, size_t total, uint32_t seed,
                     uint32_t max_offset = 60000) {
  std::mt19937 rng(seed);
  size_t in_block = 0;
  while (enc.expected().size() < total) {
    const size_t produced = enc.expected().size();
    const bool second_half = produced > total / 2;
    uint32_t length = 0;
    if (produced > 300 && rng() % 3 == 0) {
      length = 3 + rng() % (rng() % 4 == 0 ? 257 : 8);
      const uint32_t reach = static_cast<uint32_t>(std::min<size_t>(produced, max_offset));
      const uint32_t offset = 1 + rng() % reach;
      if (offset > 4096 && length < 5) length = 5;
      if (in_block + length > 32768) length = 0;
      else enc.Match(length, offset);
    }
    if (length == 0) {
      length = 1;
      const uint32_t r = rng() % 100;
      uint8_t b = second_half ? static_cast<uint8_t>(128 + r % 90)
                              : static_cast<uint8_t>(r < 70 ? 'a' + r % 26 : r * 7 + 3);
      enc.Literal(b);
    }
    in_block += length;
    if (in_block > 32768 - 260 || (in_block > 16384 && rng() % 4000 == 0)) {
      cut.Cut();
      in_block = 0;
    }
  }
  cut.Cut();
}

TEST_F(QuantumTest, CreateChecksWindowExponentFirst) {
  struct Case {
    int bits;
    BlockCodecError expected;
  } cases[] = {{9, kCodecConfigNotSupported}, {10, kCodecOk}, {21, kCodecOk},
               {22, kCodecConfigNotSupported}, {0, kCodecConfigNotSupported},
               {-1, kCodecConfigNotSupported}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    QuantumConfig config{c.bits, 1};
    uint32_t min_input = 7;
    // The size query gives the same verdict; a refused exponent reports no size.
    EXPECT_EQ(kQuantumCodec.create(0, &config, CountingAlloc, CountingFree, &min_input, nullptr),
              c.expected);
    EXPECT_EQ(min_input, c.expected == kCodecOk ? 32768u + 10240u : 7u);
    // Refused even with unusable callbacks: the exponent is checked first.
    void* h = nullptr;
    if (c.expected != kCodecOk) {
      EXPECT_EQ(kQuantumCodec.create(0, &config, nullptr, nullptr, nullptr, &h), c.expected);
      EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(Create(c.bits), c.expected);
  }
}

TEST_F(QuantumTest, InputSizeFollowsTheBlockMaximum) {
  struct Case {
    uint32_t max_block, min_input;
  } cases[] = {{0, 43008}, {1, 10241}, {1000, 11240}, {32768, 43008}, {32769, 43008},
               {0xFFFFFFFF, 43008}};
  QuantumConfig config{15, 1};
  for (const Case& c : cases) {
    uint32_t min_input = 0;
    EXPECT_EQ(kQuantumCodec.create(c.max_block, &config, nullptr, nullptr, &min_input, nullptr),
              kCodecOk);
    EXPECT_EQ(min_input, c.min_input) << c.max_block;
  }
}

TEST_F(QuantumTest, AllocationFailuresAnswerOutOfMemoryAndLeakNothing) {
  for (int fail_at : {1, 2}) {
    SetUp();
    g_fail_alloc_at = fail_at;
    EXPECT_EQ(Create(16), kCodecOutOfMemory) << fail_at;
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(g_allocs - 1, g_frees);
  }
}

TEST_F(QuantumTest, DecodingAllocatesNothing) {
  ASSERT_EQ(Create(16), kCodecOk);
  EXPECT_EQ(g_allocs, 2);  // the decoder state and the window
  QuantumTestEncoder enc({.window_bits = 16});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  EmitMixedStream(enc, cut, 100000, 7);
  EXPECT_TRUE(SameBytes(DecodeAll(blocks), enc.expected()));
  EXPECT_EQ(kQuantumCodec.reset(handle_), kCodecOk);
  EXPECT_EQ(g_allocs, 2);
}

TEST_F(QuantumTest, ForeignOrNullHandlesAreRefused) {
  std::vector<uint64_t> foreign(4096, 0);  // big enough for any decoder state
  uint8_t in[4] = {0, 0, 0, 0};
  uint8_t out[16];
  for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(foreign.data())}) {
    uint32_t size = 4;
    EXPECT_EQ(kQuantumCodec.decompress(h, in, 4, out, &size), kCodecBadHandle);
    EXPECT_EQ(kQuantumCodec.reset(h), kCodecBadHandle);
    EXPECT_EQ(kQuantumCodec.destroy(h), kCodecBadHandle);
  }
  ASSERT_EQ(Create(16), kCodecOk);
  uint32_t size = 4;
  EXPECT_EQ(kQuantumCodec.decompress(handle_, in, 4, out, nullptr), kCodecBadHandle);
  EXPECT_EQ(kQuantumCodec.decompress(handle_, in, 4, nullptr, &size), kCodecBadHandle);
  EXPECT_EQ(kQuantumCodec.decompress(handle_, nullptr, 4, out, &size), kCodecBadHandle);
  EXPECT_EQ(kQuantumCodec.create(0, nullptr, CountingAlloc, CountingFree, nullptr, &handle_),
            kCodecBadHandle);
}

TEST_F(QuantumTest, RequestAboveTheMaximumIsAnOverflow) {
  ASSERT_EQ(Create(16, 4096), kCodecOk);
  QuantumTestEncoder enc({.window_bits = 16});
  for (int i = 0; i < 4096; ++i) enc.Literal(static_cast<uint8_t>(i));
  const std::vector<uint8_t> data = enc.FinishBlock();
  std::string out;
  EXPECT_EQ(DecodeBlock(data, 4097, &out), kCodecBufferOverflow);
  EXPECT_EQ(out, "");
  EXPECT_EQ(DecodeBlock(data, 4096, &out), kCodecOk);
  EXPECT_TRUE(SameBytes(out, enc.expected()));
}

TEST_F(QuantumTest, LiteralsOfEveryRange) {
  const std::vector<std::vector<uint8_t>> cases = {
      {0}, {63}, {64}, {127}, {128}, {191}, {192}, {255},
      {0, 63, 64, 127, 128, 191, 192, 255, 255, 192, 191, 128, 127, 64, 63, 0},
  };
  for (const auto& bytes : cases) {
    ASSERT_EQ(Create(10), kCodecOk);
    QuantumTestEncoder enc({.window_bits = 10});
    for (uint8_t b : bytes) enc.Literal(b);
    std::string out;
    EXPECT_EQ(DecodeBlock(enc.FinishBlock(), static_cast<uint32_t>(bytes.size()), &out), kCodecOk);
    EXPECT_EQ(out, std::string(bytes.begin(), bytes.end()));
  }
  // All 256 values many times over, in one block.
  ASSERT_EQ(Create(16), kCodecOk);
  QuantumTestEncoder enc({.window_bits = 16});
  for (int i = 0; i < 30000; ++i) enc.Literal(static_cast<uint8_t>((i * 37) ^ (i >> 5)));
  std::string out;
  EXPECT_EQ(DecodeBlock(enc.FinishBlock(), 30000, &out), kCodecOk);
  EXPECT_TRUE(SameBytes(out, enc.expected()));
}

TEST_F(QuantumTest, MatchesOfEveryLengthSlotAndPositionSlot) {
  // Lengths: 3 and 4 (their own models) and the first, last and a middle
  // value of every slot of the length model, extra bits included.
  std::vector<uint32_t> lengths = {3, 4};
  const auto lbase = testing::SlotBases(testing::LengthExtraBits());
  for (size_t s = 0; s < lbase.size(); ++s) {
    const uint32_t span = 1u << testing::LengthExtraBits()[s];
    for (uint32_t v : {lbase[s], lbase[s] + span / 2, lbase[s] + span - 1}) lengths.push_back(v + 5);
  }
  // Offsets: the first and last of every position slot that a 2^17 window
  // allows for the respective model.
  const auto pbase = testing::SlotBases(testing::PositionExtraBits());
  ASSERT_EQ(Create(17), kCodecOk);
  QuantumTestEncoder enc({.window_bits = 17});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  std::mt19937 rng(3);
  while (enc.expected().size() < (1u << 17)) {  // fill the window first
    enc.Literal(static_cast<uint8_t>(rng()));
    if (enc.expected().size() % 32768 == 0) cut.Cut();
  }
  size_t in_block = 0;
  for (uint32_t length : lengths) {
    const uint32_t limit = length == 3 ? 4096 : length == 4 ? 262144 : (1u << 17);
    for (size_t s = 0; s < pbase.size() && pbase[s] < limit && pbase[s] < (1u << 17); ++s) {
      const uint32_t span = 1u << testing::PositionExtraBits()[s];
      for (uint32_t offset : {pbase[s] + 1, pbase[s] + span}) {
        if (in_block + length > 32768) {
          cut.Cut();
          in_block = 0;
        }
        enc.Match(length, offset);
        in_block += length;
      }
    }
  }
  cut.Cut();
  EXPECT_TRUE(SameBytes(DecodeAll(blocks), enc.expected()));
}

TEST_F(QuantumTest, OverlappingAndWrappingMatchesRepeatBytes) {
  ASSERT_EQ(Create(10), kCodecOk);
  QuantumTestEncoder enc({.window_bits = 10});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  enc.Literal('x');
  enc.Match(259, 1);  // a run
  enc.Literal('a');
  enc.Literal('b');
  enc.Match(100, 2);  // a repeated pair
  for (int i = 0; i < 700; ++i) enc.Literal(static_cast<uint8_t>(i * 13));
  for (int i = 0; i < 40; ++i) enc.Match(200 + i, 1000 + i % 25);  // every match wraps sometime
  enc.Match(259, 1024);  // the whole window back: the byte at the same place
  cut.Cut();
  EXPECT_TRUE(SameBytes(DecodeAll(blocks), enc.expected()));
  EXPECT_EQ(enc.expected().substr(0, 260), std::string(260, 'x'));
  std::string pairs;
  for (int i = 0; i < 51; ++i) pairs += "ab";
  EXPECT_EQ(enc.expected().substr(260, 102), pairs);
}

TEST_F(QuantumTest, LongStreamsRescaleAndReorderTheModels) {
  // About 600 KB: every model passes many rescales, the busy ones more than
  // 50, so reordering happens repeatedly.
  QuantumTestEncoder enc({.window_bits = 20});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  EmitMixedStream(enc, cut, 600000, 11);
  ASSERT_EQ(Create(20), kCodecOk);
  EXPECT_TRUE(SameBytes(DecodeAll(blocks), enc.expected()));

  // Controls: an encoder that rescales a little later, or reorders one
  // rescale earlier, writes a stream the decoder must not reproduce.
  struct Variant {
    const char* name;
    QuantumEncoderOptions options;
  } variants[] = {
      {"limit 3801", {.window_bits = 20, .rescale_limit = 3801}},
      {"interval 49", {.window_bits = 20, .reorder_interval = 49}},
      {"first reorder 5", {.window_bits = 20, .first_reorder = 5}},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    QuantumTestEncoder other(v.options);
    std::vector<Block> other_blocks;
    BlockCutter other_cut{other, other_blocks};
    EmitMixedStream(other, other_cut, 600000, 11);
    ASSERT_EQ(Create(20), kCodecOk);
    BlockCodecError e;
    const std::string out = DecodeAll(other_blocks, &e);
    EXPECT_TRUE(e != kCodecOk || out != other.expected());
  }
}

TEST_F(QuantumTest, SmallestWindowHasTheReducedLongerMatchModel) {
  // 2^10: all three position models have the 20 slots whose base lies below
  // 1024; offsets up to 1024 work.
  QuantumTestEncoder enc({.window_bits = 10});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  std::mt19937 rng(9);
  for (int i = 0; i < 1024; ++i) enc.Literal(static_cast<uint8_t>(rng() % 7 + 'a'));
  for (int i = 0; i < 400; ++i) {
    const uint32_t length = 3 + rng() % 60;
    enc.Match(length, 1 + rng() % 1024);
    enc.Literal(static_cast<uint8_t>(rng()));
  }
  enc.Match(259, 1024);
  cut.Cut();
  ASSERT_EQ(Create(10), kCodecOk);
  EXPECT_TRUE(SameBytes(DecodeAll(blocks), enc.expected()));

  // Control: the same tokens coded with a 21-slot longer-match model.
  QuantumTestEncoder wide({.window_bits = 10, .longer_match_slots = 21});
  std::vector<Block> wide_blocks;
  BlockCutter wide_cut{wide, wide_blocks};
  rng.seed(9);
  for (int i = 0; i < 1024; ++i) wide.Literal(static_cast<uint8_t>(rng() % 7 + 'a'));
  for (int i = 0; i < 400; ++i) {
    const uint32_t length = 3 + rng() % 60;
    wide.Match(length, 1 + rng() % 1024);
    wide.Literal(static_cast<uint8_t>(rng()));
  }
  wide_cut.Cut();
  ASSERT_EQ(Create(10), kCodecOk);
  BlockCodecError e;
  const std::string out = DecodeAll(wide_blocks, &e);
  EXPECT_TRUE(e != kCodecOk || out != wide.expected());
}

TEST_F(QuantumTest, LargestWindowReachesTwoMegabytesBack) {
  QuantumTestEncoder enc({.window_bits = 21});
  std::vector<Block> blocks;
  BlockCutter cut{enc, blocks};
  const uint32_t window = 1u << 21;
  for (int i = 0; i < 256; ++i) enc.Literal(static_cast<uint8_t>(i));
  size_t in_block = 256;
  while (enc.expected().size() + 259 <= window) {
    if (in_block + 259 > 32768) {
      cut.Cut();
      in_block = 0;
    }
    enc.Match(259, 256);  // repeat the 256-byte pattern
    in_block += 259;
  }
  while (enc.expected().size() < window) {
    enc.Literal(0xEE);
    ++in_block;
  }
  cut.Cut();
  enc.Match(259, window);  // back to the very first byte
  enc.Match(200, window - 7);
  cut.Cut();
  ASSERT_EQ(Create(21), kCodecOk);
  const std::string out = DecodeAll(blocks);
  ASSERT_TRUE(SameBytes(out, enc.expected()));
  EXPECT_EQ(out.substr(window, 3), std::string("\x00\x01\x02", 3));
}

TEST_F(QuantumTest, MatchBeyondTheOwedSizeFails) {
  ASSERT_EQ(Create(16), kCodecOk);
  QuantumTestEncoder enc({.window_bits = 16});
  for (char c : std::string("abcdefgh")) enc.Literal(static_cast<uint8_t>(c));
  enc.Match(10, 8);
  const std::vector<uint8_t> data = enc.FinishBlock();
  for (uint32_t owed : {9u, 12u, 17u}) {  // the match needs 10 bytes after the 8
    ASSERT_EQ(Create(16), kCodecOk);
    std::string out;
    EXPECT_EQ(DecodeBlock(data, owed, &out), kCodecFailed) << owed;
    EXPECT_EQ(out, "abcdefgh");
  }
  ASSERT_EQ(Create(16), kCodecOk);
  std::string out;
  EXPECT_EQ(DecodeBlock(data, 18, &out), kCodecOk);
  EXPECT_EQ(out, "abcdefghabcdefghab");
}

TEST_F(QuantumTest, MatchBeforeTheFirstByteOfTheFolderFails) {
  QuantumTestEncoder enc({.window_bits = 16});
  enc.Literal('a');
  enc.Literal('b');
  enc.Match(3, 3);  // one byte before the start
  const std::vector<uint8_t> data = enc.FinishBlock();
  ASSERT_EQ(Create(16), kCodecOk);
  std::string out;
  EXPECT_EQ(DecodeBlock(data, 5, &out), kCodecFailed);
  EXPECT_EQ(out, "ab");

  // After a reset the previous folder's bytes are out of reach too.
  QuantumTestEncoder first({.window_bits = 16});
  for (int i = 0; i < 100; ++i) first.Literal('z');
  ASSERT_EQ(Create(16), kCodecOk);
  out.clear();
  ASSERT_EQ(DecodeBlock(first.FinishBlock(), 100, &out), kCodecOk);
  ASSERT_EQ(kQuantumCodec.reset(handle_), kCodecOk);
  QuantumTestEncoder second({.window_bits = 16});
  second.Literal('q');
  second.Match(4, 50);
  out.clear();
  EXPECT_EQ(DecodeBlock(second.FinishBlock(), 5, &out), kCodecFailed);
  EXPECT_EQ(out, "q");
}

TEST_F(QuantumTest, ExhaustedInputFails) {
  QuantumTestEncoder enc({.window_bits = 16});
  for (int i = 0; i < 500; ++i) enc.Literal(static_cast<uint8_t>(i * 11));
  enc.Match(200, 77);
  const std::vector<uint8_t> data = enc.FinishBlock();
  const uint32_t owed = static_cast<uint32_t>(enc.expected().size());

  ASSERT_EQ(Create(16), kCodecOk);
  std::string out;
  EXPECT_EQ(DecodeBlock(data, owed, &out), kCodecOk);  // exactly long enough
  EXPECT_TRUE(SameBytes(out, enc.expected()));

  for (size_t cut : {size_t{1}, size_t{2}, data.size() / 2, data.size() - 1}) {
    ASSERT_EQ(Create(16), kCodecOk);
    std::vector<uint8_t> shorter(data.begin(), data.end() - static_cast<ptrdiff_t>(cut));
    out.clear();
    EXPECT_EQ(DecodeBlock(shorter, owed, &out), kCodecFailed) << cut;
    if (cut > 8) {
      EXPECT_LT(out.size(), owed);
    }
  }
  ASSERT_EQ(Create(16), kCodecOk);
  out.clear();
  EXPECT_EQ(DecodeBlock({}, 1, &out), kCodecFailed);
  // Trailing bytes after the stream are ignored.
  ASSERT_EQ(Create(16), kCodecOk);
  std::vector<uint8_t> longer = data;
  longer.insert(longer.end(), 16, 0xFF);
  out.clear();
  EXPECT_EQ(DecodeBlock(longer, owed, &out), kCodecOk);
  EXPECT_TRUE(SameBytes(out, enc.expected()));
}

TEST_F(QuantumTest, ModelsAndWindowCarryOverBlocksAndResetBetweenFolders) {
  // Two folders on one handle; the second starts over after reset().
  QuantumTestEncoder enc({.window_bits = 15});
  std::vector<Block> folder1;
  BlockCutter cut1{enc, folder1};
  EmitMixedStream(enc, cut1, 150000, 21, 1u << 15);
  const std::string expected1 = enc.expected();
  ASSERT_GE(folder1.size(), 5u);

  enc.ResetModels();
  std::vector<Block> folder2;
  BlockCutter cut2{enc, folder2};
  EmitMixedStream(enc, cut2, 80000, 22, 1u << 15);

  ASSERT_EQ(Create(15), kCodecOk);
  EXPECT_TRUE(SameBytes(DecodeAll(folder1), expected1));
  ASSERT_EQ(kQuantumCodec.reset(handle_), kCodecOk);
  EXPECT_TRUE(SameBytes(DecodeAll(folder2), enc.expected()));

  // Control: without the reset the second folder does not decode.
  ASSERT_EQ(Create(15), kCodecOk);
  DecodeAll(folder1);
  BlockCodecError e;
  const std::string out = DecodeAll(folder2, &e);
  EXPECT_TRUE(e != kCodecOk || out != enc.expected());
}

// ---------------------------------------------------------------------------
// Cabinets written by other encoders.

struct FileHash {
  std::string sha256;
  size_t size;
};

// Decodes Quantum folder `folder` of `cab` block by block; returns the
// codec's first failure (kCodecOk when all blocks decoded to their sizes).
BlockCodecError DecodeCabinetFolder(const testing::SimpleCabinet& cab, size_t folder,
                                    std::string* out, size_t* failed_block = nullptr) {
  const testing::SimpleCabinet::Folder& f = cab.folders.at(folder);
  EXPECT_EQ(f.type & 15, 2);
  QuantumConfig config{(f.type >> 8) & 31, 1};
  void* h = nullptr;
  BlockCodecError e = kQuantumCodec.create(0, &config, CountingAlloc, CountingFree, nullptr, &h);
  if (e != kCodecOk) return e;
  std::vector<uint8_t> buffer(32768);
  for (size_t i = 0; i < f.blocks.size() && e == kCodecOk; ++i) {
    uint32_t size = f.blocks[i].uncompressed;
    e = kQuantumCodec.decompress(h, f.blocks[i].data.data(),
                                 static_cast<uint32_t>(f.blocks[i].data.size()), buffer.data(),
                                 &size);
    if (e == kCodecOk && size != f.blocks[i].uncompressed) e = kCodecFailed;
    out->append(reinterpret_cast<const char*>(buffer.data()), size);
    if (e != kCodecOk && failed_block) *failed_block = i;
  }
  kQuantumCodec.destroy(h);
  return e;
}

std::filesystem::path Corpus() { return kestrin::testing::SharedDir() / "corpus"; }

TEST_F(QuantumTest, BenchCabinetsDecodeToTheExpectedFiles) {
  const auto expected = testing::ReadExpectedHashes(Corpus() / "bench" / "EXPECTED.sha256");
  ASSERT_EQ(expected.size(), 2u);
  for (const char* name : {"qtm7-21-mixed-4M.cab", "qtm4-16-mixed-4M.cab"}) {
    SCOPED_TRACE(name);
    const testing::SimpleCabinet cab = testing::ReadSimpleCabinet(Corpus() / "bench" / name);
    ASSERT_EQ(cab.folders.size(), 1u);
    std::string out;
    ASSERT_EQ(DecodeCabinetFolder(cab, 0, &out), kCodecOk);
    ASSERT_EQ(cab.files.size(), expected.size());
    for (size_t i = 0; i < cab.files.size(); ++i) {
      const auto& file = cab.files[i];
      ASSERT_LE(file.offset + file.size, out.size());
      EXPECT_EQ(file.name, expected[i].name);
      EXPECT_EQ(file.size, expected[i].size);
      EXPECT_EQ(kestrin::testing::Sha256Hex(out.substr(file.offset, file.size)), expected[i].sha256);
    }
  }
}

TEST_F(QuantumTest, CorpusQuantumFolders) {
  const std::filesystem::path cab_dir = Corpus() / "cab";
  {
    // A real three-method cabinet: folder 2 is Quantum (window 2^18).
    const auto cab = testing::ReadSimpleCabinet(cab_dir / "libmspack" / "mszip_lzx_qtm.cab");
    const auto expected =
        testing::ReadExpectedHashes(cab_dir / "EXPECTED" / "libmspack" / "mszip_lzx_qtm.cab.sha256");
    std::string out;
    ASSERT_EQ(DecodeCabinetFolder(cab, 2, &out), kCodecOk);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(out.size(), expected[2].size);
    EXPECT_EQ(kestrin::testing::Sha256Hex(out), expected[2].sha256);
  }
  {
    // Sixteen blocks of zeros whose last block ends in a 134-byte match
    // while only 5 bytes are owed: everything before that match decodes
    // to zeros, and the overrunning match fails the block.
    const auto cab =
        testing::ReadSimpleCabinet(cab_dir / "cabextract-bugs" / "cve-2010-2801-qtm-flush.cab");
    std::string out;
    size_t failed_block = 0;
    EXPECT_EQ(DecodeCabinetFolder(cab, 0, &out, &failed_block), kCodecFailed);
    EXPECT_EQ(failed_block, 15u);
    EXPECT_TRUE(SameBytes(out, std::string(524159 - 5, '\0')));
  }
  // Damaged: plain text in a Quantum folder, and a block of the largest
  // compressed size holding garbage. Both fail in their first block.
  for (const char* name : {"cve-2014-9556-qtm-infinite-loop.cab", "cve-2018-18584-qtm-max-size-block.cab"}) {
    SCOPED_TRACE(name);
    const auto cab = testing::ReadSimpleCabinet(cab_dir / "libmspack" / name);
    std::string out;
    size_t failed_block = 99;
    EXPECT_EQ(DecodeCabinetFolder(cab, 0, &out, &failed_block), kCodecFailed);
    EXPECT_EQ(failed_block, 0u);
  }
}

// The same cabinets through the container reader: Quantum folders behind
// FDICopy give the recorded files, and a failing block is FDIERROR_MDI_FAIL.
class QuantumCabinetTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::Harness::Get().Reset(); }
  void TearDown() override {
    EXPECT_EQ(testing::Harness::Get().live_blocks, 0);
    EXPECT_EQ(testing::Harness::Get().open_handles, 0);
  }
  bool Copy(const std::filesystem::path& cab, testing::Recorder* recorder, ERF* erf) {
    HFDI hfdi = testing::MakeTestContext(erf);
    const bool ok = recorder->Copy(hfdi, cab.parent_path().string() + "/", cab.filename().string());
    FDIDestroy(hfdi);
    return ok;
  }
};

TEST_F(QuantumCabinetTest, BenchCabinetsThroughTheContainer) {
  const auto expected = testing::ReadExpectedHashes(Corpus() / "bench" / "EXPECTED.sha256");
  for (const char* name : {"qtm7-21-mixed-4M.cab", "qtm4-16-mixed-4M.cab"}) {
    SCOPED_TRACE(name);
    testing::Recorder recorder;
    ERF erf{};
    ASSERT_TRUE(Copy(Corpus() / "bench" / name, &recorder, &erf)) << erf.erfOper;
    ASSERT_EQ(recorder.files.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(recorder.files[i].name, expected[i].name);
      EXPECT_EQ(recorder.files[i].size, expected[i].size);
      EXPECT_EQ(recorder.files[i].sha256, expected[i].sha256);
    }
  }
}

TEST_F(QuantumCabinetTest, FailingQuantumBlocksAreDecoderFailures) {
  for (const char* name :
       {"cabextract-bugs/cve-2010-2801-qtm-flush.cab", "libmspack/cve-2014-9556-qtm-infinite-loop.cab",
        "libmspack/cve-2018-18584-qtm-max-size-block.cab"}) {
    SCOPED_TRACE(name);
    testing::Recorder recorder;
    ERF erf{};
    EXPECT_FALSE(Copy(Corpus() / "cab" / name, &recorder, &erf));
    EXPECT_EQ(erf.erfOper, FDIERROR_MDI_FAIL);
    EXPECT_TRUE(recorder.files.empty());
  }
}

}  // namespace
}  // namespace kestrin::cab
