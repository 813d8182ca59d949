// The block-codec interface, the same rules for all three decoders: the size
// query, refused configurations, foreign handles, requests above the
// handle's maximum and allocation failures; and two decoding rules no corpus
// cabinet reaches. Real blocks are decoded by the corpus tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cabinet/block_codec.h"
#include "fdi_harness.h"

namespace kestrin::cab::testing {
namespace {

struct CodecCase {
  const CabBlockCodec* codec;
  uint32_t input_slack;                // min_input = max_block + input_slack
  std::vector<const void*> good, bad;  // accepted and refused configurations
  bool limits_input;                   // MSZIP limits the input, the others the size asked for
};

const LzxConfig kLzx15{1u << 15, 1}, kLzx21{1u << 21, 1}, kLzx14{1u << 14, 1}, kLzx22{1u << 22, 1},
    kLzxOdd{(1u << 16) + 1, 1}, kLzx0{0, 1};
const QuantumConfig kQtm10{10, 1}, kQtm21{21, 1}, kQtm9{9, 1}, kQtm22{22, 1}, kQtm0{0, 1},
    kQtmNeg{-1, 1};

TEST(CodecTest, InterfaceRules) {
  const std::vector<CodecCase> cases = {
      {&kMszipCodec, 12, {nullptr}, {}, true},
      {&kLzxCodec, 6148, {&kLzx15, &kLzx21}, {&kLzx14, &kLzx22, &kLzxOdd, &kLzx0}, false},
      {&kQuantumCodec, 10240, {&kQtm10, &kQtm21}, {&kQtm9, &kQtm22, &kQtm0, &kQtmNeg}, false},
  };
  for (const CodecCase& c : cases) {
    SCOPED_TRACE(c.codec->name);
    Harness::Get().Reset();
    const CabBlockCodec& codec = *c.codec;
    const void* config = c.good.front();
    for (auto [max_block, expect] : std::vector<std::pair<uint32_t, uint32_t>>{
             {0, 32768}, {1, 1}, {32768, 32768}, {32769, 32768}, {0xFFFFFFFF, 32768}}) {
      uint32_t min_input = 0;
      EXPECT_EQ(codec.create(max_block, config, TestAlloc(), TestFree(), &min_input, nullptr),
                kCodecOk);
      EXPECT_EQ(min_input, expect + c.input_slack) << max_block;
    }
    EXPECT_EQ(Harness::Get().allocations, 0) << "a size query allocates nothing";
    for (const void* good : c.good) {
      void* h = nullptr;
      uint32_t min_input = 0;
      ASSERT_EQ(codec.create(0, good, TestAlloc(), TestFree(), &min_input, &h), kCodecOk);
      EXPECT_EQ(codec.destroy(h), kCodecOk);
    }
    for (const void* bad : c.bad) {
      uint32_t min_input = 0;
      void* h = nullptr;
      EXPECT_EQ(codec.create(0, bad, TestAlloc(), TestFree(), &min_input, &h),
                kCodecConfigNotSupported);
      EXPECT_EQ(h, nullptr);
    }
    if (config) {
      EXPECT_EQ(codec.create(0, nullptr, TestAlloc(), TestFree(), nullptr, nullptr),
                kCodecBadHandle);
    }
    for (const bool no_alloc : {true, false}) {  // a handle needs both memory callbacks
      uint32_t min_input = 0;
      void* h = nullptr;
      EXPECT_EQ(codec.create(0, config, no_alloc ? nullptr : TestAlloc(),
                             no_alloc ? TestFree() : nullptr, &min_input, &h),
                kCodecBadHandle);
      EXPECT_EQ(h, nullptr);
    }

    std::vector<uint64_t> foreign(4096, 0);  // big enough for any decoder state
    uint8_t in[4] = {}, out[16];
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(foreign.data())}) {
      uint32_t size = 4;
      EXPECT_EQ(codec.decompress(h, in, 4, out, &size), kCodecBadHandle);
      EXPECT_EQ(codec.reset(h), kCodecBadHandle);
      EXPECT_EQ(codec.destroy(h), kCodecBadHandle);
    }

    void* h = nullptr;
    uint32_t min_input = 0;
    ASSERT_EQ(codec.create(1000, config, TestAlloc(), TestFree(), &min_input, &h), kCodecOk);
    std::vector<uint8_t> big(min_input + 1), dest(32768);
    uint32_t ask = c.limits_input ? 1000 : 1001;
    EXPECT_EQ(
        codec.decompress(h, big.data(), c.limits_input ? min_input + 1 : 4, dest.data(), &ask),
        kCodecBufferOverflow);
    EXPECT_EQ(codec.decompress(h, big.data(), 4, dest.data(), nullptr), kCodecBadHandle);
    EXPECT_EQ(codec.decompress(h, nullptr, 4, dest.data(), &ask), kCodecBadHandle);
    EXPECT_EQ(codec.destroy(h), kCodecOk);

    for (int fail = 0; fail < 2; ++fail) {  // the state and the window
      Harness::Get().fail_allocation = static_cast<int>(Harness::Get().allocations) + fail;
      h = reinterpret_cast<void*>(1);
      EXPECT_EQ(codec.create(0, config, TestAlloc(), TestFree(), &min_input, &h), kCodecOutOfMemory)
          << fail;
      EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
}

// Two rules no cabinet that runs in this build reaches: MSZIP reads zero bits
// past the end of its input (a fixed block of "abc" without its end code),
// and LZX stops E8 translation after frame 32768 (32769 frames of 11 bytes,
// each with a call at 0, in one uncompressed block).
TEST(CodecTest, ZeroBitsPastTheInputAndTheEndOfE8Translation) {
  Harness::Get().Reset();
  void* h = nullptr;
  uint32_t min_input = 0, size = 32768;
  ASSERT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &min_input, &h), kCodecOk);
  std::vector<uint8_t> out(32768);
  const uint8_t abc[] = {'C', 'K', 0x4B, 0x4C, 0x4A, 0x06};
  ASSERT_EQ(kMszipCodec.decompress(h, abc, sizeof abc, out.data(), &size), kCodecOk);
  EXPECT_EQ(std::string(out.begin(), out.begin() + size), "abc");
  EXPECT_EQ(kMszipCodec.destroy(h), kCodecOk);

  std::vector<uint8_t> in;  // bits MSB first in 16-bit little-endian words
  uint32_t word = 0;
  int filled = 0;
  auto put = [&](uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      word = word << 1 | ((value >> i) & 1);
      if (++filled == 16) in.push_back(word & 0xFF), in.push_back(word >> 8 & 0xFF), filled = 0;
    }
  };
  const int frames = 32769;
  put(1, 1), put(0x7FFF, 16), put(0xFFFF, 16);  // E8 translation, size 0x7FFFFFFF
  put(3, 3), put(frames * 11, 24);              // uncompressed block
  put(0, 16 - filled);                          // padding to the next word
  for (int i = 0; i < 12; ++i) in.push_back(i % 4 == 0);  // R0 R1 R2 = 1
  const size_t header = in.size();
  for (int i = 0; i < frames; ++i) in.insert(in.end(), {0xE8, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const LzxConfig config{1u << 15, 1};
  ASSERT_EQ(kLzxCodec.create(kMaxBlockSize, &config, TestAlloc(), TestFree(), &min_input, &h),
            kCodecOk);
  for (int i = 0; i < frames; ++i) {
    const size_t from = i == 0 ? 0 : header + 11 * i, to = header + 11 * (i + 1);
    size = 11;
    ASSERT_EQ(kLzxCodec.decompress(h, in.data() + from, static_cast<uint32_t>(to - from),
                                   out.data(), &size),
              kCodecOk)
        << i;
    uint32_t value;
    std::memcpy(&value, out.data() + 1, 4);
    ASSERT_EQ(value, i < 32768 ? 16u - 11u * static_cast<uint32_t>(i) : 16u) << i;
  }
  EXPECT_EQ(kLzxCodec.destroy(h), kCodecOk);
  EXPECT_EQ(Harness::Get().live_blocks, 0);
}

}  // namespace
}  // namespace kestrin::cab::testing
