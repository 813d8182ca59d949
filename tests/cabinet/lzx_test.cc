// LZX block decoder on streams written bit by bit: every block type, tree
// deltas and pre-tree runs, inconsistent streams, the window end, resets and
// E8 translation.
#include <gtest/gtest.h>

#include <cstring>

#include "cabinet/block_codec.h"
#include "fdi_harness.h"

namespace kestrin::cab::testing {
namespace {

// Writes bits MSB-first into 16-bit little-endian words; raw bytes (inside
// uncompressed blocks) go straight to the output on a word boundary.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      word_ = static_cast<uint16_t>(word_ << 1 | ((value >> i) & 1));
      if (++filled_ == 16)
        Byte(static_cast<uint8_t>(word_)), Byte(static_cast<uint8_t>(word_ >> 8)), filled_ = 0;
    }
    bit_pos_ += count;
  }
  void AlignForBytes() { Bits(0, 16 - filled_); }  // 1 to 16 zero bits
  void Flush() {                                   // 0 to 15 zero bits
    if (filled_ != 0) Bits(0, 16 - filled_);
  }
  void Byte(uint8_t b) { out_.push_back(b); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Bytes(const std::vector<uint8_t>& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void ResumeBits() { filled_ = 0, word_ = 0; }  // after raw bytes
  long bit_pos() const { return bit_pos_; }
  std::vector<uint8_t> Take() {
    std::vector<uint8_t> r;
    r.swap(out_);
    return r;
  }

 private:
  std::vector<uint8_t> out_;
  uint16_t word_ = 0;
  int filled_ = 0;
  long bit_pos_ = 0;
};

// A canonical prefix code given by its lengths (0 = symbol unused).
struct Code {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;
  explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(lengths.size()) {
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len, code <<= 1) {
      for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] == len) codes[s] = code++;
      }
    }
  }
  // `symbols` (a power of two of them) share one length.
  static Code Flat(size_t size, const std::vector<int>& symbols) {
    std::vector<uint8_t> l(size, 0);
    uint8_t len = 0;
    while ((1u << len) < symbols.size()) ++len;
    for (int s : symbols) l[static_cast<size_t>(s)] = len;
    return Code(l);
  }
  void Put(BitWriter& w, int symbol) const { w.Bits(codes[symbol], lengths[symbol]); }
};

constexpr int kMainSymbols15 = 256 + 8 * 30;  // main tree of a 2^15 window
constexpr int kLengthSymbols = 249;

// The pre-tree every helper sends: symbols 0..11 have 4 bits, 12..19 5.
const Code kPre(std::vector<uint8_t>{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5});
void PreTree(BitWriter& w) {
  for (uint8_t l : kPre.lengths) w.Bits(l, 4);
}
// Zero runs through pre-tree symbols 18 (20..51) and 17 (4..19).
void Zeros(BitWriter& w, int n) {
  for (; n > 0; n -= n >= 20 ? std::min(n, 51) : n) {
    kPre.Put(w, n >= 20 ? 18 : 17);
    w.Bits(n >= 20 ? std::min(n, 51) - 20 : n - 4, n >= 20 ? 5 : 4);
  }
}
// Lengths [first, last) of `now` as deltas against `before`, no runs.
void WriteLengths(BitWriter& w, const std::vector<uint8_t>& before, const std::vector<uint8_t>& now,
                  size_t first, size_t last) {
  PreTree(w);
  for (size_t i = first; i < last; ++i) kPre.Put(w, (before[i] + 17 - now[i]) % 17);
}

class Lzx {
 public:
  explicit Lzx(int bits = 15, uint32_t max_block = kMaxBlockSize) {
    LzxConfig config{1u << bits, 1};
    uint32_t min_input = 0;
    EXPECT_EQ(kLzxCodec.create(max_block, &config, TestAlloc(), TestFree(), &min_input, &handle_),
              kCodecOk);
  }
  ~Lzx() { EXPECT_EQ(kLzxCodec.destroy(handle_), kCodecOk); }
  // Decodes one data block asking for `want` bytes.
  int Frame(const std::vector<uint8_t>& in, uint32_t want) {
    buffer_.resize(kMaxBlockSize);
    uint32_t size = want;
    int rc = kLzxCodec.decompress(handle_, in.data(), static_cast<uint32_t>(in.size()),
                                  buffer_.data(), &size);
    out_.assign(buffer_.begin(), buffer_.begin() + size);
    return rc;
  }
  std::string Text() const { return std::string(out_.begin(), out_.end()); }
  const std::vector<uint8_t>& out() const { return out_; }
  void* handle() const { return handle_; }

 private:
  void* handle_ = nullptr;
  std::vector<uint8_t> buffer_, out_;
};

void StreamHeader(BitWriter& w, uint32_t e8_size = 0) {
  w.Bits(e8_size != 0, 1);  // E8 translation flag
  if (e8_size != 0) w.Bits(e8_size >> 16, 16), w.Bits(e8_size & 0xFFFF, 16);
}
void BlockHeader(BitWriter& w, int type, uint32_t size) {
  w.Bits(static_cast<uint32_t>(type), 3);  // block type
  w.Bits(size, 24);                        // block size, high byte first
}
// An uncompressed block: padding, R0 R1 R2, raw bytes, padding byte if odd.
void Uncompressed(BitWriter& w, const std::vector<uint8_t>& raw, bool pad = true) {
  BlockHeader(w, 3, static_cast<uint32_t>(raw.size()));
  w.AlignForBytes();
  w.U32(1), w.U32(1), w.U32(1);  // R0 R1 R2
  w.Bytes(raw);
  if (pad && raw.size() % 2 == 1) w.Byte(0);
  w.ResumeBits();
}
std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Main and length trees sent in full through the test pre-tree.
struct Trees {
  Code main, length;
  void Write(BitWriter& w, const Trees* before = nullptr) const {
    std::vector<uint8_t> zero_main(main.lengths.size(), 0), zero_len(kLengthSymbols, 0);
    const auto& bm = before ? before->main.lengths : zero_main;
    WriteLengths(w, bm, main.lengths, 0, 256);
    WriteLengths(w, bm, main.lengths, 256, main.lengths.size());
    WriteLengths(w, before ? before->length.lengths : zero_len, length.lengths, 0, kLengthSymbols);
  }
};
int Match(int slot, int length_header) { return 256 + 8 * slot + length_header; }

// Literals a b c d and four matches, 3 bits each; length symbols 0 and 5.
Trees SmallTrees() {
  return {Code::Flat(kMainSymbols15,
                     {'a', 'b', 'c', 'd', Match(0, 1), Match(3, 0), Match(4, 2), Match(0, 7)}),
          Code::Flat(kLengthSymbols, {0, 5})};
}
// "abcd", slot 4 + extra bit 1 (offset 3, length 4), R0 (length 3), slot 3
// (offset 1, length 2), R0 with length footer 5 (length 14): kSmallText.
void SmallCodes(BitWriter& w, const Trees& t) {
  for (char c : std::string("abcd")) t.main.Put(w, c);
  t.main.Put(w, Match(4, 2));
  w.Bits(1, 1);
  t.main.Put(w, Match(0, 1));
  t.main.Put(w, Match(3, 0));
  t.main.Put(w, Match(0, 7));
  t.length.Put(w, 5);
}
const std::string kSmallText = "abcdbcdbcd" + std::string(17, 'b');
void SmallBlock(BitWriter& w, const Trees& t = SmallTrees()) {
  BlockHeader(w, 1, 27);
  t.Write(w);
  SmallCodes(w, t);
}

// Whole frames (after the stream header) and what they decode to.
TEST(LzxTest, FramesDecode) {
  struct Case {
    const char* what;
    std::function<std::string(BitWriter&)> write;  // returns the expected text
  };
  const std::vector<Case> cases = {
      {"aligned offsets",
       [](BitWriter& w) {
         // Slot 8 (3 extra bits: aligned code only), slot 10 (4: one verbatim bit, then the aligned
         // code).
         Trees t{Code::Flat(kMainSymbols15, {'x', 'y', Match(8, 0), Match(10, 1)}),
                 Code::Flat(kLengthSymbols, {})};
         std::string text = "xyxxyyxxxyyyxxxxyyyyxxxxxyyyyyxxxxxxyyyyyy";  // 42 bytes
         BlockHeader(w, 2, 42 + 2 + 3);
         for (int i = 0; i < 8; ++i) w.Bits(3, 3);  // aligned tree: 8 lengths of 3
         t.Write(w);
         for (char c : text) t.main.Put(w, c);
         t.main.Put(w, Match(8, 0));   // length 2
         w.Bits(5, 3);                 // aligned symbol 5: offset 16 + 5 - 2 = 19
         t.main.Put(w, Match(10, 1));  // length 3
         w.Bits(1, 1), w.Bits(2, 3);   // verbatim bit 1, aligned 2: offset 32 + 8 + 2 - 2 = 40
         for (int i = 0; i < 2; ++i) text += text[text.size() - 19];
         for (int i = 0; i < 3; ++i) text += text[text.size() - 40];
         return text;
       }},
      {"odd uncompressed blocks, then verbatim",
       [](BitWriter& w) {
         Uncompressed(w, Bytes("hello"));
         Uncompressed(w, Bytes("abc"));
         SmallBlock(w);
         return "helloabc" + kSmallText;
       }},
      {"uncompressed block after a header ending on a word boundary: 16 bits of padding",
       [](BitWriter& w) {
         const Trees t = SmallTrees();
         BitWriter probe;
         StreamHeader(probe);
         BlockHeader(probe, 1, 0);
         t.Write(probe);
         int literals = 0;
         while ((probe.bit_pos() + 3 * literals + 27) % 16 != 0) ++literals;
         BlockHeader(w, 1, static_cast<uint32_t>(literals));
         t.Write(w);
         for (int i = 0; i < literals; ++i) t.main.Put(w, 'a');
         EXPECT_EQ((w.bit_pos() + 27) % 16, 0);
         Uncompressed(w, Bytes("zz"));
         return std::string(literals, 'a') + "zz";
       }},
      {"trees as deltas against the previous block's, across an uncompressed block",
       [](BitWriter& w) {
         const Trees first = SmallTrees();
         const Trees second{Code::Flat(kMainSymbols15, {'a', 'b', 'c', 'd', 'e', Match(0, 1),
                                                        Match(3, 0), Match(4, 2), Match(0, 7), 'f',
                                                        'g', 'h', 'i', 'j', 'k', 'l'}),
                            Code::Flat(kLengthSymbols, {0, 5, 7, 9})};
         SmallBlock(w, first);
         Uncompressed(w, Bytes("--"));
         BlockHeader(w, 1, 27 + 2);
         second.Write(w, &first);
         SmallCodes(w, second);
         second.main.Put(w, 'e'), second.main.Put(w, 'l');
         return kSmallText + "--" + kSmallText + "el";
       }},
      {"pre-tree runs 17, 18 and 19",
       [](BitWriter& w) {
         // Main tree: a and b 1 bit; length tree: 0..3 2 bits (a run of 4).
         BlockHeader(w, 1, 12);
         PreTree(w);
         Zeros(w, 97);
         kPre.Put(w, 16), kPre.Put(w, 16);  // 'a', 'b': 0 - 16 = 1 (mod 17)
         Zeros(w, 157);
         PreTree(w);
         Zeros(w, 240);
         PreTree(w);
         kPre.Put(w, 19), w.Bits(0, 1), kPre.Put(w, 15);  // 4 of 0 - 15 = 2 (mod 17)
         Zeros(w, 245);
         w.Bits(0x4FF, 12);  // a b a a b*8: 0100 1111 1111
         return std::string("abaabbbbbbbb");
       }},
      {"a same-length run is the delta of its first element",
       [](BitWriter& w) {
         // Old length-tree lengths: 1 for 0 and 5. A run of 4 of delta 16
         // gives 2 (1 - 16 mod 17); against 0 it would give 1, an over-full tree.
         const Trees t = SmallTrees();
         SmallBlock(w, t);
         BlockHeader(w, 1, 16);
         WriteLengths(w, t.main.lengths, t.main.lengths, 0, 256);
         WriteLengths(w, t.main.lengths, t.main.lengths, 256, kMainSymbols15);
         PreTree(w);
         kPre.Put(w, 19), w.Bits(0, 1), kPre.Put(w, 16);
         kPre.Put(w, 0), kPre.Put(w, 1);  // symbol 4 stays 0, symbol 5: 1 - 1 = 0
         Zeros(w, 243);
         for (char c : std::string("abcd")) t.main.Put(w, c);
         t.main.Put(w, Match(0, 7));
         Code::Flat(kLengthSymbols, {0, 1, 2, 3}).Put(w, 3);  // length 7 + 2 + 3
         return kSmallText + "abcd" + std::string(12, 'd');
       }},
      {"runs spill into the following elements",
       [](BitWriter& w) {
         // A zero run passes the end of the literals by 4, clearing 256..259,
         // so the matches' deltas apply to 0 (against the old 2 they would
         // give an under-full tree); a zero run passes the length tree's end.
         const Trees t{Code::Flat(kMainSymbols15, {'a', 'b', 256, 257}),
                       Code::Flat(kLengthSymbols, {})};
         BlockHeader(w, 1, 4);
         t.Write(w);
         t.main.Put(w, 'a'), t.main.Put(w, 'b'), t.main.Put(w, 256);  // R0 (1), length 2
         BlockHeader(w, 1, 5);
         PreTree(w);
         Zeros(w, 97);
         kPre.Put(w, 0), kPre.Put(w, 0);  // a, b unchanged
         Zeros(w, 161);
         PreTree(w);
         kPre.Put(w, 15), kPre.Put(w, 15);  // 256, 257: 0 - 15 = 2 (mod 17)
         Zeros(w, 238);
         PreTree(w);
         Zeros(w, 255);
         t.main.Put(w, 'b'), t.main.Put(w, 'a'), t.main.Put(w, 257);  // R0 (1), length 3
         return std::string("abbbbaaaa");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BitWriter w;
    StreamHeader(w);
    const std::string expected = c.write(w);
    w.Flush();
    Lzx lzx;
    ASSERT_EQ(lzx.Frame(w.Take(), static_cast<uint32_t>(expected.size())), kCodecOk);
    EXPECT_EQ(lzx.Text(), expected);
  }
}

TEST(LzxTest, UncompressedBlockAcrossDataBlocksWithPaddingOnEitherSide) {
  // 15 raw bytes over two data blocks; the odd block's padding byte closes
  // the second data block or opens the third, which holds the next header.
  for (bool pad_at_end : {true, false}) {
    BitWriter w;
    StreamHeader(w);
    Uncompressed(w, Bytes("0123456789abcde"), false);
    std::vector<uint8_t> all = w.Take(), third;
    std::vector<uint8_t> first(all.begin(), all.end() - 5), second(all.end() - 5, all.end());
    Uncompressed(w, Bytes("xy"));
    third = w.Take();
    if (pad_at_end)
      second.push_back(0);
    else
      third.insert(third.begin(), 0);
    Lzx lzx;
    ASSERT_EQ(lzx.Frame(first, 10), kCodecOk);
    ASSERT_EQ(lzx.Frame(second, 5), kCodecOk);
    EXPECT_EQ(lzx.Text(), "abcde");
    ASSERT_EQ(lzx.Frame(third, 2), kCodecOk) << pad_at_end;
    EXPECT_EQ(lzx.Text(), "xy");
  }
}

std::vector<uint8_t> MainLengths(std::initializer_list<std::pair<int, int>> set) {
  std::vector<uint8_t> l(kMainSymbols15, 0);
  for (auto [symbol, length] : set) l[symbol] = static_cast<uint8_t>(length);
  return l;
}

// Streams whose trees cannot be used, and other inconsistencies: each fails
// and gives nothing.
TEST(LzxTest, InconsistentStreamsFail) {
  struct Bad {
    std::string what;
    std::function<uint32_t(BitWriter&)> write;  // returns the size to ask for
    size_t cut = 0;                             // bytes cut from the end
  };
  auto main_tree = [](std::vector<uint8_t> lengths) {
    return [lengths](BitWriter& w) {
      BlockHeader(w, 1, 4);
      Trees{Code(lengths), Code::Flat(kLengthSymbols, {})}.Write(w);
      w.Bits(0, 4);  // codes of 1 bit, if any
      return 4u;
    };
  };
  const Trees t = SmallTrees();
  std::vector<Bad> cases = {
      {"all-zero main tree", main_tree(MainLengths({}))},
      {"over-full tree", main_tree(MainLengths({{'a', 1}, {'b', 1}, {'c', 1}}))},
      {"under-full tree", main_tree(MainLengths({{'a', 1}}))},
      {"under-full tree 2", main_tree(MainLengths({{'a', 2}, {'b', 2}, {'c', 2}}))},
      {"match before the first byte (R0 = 1)",
       [&](BitWriter& w) {
         return BlockHeader(w, 1, 3), t.Write(w), t.main.Put(w, Match(0, 1)), 3u;
       }},
      {"offset 3 after two bytes",
       [&](BitWriter& w) {
         BlockHeader(w, 1, 6);
         t.Write(w);
         t.main.Put(w, 'a'), t.main.Put(w, 'b'), t.main.Put(w, Match(4, 2)), w.Bits(1, 1);
         return 6u;
       }},
      {"match past the end of its block",
       [&](BitWriter& w) {
         BlockHeader(w, 1, 5);
         t.Write(w);
         for (char c : std::string("abc")) t.main.Put(w, c);
         t.main.Put(w, Match(0, 1));  // R0 (1), length 3: one byte too many
         return 5u;
       }},
      {"repeated offsets past the input",
       [](BitWriter& w) {
         return BlockHeader(w, 3, 4), w.AlignForBytes(), w.U32(1), w.U32(1), w.Byte(1), 4u;
       }},
      {"raw bytes past the input",
       [](BitWriter& w) { return Uncompressed(w, Bytes("abcdefgh")), 8u; }, 3},
  };
  for (int type : {0, 4, 5, 6, 7}) {
    cases.push_back({"block type " + std::to_string(type), [type](BitWriter& w) {
                       BlockHeader(w, type, 4);
                       for (int i = 0; i < 8; ++i) w.Bits(0, 16);
                       return 4u;
                     }});
  }
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.what);
    BitWriter w;
    StreamHeader(w);
    const uint32_t want = c.write(w);
    w.Flush();
    std::vector<uint8_t> s = w.Take();
    s.resize(s.size() - c.cut);
    Lzx lzx;
    EXPECT_EQ(lzx.Frame(s, want), kCodecFailed);
    EXPECT_TRUE(lzx.out().empty());
  }
}

TEST(LzxTest, MatchPastTheWindowEnd) {
  // 32760 bytes fill the 2^15 window almost; the next frame's match of 8
  // ends exactly at the window end, one of 9 would pass it.
  for (int length : {8, 9}) {
    BitWriter w;
    StreamHeader(w);
    Uncompressed(w, std::vector<uint8_t>(32760, 'q'));
    Lzx lzx;
    ASSERT_EQ(lzx.Frame(w.Take(), 32760), kCodecOk);
    Trees t{Code::Flat(kMainSymbols15, {'a', Match(0, 6), Match(0, 7), 'b'}),
            Code::Flat(kLengthSymbols, {0, 1})};
    BlockHeader(w, 1, static_cast<uint32_t>(length));
    t.Write(w);
    t.main.Put(w, Match(0, length - 2));  // R0 (1), length 8 or 9
    if (length == 9) t.length.Put(w, 0);
    w.Flush();
    EXPECT_EQ(lzx.Frame(w.Take(), static_cast<uint32_t>(length)),
              length == 8 ? kCodecOk : kCodecFailed);
    EXPECT_EQ(lzx.Text(), length == 8 ? std::string(8, 'q') : "");
  }
}

TEST(LzxTest, InputUsedUpGivesAShortFrame) {
  BitWriter w;
  StreamHeader(w);
  SmallBlock(w);
  w.Flush();
  std::vector<uint8_t> s = w.Take();
  s.resize(s.size() - 4);
  Lzx lzx;
  EXPECT_EQ(lzx.Frame(s, 27), kCodecOk);
  EXPECT_LT(lzx.out().size(), 27u);
  Lzx empty;
  EXPECT_EQ(empty.Frame({}, 10), kCodecOk);
  EXPECT_EQ(empty.out().size(), 0u);
}

TEST(LzxTest, ResetStartsAFreshFolder) {
  BitWriter w;
  StreamHeader(w, 12345);  // E8 translation on, so the header is 33 bits
  SmallBlock(w);
  w.Flush();
  const std::vector<uint8_t> stream = w.Take();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(stream, 27), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText);
  // Without a reset the header bits are read as a block header: type 4.
  EXPECT_EQ(lzx.Frame(stream, 27), kCodecFailed);
  // After a reset: header read again, trees relative to zero lengths,
  // repeated offsets 1 and an empty window.
  ASSERT_EQ(kLzxCodec.reset(lzx.handle()), kCodecOk);
  ASSERT_EQ(lzx.Frame(stream, 27), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText);
  ASSERT_EQ(kLzxCodec.reset(lzx.handle()), kCodecOk);
  StreamHeader(w);
  BlockHeader(w, 1, 3);
  SmallTrees().Write(w);
  SmallTrees().main.Put(w, Match(0, 1));  // R0 = 1 at the first byte: nothing before it
  w.Flush();
  EXPECT_EQ(lzx.Frame(w.Take(), 3), kCodecFailed);
  EXPECT_EQ(lzx.Frame(stream, 27), kCodecFailed) << "a failed handle refuses until the next reset";
  ASSERT_EQ(kLzxCodec.reset(lzx.handle()), kCodecOk);
  ASSERT_EQ(lzx.Frame(stream, 27), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText);
}

TEST(LzxTest, InputAboveMaxPlus6144Fails) {
  // Exactly max + 6144 bytes of input is accepted (an uncompressed block), one more fails.
  BitWriter w;
  StreamHeader(w);
  Uncompressed(w, std::vector<uint8_t>(1000, 7));
  std::vector<uint8_t> edge = w.Take();
  edge.resize(1000 + 6144);
  Lzx lzx(15, 1000);
  ASSERT_EQ(lzx.Frame(edge, 1000), kCodecOk);
  EXPECT_EQ(lzx.out(), std::vector<uint8_t>(1000, 7));
  edge.push_back(0);
  Lzx again(15, 1000);
  EXPECT_EQ(again.Frame(edge, 1000), kCodecFailed);
}

// E8 translation, on frames of raw bytes.
std::vector<uint8_t> E8Frame(std::initializer_list<std::pair<int, int32_t>> calls, size_t size) {
  std::vector<uint8_t> f(size, 0x90);
  for (auto [at, value] : calls) {
    f[static_cast<size_t>(at)] = 0xE8;
    for (int i = 0; i < 4; ++i)
      f[static_cast<size_t>(at + 1 + i)] = static_cast<uint8_t>(value >> (8 * i));
  }
  return f;
}

TEST(LzxTest, E8TranslatesCallsBeforeTheLastTenBytes) {
  // Translation size 1000. Frame 1 (32 bytes, positions 0..31): calls at 1,
  // 6, 11, 16 and 21 (the last position more than 10 bytes before the end).
  std::vector<uint8_t> f1 = E8Frame({{1, 100}, {6, -3}, {11, 5000}, {16, -16}, {21, 100}}, 32);
  std::vector<uint8_t> x1 = E8Frame({{1, 99}, {6, 997}, {11, 5000}, {16, 984}, {21, 79}}, 32);
  // Frame 2 (folder positions 32..63): a call at 0 (position 32), one with a
  // value before the folder's start, one at 22 (within the last 10 bytes).
  std::vector<uint8_t> f2 = E8Frame({{0, 100}, {5, -100}, {22, 100}}, 32);
  std::vector<uint8_t> x2 = E8Frame({{0, 68}, {5, -100}, {22, 100}}, 32);
  for (bool on : {true, false}) {
    std::vector<uint8_t> raw = f1;
    raw.insert(raw.end(), f2.begin(), f2.end());
    BitWriter w;
    StreamHeader(w, on ? 1000 : 0);
    Uncompressed(w, raw);
    std::vector<uint8_t> all = w.Take();
    std::vector<uint8_t> first(all.begin(), all.end() - 32), second(all.end() - 32, all.end());
    Lzx lzx;
    ASSERT_EQ(lzx.Frame(first, 32), kCodecOk);
    EXPECT_EQ(lzx.out(), on ? x1 : f1) << on;
    ASSERT_EQ(lzx.Frame(second, 32), kCodecOk);
    EXPECT_EQ(lzx.out(), on ? x2 : f2) << on;
  }
}

TEST(LzxTest, E8StopsAfterFrame32768) {
  // Frames of 11 bytes, each with a call at 0 (the only position more than
  // 10 bytes before its end), all in one uncompressed block.
  const int frames = 32769;  // an odd number of bytes: a padding byte follows
  std::vector<uint8_t> frame = E8Frame({{0, 16}}, 11);
  std::vector<uint8_t> raw;
  for (int i = 0; i < frames; ++i) raw.insert(raw.end(), frame.begin(), frame.end());
  BitWriter w;
  StreamHeader(w, 0x7FFFFFFF);
  Uncompressed(w, raw);
  std::vector<uint8_t> all = w.Take();
  size_t header = all.size() - raw.size() - 1;  // header, offsets, raw bytes, padding
  Lzx lzx;
  for (int i = 0; i < frames; ++i) {
    std::vector<uint8_t> in(all.begin() + static_cast<long>(i == 0 ? 0 : header + 11 * i),
                            all.begin() + static_cast<long>(header + 11 * (i + 1)));
    ASSERT_EQ(lzx.Frame(in, 11), kCodecOk) << i;
    uint32_t value;
    std::memcpy(&value, lzx.out().data() + 1, 4);
    uint32_t expected = i < 32768 ? 16u - 11u * static_cast<uint32_t>(i) : 16u;
    ASSERT_EQ(value, expected) << i;
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
