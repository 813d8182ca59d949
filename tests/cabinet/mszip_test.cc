// MSZIP block decoder on deflate streams written bit by bit: block types,
// the 32768-byte output limit, history into the previous block, and the
// rules for dynamic tables.
#include "cabinet/mszip.h"

#include <gtest/gtest.h>

#include "cab_builder.h"
#include "fdi_harness.h"

namespace kestrin::cab::testing {
namespace {

// Deflate fields least significant bit first, Huffman codes most
// significant bit first (RFC 1951 3.1.1), after the "CK" signature.
class BitWriter {
 public:
  void Bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void Align() {
    while (nbits_ != 0) Bit(0);
  }
  std::string Finish() {
    Align();
    return bytes_;
  }

 private:
  void Bit(uint32_t b) {
    if (nbits_ == 0) bytes_ += '\0';
    bytes_.back() = static_cast<char>(bytes_.back() | b << nbits_);
    nbits_ = (nbits_ + 1) & 7;
  }
  std::string bytes_ = "CK";
  int nbits_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951 3.2.2).
std::vector<uint32_t> Codes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {}, code = 0;
  for (int bits = 1; bits < 16; ++bits) next[bits] = code = (code + count[bits - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) codes[i] = lengths[i] ? next[lengths[i]]++ : 0;
  return codes;
}

struct Coded {
  int symbol, extra_bits;
  uint32_t extra;
};
Coded LengthSymbol(int length) {
  static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  int i = 28;
  while (length < base[i]) --i;
  return {257 + i, i == 28 || i < 8 ? 0 : (i - 4) / 4, static_cast<uint32_t>(length - base[i])};
}
Coded DistanceSymbol(int dist) {
  int i = 29, base = 0;
  for (; i >= 0; --i) {
    base = i < 4 ? i + 1 : ((2 + (i & 1)) << (i / 2 - 1)) + 1;
    if (dist >= base) break;
  }
  return {i, i < 4 ? 0 : i / 2 - 1, static_cast<uint32_t>(dist - base)};
}

// A literal, the end code (256), or a match when dist > 0.
struct Token {
  int value, dist = 0;
};
Token Lit(int c) { return {c}; }
Token Match(int len, int dist) { return {len, dist}; }
const Token kEnd{256};

void FixedSymbol(BitWriter& w, int sym) {  // RFC 1951 3.2.6
  if (sym < 144)
    w.Code(0x30 + sym, 8);
  else if (sym < 256)
    w.Code(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.Code(sym - 256, 7);
  else
    w.Code(0xC0 + sym - 280, 8);
}
// Writes tokens with a literal/length and a distance coder.
template <typename Lit, typename Dist>
void Tokens(BitWriter& w, const std::vector<Token>& tokens, Lit lit, Dist dist) {
  for (const Token& t : tokens) {
    if (t.dist == 0) {
      lit(t.value);
      continue;
    }
    const Coded l = LengthSymbol(t.value), d = DistanceSymbol(t.dist);
    lit(l.symbol);
    w.Bits(l.extra, l.extra_bits);
    dist(d.symbol);
    w.Bits(d.extra, d.extra_bits);
  }
}
void FixedBlock(BitWriter& w, bool final, const std::vector<Token>& tokens) {
  w.Bits(final, 1);  // BFINAL
  w.Bits(1, 2);      // BTYPE: fixed Huffman
  Tokens(
      w, tokens, [&](int s) { FixedSymbol(w, s); }, [&](int s) { w.Code(s, 5); });
}
void StoredBlock(BitWriter& w, bool final, const std::string& data, int nlen_xor = 0xFFFF) {
  w.Bits(final, 1);  // BFINAL
  w.Bits(0, 2);      // BTYPE: stored
  w.Align();
  w.Bits(static_cast<uint32_t>(data.size()), 16);             // LEN
  w.Bits(static_cast<uint32_t>(data.size() ^ nlen_xor), 16);  // NLEN
  for (unsigned char c : data) w.Bits(c, 8);
}

// Dynamic block. The lengths go through a code-length code that gives
// symbols 0..15 4 bits each, unless cl_lengths and raw_lengths (code-length
// symbols with their extra bits) are given.
struct Dynamic {
  std::vector<int> lit = CompleteLiteralLengths(), dist = std::vector<int>(30, 0);
  std::vector<int> cl_lengths;
  std::vector<std::pair<int, int>> raw_lengths;
  Dynamic() {
    for (int i = 0; i < 16; ++i) dist[i] = 4;
  }
  // HLIT 286: literals 9 bits, 256 and 257 5 bits, 258..285 6 bits (complete).
  static std::vector<int> CompleteLiteralLengths() {
    std::vector<int> l(286, 6);
    for (int i = 0; i < 256; ++i) l[i] = 9;
    l[256] = l[257] = 5;
    return l;
  }
};
void DynamicBlock(BitWriter& w, const Dynamic& d, const std::vector<Token>& tokens) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Bits(1, 1);                                          // BFINAL
  w.Bits(2, 2);                                          // BTYPE: dynamic
  w.Bits(static_cast<uint32_t>(d.lit.size() - 257), 5);  // HLIT
  w.Bits(static_cast<uint32_t>(d.dist.size() - 1), 5);   // HDIST
  w.Bits(19 - 4, 4);                                     // HCLEN: all 19
  std::vector<int> cl = d.cl_lengths;
  if (cl.empty()) {
    cl.assign(19, 0);
    for (int i = 0; i < 16; ++i) cl[i] = 4;
  }
  for (int i = 0; i < 19; ++i) w.Bits(cl[order[i]], 3);
  const std::vector<uint32_t> cl_codes = Codes(cl);
  std::vector<std::pair<int, int>> raw = d.raw_lengths;
  if (raw.empty()) {
    for (int l : d.lit) raw.push_back({l, 0});
    for (int l : d.dist) raw.push_back({l, 0});
  }
  for (auto [sym, extra] : raw) {
    w.Code(cl_codes[sym], cl[sym]);
    if (sym >= 16) w.Bits(extra, sym == 16 ? 2 : sym == 17 ? 3 : 7);
  }
  const std::vector<uint32_t> lit_codes = Codes(d.lit), dist_codes = Codes(d.dist);
  Tokens(
      w, tokens, [&](int s) { w.Code(lit_codes[s], d.lit[s]); },
      [&](int s) { w.Code(dist_codes[s], d.dist[s]); });
}

// What tokens decode to after a block that left `history`.
std::string Reference(const std::string& history, const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    if (t.dist == 0 && t.value < 256) out += static_cast<char>(t.value);
    for (int k = 0; t.dist && k < t.value; ++k) {
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
    ASSERT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &in_size, &handle_),
              kCodecOk);
  }
  void TearDown() override {
    EXPECT_EQ(kMszipCodec.destroy(handle_), kCodecOk);
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
  // Decodes one block into the same output buffer of exactly 32768 bytes
  // (the decoder keeps its history there).
  int Decode(const std::string& block, uint32_t ask = 32768) {
    produced_ = ask;
    return kMszipCodec.decompress(handle_, reinterpret_cast<const uint8_t*>(block.data()),
                                  static_cast<uint32_t>(block.size()), out_.data(), &produced_);
  }
  std::string Output() const {
    return std::string(reinterpret_cast<const char*>(out_.data()), produced_);
  }

  void* handle_ = nullptr;
  std::vector<uint8_t> out_ = std::vector<uint8_t>(32768);
  uint32_t produced_ = 0;
};

TEST_F(MszipTest, Streams) {
  struct Case {
    const char* what;
    std::function<void(BitWriter&)> write;
    int rc;
    MszipStatus status;
    std::string output = "";
  };
  std::vector<Case> cases = {
      {"empty stored block", [](BitWriter& w) { StoredBlock(w, true, ""); }, kCodecOk,
       MszipStatus::kDone, ""},
      {"stored, fixed, empty fixed and dynamic blocks",
       [](BitWriter& w) {
         StoredBlock(w, false, "stored ");
         FixedBlock(w, false, {Lit('f'), Lit('i'), Lit('x'), Match(4, 3), kEnd});
         FixedBlock(w, false, {kEnd});
         DynamicBlock(w, Dynamic(), {Lit('d'), Lit('y'), Match(3, 2), Lit('!'), kEnd});
       },
       kCodecOk, MszipStatus::kDone, "stored fixfixfdydyd!"},
      {"output cut at 32768, the rest never read",
       [](BitWriter& w) {
         std::vector<Token> t = {Lit('a')};
         for (int i = 0; i < 200; ++i) t.push_back(Match(258, 1));  // 51601 bytes
         FixedBlock(w, false, t);
         w.Bits(7, 3);  // an invalid block header after the cut
       },
       kCodecOk, MszipStatus::kOutputFull, std::string(32768, 'a')},
      {"stream that stops short (zero bits read as the end code)",
       [](BitWriter& w) {
         FixedBlock(w, true, {Lit('a'), Lit('b'), Lit('c')});
       },
       kCodecOk, MszipStatus::kDone, "abc"},
      {"block type 3", [](BitWriter& w) { w.Bits(7, 3); }, kCodecFailed, MszipStatus::kCorrupt},
      {"NLEN not the complement", [](BitWriter& w) { StoredBlock(w, true, "xxxx", 0); },
       kCodecFailed, MszipStatus::kCorrupt},
      {"LEN past the end of the block",
       [](BitWriter& w) {
         w.Bits(1, 3), w.Align(), w.Bits(10, 16), w.Bits(~10u, 16), w.Bits('x', 8);
       },
       kCodecFailed, MszipStatus::kTruncated},
      {"fixed distance code 30",
       [](BitWriter& w) { w.Bits(3, 3), FixedSymbol(w, 'a'), FixedSymbol(w, 257), w.Code(30, 5); },
       kCodecFailed, MszipStatus::kCorrupt},
      {"fixed literal/length code 286", [](BitWriter& w) { w.Bits(3, 3), FixedSymbol(w, 286); },
       kCodecFailed, MszipStatus::kCorrupt},
  };
  // The output buffer is exactly 32768 bytes: a match cut to 1..5 bytes at
  // its end writes nothing beyond it (the sanitizer build checks).
  for (int room : {1, 2, 3, 5}) {
    cases.push_back({"match cut at the buffer end",
                     [room](BitWriter& w) {
                       StoredBlock(w, false, std::string(32768 - room, 'p'));
                       FixedBlock(w, true, {Match(room == 5 ? 7 : 3, 10), Lit('q'), kEnd});
                     },
                     kCodecOk, MszipStatus::kOutputFull, std::string(32768, 'p')});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BitWriter w;
    c.write(w);
    kMszipCodec.reset(handle_);
    ASSERT_EQ(Decode(w.Finish()), c.rc);
    EXPECT_EQ(MszipLastStatus(handle_), c.status);
    if (c.rc == kCodecOk) {
      EXPECT_EQ(Output(), c.output);
    }
  }
  std::string no_ck = "Ck\x01";
  EXPECT_EQ(Decode(no_ck), kCodecFailed);
  EXPECT_EQ(Decode("C"), kCodecFailed);
  // A smaller request is cut the same way, even inside a match.
  BitWriter w;
  FixedBlock(w, true, {Lit('a'), Match(258, 1), Match(258, 1), Match(258, 1), Match(258, 1), kEnd});
  ASSERT_EQ(Decode(w.Finish(), 1000), kCodecOk);
  EXPECT_EQ(Output(), std::string(1000, 'a'));
}

TEST_F(MszipTest, MatchesReachIntoThePreviousBlockOnly) {
  const std::string first = Payload(32768, 21);
  BitWriter w1;
  StoredBlock(w1, true, first);
  const std::string full = w1.Finish();
  ASSERT_EQ(Decode(full), kCodecOk);
  // Distance 32768 from the first byte copies the previous block's first
  // byte; later matches mix the previous block and this one.
  const std::vector<Token> tokens = {Match(5, 32768), Match(4, 2),       Lit('z'),
                                     Match(10, 4),    Match(258, 32768), kEnd};
  BitWriter w2;
  FixedBlock(w2, true, tokens);
  ASSERT_EQ(Decode(w2.Finish()), kCodecOk);
  EXPECT_EQ(Output().substr(0, 5), first.substr(0, 5));
  EXPECT_EQ(Output(), Reference(first, tokens));

  BitWriter near;  // 3 bytes at distance 1: the previous block's last byte
  FixedBlock(near, true, {Match(3, 1), kEnd});
  const std::string near_block = near.Finish();
  ASSERT_EQ(Decode(full), kCodecOk);
  ASSERT_EQ(Decode(near_block), kCodecOk);
  EXPECT_EQ(Output(), std::string(3, first.back()));
  kMszipCodec.reset(handle_);  // reset forgets the history
  EXPECT_EQ(Decode(near_block), kCodecFailed);
  EXPECT_EQ(MszipLastStatus(handle_), MszipStatus::kCorrupt);

  BitWriter before;  // a match before the folder's first byte
  FixedBlock(before, true, {Lit('x'), Match(3, 2), kEnd});
  kMszipCodec.reset(handle_);
  EXPECT_EQ(Decode(before.Finish()), kCodecFailed);
  // After a short block only the bytes it wrote count as history.
  kMszipCodec.reset(handle_);
  BitWriter shorter, reach;
  StoredBlock(shorter, true, std::string(100, 's'));
  ASSERT_EQ(Decode(shorter.Finish()), kCodecOk);
  FixedBlock(reach, true, {Match(3, 101), kEnd});
  EXPECT_EQ(Decode(reach.Finish()), kCodecFailed);
}

TEST_F(MszipTest, DynamicTableRules) {
  struct Case {
    const char* what;
    std::function<void(Dynamic&)> change;
    bool ok;
    std::vector<Token> tokens = {Lit('a'), Lit('b'), Match(3, 2), kEnd};
  };
  const std::vector<Case> cases = {
      {"HLIT 286, HDIST 30", [](Dynamic&) {}, true},
      {"HLIT 287", [](Dynamic& d) { d.lit.push_back(0); }, false},
      {"HDIST 31", [](Dynamic& d) { d.dist.push_back(0); }, false},
      {"single distance code of length 1", [](Dynamic& d) { d.dist.assign(30, 0), d.dist[1] = 1; },
       true},
      {"no distance code, no match",
       [](Dynamic& d) { d.dist.assign(30, 0); },
       true,
       {Lit('a'), kEnd}},
      {"no distance code, a match", [](Dynamic& d) { d.dist.assign(30, 0); }, false},
      {"over-subscribed literal code", [](Dynamic& d) { d.lit[65] = 1; }, false},
      {"incomplete literal code", [](Dynamic& d) { d.lit[200] = 10; }, false},
      {"over-subscribed distance code", [](Dynamic& d) { d.dist[20] = 3; }, false},
      {"incomplete distance code", [](Dynamic& d) { d.dist[0] = 5; }, false},
      {"empty literal code", [](Dynamic& d) { d.lit.assign(286, 0); }, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dynamic d;
    c.change(d);
    BitWriter w;
    DynamicBlock(w, d, c.tokens);
    kMszipCodec.reset(handle_);
    EXPECT_EQ(Decode(w.Finish()) == kCodecOk, c.ok);
    if (c.ok) {
      EXPECT_EQ(Output(), Reference("", c.tokens));
    }
  }
}

TEST_F(MszipTest, CodeLengthRepeatsAndLongCodes) {
  // Code-length code: 0 and 9 two bits, 4, 16, 17, 18 three bits (complete).
  // Literals 0..2 absent, 3..255 nine bits, 256..263 four, 264..266 nine;
  // no distance codes.
  Dynamic d;
  d.cl_lengths.assign(19, 0);
  d.cl_lengths[0] = d.cl_lengths[9] = 2;
  d.cl_lengths[4] = d.cl_lengths[16] = d.cl_lengths[17] = d.cl_lengths[18] = 3;
  d.lit.assign(286, 0);
  for (int i = 3; i < 267; ++i) d.lit[i] = i >= 256 && i < 264 ? 4 : 9;
  d.dist.assign(30, 0);
  d.raw_lengths = {{16, 0}, {9, 0}};  // at the very start: repeats a length of 0, 3 times
  for (int i = 0; i < 42; ++i) d.raw_lengths.push_back({16, 3});  // 252 more nines
  d.raw_lengths.insert(d.raw_lengths.end(), {{4, 0},
                                             {16, 3},
                                             {4, 0},
                                             {9, 0},
                                             {9, 0},
                                             {9, 0},
                                             {18, 19 - 11},
                                             {17, 10 - 3},
                                             {18, 20 - 11}});  // 19 + 10 + 20 zeros
  BitWriter w;
  DynamicBlock(w, d, {Lit('r'), Lit('e'), Lit('p'), kEnd});
  ASSERT_EQ(Decode(w.Finish()), kCodecOk) << static_cast<int>(MszipLastStatus(handle_));
  EXPECT_EQ(Output(), "rep");
  d.raw_lengths.back() = {18, 21 - 11};  // a repeat past HLIT + HDIST lengths
  BitWriter w2;
  DynamicBlock(w2, d, {});
  EXPECT_EQ(Decode(w2.Finish()), kCodecFailed);

  // Codes of lengths 1..15 (two of 15) in both trees: second-level tables.
  Dynamic l;
  l.lit.assign(286, 0);
  const int syms[] = {'e', 't', 'a', 'o', 'i', 'n', 's', 'h',
                      'r', 'd', 'l', 'u', 'c', 'm', 256, 259};
  for (int i = 0; i < 16; ++i) l.lit[syms[i]] = std::min(i + 1, 15);
  for (int i = 0; i < 16; ++i) l.dist[i] = std::min(i + 1, 15);
  std::vector<Token> t;
  for (int i = 0; i < 14; ++i) t.push_back(Lit(syms[i]));
  t.push_back(Match(5, 1));
  for (int i = 0; i < 120; ++i) t.push_back(Lit('m'));
  t.push_back(Match(5, 129));  // distance code 14 (length 15), 6 extra bits
  t.push_back(kEnd);
  BitWriter w3;
  DynamicBlock(w3, l, t);
  ASSERT_EQ(Decode(w3.Finish()), kCodecOk) << static_cast<int>(MszipLastStatus(handle_));
  EXPECT_EQ(Output(), Reference("", t));
}

}  // namespace
}  // namespace kestrin::cab::testing
