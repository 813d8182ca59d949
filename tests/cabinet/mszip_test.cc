// MSZIP block decoder: deflate streams written bit by bit (each field on its
// own line), history into the previous block, the table rules, and the
// codec interface.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "cab_builder.h"
#include "cabinet/mszip.h"
#include "fdi_harness.h"

namespace kestrin::cab::testing {
namespace {

// Writes deflate fields least significant bit first, Huffman codes most
// significant bit first (RFC 1951 3.1.1).
class BitWriter {
 public:
  BitWriter() : bytes_("CK") {}
  void Bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void AlignToByte() {
    while (nbits_ != 0) Bit(0);
  }
  void Byte(uint8_t b) { Bits(b, 8); }
  std::string Finish() {
    AlignToByte();
    return bytes_;
  }

 private:
  void Bit(uint32_t b) {
    if (nbits_ == 0) bytes_ += '\0';
    if (b) bytes_.back() = static_cast<char>(bytes_.back() | (1 << nbits_));
    nbits_ = (nbits_ + 1) & 7;
  }
  std::string bytes_;
  int nbits_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951 3.2.2).
std::vector<uint32_t> Codes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  }
  return codes;
}

// Length and distance symbols with their extra bits.
struct Coded {
  int symbol, extra_bits;
  uint32_t extra;
};
Coded LengthSymbol(int length) {
  static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  for (int i = 28; i >= 0; --i) {
    if (length >= base[i]) return {257 + i, extra[i], static_cast<uint32_t>(length - base[i])};
  }
  return {};
}
Coded DistanceSymbol(int dist) {
  static const int base[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                             193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  for (int i = 29; i >= 0; --i) {
    if (dist >= base[i]) return {i, i < 4 ? 0 : i / 2 - 1, static_cast<uint32_t>(dist - base[i])};
  }
  return {};
}

// Token of a compressed stream: a literal, or a match when length > 0.
struct Token {
  int literal_or_length;
  int dist = 0;
};
Token Lit(int c) { return {c, 0}; }
Token Match(int len, int dist) { return {len, dist}; }
const Token kEnd{256, 0};

// Fixed-Huffman codes (RFC 1951 3.2.6).
void FixedSymbol(BitWriter& w, int sym) {
  if (sym < 144) {
    w.Code(0x30 + sym, 8);
  } else if (sym < 256) {
    w.Code(0x190 + sym - 144, 9);
  } else if (sym < 280) {
    w.Code(sym - 256, 7);
  } else {
    w.Code(0xC0 + sym - 280, 8);
  }
}
void FixedBlock(BitWriter& w, bool final, const std::vector<Token>& tokens) {
  w.Bits(final, 1);  // BFINAL
  w.Bits(1, 2);      // BTYPE: fixed Huffman
  for (const Token& t : tokens) {
    if (t.dist == 0) {
      FixedSymbol(w, t.literal_or_length);
      continue;
    }
    const Coded l = LengthSymbol(t.literal_or_length);
    FixedSymbol(w, l.symbol);
    w.Bits(l.extra, l.extra_bits);
    const Coded d = DistanceSymbol(t.dist);
    w.Code(d.symbol, 5);
    w.Bits(d.extra, d.extra_bits);
  }
}
void StoredBlock(BitWriter& w, bool final, const std::string& data) {
  w.Bits(final, 1);  // BFINAL
  w.Bits(0, 2);      // BTYPE: stored
  w.AlignToByte();
  w.Bits(static_cast<uint32_t>(data.size()), 16);    // LEN
  w.Bits(static_cast<uint32_t>(~data.size()), 16);   // NLEN
  for (unsigned char c : data) w.Byte(c);
}

// Dynamic block; the lengths are sent with a code-length code that gives
// symbols 0..15 4 bits each (HCLEN 19, symbols 16..18 unused), unless
// `raw_lengths` supplies the code-length symbols themselves.
struct Dynamic {
  std::vector<int> lit;   // HLIT lengths
  std::vector<int> dist;  // HDIST lengths
  std::vector<std::pair<int, int>> raw_lengths;  // (symbol, extra) with cl_lengths below
  std::vector<int> cl_lengths;                   // 19 lengths in symbol order
};
void DynamicBlock(BitWriter& w, bool final, const Dynamic& d, const std::vector<Token>& tokens) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Bits(final, 1);                                    // BFINAL
  w.Bits(2, 2);                                        // BTYPE: dynamic
  w.Bits(static_cast<uint32_t>(d.lit.size() - 257), 5);   // HLIT
  w.Bits(static_cast<uint32_t>(d.dist.size() - 1), 5);     // HDIST
  w.Bits(19 - 4, 4);                                   // HCLEN: all 19
  std::vector<int> cl = d.cl_lengths;
  if (cl.empty()) {
    cl.assign(19, 0);
    for (int i = 0; i < 16; ++i) cl[i] = 4;
  }
  for (int i = 0; i < 19; ++i) w.Bits(cl[order[i]], 3);
  const std::vector<uint32_t> cl_codes = Codes(cl);
  if (!d.raw_lengths.empty()) {
    for (auto [sym, extra] : d.raw_lengths) {
      w.Code(cl_codes[sym], cl[sym]);
      if (sym == 16) w.Bits(extra, 2);
      if (sym == 17) w.Bits(extra, 3);
      if (sym == 18) w.Bits(extra, 7);
    }
  } else {
    for (int l : d.lit) w.Code(cl_codes[l], cl[l]);
    for (int l : d.dist) w.Code(cl_codes[l], cl[l]);
  }
  const std::vector<uint32_t> lit_codes = Codes(d.lit);
  const std::vector<uint32_t> dist_codes = Codes(d.dist);
  for (const Token& t : tokens) {
    if (t.dist == 0) {
      w.Code(lit_codes[t.literal_or_length], d.lit[t.literal_or_length]);
      continue;
    }
    const Coded l = LengthSymbol(t.literal_or_length);
    w.Code(lit_codes[l.symbol], d.lit[l.symbol]);
    w.Bits(l.extra, l.extra_bits);
    const Coded ds = DistanceSymbol(t.dist);
    w.Code(dist_codes[ds.symbol], d.dist[ds.symbol]);
    w.Bits(ds.extra, ds.extra_bits);
  }
}

// A complete literal/length code for HLIT 286: literals 9 bits (half the
// code space), 256 and 257 5 bits, 258..285 6 bits (the other half).
std::vector<int> CompleteLiteralLengths() {
  std::vector<int> l(286, 6);
  for (int i = 0; i < 256; ++i) l[i] = 9;
  l[256] = l[257] = 5;
  return l;
}

// What a stream of tokens decodes to after a block that left `history`.
std::string Reference(const std::string& history, const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    if (t.dist == 0) {
      if (t.literal_or_length < 256) out += static_cast<char>(t.literal_or_length);
      continue;
    }
    for (int k = 0; k < t.literal_or_length; ++k) {
      const long src = static_cast<long>(out.size()) - t.dist;
      out += src >= 0 ? out[src] : history[history.size() + src];
    }
  }
  return out;
}

class MszipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    uint32_t in_size = 0;
    ASSERT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &in_size, &handle_), kCodecOk);
    EXPECT_EQ(in_size, 32768u + 12);
    out_.assign(32768, 0);
  }
  void TearDown() override {
    EXPECT_EQ(kMszipCodec.destroy(handle_), kCodecOk);
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
  // Decodes one block into out_; returns the codec's answer.
  BlockCodecError Decode(const std::string& block, uint32_t ask = 32768) {
    produced_ = ask;
    return kMszipCodec.decompress(handle_, reinterpret_cast<const uint8_t*>(block.data()),
                                  static_cast<uint32_t>(block.size()), out_.data(), &produced_);
  }
  std::string Output() const { return std::string(reinterpret_cast<const char*>(out_.data()), produced_); }
  MszipStatus Status() const { return MszipLastStatus(handle_); }

  void* handle_ = nullptr;
  std::vector<uint8_t> out_;
  uint32_t produced_ = 0;
};

TEST_F(MszipTest, EmptyStoredBlockGivesNothing) {
  BitWriter w;
  StoredBlock(w, true, "");
  EXPECT_EQ(Decode(w.Finish()), kCodecOk);
  EXPECT_EQ(produced_, 0u);
  EXPECT_EQ(Status(), MszipStatus::kDone);
}

TEST_F(MszipTest, BlockMustStartWithCK) {
  BitWriter w;
  StoredBlock(w, true, "abc");
  std::string block = w.Finish();
  block[1] = 'k';
  EXPECT_EQ(Decode(block), kCodecFailed);
  EXPECT_EQ(Decode("C"), kCodecFailed);
  EXPECT_EQ(Status(), MszipStatus::kCorrupt);
}

TEST_F(MszipTest, StoredFixedAndDynamicBlocksInOneStream) {
  BitWriter w;
  StoredBlock(w, false, "stored ");
  FixedBlock(w, false, {Lit('f'), Lit('i'), Lit('x'), Match(4, 3), kEnd});
  Dynamic d;
  d.lit = CompleteLiteralLengths();
  d.dist.assign(30, 0);
  for (int i = 0; i < 16; ++i) d.dist[i] = 4;  // complete: 16 codes of 4 bits
  FixedBlock(w, false, {kEnd});
  DynamicBlock(w, true, d, {Lit('d'), Lit('y'), Match(3, 2), Lit('!'), kEnd});
  ASSERT_EQ(Decode(w.Finish()), kCodecOk) << static_cast<int>(Status());
  EXPECT_EQ(Output(), "stored fixfixfdydyd!");
}

TEST_F(MszipTest, OutputIsCutAt32768AndTheRestIgnored) {
  BitWriter w;
  std::vector<Token> t = {Lit('a')};
  for (int i = 0; i < 200; ++i) t.push_back(Match(258, 1));  // 51601 bytes
  t.push_back(Lit(0x100 - 1));
  FixedBlock(w, false, t);
  w.Bits(3, 3);  // an invalid block header after the cut: never read
  const std::string block = w.Finish();
  ASSERT_EQ(Decode(block), kCodecOk);
  EXPECT_EQ(produced_, 32768u);
  EXPECT_EQ(Status(), MszipStatus::kOutputFull);
  EXPECT_EQ(Output(), std::string(32768, 'a'));
  // A smaller request is cut the same way, even inside a match.
  ASSERT_EQ(Decode(block, 1000), kCodecOk);
  EXPECT_EQ(produced_, 1000u);
}

TEST_F(MszipTest, MatchCutByTheLimitWritesNothingBeyondIt) {
  // The output buffer is exactly 32768 bytes: a match cut to 1 or 2 bytes at
  // its end must not write past it (the sanitizer build checks).
  for (int room : {1, 2, 3, 5}) {
    SCOPED_TRACE(room);
    BitWriter w;
    StoredBlock(w, false, std::string(32768 - room, 'p'));
    FixedBlock(w, true, {Match(room == 5 ? 7 : 3, 10), Lit('q'), kEnd});
    ASSERT_EQ(Decode(w.Finish()), kCodecOk);
    EXPECT_EQ(produced_, 32768u);
    EXPECT_EQ(Output(), std::string(32768, 'p'));
  }
}

TEST_F(MszipTest, MatchesReachIntoThePreviousBlock) {
  const std::string first = Payload(32768, 21);
  BitWriter w1;
  StoredBlock(w1, true, first);
  ASSERT_EQ(Decode(w1.Finish()), kCodecOk);
  ASSERT_EQ(produced_, 32768u);
  // Distance 32768 from the first byte copies the first byte of the previous
  // block; later matches mix the previous block and this one.
  const std::vector<Token> tokens = {Match(5, 32768), Match(4, 2), Lit('z'), Match(10, 4),
                                     Match(258, 32768), kEnd};
  BitWriter w2;
  FixedBlock(w2, true, tokens);
  ASSERT_EQ(Decode(w2.Finish()), kCodecOk);
  EXPECT_EQ(Output().substr(0, 5), first.substr(0, 5));
  EXPECT_EQ(Output(), Reference(first, tokens));

  // Distances before the start of the buffer, wrapping: 3 bytes at distance
  // 2 taken from positions 32766, 32767, then the block's own first byte.
  ASSERT_EQ(Decode(w1.Finish()), kCodecOk);
  BitWriter w3;
  FixedBlock(w3, true, {Match(3, 2), kEnd});
  ASSERT_EQ(Decode(w3.Finish()), kCodecOk);
  EXPECT_EQ(Output(), (std::string{first[32766], first[32767], first[32766]}));
}

TEST_F(MszipTest, MatchBeforeTheFoldersFirstByteFails) {
  BitWriter w;
  FixedBlock(w, true, {Lit('x'), Match(3, 2), kEnd});
  EXPECT_EQ(Decode(w.Finish()), kCodecFailed);
  EXPECT_EQ(Status(), MszipStatus::kCorrupt);

  // After a short block only the bytes it wrote count as history.
  EXPECT_EQ(kMszipCodec.reset(handle_), kCodecOk);
  BitWriter shorter;
  StoredBlock(shorter, true, std::string(100, 's'));
  ASSERT_EQ(Decode(shorter.Finish()), kCodecOk);
  BitWriter reach;
  FixedBlock(reach, true, {Match(3, 200), kEnd});
  EXPECT_EQ(Decode(reach.Finish()), kCodecFailed);

  // Reset forgets the history.
  BitWriter full;
  StoredBlock(full, true, std::string(32768, 'f'));
  ASSERT_EQ(Decode(full.Finish()), kCodecOk);
  BitWriter near;
  FixedBlock(near, true, {Match(3, 1), kEnd});
  ASSERT_EQ(Decode(near.Finish()), kCodecOk);
  EXPECT_EQ(Output(), "fff");
  EXPECT_EQ(kMszipCodec.reset(handle_), kCodecOk);
  EXPECT_EQ(Decode(near.Finish()), kCodecFailed);
}

struct TableCase {
  const char* what;
  std::function<void(Dynamic&)> change;
  std::vector<Token> tokens;
  bool ok;
};

TEST_F(MszipTest, DynamicTableRules) {
  const std::vector<Token> text = {Lit('a'), Lit('b'), Match(3, 2), kEnd};
  const std::vector<TableCase> cases = {
      {"HLIT 286, HDIST 30", [](Dynamic&) {}, text, true},
      {"HLIT 287",
       [](Dynamic& d) {
         d.lit.push_back(0);
       },
       text, false},
      {"HDIST 31", [](Dynamic& d) { d.dist.push_back(0); }, text, false},
      {"single distance code of length 1",
       [](Dynamic& d) {
         d.dist.assign(30, 0);
         d.dist[1] = 1;  // distance 2
       },
       text, true},
      {"no distance code, no match", [](Dynamic& d) { d.dist.assign(30, 0); }, {Lit('a'), kEnd}, true},
      {"no distance code, a match", [](Dynamic& d) { d.dist.assign(30, 0); }, text, false},
      {"over-subscribed literal code", [](Dynamic& d) { d.lit[300 - 300 + 65] = 1; }, text, false},
      {"incomplete literal code", [](Dynamic& d) { d.lit[200] = 10; }, text, false},
      {"over-subscribed distance code", [](Dynamic& d) { d.dist[20] = 3; }, text, false},
      {"incomplete distance code", [](Dynamic& d) { d.dist[0] = 5; }, text, false},
      {"empty literal code",
       [](Dynamic& d) { d.lit.assign(286, 0); }, {}, false},
  };
  for (const TableCase& tc : cases) {
    SCOPED_TRACE(tc.what);
    Dynamic d;
    d.lit = CompleteLiteralLengths();
    d.dist.assign(30, 0);
    for (int i = 0; i < 16; ++i) d.dist[i] = 4;
    tc.change(d);
    BitWriter w;
    // An empty literal code cannot encode anything: write the header only.
    if (tc.tokens.empty()) {
      DynamicBlock(w, true, d, {});
    } else {
      DynamicBlock(w, true, d, tc.tokens);
    }
    EXPECT_EQ(Decode(w.Finish()) == kCodecOk, tc.ok);
    if (tc.ok && tc.tokens.size() == 4) {
      EXPECT_EQ(Output(), "ababa");
    }
  }
}

TEST_F(MszipTest, CodeLengthRepeats) {
  // Code-length code: 0 and 9 two bits, 4, 16, 17, 18 three bits (complete).
  Dynamic d;
  d.cl_lengths.assign(19, 0);
  d.cl_lengths[0] = d.cl_lengths[9] = 2;
  d.cl_lengths[4] = d.cl_lengths[16] = d.cl_lengths[17] = d.cl_lengths[18] = 3;
  // Literal lengths: 0..2 absent, 3..255 nine bits, 256..263 four bits,
  // 264..266 nine bits (complete); 30 distance lengths of 0 (no matches).
  d.lit.assign(286, 0);
  for (int i = 3; i < 256; ++i) d.lit[i] = 9;
  for (int i = 256; i < 264; ++i) d.lit[i] = 4;
  for (int i = 264; i < 267; ++i) d.lit[i] = 9;
  d.dist.assign(30, 0);
  d.raw_lengths = {{16, 0}};  // at the very start: repeats a length of 0, 3 times
  d.raw_lengths.push_back({9, 0});
  for (int i = 0; i < 42; ++i) d.raw_lengths.push_back({16, 3});  // 252 more nines
  d.raw_lengths.push_back({4, 0});
  d.raw_lengths.push_back({16, 3});  // 6 more fours
  d.raw_lengths.push_back({4, 0});
  for (int i = 0; i < 3; ++i) d.raw_lengths.push_back({9, 0});
  d.raw_lengths.push_back({18, 19 - 11});  // 267..285
  d.raw_lengths.push_back({17, 10 - 3});   // 10 distance zeros
  d.raw_lengths.push_back({18, 20 - 11});  // 20 more: 30 in all
  BitWriter w;
  DynamicBlock(w, true, d, {Lit('r'), Lit('e'), Lit('p'), kEnd});
  ASSERT_EQ(Decode(w.Finish()), kCodecOk) << static_cast<int>(Status());
  EXPECT_EQ(Output(), "rep");

  // A repeat that runs past HLIT + HDIST lengths fails.
  Dynamic over = d;
  over.raw_lengths.back() = {18, 21 - 11};
  BitWriter w2;
  DynamicBlock(w2, true, over, {});
  EXPECT_EQ(Decode(w2.Finish()), kCodecFailed);
}

TEST_F(MszipTest, LongCodesUseSecondLevelTables) {
  // Literal/length code with lengths 1..15 and two of 15: complete.
  Dynamic d;
  d.lit.assign(286, 0);
  const int syms[] = {'e', 't', 'a', 'o', 'i', 'n', 's', 'h', 'r', 'd', 'l', 'u', 'c', 'm', 256, 257 + 2};
  for (int i = 0; i < 15; ++i) d.lit[syms[i]] = i + 1;
  d.lit[syms[15]] = 15;
  d.dist.assign(30, 0);
  for (int i = 0; i < 15; ++i) d.dist[i] = i + 1;
  d.dist[15] = 15;
  std::vector<Token> t;
  std::string expect;
  for (int i = 0; i < 14; ++i) {
    t.push_back(Lit(syms[i]));
    expect += static_cast<char>(syms[i]);
  }
  // length 5 (symbol 259) at distances 1 and 129 (symbol 14, 6 extra bits; code length 15)
  t.push_back(Match(5, 1));
  for (int i = 0; i < 5; ++i) expect += expect.back();
  for (int i = 0; i < 120; ++i) {
    t.push_back(Lit('m'));
    expect += 'm';
  }
  t.push_back(Match(5, 129));
  for (int i = 0; i < 5; ++i) expect += expect[expect.size() - 129];
  t.push_back(kEnd);
  BitWriter w;
  DynamicBlock(w, true, d, t);
  ASSERT_EQ(Decode(w.Finish()), kCodecOk) << static_cast<int>(Status());
  EXPECT_EQ(Output(), expect);
}

TEST_F(MszipTest, StreamErrors) {
  struct Case {
    const char* what;
    std::function<void(BitWriter&)> write;
    MszipStatus status;
  };
  const std::vector<Case> cases = {
      {"block type 3", [](BitWriter& w) { w.Bits(1, 1); w.Bits(3, 2); }, MszipStatus::kCorrupt},
      {"NLEN not the complement",
       [](BitWriter& w) {
         w.Bits(1, 1);
         w.Bits(0, 2);
         w.AlignToByte();
         w.Bits(4, 16);
         w.Bits(4, 16);
         for (int i = 0; i < 4; ++i) w.Byte('x');
       },
       MszipStatus::kCorrupt},
      {"LEN past the end of the block",
       [](BitWriter& w) {
         w.Bits(1, 1);
         w.Bits(0, 2);
         w.AlignToByte();
         w.Bits(10, 16);
         w.Bits(~10u, 16);
         w.Byte('x');
       },
       MszipStatus::kTruncated},
      {"fixed distance code 30", [](BitWriter& w) {
         w.Bits(1, 1);
         w.Bits(1, 2);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 257);
         w.Code(30, 5);
       }, MszipStatus::kCorrupt},
      {"fixed literal/length code 286", [](BitWriter& w) {
         w.Bits(1, 1);
         w.Bits(1, 2);
         FixedSymbol(w, 286);
       }, MszipStatus::kCorrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BitWriter w;
    c.write(w);
    EXPECT_EQ(Decode(w.Finish()), kCodecFailed);
    EXPECT_EQ(Status(), c.status);
  }
}

TEST_F(MszipTest, StreamThatStopsShortProducesLess) {
  // A fixed block cut after three literals: past the end the reader sees
  // zero bits, which in the fixed code is the end-of-block code.
  BitWriter w;
  FixedBlock(w, true, {Lit('a'), Lit('b'), Lit('c')});
  ASSERT_EQ(Decode(w.Finish()), kCodecOk);
  EXPECT_EQ(Output(), "abc");
}

TEST_F(MszipTest, CodecInterface) {
  uint32_t in_size = 0;
  EXPECT_EQ(kMszipCodec.create(100, nullptr, TestAlloc(), TestFree(), &in_size, nullptr), kCodecOk);
  EXPECT_EQ(in_size, 112u);
  EXPECT_EQ(kMszipCodec.create(40000, nullptr, TestAlloc(), TestFree(), &in_size, nullptr), kCodecOk);
  EXPECT_EQ(in_size, 32780u);
  // Input larger than the handle's maximum + 12.
  std::string big(32781, 'x');
  EXPECT_EQ(Decode(big), kCodecBufferOverflow);
  // Foreign or null handles.
  uint32_t size = 10;
  int not_a_handle[8] = {};
  EXPECT_EQ(kMszipCodec.decompress(not_a_handle, out_.data(), 1, out_.data(), &size), kCodecBadHandle);
  EXPECT_EQ(kMszipCodec.reset(nullptr), kCodecBadHandle);
  EXPECT_EQ(kMszipCodec.destroy(not_a_handle), kCodecBadHandle);
  // A small handle limits its output.
  void* small = nullptr;
  ASSERT_EQ(kMszipCodec.create(100, nullptr, TestAlloc(), TestFree(), &in_size, &small), kCodecOk);
  BitWriter w;
  StoredBlock(w, true, std::string(90, 'q'));
  const std::string block = w.Finish();
  uint32_t produced = 32768;
  EXPECT_EQ(kMszipCodec.decompress(small, reinterpret_cast<const uint8_t*>(block.data()),
                                   static_cast<uint32_t>(block.size()), out_.data(), &produced),
            kCodecOk);
  EXPECT_EQ(produced, 90u);
  BitWriter w2;
  StoredBlock(w2, true, std::string(105, 'q'));  // 112 bytes of input: output cut at 100
  const std::string block2 = w2.Finish();
  produced = 32768;
  EXPECT_EQ(kMszipCodec.decompress(small, reinterpret_cast<const uint8_t*>(block2.data()),
                                   static_cast<uint32_t>(block2.size()), out_.data(), &produced),
            kCodecOk);
  EXPECT_EQ(produced, 100u);
  produced = 32768;
  EXPECT_EQ(kMszipCodec.decompress(small, reinterpret_cast<const uint8_t*>(block2.data()),
                                   static_cast<uint32_t>(block2.size()) + 1, out_.data(), &produced),
            kCodecBufferOverflow);
  EXPECT_EQ(kMszipCodec.destroy(small), kCodecOk);
  // Out of memory at either allocation.
  for (int fail = 0; fail < 2; ++fail) {
    Harness::Get().fail_allocation = static_cast<int>(Harness::Get().allocations) + fail;
    void* h = nullptr;
    EXPECT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &in_size, &h), kCodecOutOfMemory);
    EXPECT_EQ(h, nullptr);
    Harness::Get().fail_allocation = -1;
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
