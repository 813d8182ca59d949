// Quantum block decoder: round trips through an independent test encoder
// (with deliberately wrong encoder variants as controls) and the failure
// rules. The bench and corpus cabinets are in corpus_test.cc.
#include <gtest/gtest.h>

#include <random>

#include "cabinet/block_codec.h"
#include "fdi_harness.h"
#include "quantum_test_encoder.h"

namespace kestrin::cab::testing {
namespace {

struct Block {
  std::vector<uint8_t> data;
  uint32_t size;
};

// Reports sizes and the first difference rather than megabytes of text.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return ::testing::AssertionFailure() << "decoded " << actual.size() << " bytes, expected "
                                       << expected.size() << ", first difference at " << i;
}

class QuantumTest : public ::testing::Test {
 protected:
  void SetUp() override { Harness::Get().Reset(); }
  void TearDown() override {
    if (handle_) {
      EXPECT_EQ(kQuantumCodec.destroy(handle_), kCodecOk);
    }
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
  void Create(int window_bits) {
    if (handle_) kQuantumCodec.destroy(handle_);
    handle_ = nullptr;
    QuantumConfig config{window_bits, 1};
    ASSERT_EQ(kQuantumCodec.create(0, &config, TestAlloc(), TestFree(), nullptr, &handle_),
              kCodecOk);
    allocations_ = Harness::Get().allocations;
  }
  // Decodes one block asking for `owed` bytes; guard bytes behind the
  // output must stay untouched, and decoding allocates nothing.
  int DecodeBlock(const std::vector<uint8_t>& in, uint32_t owed, std::string* out) {
    std::vector<uint8_t> buffer(owed + 64, 0xA5);
    uint32_t size = owed;
    const int e = kQuantumCodec.decompress(handle_, in.data(), static_cast<uint32_t>(in.size()),
                                           buffer.data(), &size);
    EXPECT_LE(size, owed);
    EXPECT_EQ(std::count(buffer.begin() + owed, buffer.end(), 0xA5), 64)
        << "written beyond the owed size";
    EXPECT_EQ(Harness::Get().allocations, allocations_);
    out->append(reinterpret_cast<const char*>(buffer.data()), std::min(size, owed));
    return e;
  }
  // Decodes blocks in order until the first failure (told in *error).
  std::string DecodeAll(const std::vector<Block>& blocks, int* error = nullptr) {
    std::string out;
    int e = kCodecOk;
    for (size_t i = 0; i < blocks.size() && e == kCodecOk; ++i)
      e = DecodeBlock(blocks[i].data, blocks[i].size, &out);
    if (error) *error = e;
    return out;
  }
  // Decodes with a fresh handle and expects a failure or other bytes.
  void ExpectMismatch(int window_bits, const std::vector<Block>& blocks,
                      const std::string& expected) {
    Create(window_bits);
    int e;
    const std::string out = DecodeAll(blocks, &e);
    EXPECT_TRUE(e != kCodecOk || out != expected);
  }

  void* handle_ = nullptr;
  int64_t allocations_ = 0;
};

// Cuts an encoder's token stream into blocks: Cut() after each block's tokens.
struct BlockCutter {
  explicit BlockCutter(QuantumTestEncoder& e) : encoder(e) {}
  QuantumTestEncoder& encoder;
  std::vector<Block> blocks;
  size_t mark = 0;
  void Cut() {
    const size_t size = encoder.expected().size() - mark;
    mark = encoder.expected().size();
    blocks.push_back({encoder.FinishBlock(), static_cast<uint32_t>(size)});
  }
};

// A deterministic text-like source with repeats, skewed byte frequencies and
// a change of character set half-way, so models rescale and reorder.
void EmitMixedStream(BlockCutter& cut, size_t total, uint32_t seed, uint32_t max_offset = 60000) {
  QuantumTestEncoder& enc = cut.encoder;
  std::mt19937 rng(seed);
  size_t in_block = 0;
  while (enc.expected().size() < total) {
    const size_t produced = enc.expected().size();
    uint32_t length = 0;
    if (produced > 300 && rng() % 3 == 0) {
      length = 3 + rng() % (rng() % 4 == 0 ? 257 : 8);
      const uint32_t offset =
          1 + rng() % static_cast<uint32_t>(std::min<size_t>(produced, max_offset));
      if (offset > 4096 && length < 5) length = 5;
      if (in_block + length > 32768)
        length = 0;
      else
        enc.Match(length, offset);
    }
    if (length == 0) {
      length = 1;
      const uint32_t r = rng() % 100;
      enc.Literal(produced > total / 2 ? static_cast<uint8_t>(128 + r % 90)
                                       : static_cast<uint8_t>(r < 70 ? 'a' + r % 26 : r * 7 + 3));
    }
    in_block += length;
    if (in_block > 32768 - 260 || (in_block > 16384 && rng() % 4000 == 0)) cut.Cut(), in_block = 0;
  }
  cut.Cut();
}

TEST_F(QuantumTest, LiteralsOfEveryRange) {
  for (const std::vector<uint8_t>& bytes : std::vector<std::vector<uint8_t>>{
           {0},
           {63},
           {64},
           {127},
           {128},
           {191},
           {192},
           {255},
           {0, 63, 64, 127, 128, 191, 192, 255, 255, 192, 191, 128, 127, 64, 63, 0}}) {
    Create(10);
    QuantumTestEncoder enc({.window_bits = 10});
    for (uint8_t b : bytes) enc.Literal(b);
    std::string out;
    EXPECT_EQ(DecodeBlock(enc.FinishBlock(), static_cast<uint32_t>(bytes.size()), &out), kCodecOk);
    EXPECT_EQ(out, std::string(bytes.begin(), bytes.end()));
  }
}

TEST_F(QuantumTest, MatchesOfEveryLengthSlotAndPositionSlot) {
  // Lengths 3 and 4 (their own models) and the first, middle and last value
  // of every slot of the length model; offsets the first and last of every
  // position slot a 2^17 window allows for the respective model.
  std::vector<uint32_t> lengths = {3, 4};
  const auto lbase = SlotBases(LengthExtraBits()), pbase = SlotBases(PositionExtraBits());
  for (size_t s = 0; s < lbase.size(); ++s) {
    const uint32_t span = 1u << LengthExtraBits()[s];
    for (uint32_t v : {lbase[s], lbase[s] + span / 2, lbase[s] + span - 1})
      lengths.push_back(v + 5);
  }
  Create(17);
  QuantumTestEncoder enc({.window_bits = 17});
  BlockCutter cut{enc};
  std::mt19937 rng(3);
  while (enc.expected().size() < (1u << 17)) {  // fill the window first
    enc.Literal(static_cast<uint8_t>(rng()));
    if (enc.expected().size() % 32768 == 0) cut.Cut();
  }
  size_t in_block = 0;
  for (uint32_t length : lengths) {
    const uint32_t limit = length == 3 ? 4096 : length == 4 ? 262144 : (1u << 17);
    for (size_t s = 0; s < pbase.size() && pbase[s] < limit && pbase[s] < (1u << 17); ++s) {
      for (uint32_t offset : {pbase[s] + 1, pbase[s] + (1u << PositionExtraBits()[s])}) {
        if (in_block + length > 32768) cut.Cut(), in_block = 0;
        enc.Match(length, offset);
        in_block += length;
      }
    }
  }
  cut.Cut();
  EXPECT_TRUE(SameBytes(DecodeAll(cut.blocks), enc.expected()));
}

TEST_F(QuantumTest, OverlappingAndWrappingMatches) {
  Create(10);
  QuantumTestEncoder enc({.window_bits = 10});
  BlockCutter cut{enc};
  enc.Literal('x');
  enc.Match(259, 1);  // a run
  enc.Literal('a');
  enc.Literal('b');
  enc.Match(100, 2);  // a repeated pair
  for (int i = 0; i < 700; ++i) enc.Literal(static_cast<uint8_t>(i * 13));
  for (int i = 0; i < 40; ++i) enc.Match(200 + i, 1000 + i % 25);  // every match wraps sometime
  enc.Match(259, 1024);                                            // the whole window back
  cut.Cut();
  EXPECT_TRUE(SameBytes(DecodeAll(cut.blocks), enc.expected()));
  EXPECT_EQ(enc.expected().substr(0, 262), std::string(260, 'x') + "ab");
}

TEST_F(QuantumTest, LongStreamsRescaleAndReorderTheModels) {
  // About 600 KB: the busy models pass more than 50 rescales, so reordering
  // happens repeatedly. Controls: an encoder that rescales a little later or
  // reorders one rescale earlier writes a stream the decoder must not
  // reproduce.
  for (QuantumEncoderOptions options :
       {QuantumEncoderOptions{.window_bits = 20},
        QuantumEncoderOptions{.window_bits = 20, .rescale_limit = 3801},
        QuantumEncoderOptions{.window_bits = 20, .reorder_interval = 49},
        QuantumEncoderOptions{.window_bits = 20, .first_reorder = 5}}) {
    QuantumTestEncoder enc(options);
    BlockCutter cut{enc};
    EmitMixedStream(cut, 600000, 11);
    if (options.rescale_limit == 3800 && options.reorder_interval == 50 &&
        options.first_reorder == 4) {
      Create(20);
      EXPECT_TRUE(SameBytes(DecodeAll(cut.blocks), enc.expected()));
    } else {
      ExpectMismatch(20, cut.blocks, enc.expected());
    }
  }
}

TEST_F(QuantumTest, SmallestWindowHasTheReducedLongerMatchModel) {
  // 2^10: the position models have the 20 slots whose base lies below 1024.
  // Control: the same tokens coded with a 21-slot longer-match model.
  for (int slots : {0, 21}) {
    QuantumTestEncoder enc({.window_bits = 10, .longer_match_slots = slots});
    BlockCutter cut{enc};
    std::mt19937 rng(9);
    for (int i = 0; i < 1024; ++i) enc.Literal(static_cast<uint8_t>(rng() % 7 + 'a'));
    for (int i = 0; i < 400; ++i) {
      const uint32_t length = 3 + rng() % 60;
      enc.Match(length, 1 + rng() % 1024);
      enc.Literal(static_cast<uint8_t>(rng()));
    }
    enc.Match(259, 1024);
    cut.Cut();
    if (slots == 0) {
      Create(10);
      EXPECT_TRUE(SameBytes(DecodeAll(cut.blocks), enc.expected()));
    } else {
      ExpectMismatch(10, cut.blocks, enc.expected());
    }
  }
}

TEST_F(QuantumTest, LargestWindowReachesTwoMegabytesBack) {
  QuantumTestEncoder enc({.window_bits = 21});
  BlockCutter cut{enc};
  const uint32_t window = 1u << 21;
  for (int i = 0; i < 256; ++i) enc.Literal(static_cast<uint8_t>(i));
  size_t in_block = 256;
  while (enc.expected().size() + 259 <= window) {
    if (in_block + 259 > 32768) cut.Cut(), in_block = 0;
    enc.Match(259, 256);  // repeat the 256-byte pattern
    in_block += 259;
  }
  while (enc.expected().size() < window) enc.Literal(0xEE);
  cut.Cut();
  enc.Match(259, window);  // back to the very first byte
  enc.Match(200, window - 7);
  cut.Cut();
  Create(21);
  const std::string out = DecodeAll(cut.blocks);
  ASSERT_TRUE(SameBytes(out, enc.expected()));
  EXPECT_EQ(out.substr(window, 3), std::string("\x00\x01\x02", 3));
}

TEST_F(QuantumTest, MatchBeyondTheOwedSizeOrBeforeTheFolderFails) {
  QuantumTestEncoder enc({.window_bits = 16});
  for (char c : std::string("abcdefgh")) enc.Literal(static_cast<uint8_t>(c));
  enc.Match(10, 8);
  const std::vector<uint8_t> data = enc.FinishBlock();
  for (uint32_t owed : {9u, 12u, 17u, 18u}) {  // the match needs 10 bytes after the 8
    Create(16);
    std::string out;
    EXPECT_EQ(DecodeBlock(data, owed, &out), owed == 18 ? kCodecOk : kCodecFailed) << owed;
    EXPECT_EQ(out, owed == 18 ? "abcdefghabcdefghab" : "abcdefgh");
  }
  QuantumTestEncoder before({.window_bits = 16});
  before.Literal('a');
  before.Literal('b');
  before.Match(3, 3);  // one byte before the start
  Create(16);
  std::string out;
  EXPECT_EQ(DecodeBlock(before.FinishBlock(), 5, &out), kCodecFailed);
  EXPECT_EQ(out, "ab");
}

TEST_F(QuantumTest, ExhaustedInputFails) {
  QuantumTestEncoder enc({.window_bits = 16});
  for (int i = 0; i < 500; ++i) enc.Literal(static_cast<uint8_t>(i * 11));
  enc.Match(200, 77);
  const std::vector<uint8_t> data = enc.FinishBlock();
  const uint32_t owed = static_cast<uint32_t>(enc.expected().size());
  for (size_t cut :
       {size_t{0}, size_t{1}, size_t{2}, data.size() / 2, data.size() - 1, data.size()}) {
    SCOPED_TRACE(cut);
    Create(16);
    std::string out;
    EXPECT_EQ(
        DecodeBlock(std::vector<uint8_t>(data.begin(), data.end() - static_cast<ptrdiff_t>(cut)),
                    owed, &out),
        cut == 0 ? kCodecOk : kCodecFailed);
    if (cut == 0) {
      EXPECT_TRUE(SameBytes(out, enc.expected()));
    }
  }
  // Trailing bytes after the stream are ignored.
  Create(16);
  std::vector<uint8_t> longer = data;
  longer.insert(longer.end(), 16, 0xFF);
  std::string out;
  EXPECT_EQ(DecodeBlock(longer, owed, &out), kCodecOk);
  EXPECT_TRUE(SameBytes(out, enc.expected()));
}

TEST_F(QuantumTest, ModelsAndWindowCarryOverBlocksAndResetBetweenFolders) {
  QuantumTestEncoder enc({.window_bits = 15});
  BlockCutter cut1{enc};
  EmitMixedStream(cut1, 150000, 21, 1u << 15);
  const std::string expected1 = enc.expected();
  ASSERT_GE(cut1.blocks.size(), 5u);
  enc.ResetModels();
  BlockCutter cut2{enc};
  EmitMixedStream(cut2, 80000, 22, 1u << 15);
  Create(15);
  EXPECT_TRUE(SameBytes(DecodeAll(cut1.blocks), expected1));
  ASSERT_EQ(kQuantumCodec.reset(handle_), kCodecOk);
  EXPECT_TRUE(SameBytes(DecodeAll(cut2.blocks), enc.expected()));
  // After a reset the previous folder's bytes are out of reach.
  ASSERT_EQ(kQuantumCodec.reset(handle_), kCodecOk);
  QuantumTestEncoder reach({.window_bits = 15});
  reach.Literal('q');
  reach.Match(4, 50);
  std::string out;
  EXPECT_EQ(DecodeBlock(reach.FinishBlock(), 5, &out), kCodecFailed);
  EXPECT_EQ(out, "q");
  // Control: without the reset the second folder does not decode.
  Create(15);
  DecodeAll(cut1.blocks);
  int e;
  const std::string other = DecodeAll(cut2.blocks, &e);
  EXPECT_TRUE(e != kCodecOk || other != enc.expected());
}

}  // namespace
}  // namespace kestrin::cab::testing
