// The block-codec interface, the same rules for all three decoders: the size
// query, refused configurations, foreign handles, requests above the
// handle's maximum and allocation failures; and two decoding rules no corpus
// cabinet reaches. Real blocks are decoded by the corpus tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/lzx_huffman.h"
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
    uint32_t min_input = 0;
    void* h = nullptr;
    const auto create = [&](uint32_t max_block, const void* config, void** handle,
                            bool alloc = true, bool free = true) {
      return codec.create(max_block, config, alloc ? TestAlloc() : nullptr,
                          free ? TestFree() : nullptr, &min_input, handle);
    };
    for (auto [max_block, expect] : std::vector<std::pair<uint32_t, uint32_t>>{
             {0, 32768}, {1, 1}, {32768, 32768}, {32769, 32768}, {0xFFFFFFFF, 32768}}) {
      EXPECT_EQ(create(max_block, config, nullptr), kCodecOk);
      EXPECT_EQ(min_input, expect + c.input_slack) << max_block;
    }
    EXPECT_EQ(Harness::Get().allocations, 0) << "a size query allocates nothing";
    for (const void* good : c.good) {
      ASSERT_EQ(create(0, good, &h), kCodecOk);
      EXPECT_EQ(codec.destroy(h), kCodecOk);
    }
    for (const void* bad : c.bad) {
      EXPECT_EQ(create(0, bad, &(h = nullptr)), kCodecConfigNotSupported);
      EXPECT_EQ(h, nullptr);
    }
    if (config) {
      EXPECT_EQ(codec.create(0, nullptr, TestAlloc(), TestFree(), nullptr, nullptr), kCodecBadHandle);
    }
    for (const bool no_alloc : {true, false}) {  // a handle needs both memory callbacks
      EXPECT_EQ(create(0, config, &(h = nullptr), !no_alloc, no_alloc), kCodecBadHandle);
      EXPECT_EQ(h, nullptr);
    }

    std::vector<uint64_t> foreign(4096, 0);  // big enough for any decoder state
    uint8_t in[4] = {}, out[16];
    for (void* bad : {static_cast<void*>(nullptr), static_cast<void*>(foreign.data())}) {
      uint32_t size = 4;
      EXPECT_EQ(codec.decompress(bad, in, 4, out, &size), kCodecBadHandle);
      EXPECT_EQ(codec.reset(bad), kCodecBadHandle);
      EXPECT_EQ(codec.destroy(bad), kCodecBadHandle);
    }

    ASSERT_EQ(create(1000, config, &h), kCodecOk);
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
      EXPECT_EQ(create(0, config, &h), kCodecOutOfMemory) << fail;
      EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
}

// A decoder handle over one output buffer, destroyed (and checked for
// memory left behind) at the end of the scope.
struct Decoder {
  Decoder(const CabBlockCodec& c, const void* config = nullptr, uint32_t max_block = 0) : codec(c) {
    Harness::Get().Reset();
    uint32_t min_input = 0;
    EXPECT_EQ(codec.create(max_block, config, TestAlloc(), TestFree(), &min_input, &h), kCodecOk);
  }
  ~Decoder() {
    EXPECT_EQ(codec.destroy(h), kCodecOk);
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
  BlockCodecError Run(const uint8_t* in, size_t n, uint32_t ask = 32768) {
    size = ask;
    return codec.decompress(h, in, static_cast<uint32_t>(n), out.data(), &size);
  }
  BlockCodecError Run(const std::vector<uint8_t>& in) { return Run(in.data(), in.size()); }
  std::string Got() const { return std::string(out.begin(), out.begin() + size); }

  const CabBlockCodec& codec;
  void* h = nullptr;
  uint32_t size = 0;
  std::vector<uint8_t> out = std::vector<uint8_t>(32768);
};

// Two rules no cabinet that runs in this build reaches: MSZIP reads zero bits
// past the end of its input (a fixed block of "abc" without its end code),
// and LZX stops E8 translation after frame 32768 (32769 frames of 11 bytes,
// each with a call at 0, in one uncompressed block).
TEST(CodecTest, ZeroBitsPastTheInputAndTheEndOfE8Translation) {
  {
    Decoder mszip(kMszipCodec);
    const uint8_t abc[] = {'C', 'K', 0x4B, 0x4C, 0x4A, 0x06};
    ASSERT_EQ(mszip.Run(abc, sizeof abc), kCodecOk);
    EXPECT_EQ(mszip.Got(), "abc");
  }
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
  Decoder lzx(kLzxCodec, &config, kMaxBlockSize);
  for (int i = 0; i < frames; ++i) {
    const size_t from = i == 0 ? 0 : header + 11 * i, to = header + 11 * (i + 1);
    ASSERT_EQ(lzx.Run(in.data() + from, to - from, 11), kCodecOk) << i;
    uint32_t value;
    std::memcpy(&value, lzx.out.data() + 1, 4);
    ASSERT_EQ(value, i < 32768 ? 16u - 11u * static_cast<uint32_t>(i) : 16u) << i;
  }
}

// LZX call translation against a byte-by-byte reading of the rule, over
// frames of many sizes in one uncompressed block. The bytes come from a small
// set, so that calls are frequent, often in runs, with targets of all three
// kinds (absolute, moved by the translation size, neither); an absolute target
// also sits at the last position a call may start at, or (every other frame)
// at the first it may not.
TEST(CodecTest, LzxCallTranslationMatchesTheRule) {
  const uint32_t sizes[] = {32768, 11, 12, 74, 73, 75, 63, 64, 65, 127, 128, 129, 137, 1000, 32768};
  const int64_t translation_size = 40000;
  std::vector<uint8_t> data;
  uint32_t seed = 12345;
  for (size_t f = 0; f < std::size(sizes); ++f) {
    const size_t frame = data.size();
    const uint32_t size = sizes[f], at = size - 10 - f % 2;
    for (uint32_t i = 0; i < size; ++i) {
      seed = seed * 1103515245 + 12345;
      const uint8_t set[] = {0xE8, 0xE8, 0, 0, 0xFF, 0xFF, 0x9C, static_cast<uint8_t>(seed >> 24)};
      data.push_back(set[seed >> 16 & 7]);
    }
    if (at >= 5) std::copy_n("\0\0\0\0\0\xE8\x10\0\0\0", 10, data.begin() + frame + at - 5);
  }
  std::vector<uint8_t> want = data;
  for (size_t frame = 0, f = 0; f < std::size(sizes); frame += sizes[f++]) {
    for (size_t i = frame; i + 10 < frame + sizes[f]; ++i) {
      if (want[i] != 0xE8) continue;
      int32_t v;
      std::memcpy(&v, &want[i + 1], 4);
      const auto current = static_cast<int64_t>(i);
      if (v >= -current && v < translation_size) {
        v = static_cast<int32_t>(v < 0 ? v + translation_size : v - current);
        std::memcpy(&want[i + 1], &v, 4);
      }
      i += 4;
    }
  }
  // The E8 flag and size, block type 3 and its size, zero bits to the word
  // boundary (four 16-bit little-endian words, MSB first), then R0 R1 R2 = 1.
  const uint64_t head = uint64_t{1} << 63 | uint64_t{translation_size} << 31 | uint64_t{3} << 28 |
                        uint64_t{data.size()} << 4;
  std::vector<uint8_t> in;
  for (int w = 3; w >= 0; --w) {
    in.push_back(head >> 16 * w & 0xFF), in.push_back(head >> (16 * w + 8) & 0xFF);
  }
  for (int i = 0; i < 12; ++i) in.push_back(i % 4 == 0);
  const size_t header = in.size();
  in.insert(in.end(), data.begin(), data.end());
  const LzxConfig config{1u << 16, 1};
  Decoder lzx(kLzxCodec, &config, kMaxBlockSize);
  for (size_t frame = 0, f = 0; f < std::size(sizes); frame += sizes[f++]) {
    SCOPED_TRACE(::testing::Message() << "frame " << f << " of " << sizes[f] << " bytes");
    const size_t from = f == 0 ? 0 : header + frame, to = header + frame + sizes[f];
    ASSERT_EQ(lzx.Run(in.data() + from, to - from, sizes[f]), kCodecOk);
    EXPECT_TRUE(std::equal(lzx.out.begin(), lzx.out.begin() + sizes[f], want.begin() + frame));
  }
}

// An MSZIP data block written bit by bit: "CK", then deflate fields; Begin
// starts a fixed-code block.
struct Bits {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(1, 'C');
  Bits() { bytes.push_back('K'); }
  uint32_t acc = 0;
  int n = 0;
  Bits& Begin(bool final = true) { return Put(final, 1), Put(1, 2), *this; }
  void Put(uint32_t v, int count) {  // LSB first
    for (int i = 0; i < count; ++i) Bit(v >> i & 1);
  }
  void Code(uint32_t v, int count) {  // Huffman code, MSB first
    for (int i = count - 1; i >= 0; --i) Bit(v >> i & 1);
  }
  void Bit(uint32_t b) {
    acc |= b << n;
    if (++n == 8) bytes.push_back(static_cast<uint8_t>(acc)), acc = 0, n = 0;
  }
  void Literal(uint8_t c) { c < 144 ? Code(0x30 + c, 8) : Code(0x190 + c - 144, 9); }
  // Lengths 3..10 (codes 257..264) and 258 are all these tests need.
  void Match(uint32_t length, uint32_t dist) {
    length == 258 ? Code(0xC5, 8) : Code(length - 2, 7);
    uint32_t sym = 0, base = 1, extra = 0;
    while (sym < 30) {  // distance code: bases 1 2 3 4 5 7 9 13 ...
      const uint32_t e = sym < 4 ? 0 : sym / 2 - 1;
      const uint32_t next = base + (1u << e);
      if (dist < next) { extra = e; break; }
      base = next, ++sym;
    }
    Code(sym, 5), Put(dist - base, static_cast<int>(extra));
  }
  std::vector<uint8_t> End() {  // end of a fixed-code block
    Code(0, 7);
    return Finish();
  }
  std::vector<uint8_t> Finish() {  // with 32 spare bytes: every code decodes with input to spare
    if (n) Put(0, 8 - n);
    bytes.insert(bytes.end(), 32, 0);
    return bytes;
  }
};

// MSZIP match copies may write past the match's end while decoding; what lies
// after a block's last byte must still read as before. Block A (stored) fills
// the buffer; block B writes `lead` literals and `matches` copies of 3 bytes
// from 8 back, then ends the folder's data early. Block C copies 40 bytes from
// just after B's end (the previous block's history), or with `wrap` block B
// itself goes on with such a copy before ending. 13000 literals take the copies
// past the first 12 KiB of the buffer.
TEST(CodecTest, MszipHistoryAfterAnEarlyEndIsUntouched) {
  std::vector<uint8_t> a{'C', 'K', 1, 0x00, 0x80, 0xFF, 0x7F};  // final stored block of 32768
  std::vector<uint8_t> history(32768);
  for (uint32_t i = 0; i < 32768; ++i) history[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  a.insert(a.end(), history.begin(), history.end());
  for (const auto& [lead, matches] : {std::pair{16u, 1u}, {16u, 5u}, {16u, 20u}, {13000u, 20u}}) {
    for (const bool wrap : {false, true}) {
      SCOPED_TRACE(::testing::Message() << lead << " literals, " << matches << " matches, wrap " << wrap);
      Decoder d(kMszipCodec);
      ASSERT_EQ(d.Run(a), kCodecOk);
      ASSERT_EQ(d.size, 32768u);
      Bits b;
      b.Begin();
      for (uint32_t i = 0; i < lead; ++i) b.Literal(static_cast<uint8_t>('a' + i % 16));
      for (uint32_t i = 0; i < matches; ++i) b.Match(3, 8);
      const uint32_t end_b = lead + 3 * matches, produced = end_b + (wrap ? 10 : 0);
      if (wrap) b.Match(10, 32768);  // the 10 bytes after the end so far
      ASSERT_EQ(d.Run(b.End()), kCodecOk);
      ASSERT_EQ(d.size, produced);
      EXPECT_TRUE(std::equal(d.out.begin() + end_b, d.out.end(), history.begin() + end_b));
      Bits c;
      c.Begin();
      for (int i = 0; i < 4; ++i) c.Match(10, 32768 - produced);
      ASSERT_EQ(d.Run(c.End()), kCodecOk);
      ASSERT_EQ(d.size, 40u);
      EXPECT_TRUE(std::equal(d.out.begin(), d.out.begin() + 40, history.begin() + produced));
    }
  }
}

// One stream with 0..32 spare input bytes after its end and with output
// limits at and below its length: the checked loop takes over from the fast
// one at every point near the end, and the output, and the buffer after it,
// come out the same.
TEST(CodecTest, MszipEndsAlikeWhereverTheFastLoopStops) {
  Bits b;
  b.Put(1, 1), b.Put(1, 2);
  std::string want;
  for (uint32_t i = 0; i < 300; ++i) {
    if (i % 3 == 0 || want.size() < 16) {
      const char c = static_cast<char>('a' + i % 26);
      b.Literal(static_cast<uint8_t>(c)), want += c;
    } else {
      const uint32_t length = 3 + i % 8, dist = 1 + i % 16;
      b.Match(length, dist);
      for (uint32_t k = 0; k < length; ++k) want += want[want.size() - dist];
    }
  }
  const std::vector<uint8_t> ended = b.End();
  const std::vector<uint8_t> stream(ended.begin(), ended.end() - 32);  // without the spare bytes
  const auto size = static_cast<uint32_t>(want.size());
  for (const uint32_t spare : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 23u, 24u, 25u, 32u}) {
    for (const uint32_t limit : {32768u, size, size - 1, size - 33, size - 300}) {
      SCOPED_TRACE(::testing::Message() << spare << " spare bytes, limit " << limit);
      std::vector<uint8_t> block(stream.size() + spare, 0);
      std::copy(stream.begin(), stream.end(), block.begin());
      void* h = nullptr;
      uint32_t min_input = 0, got = limit;
      ASSERT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &min_input, &h), kCodecOk);
      std::vector<uint8_t> out(32768, 0x5A);
      ASSERT_EQ(kMszipCodec.decompress(h, block.data(), static_cast<uint32_t>(block.size()), out.data(), &got),
                kCodecOk);
      ASSERT_EQ(got, std::min(limit, size));
      EXPECT_EQ(std::string(out.begin(), out.begin() + got), want.substr(0, got));
      EXPECT_TRUE(std::all_of(out.begin() + got, out.end(), [](uint8_t v) { return v == 0x5A; }));
      EXPECT_EQ(kMszipCodec.destroy(h), kCodecOk);
    }
  }
}

// A dynamic block header with `hlit` literal/length lengths: 8 for 0..253,
// 9 for 254..257 (EOB 510, length 3 code 511), 0 for any beyond; the
// distance lengths as given; code-length code: 4 bits for the lengths 0..15.
void DynamicHeader(Bits& b, bool final, std::vector<uint8_t> distance_lengths, uint32_t hlit = 258) {
  b.Put(final, 1), b.Put(2, 2);
  b.Put(hlit - 257, 5), b.Put(static_cast<uint32_t>(distance_lengths.size() - 1), 5), b.Put(15, 4);
  const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (uint8_t sym : order) b.Put(sym < 16 ? 4 : 0, 3);
  for (uint32_t i = 0; i < hlit; ++i) b.Code(i < 254 ? 8 : i < 258 ? 9 : 0, 4);
  for (uint8_t len : distance_lengths) b.Code(len, 4);
}

// The header's counts may name 288 literal/length and 32 distance codes, of
// which only 286 and 30 exist: a block that names more fails even when the
// extra codes have no length and are never used.
TEST(CodecTest, MszipDynamicHeaderCounts) {
  const struct {
    uint32_t hlit, hdist;
    bool ok;
  } cases[] = {{286, 30, true}, {287, 2, false}, {288, 2, false}, {258, 31, false}, {258, 32, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "HLIT " << c.hlit << " HDIST " << c.hdist);
    std::vector<uint8_t> distance_lengths(c.hdist, 0);
    distance_lengths[0] = distance_lengths[1] = 1;
    Bits b;
    DynamicHeader(b, true, distance_lengths, c.hlit);
    b.Code('a', 8), b.Code(510, 9);
    Decoder d(kMszipCodec);
    const BlockCodecError rc = d.Run(b.Finish());
    EXPECT_EQ(rc, c.ok ? kCodecOk : kCodecFailed);
    EXPECT_EQ(rc == kCodecOk ? d.Got() : "", c.ok ? "a" : "");
  }
}

// A dynamic block whose distance code is a single code of length 1, or
// empty, after one whose distance code was complete: the unused code, and
// any match at all, are errors (the earlier tables do not show through).
TEST(CodecTest, MszipSingleAndEmptyDistanceCodes) {
  // Block one: "ab" and three more "b" (distance code 0: 1 back); block two
  // "c" and a match of 3 with the distance code `code`.
  struct Case {
    std::vector<uint8_t> second;
    int code;
    bool match;
    const char* want;  // nullptr: the block fails
  };
  const Case cases[] = {
      {{1}, 0, true, "abbbbcccc"}, {{1}, 1, true, nullptr},  {{1, 1}, 1, true, "abbbbcbcb"},
      {{0}, 0, false, "abbbbc"},   {{0}, 0, true, nullptr},   {{0}, 1, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.second.size() << " lengths, code " << c.code << " match " << c.match);
    Bits b;
    DynamicHeader(b, false, {1, 1});
    b.Code('a', 8), b.Code('b', 8), b.Code(511, 9), b.Code(0, 1), b.Code(510, 9);
    DynamicHeader(b, true, c.second);
    b.Code('c', 8);
    if (c.match) b.Code(511, 9), b.Code(static_cast<uint32_t>(c.code), 1);
    b.Code(510, 9);
    Decoder d(kMszipCodec);
    const BlockCodecError rc = d.Run(b.Finish());
    EXPECT_EQ(rc, c.want ? kCodecOk : kCodecFailed);
    EXPECT_EQ(c.want && rc == kCodecOk ? d.Got() : "", c.want ? c.want : "");
  }
}

// LZX code length sets that are over-full, under-full or too long are
// refused; complete and empty ones are taken (real tables, with subtables
// below the primary one, are decoded by the corpus tests).
TEST(CodecTest, LzxTablesRefuseIncompleteLengths) {
  const std::vector<std::pair<std::vector<uint8_t>, bool>> cases = {
      {{2, 4, 3, 2, 4, 3, 3}, true},  {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16}, true},
      {{0, 0, 0}, true},              // empty
      {{1, 1, 1}, false},             // over-full
      {{1, 2}, false},                // under-full
      {{1, 17, 17}, false},           // too long
  };
  for (const auto& [lengths, usable] : cases) {
    auto table = std::make_unique<lzx::HuffmanTable<20, 2>>();
    EXPECT_EQ(table->Build(lengths.data(), static_cast<int>(lengths.size())), usable);
    // Tables of 64 or more symbols sort their symbols in four runs side by side.
    auto wide = std::make_unique<lzx::HuffmanTable<64, 8>>();
    EXPECT_EQ(wide->Build(lengths.data(), static_cast<int>(lengths.size())), usable);
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
