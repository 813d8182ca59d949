// LZX block decoder on streams written bit by bit: every block type, tree
// deltas and pre-tree runs, inconsistent streams, E8 translation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cabinet/block_codec.h"
#include "fdi_harness.h"
#include "lzx_test_stream.h"

namespace kestrin::cab {
namespace {

using testing::BitWriter;
using testing::TestAlloc;
using testing::TestFree;
using testing::Code;
using testing::WriteLengths;

constexpr int kMainSymbols15 = 256 + 8 * 30;  // main tree of a 2^15 window
constexpr int kLengthSymbols = 249;

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
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> out_;
};

// Writes the stream header: E8 translation off, or on with its size.
void StreamHeader(BitWriter& w, uint32_t e8_size = 0) {
  w.Bits(e8_size != 0, 1);  // E8 translation flag
  if (e8_size != 0) {
    w.Bits(e8_size >> 16, 16);     // translation size, high half
    w.Bits(e8_size & 0xFFFF, 16);  // translation size, low half
  }
}

void BlockHeader(BitWriter& w, int type, uint32_t size) {
  w.Bits(static_cast<uint32_t>(type), 3);  // block type
  w.Bits(size >> 16, 8);                   // block size, bits 16..23
  w.Bits((size >> 8) & 0xFF, 8);           // block size, bits 8..15
  w.Bits(size & 0xFF, 8);                  // block size, bits 0..7
}

// An uncompressed block: padding, R0 R1 R2, raw bytes, padding byte if odd.
void Uncompressed(BitWriter& w, const std::vector<uint8_t>& raw, uint32_t r0 = 1,
                  bool pad = true) {
  BlockHeader(w, 3, static_cast<uint32_t>(raw.size()));
  w.AlignForBytes();  // 1 to 16 zero bits
  w.U32(r0);          // R0
  w.U32(1);           // R1
  w.U32(1);           // R2
  w.Bytes(raw);
  if (pad && raw.size() % 2 == 1) w.Byte(0);  // padding byte
  w.ResumeBits();
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Main and length trees sent in full through the test pre-tree.
struct Trees {
  Code main;
  Code length;
  void Write(BitWriter& w, const Trees* before = nullptr) const {
    std::vector<uint8_t> zero_main(main.lengths.size(), 0), zero_len(kLengthSymbols, 0);
    const auto& bm = before ? before->main.lengths : zero_main;
    const auto& bl = before ? before->length.lengths : zero_len;
    WriteLengths(w, bm, main.lengths, 0, 256);                    // main tree, literals
    WriteLengths(w, bm, main.lengths, 256, main.lengths.size());  // main tree, matches
    WriteLengths(w, bl, length.lengths, 0, kLengthSymbols);       // length tree
  }
};

int Match(int slot, int length_header) { return 256 + 8 * slot + length_header; }

// Literals a b c d and four matches, 3 bits each; length symbols 0 and 5.
Trees SmallTrees() {
  return {Code::Flat(kMainSymbols15, {'a', 'b', 'c', 'd', Match(0, 1), Match(3, 0), Match(4, 2),
                                      Match(0, 7)}),
          Code::Flat(kLengthSymbols, {0, 5})};
}

// "abcd", then slot 4 + extra bit 1 (offset 3, length 4), R0 (length 3),
// slot 3 (offset 1, length 2), R0 with length footer 5 (length 14).
void SmallCodes(BitWriter& w, const Trees& t) {
  for (char c : std::string("abcd")) t.main.Put(w, c);  // literal
  t.main.Put(w, Match(4, 2));                           // match, slot 4, length 4
  w.Bits(1, 1);                                         // extra bit: offset 5 - 2 = 3
  t.main.Put(w, Match(0, 1));                           // match R0, length 3
  t.main.Put(w, Match(3, 0));                           // match, slot 3 (offset 1), length 2
  t.main.Put(w, Match(0, 7));                           // match R0, long length
  t.length.Put(w, 5);                                   // length 7 + 2 + 5
}
const std::string kSmallText = "abcdbcdbcd" + std::string(17, 'b');

TEST(LzxBlocks, AlignedOffsets) {
  // Literals x and y; slot 8 (3 extra bits: aligned code only) and slot 10
  // (4 extra bits: one verbatim bit, then the aligned code).
  Trees t{Code::Flat(kMainSymbols15, {'x', 'y', Match(8, 0), Match(10, 1)}),
          Code::Flat(kLengthSymbols, {})};  // an empty length tree: no long matches
  std::string history = "xyxxyyxxxyyyxxxxyyyyxxxxxyyyyyxxxxxxyyyyyy";  // 42 bytes
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 2, 42 + 2 + 3);  // aligned, 47 bytes
  for (int i = 0; i < 8; ++i) w.Bits(3, 3);  // aligned tree: 8 lengths of 3
  t.Write(w);
  for (char c : history) t.main.Put(w, c);
  t.main.Put(w, Match(8, 0));   // slot 8, length 2
  w.Bits(5, 3);                 // aligned symbol 5: offset 16 + 5 - 2 = 19
  t.main.Put(w, Match(10, 1));  // slot 10, length 3
  w.Bits(1, 1);                 // verbatim bit 1
  w.Bits(2, 3);                 // aligned symbol 2: offset 32 + 8 + 2 - 2 = 40
  w.Flush();
  std::string expected = history;
  for (int i = 0; i < 2; ++i) expected += expected[expected.size() - 19];
  for (int i = 0; i < 3; ++i) expected += expected[expected.size() - 40];
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 47), kCodecOk);
  EXPECT_EQ(lzx.Text(), expected);
}

TEST(LzxBlocks, OddUncompressedBlocksAndPadding) {
  // Two odd blocks in one frame, the second followed by a verbatim block.
  Trees t = SmallTrees();
  BitWriter w;
  StreamHeader(w);
  Uncompressed(w, Bytes("hello"));  // 5 bytes + padding byte
  Uncompressed(w, Bytes("abc"));    // 3 bytes + padding byte
  BlockHeader(w, 1, 27);
  t.Write(w);
  SmallCodes(w, t);
  w.Flush();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 35), kCodecOk);
  EXPECT_EQ(lzx.Text(), "helloabc" + kSmallText);
}

TEST(LzxBlocks, UncompressedBlockAcrossDataBlocksWithPaddingOnEitherSide) {
  // 15 raw bytes over two data blocks; the odd block's padding byte closes
  // the second data block or opens the third, which holds the next header.
  for (bool pad_at_end : {true, false}) {
    BitWriter w;
    StreamHeader(w);
    Uncompressed(w, Bytes("0123456789abcde"), 1, false);  // 15 bytes, padding below
    std::vector<uint8_t> all = w.Take();
    std::vector<uint8_t> first(all.begin(), all.end() - 5), second(all.end() - 5, all.end());
    BitWriter w2;
    Uncompressed(w2, Bytes("xy"));
    std::vector<uint8_t> third = w2.Take();
    if (pad_at_end) {
      second.push_back(0);  // padding byte
    } else {
      third.insert(third.begin(), 0);  // padding byte
    }
    Lzx lzx;
    ASSERT_EQ(lzx.Frame(first, 10), kCodecOk);
    EXPECT_EQ(lzx.Text(), "0123456789");
    ASSERT_EQ(lzx.Frame(second, 5), kCodecOk);
    EXPECT_EQ(lzx.Text(), "abcde");
    ASSERT_EQ(lzx.Frame(third, 2), kCodecOk) << pad_at_end;
    EXPECT_EQ(lzx.Text(), "xy");
  }
}

TEST(LzxBlocks, UncompressedPaddingIsOneToSixteenBits) {
  // A verbatim block of literals sized so that the next block header ends
  // on a word boundary: the uncompressed block then skips a whole word.
  Trees t = SmallTrees();
  BitWriter probe;
  StreamHeader(probe);
  BlockHeader(probe, 1, 0);
  t.Write(probe);
  int literals = 0;
  while ((probe.bit_pos() + 3 * literals + 27) % 16 != 0) ++literals;
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, static_cast<uint32_t>(literals));
  t.Write(w);
  for (int i = 0; i < literals; ++i) t.main.Put(w, 'a');
  long before = w.bit_pos();
  Uncompressed(w, Bytes("zz"));
  EXPECT_EQ(w.bit_pos() - before, 27 + 16);  // a whole word of padding
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), static_cast<uint32_t>(literals + 2)), kCodecOk);
  EXPECT_EQ(lzx.Text(), std::string(static_cast<size_t>(literals), 'a') + "zz");
}

TEST(LzxTrees, DeltaCodingAcrossBlocks) {
  Trees first = SmallTrees();
  // The second verbatim block's trees are sent as changes against the first
  // block's, across an uncompressed block in between.
  Trees second{Code::Flat(kMainSymbols15, {'a', 'b', 'c', 'd', 'e', Match(0, 1), Match(3, 0),
                                           Match(4, 2), Match(0, 7), 'f', 'g', 'h', 'i', 'j',
                                           'k', 'l'}),
               Code::Flat(kLengthSymbols, {0, 5, 7, 9})};
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 27);
  first.Write(w);
  SmallCodes(w, first);
  Uncompressed(w, Bytes("--"));
  BlockHeader(w, 1, 27 + 2);
  second.Write(w, &first);
  SmallCodes(w, second);
  second.main.Put(w, 'e');  // literal
  second.main.Put(w, 'l');  // literal
  w.Flush();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 27 + 2 + 29), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText + "--" + kSmallText + "el");
}

TEST(LzxTrees, PretreeRuns) {
  // Main tree: a and b with 1 bit; length tree: symbols 0..3 with 2 bits,
  // sent with zero runs (17, 18) and a same-length run (19).
  const Code& pre = testing::TestPretree();
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 3 + 9);
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, literals part
  pre.Put(w, 18);
  w.Bits(31, 5);  // 51 zeros
  pre.Put(w, 18);
  w.Bits(26, 5);  // 46 zeros: up to 'a' (97)
  pre.Put(w, 16);  // 'a': 0 - 16 = 1 (mod 17)
  pre.Put(w, 16);  // 'b': 1
  for (int i = 0; i < 3; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 17);
  w.Bits(0, 4);  // 4 zeros: 99 + 153 + 4 = 256
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, matches part
  for (int i = 0; i < 4; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 18);
  w.Bits(16, 5);  // 36 zeros: 240 in all
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, length tree
  pre.Put(w, 19);
  w.Bits(0, 1);    // 4 of the same length
  pre.Put(w, 15);  // 0 - 15 = 2 (mod 17)
  for (int i = 0; i < 4; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 18);
  w.Bits(21, 5);  // 41 zeros: 249 in all
  // Codes: main a = 0, b = 1.
  w.Bits(0, 1);  // a
  w.Bits(1, 1);  // b
  w.Bits(0, 1);  // a
  w.Bits(0, 1);  // a
  for (int i = 0; i < 8; ++i) w.Bits(1, 1);  // b
  w.Flush();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 12), kCodecOk);
  EXPECT_EQ(lzx.Text(), "abaabbbbbbbb");
}

TEST(LzxTrees, SameLengthRunIsADeltaOfItsFirstElement) {
  // Block 1 leaves length-tree lengths 1 (symbols 0 and 5). Block 2 sends
  // lengths 2 for symbols 0..3 as one run whose value is a delta against
  // symbol 0's old length (1 - 16 = 2 mod 17); against 0 it would give 1,
  // an over-full tree.
  Trees t = SmallTrees();
  const Code& pre = testing::TestPretree();
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 27);
  t.Write(w);
  SmallCodes(w, t);
  BlockHeader(w, 1, 16);
  WriteLengths(w, t.main.lengths, t.main.lengths, 0, 256);  // main tree unchanged
  WriteLengths(w, t.main.lengths, t.main.lengths, 256, kMainSymbols15);
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, length tree
  pre.Put(w, 19);
  w.Bits(0, 1);    // a run of 4
  pre.Put(w, 16);  // 1 - 16 = 2 (mod 17)
  pre.Put(w, 0);   // symbol 4 stays 0
  pre.Put(w, 1);   // symbol 5: 1 - 1 = 0
  for (int i = 0; i < 4; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 18);
  w.Bits(19, 5);  // 39 zeros: 249 in all
  Code lengths = Code::Flat(kLengthSymbols, {0, 1, 2, 3});
  for (char c : std::string("abcd")) t.main.Put(w, c);  // literal
  t.main.Put(w, Match(0, 7));                           // R0 (1), long length
  lengths.Put(w, 3);                                    // length 7 + 2 + 3
  w.Flush();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 27 + 16), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText + "abcd" + std::string(12, 'd'));
}

TEST(LzxTrees, RunsSpillIntoTheFollowingElements) {
  // Block 1: a, b and match symbols 256, 257 with 2 bits each. Block 2: a
  // zero run passes the end of the literals by 4, clearing 256..259, so the
  // second part's deltas apply to 0 (against the old 2 they would give an
  // under-full tree); a zero run passes the end of the length tree.
  const Code& pre = testing::TestPretree();
  Trees t{Code::Flat(kMainSymbols15, {'a', 'b', 256, 257}), Code::Flat(kLengthSymbols, {})};
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 4);
  t.Write(w);
  t.main.Put(w, 'a');
  t.main.Put(w, 'b');
  t.main.Put(w, 256);  // R0 (1), length 2
  BlockHeader(w, 1, 5);
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, literals
  pre.Put(w, 18);
  w.Bits(31, 5);  // 51 zeros
  pre.Put(w, 18);
  w.Bits(26, 5);  // 46 zeros
  pre.Put(w, 0);  // a unchanged
  pre.Put(w, 0);  // b unchanged
  for (int i = 0; i < 3; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 17);
  w.Bits(4, 4);  // 8 zeros: 4 past the literals
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, matches
  pre.Put(w, 15);  // 256: 0 - 15 = 2 (mod 17)
  pre.Put(w, 15);  // 257: 2
  for (int i = 0; i < 4; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros
  }
  pre.Put(w, 18);
  w.Bits(14, 5);  // 34 zeros: 240 in all
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree, length tree
  for (int i = 0; i < 5; ++i) {
    pre.Put(w, 18);
    w.Bits(31, 5);  // 51 zeros: 255 in all, 6 past the end
  }
  t.main.Put(w, 'b');
  t.main.Put(w, 'a');
  t.main.Put(w, 257);  // R0 (1), length 3
  w.Flush();
  Lzx lzx;
  ASSERT_EQ(lzx.Frame(w.Take(), 9), kCodecOk);
  EXPECT_EQ(lzx.Text(), "abbbbaaaa");
}

// Streams whose trees cannot be used, and other inconsistencies; each must
// fail with code 4.
struct BadCase {
  const char* name;
  std::vector<uint8_t> stream;
  uint32_t want;
};

std::vector<uint8_t> WithMainTree(const std::vector<uint8_t>& main_lengths) {
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 4);
  Trees t{Code(main_lengths), Code::Flat(kLengthSymbols, {})};
  t.Write(w);
  for (int i = 0; i < 4; ++i) w.Bits(0, 1);  // codes of 1 bit, if any
  w.Flush();
  return w.Take();
}

std::vector<uint8_t> MainLengths(std::initializer_list<std::pair<int, int>> set) {
  std::vector<uint8_t> l(kMainSymbols15, 0);
  for (auto [symbol, length] : set) l[static_cast<size_t>(symbol)] = static_cast<uint8_t>(length);
  return l;
}

TEST(LzxFailures, InconsistentStreamsFail) {
  std::vector<BadCase> cases;
  cases.push_back({"all-zero main tree", WithMainTree(MainLengths({})), 4});
  cases.push_back({"over-full tree", WithMainTree(MainLengths({{'a', 1}, {'b', 1}, {'c', 1}})), 4});
  cases.push_back({"under-full tree", WithMainTree(MainLengths({{'a', 1}})), 4});
  cases.push_back({"under-full tree 2", WithMainTree(MainLengths({{'a', 2}, {'b', 2}, {'c', 2}})), 4});
  for (int type : {0, 4, 5, 6, 7}) {
    BitWriter w;
    StreamHeader(w);
    BlockHeader(w, type, 4);
    for (int i = 0; i < 8; ++i) w.Bits(0, 16);
    cases.push_back({"unknown block type", w.Take(), 4});
  }
  Trees t = SmallTrees();
  {
    BitWriter w;  // a match at the folder's first byte (R0 = 1)
    StreamHeader(w);
    BlockHeader(w, 1, 3);
    t.Write(w);
    t.main.Put(w, Match(0, 1));
    w.Flush();
    cases.push_back({"match before the first byte", w.Take(), 3});
  }
  {
    BitWriter w;  // "ab", then offset 3
    StreamHeader(w);
    BlockHeader(w, 1, 6);
    t.Write(w);
    t.main.Put(w, 'a');
    t.main.Put(w, 'b');
    t.main.Put(w, Match(4, 2));
    w.Bits(1, 1);  // offset 3
    w.Flush();
    cases.push_back({"offset past the first byte", w.Take(), 6});
  }
  {
    BitWriter w;  // a match running past the end of its block
    StreamHeader(w);
    BlockHeader(w, 1, 5);
    t.Write(w);
    for (char c : std::string("abc")) t.main.Put(w, c);
    t.main.Put(w, Match(0, 1));  // R0 (1), length 3: one byte too many
    w.Flush();
    cases.push_back({"match past the block", w.Take(), 5});
  }
  {
    BitWriter w;  // an uncompressed block with a truncated R2
    StreamHeader(w);
    BlockHeader(w, 3, 4);
    w.AlignForBytes();
    w.U32(1);
    w.U32(1);
    w.Byte(1);
    cases.push_back({"repeated offsets past the input", w.Take(), 4});
  }
  {
    BitWriter w;  // raw bytes missing
    StreamHeader(w);
    Uncompressed(w, Bytes("abcdefgh"));
    std::vector<uint8_t> s = w.Take();
    s.resize(s.size() - 3);
    cases.push_back({"raw bytes past the input", s, 8});
  }
  for (const BadCase& c : cases) {
    Lzx lzx;
    EXPECT_EQ(lzx.Frame(c.stream, c.want), kCodecFailed) << c.name;
    EXPECT_TRUE(lzx.out().empty()) << c.name;
  }
}

TEST(LzxFailures, MatchPastTheWindowEnd) {
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
    BitWriter w2;
    BlockHeader(w2, 1, static_cast<uint32_t>(length));
    t.Write(w2);
    if (length == 8) {
      t.main.Put(w2, Match(0, 6));  // R0 (1), length 8
    } else {
      t.main.Put(w2, Match(0, 7));  // R0 (1), length 9
      t.length.Put(w2, 0);
    }
    w2.Flush();
    int rc = lzx.Frame(w2.Take(), static_cast<uint32_t>(length));
    if (length == 8) {
      EXPECT_EQ(rc, kCodecOk);
      EXPECT_EQ(lzx.Text(), std::string(8, 'q'));
    } else {
      EXPECT_EQ(rc, kCodecFailed);
    }
  }
}

TEST(LzxFailures, InputUsedUpGivesAShortFrame) {
  Trees t = SmallTrees();
  BitWriter w;
  StreamHeader(w);
  BlockHeader(w, 1, 27);
  t.Write(w);
  SmallCodes(w, t);
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

TEST(LzxState, ResetStartsAFreshFolder) {
  Trees t = SmallTrees();
  BitWriter w;
  StreamHeader(w, 12345);  // E8 translation on, so the header is 33 bits
  BlockHeader(w, 1, 27);
  t.Write(w);
  SmallCodes(w, t);
  w.Flush();
  std::vector<uint8_t> stream = w.Take();
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
  BitWriter bad;
  StreamHeader(bad);
  BlockHeader(bad, 1, 3);
  t.Write(bad);
  t.main.Put(bad, Match(0, 1));  // R0 = 1 at the first byte: nothing before it
  bad.Flush();
  EXPECT_EQ(lzx.Frame(bad.Take(), 3), kCodecFailed);
  // A failed handle refuses until the next reset.
  EXPECT_EQ(lzx.Frame(stream, 27), kCodecFailed);
  ASSERT_EQ(kLzxCodec.reset(lzx.handle()), kCodecOk);
  ASSERT_EQ(lzx.Frame(stream, 27), kCodecOk);
  EXPECT_EQ(lzx.Text(), kSmallText);
}

TEST(LzxFailures, InputAboveMaxPlus6144Fails) {
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
    for (int i = 0; i < 4; ++i) f[static_cast<size_t>(at + 1 + i)] = static_cast<uint8_t>(value >> (8 * i));
  }
  return f;
}

TEST(LzxE8, TranslatesCallsBeforeTheLastTenBytes) {
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

TEST(LzxE8, StopsAfterFrame32768) {
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
}  // namespace kestrin::cab
