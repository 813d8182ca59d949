// MSZIP block decoder.
//
// Format notes
// ------------
// An MSZIP folder is a sequence of data blocks. Each block holds the two bytes
// 'C' 'K' followed by a complete deflate stream (RFC 1951): deflate blocks up
// to one whose BFINAL bit is set. A block decodes to at most 32768 bytes; every
// block of a folder but the last decodes to exactly 32768.
//
// Blocks are independent streams, except for history: a match may reach back
// before the first byte of its own block into the output of the previous block
// of the folder. The caller hands us the same 32768-byte output buffer for
// every block, so at the start of a block the buffer still holds the previous
// block's output. A match source before the start of the buffer is therefore
// taken from the buffer's end: the byte at distance d before output position p
// (p < d) is buffer[p - d + 32768]; a copy that runs off the end of the buffer
// continues at its start. Nothing else (no partial deflate block, no pending
// match, no bit position) carries over from one block to the next.
//
// A match that reaches before the first byte the folder produced is
// inconsistent data and fails, so a damaged cabinet never copies stale memory
// into a file. We track that with the high-water mark of the buffer: the
// largest number of bytes any earlier block of the folder wrote into it.
//
// Input bitstream
// ---------------
// Deflate packs fields least significant bit first; Huffman codes are packed
// starting with their most significant bit, so a code read bit by bit comes
// out reversed, and the decode tables below are indexed by reversed codes.
//
// The reader keeps up to 64 bits in `buf`, the next unread bit in bit 0;
// `count` says how many of them are valid. While at least 8 input bytes
// remain, Refill() loads a whole unaligned 64-bit word and keeps as many whole
// bytes of it as fit, leaving count in 56..63; bits above `count` are then
// either zero or the true next bits of the stream, so loading them again later
// is harmless. Within the last 7 bytes it loads byte by byte, and past the end
// of the input it supplies zero bytes (`overread` counts them): reading past
// the end is not an error by itself. A stream that stops short simply
// produces fewer bytes than its block record promises, which the container
// reader notices; a stream that fails after running out is reported as
// truncated rather than corrupt.
//
// After Refill() at least 56 bits are available, enough for a whole
// length/distance pair (15 + 5 + 15 + 13 = 48 bits), so the decode loop
// refills once per symbol.
//
// Decode tables
// -------------
// A table is indexed by the next `root` bits of the stream. An entry either
// decodes a symbol whose code has at most `root` bits (it is repeated for
// every value of the bits beyond the code), or links to a subtable that is
// indexed by the following bits for longer codes. Entry layout (32 bits):
//   bits 0..7    bits the entry consumes: the code length, plus the extra
//                bits that follow a length or distance code; for a link: root
//   bits 8..11   the code length alone (for a link: the subtable width); the
//                extra bits are the consumed bits shifted right by it
//   bits 12..14  flags: link, end of block, invalid (a literal, a length, a
//                distance and a code-length symbol have none)
//   bits 16..30  literal byte, base length, base distance, code-length
//                symbol or subtable offset
//   bit 31       literal
// One look-up thus gives the symbol's kind and value, and one shift takes its
// code and extra bits off the bit buffer.
// Roots: 11 bits for literals/lengths, 8 for distances, 7 for the code-length
// code (whose codes are at most 7 bits long).
#include "cabinet/mszip.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "cabinet/cpu_features.h"

namespace kestrin::cab {
namespace {

constexpr uint32_t kSignature = 0x505A534D;  // "MSZP"
constexpr uint32_t kHistorySize = 32768;
constexpr uint32_t kInputSlack = 12;  // input buffer is max_block + 12
// The ring of bytes saved ahead of the output position (see "Fast decoding
// loop"): two chunks.
constexpr uint32_t kSaveChunk = 4096;
constexpr uint32_t kSaveRing = 2 * kSaveChunk;

// ---------------------------------------------------------------------------
// Table entries

constexpr uint32_t kLinkFlag = 1u << 12;
constexpr uint32_t kEndFlag = 1u << 13;
constexpr uint32_t kInvalidFlag = 1u << 14;
constexpr uint32_t kSpecialFlags = kLinkFlag | kEndFlag | kInvalidFlag;
constexpr uint32_t kLiteralFlag = 1u << 31;

// A symbol's entry before its code is known: `extra` bits follow the code.
constexpr uint32_t MakeEntry(uint32_t flags, uint32_t extra, uint32_t value) {
  return extra | flags | (value << 16);
}
constexpr uint32_t EntryBits(uint32_t e) { return e & 0xFF; }
constexpr uint32_t EntryCodeBits(uint32_t e) { return (e >> 8) & 0xF; }  // for a link: subtable width
constexpr uint32_t EntryValue(uint32_t e) { return e >> 16; }            // not for literals
constexpr uint8_t EntryLiteral(uint32_t e) { return static_cast<uint8_t>(e >> 16); }
constexpr bool IsLiteral(uint32_t e) { return (e & kLiteralFlag) != 0; }
constexpr bool IsSpecial(uint32_t e) { return (e & kSpecialFlags) != 0; }

constexpr uint32_t kInvalidEntry = MakeEntry(kInvalidFlag, 0, 0);

// RFC 1951 3.2.5: lengths 257..285 and distances 0..29.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                        1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385,
                                        24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Order in which a dynamic block lists the code-length code lengths.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Per-symbol entries (without their code length) of the three alphabets. Symbols
// 286 and 287 of the literal/length alphabet and 30, 31 of the distance
// alphabet take part in the fixed code but are invalid when decoded.
struct SymbolEntries {
  uint32_t literal_length[288];
  uint32_t distance[32];
  uint32_t code_length[19];
};
constexpr SymbolEntries MakeSymbolEntries() {
  SymbolEntries s{};
  for (uint32_t i = 0; i < 256; ++i) s.literal_length[i] = MakeEntry(kLiteralFlag, 0, i);
  s.literal_length[256] = MakeEntry(kEndFlag, 0, 0);
  for (uint32_t i = 0; i < 29; ++i) s.literal_length[257 + i] = MakeEntry(0, kLengthExtra[i], kLengthBase[i]);
  s.literal_length[286] = s.literal_length[287] = kInvalidEntry;
  for (uint32_t i = 0; i < 30; ++i) s.distance[i] = MakeEntry(0, kDistanceExtra[i], kDistanceBase[i]);
  s.distance[30] = s.distance[31] = kInvalidEntry;
  for (uint32_t i = 0; i < 16; ++i) s.code_length[i] = MakeEntry(0, 0, i);
  s.code_length[16] = MakeEntry(0, 2, 16);  // repeat count 3..6
  s.code_length[17] = MakeEntry(0, 3, 17);  // 3..10 zeros
  s.code_length[18] = MakeEntry(0, 7, 18);  // 11..138 zeros
  return s;
}
constexpr SymbolEntries kSymbols = MakeSymbolEntries();

constexpr unsigned kLiteralRoot = 11;
constexpr unsigned kDistanceRoot = 8;
constexpr unsigned kCodeLengthRoot = 7;
constexpr unsigned kMaxCodeLength = 15;

// Table capacities. A subtable of width w belongs to a subtree of depth w of
// a complete code, which needs at least w + 1 codes; the worst case packs as
// many 4-bit (literal/length: 286 codes / 5 = 57) or 7-bit (distance: three
// of them use 24 of the 30 codes, one 5-bit takes the rest) subtables as the
// code can hold.
constexpr unsigned kLiteralTableSize = (1u << kLiteralRoot) + 57 * 16;
constexpr unsigned kDistanceTableSize = (1u << kDistanceRoot) + 3 * 128 + 32;
constexpr unsigned kCodeLengthTableSize = 1u << kCodeLengthRoot;

enum class BuildResult { kOk, kEmpty, kBad };

// Bytes with their bits in reverse order.
struct Reverse8 {
  uint8_t v[256];
  constexpr Reverse8() : v() {
    for (unsigned i = 0; i < 256; ++i) {
      unsigned r = 0;
      for (unsigned b = 0; b < 8; ++b) r |= ((i >> b) & 1u) << (7 - b);
      v[i] = static_cast<uint8_t>(r);
    }
  }
  constexpr unsigned operator[](unsigned i) const { return v[i]; }
};
constexpr Reverse8 kReverse8;

// Builds a decode table for the code with the given lengths (0 = unused).
// An over-subscribed code is bad; so is an incomplete one, unless its longest
// code has length 1 (a single code of length 1). All lengths 0 give kEmpty and
// a table in which every entry is invalid.
BuildResult BuildTable(const uint8_t* lengths, unsigned n, const uint32_t* symbol_entries,
                       unsigned root, uint32_t* table, unsigned capacity) {
  // Lengths counted in four parts of the symbols (the last one also takes
  // the n % 4 at the end), whose counters do not wait on each other: runs of
  // equal lengths are common, and each count would otherwise wait for the
  // one before it.
  constexpr unsigned kParts = 4;
  const unsigned part = n / kParts;
  unsigned part_count[kParts][kMaxCodeLength + 1] = {};
  for (unsigned i = 0; i < part; ++i) {
    for (unsigned p = 0; p < kParts; ++p) ++part_count[p][lengths[p * part + i]];
  }
  for (unsigned i = kParts * part; i < n; ++i) ++part_count[kParts - 1][lengths[i]];
  unsigned count[kMaxCodeLength + 1];
  for (unsigned len = 0; len <= kMaxCodeLength; ++len) {
    count[len] = part_count[0][len] + part_count[1][len] + part_count[2][len] + part_count[3][len];
  }
  count[0] = 0;
  const unsigned root_size = 1u << root;

  unsigned max_length = 0;
  int left = 1;  // code space left, in units of the current length
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int>(count[len]);
    if (left < 0) return BuildResult::kBad;  // over-subscribed
    if (count[len]) max_length = len;
  }
  // A complete code covers every entry of the root table and of each
  // subtable; only an empty code and a single code of length 1 leave gaps.
  const bool complete = left == 0;
  if (!complete) std::fill(table, table + root_size, kInvalidEntry);
  if (max_length == 0) return BuildResult::kEmpty;
  if (!complete && max_length != 1) return BuildResult::kBad;  // incomplete
  if (!complete) {
    // One code of length 1: code 0, every even entry.
    for (unsigned sym = 0; sym < n; ++sym) {
      if (lengths[sym] == 0) continue;
      const uint32_t e = symbol_entries[sym] + 1 + (1u << 8);
      for (unsigned i = 0; i < root_size; i += 2) table[i] = e;
    }
    return BuildResult::kOk;
  }

  // Canonical codes: the symbols in order of code length, then of value;
  // the codes of each length count up from the first code of that length.
  unsigned first[kMaxCodeLength + 2];
  unsigned next_code[kMaxCodeLength + 1];
  first[0] = first[1] = 0;
  unsigned code = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    first[len + 1] = first[len] + count[len];
    code = (code + count[len - 1]) << 1;
    next_code[len] = code;
  }
  // Symbols sorted by code length (0 at the end, unused), the four parts
  // placed side by side: within each length, those of the first part first.
  uint16_t sorted[288 + 288];
  {
    unsigned at[kParts][kMaxCodeLength + 1];
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      unsigned a = first[len];
      for (unsigned p = 0; p < kParts; ++p) {
        at[p][len] = a;
        a += part_count[p][len];
      }
    }
    for (unsigned p = 0; p < kParts; ++p) at[p][0] = 288 + p * part;
    for (unsigned i = 0; i < part; ++i) {
      for (unsigned p = 0; p < kParts; ++p) {
        const unsigned sym = p * part + i;
        sorted[at[p][lengths[sym]]++] = static_cast<uint16_t>(sym);
      }
    }
    for (unsigned i = kParts * part; i < n; ++i) sorted[at[kParts - 1][lengths[i]]++] = static_cast<uint16_t>(i);
  }
  const auto reverse = [](unsigned c, unsigned len) {
    return (kReverse8[c & 0xFF] << 8 | kReverse8[(c >> 8) & 0xFF]) >> (16 - len);
  };

  // Codes of at most `root` bits, shortest first, into a table that doubles
  // after each length: the entries of the codes placed so far then repeat
  // in the new half, and each new code takes the one entry (among those
  // filled so far) that no shorter code covers.
  const unsigned short_max = std::min(max_length, root);
  for (unsigned len = 1; len <= short_max; ++len) {
    unsigned c = next_code[len];
    for (unsigned k = first[len]; k < first[len + 1]; ++k, ++c) {
      table[reverse(c, len)] = symbol_entries[sorted[k]] + len + (len << 8);
    }
    if (len < root) std::memcpy(table + (1u << len), table, sizeof(uint32_t) << len);
  }
  for (unsigned len = short_max + 1; len < root; ++len) {
    std::memcpy(table + (1u << len), table, sizeof(uint32_t) << len);
  }
  if (max_length <= root) return BuildResult::kOk;

  // Longer codes. In canonical order they come grouped by their first
  // `root` bits, the group's longest code last: each group gets a subtable,
  // as wide as that code's length less the root, placed after the ones
  // before it.
  unsigned used = root_size;
  unsigned k = first[root + 1];
  unsigned len = root + 1;
  unsigned c = next_code[len];
  const unsigned end = first[max_length + 1];
  while (k < end && k == first[len + 1]) c = next_code[++len];  // lengths without codes
  while (k < end) {
    // The group of the code at k: find its last code (and so the width).
    const unsigned top = c >> (len - root);
    unsigned last_k = k, last_len = len;
    for (unsigned k2 = k, len2 = len, c2 = c; k2 < end; ++k2, ++c2) {
      while (k2 == first[len2 + 1]) c2 = next_code[++len2];
      if (c2 >> (len2 - root) != top) break;
      last_k = k2, last_len = len2;
    }
    const unsigned w = last_len - root;
    if (used + (1u << w) > capacity) return BuildResult::kBad;
    table[reverse(top, root)] = root | w << 8 | kLinkFlag | used << 16;
    uint32_t* const sub = table + used;
    for (; k <= last_k; ++k, ++c) {
      while (k == first[len + 1]) c = next_code[++len];
      const unsigned sub_len = len - root;
      const uint32_t e = symbol_entries[sorted[k]] + sub_len + (sub_len << 8);
      for (unsigned i = reverse(c, len) >> root; i < (1u << w); i += 1u << sub_len) sub[i] = e;
    }
    used += 1u << w;
    while (k < end && k == first[len + 1]) c = next_code[++len];
  }
  return BuildResult::kOk;
}

// The fixed code of RFC 1951 3.2.6, built once for the whole process.
struct FixedTables {
  uint32_t literal_length[1u << kLiteralRoot];
  uint32_t distance[1u << kDistanceRoot];
};
const FixedTables& Fixed() {
  static const FixedTables tables = [] {
    FixedTables t;
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(lengths, 288, kSymbols.literal_length, kLiteralRoot, t.literal_length,
               1u << kLiteralRoot);
    std::fill(lengths, lengths + 32, 5);
    BuildTable(lengths, 32, kSymbols.distance, kDistanceRoot, t.distance, 1u << kDistanceRoot);
    return t;
  }();
  return tables;
}

// ---------------------------------------------------------------------------
// Handle and per-handle state

struct State {
  uint32_t literal_length[kLiteralTableSize];
  uint32_t distance[kDistanceTableSize];
  uint32_t code_length[kCodeLengthTableSize];
  uint8_t lengths[286 + 30];
  uint32_t high_water;  // bytes of the output buffer written by earlier blocks of the folder
  MszipStatus last_status;
  // Bytes of the output buffer as they were before fast match copies wrote
  // past the match's end, a byte at position p at p % kSaveRing (see "Fast
  // decoding loop").
  uint8_t saved[kSaveRing];
};

struct Handle {
  uint32_t signature;
  FreeFn free;
  uint32_t max_block;
  State* state;
};

Handle* CheckHandle(void* handle) {
  auto* h = static_cast<Handle*>(handle);
  return h && h->signature == kSignature ? h : nullptr;
}

// ---------------------------------------------------------------------------
// Bit reader (see "Input bitstream" above)

struct BitReader {
  const uint8_t* next;
  const uint8_t* end;
  uint64_t buf = 0;
  unsigned count = 0;
  uint32_t overread = 0;

  static uint64_t LoadWord(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
  }
  // Makes at least 56 bits available.
  void Refill() {
    if (end - next >= 8) {
      buf |= LoadWord(next) << count;
      next += (63 - count) >> 3;
      count |= 56;
    } else {
      while (count <= 56) {
        uint64_t byte = 0;
        if (next < end) {
          byte = *next++;
        } else {
          ++overread;
        }
        buf |= byte << count;
        count += 8;
      }
    }
  }
  uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1)); }
  void Drop(unsigned n) {
    buf >>= n;
    count -= n;
  }
  uint32_t Take(unsigned n) {
    const uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  // True once a bit beyond the end of the input was consumed.
  bool PastEnd() const { return overread * 8 > count; }
  // Looks up the entry of table (root bits wide) for the next code, taking
  // off the bits of a link to a subtable but not the code's own.
  uint32_t Decode(const uint32_t* table, unsigned root) {
    uint32_t e = table[Peek(root)];
    if (e & kLinkFlag) {
      Drop(root);
      e = table[EntryValue(e) + Peek(EntryCodeBits(e))];
    }
    return e;
  }
  // Takes the bits of entry e (its code and extra bits); returns the extra bits.
  uint32_t Consume(uint32_t e) {
    const uint32_t v = Take(EntryBits(e));
    return v >> EntryCodeBits(e);
  }
};

// ---------------------------------------------------------------------------
// Inflating one block

class Inflater {
 public:
  Inflater(State& state, const uint8_t* in, size_t in_size, uint8_t* out, uint32_t limit)
      : st_(state), bits_{in, in + in_size}, out_(out), op_(out), out_end_(out + limit) {}

  MszipStatus Run();
  uint32_t Produced() const { return static_cast<uint32_t>(op_ - out_); }
  void RestoreAfterEnd();

 private:
  MszipStatus Fail() const { return bits_.PastEnd() ? MszipStatus::kTruncated : MszipStatus::kCorrupt; }
  uint32_t SavedEnd() const { return std::min(saved_end_, static_cast<uint32_t>(out_end_ - out_)); }
  MszipStatus Stored(bool& full);
  MszipStatus ReadDynamicTables();
  MszipStatus Codes(const uint32_t* literal_length, const uint32_t* distance, bool& full);

  State& st_;
  BitReader bits_;
  uint8_t* const out_;
  uint8_t* op_;
  uint8_t* const out_end_;
  // Bytes from op_ to here are kept in State::saved, those below the output
  // limit (SavedEnd()) copied there.
  uint32_t saved_end_ = 0;
};

// Deflate blocks follow one another until one with BFINAL set has ended, or
// until the output limit is reached (then the rest of the input is ignored,
// even in the middle of a block or a match).
MszipStatus Inflater::Run() {
  for (;;) {
    if (op_ == out_end_) return MszipStatus::kOutputFull;
    bits_.Refill();
    const bool final = bits_.Take(1);  // BFINAL
    const uint32_t type = bits_.Take(2);  // BTYPE: 0 stored, 1 fixed, 2 dynamic
    bool full = false;
    MszipStatus status;
    switch (type) {
      case 0:
        status = Stored(full);
        break;
      case 1:
        status = Codes(Fixed().literal_length, Fixed().distance, full);
        break;
      case 2:
        status = ReadDynamicTables();
        if (status == MszipStatus::kDone) status = Codes(st_.literal_length, st_.distance, full);
        break;
      default:  // 3 is reserved
        return Fail();
    }
    if (status != MszipStatus::kDone) return status;
    if (full) return MszipStatus::kOutputFull;
    if (final) return MszipStatus::kDone;
  }
}

// Stored block: skip to a byte boundary, LEN and NLEN (16 bits each, NLEN the
// ones' complement of LEN), then LEN raw bytes. The bytes must lie within the
// block's input; as many as the output limit allows are copied.
MszipStatus Inflater::Stored(bool& full) {
  bits_.Drop(bits_.count & 7);
  bits_.Refill();
  const uint32_t len = bits_.Take(16);
  const uint32_t nlen = bits_.Take(16);
  if (nlen != (~len & 0xFFFF)) return Fail();
  // Hand the whole bytes still in the bit buffer back to the input.
  const uint32_t buffered = bits_.count / 8;
  if (bits_.overread > buffered) return MszipStatus::kTruncated;
  bits_.next -= buffered - bits_.overread;
  bits_.buf = 0;
  bits_.count = 0;
  bits_.overread = 0;
  if (static_cast<size_t>(bits_.end - bits_.next) < len) return MszipStatus::kTruncated;
  const uint32_t n = std::min<uint32_t>(len, static_cast<uint32_t>(out_end_ - op_));
  std::memcpy(op_, bits_.next, n);
  op_ += n;
  bits_.next += n;
  full = op_ == out_end_;
  return MszipStatus::kDone;
}

// Dynamic block header: HLIT (5 bits, + 257), HDIST (5 bits, + 1), HCLEN
// (4 bits, + 4); HCLEN 3-bit lengths of the code-length code in
// kCodeLengthOrder; then HLIT + HDIST code lengths in that code, one sequence
// across both alphabets:
//   0..15  a length;
//   16     the previous length 3..6 times (2 extra bits); at the very start
//          the previous length counts as 0;
//   17     3..10 zeros (3 extra bits);
//   18     11..138 zeros (7 extra bits).
// HLIT above 286, HDIST above 30 and a repeat past the end are errors. The
// literal/length code must not be empty; an empty distance code is accepted
// (a match in such a block is then an invalid code).
MszipStatus Inflater::ReadDynamicTables() {
  bits_.Refill();
  const uint32_t hlit = bits_.Take(5) + 257;
  const uint32_t hdist = bits_.Take(5) + 1;
  const uint32_t hclen = bits_.Take(4) + 4;
  if (hlit > 286 || hdist > 30) return Fail();

  uint8_t cl_lengths[19] = {};
  bits_.Refill();  // 19 * 3 = 57 bits at most: refill half-way
  for (uint32_t i = 0; i < hclen; ++i) {
    if (i == 10) bits_.Refill();
    cl_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(bits_.Take(3));
  }
  if (BuildTable(cl_lengths, 19, kSymbols.code_length, kCodeLengthRoot, st_.code_length,
                 kCodeLengthTableSize) != BuildResult::kOk) {
    return Fail();
  }

  uint8_t* const lengths = st_.lengths;
  const uint32_t total = hlit + hdist;
  uint32_t i = 0;
  while (i < total) {
    // A code of the code-length code has at most 7 bits, and its entry
    // takes the repeat count's extra bits (at most 7) too: a refill serves
    // four of them. The root table holds every code, so there are no links.
    bits_.Refill();
    for (int k = 0; k < 4 && i < total; ++k) {
      const uint32_t e = st_.code_length[bits_.Peek(kCodeLengthRoot)];
      const uint32_t extra = bits_.Consume(e);
      if (IsSpecial(e)) return Fail();
      const uint32_t sym = EntryValue(e);
      if (sym < 16) {
        lengths[i++] = static_cast<uint8_t>(sym);
        continue;
      }
      uint8_t value = 0;
      uint32_t repeat;
      if (sym == 16) {
        value = i ? lengths[i - 1] : 0;
        repeat = 3 + extra;
      } else {
        repeat = (sym == 17 ? 3 : 11) + extra;
      }
      if (repeat > total - i) return Fail();
      std::memset(lengths + i, value, repeat);
      i += repeat;
    }
  }

  if (BuildTable(lengths, hlit, kSymbols.literal_length, kLiteralRoot, st_.literal_length,
                 kLiteralTableSize) != BuildResult::kOk) {
    return Fail();
  }
  if (BuildTable(lengths + hlit, hdist, kSymbols.distance, kDistanceRoot, st_.distance,
                 kDistanceTableSize) == BuildResult::kBad) {
    return Fail();
  }
  return MszipStatus::kDone;
}

// Copies a match of n bytes at distance dist (n is below 3 only where the
// output limit cuts the match), source wholly inside this block's output
// (dist <= bytes written). Exactly n bytes are written: the bytes after the
// match may still be history a later block refers to. A source at least 8
// back is copied in 8-byte chunks (16 where it is at least 16 back), each
// already final when it is loaded; the last chunk overlaps the one before
// instead of writing past the match. A shorter match from at least 8 back is
// two overlapping halves. A distance of 2..7 repeats its pattern: the first
// period is copied byte by byte until a whole multiple of the period is 8 or
// more bytes long, then copying continues in chunks from that far back.
inline void CopyMatch(uint8_t* op, uint32_t dist, uint32_t n) {
  const uint8_t* src = op - dist;
  if (dist >= 8) {
    if (n >= 16) {
      uint32_t i = 0;
      if (dist >= 16) {
        for (; i + 16 <= n; i += 16) std::memcpy(op + i, src + i, 16);
        if (i < n) std::memcpy(op + n - 16, src + n - 16, 16);
        return;
      }
      for (; i + 8 <= n; i += 8) std::memcpy(op + i, src + i, 8);
      if (i < n) std::memcpy(op + n - 8, src + n - 8, 8);
    } else if (n >= 8) {
      uint64_t head, tail;
      std::memcpy(&head, src, 8);
      std::memcpy(op, &head, 8);
      std::memcpy(&tail, src + n - 8, 8);  // may read what head wrote
      std::memcpy(op + n - 8, &tail, 8);
    } else if (n >= 4) {
      uint32_t head, tail;
      std::memcpy(&head, src, 4);
      std::memcpy(&tail, src + n - 4, 4);
      std::memcpy(op, &head, 4);
      std::memcpy(op + n - 4, &tail, 4);
    } else {
      for (uint32_t i = 0; i < n; ++i) op[i] = src[i];
    }
  } else if (dist == 1) {
    std::memset(op, src[0], n);
  } else {
    // dist 2..7: a period of dist bytes.
    const uint32_t step = dist * ((8 + dist - 1) / dist);  // 8..12
    uint32_t i = 0;
    const uint32_t head = std::min(n, step);
    for (; i < head; ++i) op[i] = src[i];
    const uint8_t* from = op - step;
    for (; i + 8 <= n; i += 8) std::memcpy(op + i, from + i, 8);
    for (; i < n; ++i) op[i] = from[i];
  }
}

// Copies n bytes of a match whose source lies (partly) before the start of
// this block's output, at output position pos of out: byte by byte through
// the buffer taken as a ring of 32768 bytes. The source starts at or after
// pos; below `saved_end` its bytes are read from `saved` (fast match copies
// may have written over them), from there to the end of the buffer and after
// the wrap from out itself. Returns the new position.
uint32_t CopyWrappedAt(uint8_t* out, const uint8_t* saved, uint32_t saved_end, uint32_t pos, uint32_t dist,
                       uint32_t n) {
  uint32_t src = pos + kHistorySize - dist;
  for (uint32_t k = 0; k < n; ++k, ++src) {
    if (src < saved_end) {
      out[pos++] = saved[src % kSaveRing];
    } else if (src < kHistorySize) {
      out[pos++] = out[src];
    } else {
      out[pos++] = out[src - kHistorySize];
    }
  }
  return pos;
}

// True if a match of n bytes at distance dist > pos (reaching into the
// previous block) takes only bytes earlier blocks of the folder wrote.
inline bool WrappedSourceWritten(uint32_t pos, uint32_t dist, uint32_t n, uint32_t high_water) {
  const uint32_t src = pos + kHistorySize - dist;
  return std::min(src + n, kHistorySize) <= high_water;
}

// ---------------------------------------------------------------------------
// Fast decoding loop
//
// Runs while at least kFastInput bytes of input and kFastOutput bytes of
// output room remain: then no refill can run short of input and no match
// can reach the output limit, so the loop checks neither per symbol. It
// stops at the end of the deflate block, at damaged data, or when either
// margin is used up; the checked loop of Inflater::Codes decodes the rest
// exactly as it would have decoded everything.
//
// The entry for the next code is looked up as soon as the bits for it are
// in the buffer (at least 11 valid bits), before the refill that follows, so
// that the load overlaps the refill and the output of the current symbol.
// An iteration starts with at least 56 bits in the buffer and decodes up to
// three literals (at most 33 bits); when it meets a length, it refills unless
// that is its first symbol, decodes the length (at most 15 + 5 bits), refills
// again if fewer than 28 + 11 bits are left, decodes the distance (at most
// 15 + 13 bits) and refills. Each iteration ends with a refill, and at most
// two literals and a match of 258 bytes, or three literals, are written per
// iteration. The input margin: a refill keeps at least 56 bits, so after C
// bits of an iteration the reader has moved on at most (63 - 56 + C) / 8
// bytes; the last refill comes after at most 2 * 11 + 20 + 28 = 70 bits, at
// most 9 bytes on, and loads 8 bytes from there: 17 bytes in all.
//
// Match copies here move whole 16- or 8-byte chunks and may write up to
// kOvershoot bytes past the match's end. Those bytes belong to the previous
// block until this block writes them: a match that reaches back into the
// previous block, or the next block after a short one, may still read them.
// So the bytes ahead of the output position are copied to State::saved
// before the loop may write over them: a ring of two chunks of kSaveChunk
// bytes, filled a whole chunk (aligned to its size) at a time. An iteration
// writes at most kFastOutput bytes from where it starts; the loop saves the
// chunks up to there, then runs until an iteration could write past them,
// and saves again. So the saved bytes from the output position to
// `saved_end` lie in the chunk of the output position and the next one,
// both in the ring. Matches into the previous block read those bytes there,
// and at the end of the block the ones after its last byte are put back.
constexpr uint32_t kOvershoot = 32;
constexpr ptrdiff_t kFastInput = 17;
constexpr ptrdiff_t kFastOutput = 258 + 2 + kOvershoot;

enum class FastExit { kEndOfBlock, kCorrupt, kSlow };

struct FastState {
  const uint8_t* next;
  uint64_t buf;
  unsigned count;
  uint8_t* op;
  uint32_t saved_end;
};

// What the fast loop's matches into the previous block need, kept apart
// from the loop's own variables.
struct WrapContext {
  uint8_t* out;
  const uint8_t* saved;
  uint32_t saved_end;  // below this, bytes ahead of the output position are read from `saved`
  uint32_t high_water;
};

// A match from dist back at output position pos that reaches into the
// previous block; returns the new output position, or null when the source
// was not written by earlier blocks of the folder.
[[gnu::noinline]] uint8_t* WrappedMatch(const WrapContext& wrap, uint32_t pos, uint32_t dist, uint32_t length) {
  if (!WrappedSourceWritten(pos, dist, length, wrap.high_water)) return nullptr;
  return wrap.out + CopyWrappedAt(wrap.out, wrap.saved, wrap.saved_end, pos, dist, length);
}

// Copies n bytes (n at most kSaveChunk) through the C library's memcpy.
// Inline, the compiler expands a copy of a length it knows to be at most
// kSaveChunk into a string instruction moving 8 bytes per step, which took
// twice the time of the library's vector copy here.
[[gnu::noinline]] void CopyChunk(uint8_t* to, const uint8_t* from, size_t n) { std::memcpy(to, from, n); }

// Saves the bytes of out from saved_end on, a chunk at a time, until those
// up to `need` are saved (see above); only those below `limit` are copied.
// Returns the new end of the saved bytes.
[[gnu::noinline]] uint32_t SaveAhead(const uint8_t* out, uint8_t* saved, uint32_t saved_end, uint32_t pos,
                                     uint32_t need, uint32_t limit) {
  uint32_t at = std::max(saved_end, pos & ~(kSaveChunk - 1));
  do {
    if (at < limit) CopyChunk(saved + at % kSaveRing, out + at, std::min(kSaveChunk, limit - at));
    at += kSaveChunk;
  } while (at < need);
  return at;
}

// A match of n bytes from dist back, source wholly inside this block's
// output. From at least 16 back: 16-byte chunks, at least two; from 8..15
// back: 8-byte chunks, at least two; each chunk is final before it is read
// again. One back: the byte repeated, 8 at a time. 2..7 back: exact copy.
// Writes at most kOvershoot bytes past the match.
[[gnu::always_inline]] inline void CopyMatchFast(uint8_t* op, uint32_t dist, uint32_t n) {
  const uint8_t* src = op - dist;
  uint8_t* const end = op + n;
  if (dist >= 16) {
    std::memcpy(op, src, 16);  // 16 or more apart: no overlap
    std::memcpy(op + 16, src + 16, 16);
    if (n > 32) {
      op += 32;
      src += 32;
      do {
        std::memcpy(op, src, 16);
        op += 16;
        src += 16;
      } while (op < end);
    }
  } else if (dist >= 8) {
    uint64_t w;
    std::memcpy(&w, src, 8);
    std::memcpy(op, &w, 8);
    std::memcpy(&w, src + 8, 8);
    std::memcpy(op + 8, &w, 8);
    op += 16;
    src += 16;
    while (op < end) {
      std::memcpy(&w, src, 8);
      std::memcpy(op, &w, 8);
      op += 8;
      src += 8;
    }
  } else if (dist == 1) {
    const uint64_t w = src[0] * uint64_t{0x0101010101010101};
    std::memcpy(op, &w, 8);
    std::memcpy(op + 8, &w, 8);
    op += 16;
    while (op < end) {
      std::memcpy(op, &w, 8);
      op += 8;
    }
  } else {
    CopyMatch(op, dist, n);
  }
}

// Bit buffer steps of the fast loop, on its local copies of the reader. Only
// the low 6 bits of `count` are kept exact: entries are subtracted whole
// (their low byte is the bit count), and the refill masks the rest off.
[[gnu::always_inline]] inline void FastRefill(const uint8_t*& next, uint64_t& buf, uint32_t& count) {
  buf |= BitReader::LoadWord(next) << (count & 63);
  next += 7 - ((count >> 3) & 7);
  count = (count & 63) | 56;
}
[[gnu::always_inline]] inline void FastConsume(uint64_t& buf, uint32_t& count, uint32_t e) {
  buf >>= e & 63;
  count -= e;
}
[[gnu::always_inline]] inline uint32_t FastLow(uint64_t buf, unsigned n) {
  return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1));
}
// Value of a length or distance entry: base plus the extra bits, taken from
// the bit buffer as it was before the entry was consumed. Code and extra
// bits are at most 28, and the link flag above the code length is clear, so
// the masks below change nothing; they let the compiler use the processor's
// own masking of shift counts and bit indexes. With BMI2, bzhi keeps the bits
// below the index held in the low byte of e.
template <bool kBmi2>
[[gnu::always_inline]] inline uint32_t FastValue(uint64_t before, uint32_t e) {
  uint32_t bits = static_cast<uint32_t>(before);
#if defined(__GNUC__) && defined(__x86_64__)
  if constexpr (kBmi2) {
    asm("bzhi %2, %1, %0" : "=r"(bits) : "r"(bits), "r"(e));
  } else {
    bits &= (1u << (e & 31)) - 1;
  }
#else
  bits &= (1u << (e & 31)) - 1;
#endif
  return EntryValue(e) + (bits >> ((e >> 8) & 31));
}

template <bool kBmi2>
[[gnu::always_inline]] inline FastExit FastCodesBody(FastState& fs, const uint8_t* const in_end, uint8_t* const out,
                                                      uint8_t* const out_end, const uint32_t* literal_length,
                                                      const uint32_t* distance, uint8_t* saved,
                                                      uint32_t high_water) {
  constexpr uint64_t kLiteralMask = (1u << kLiteralRoot) - 1;
  constexpr uint64_t kDistanceMask = (1u << kDistanceRoot) - 1;
  const uint8_t* next = fs.next;
  uint64_t buf = fs.buf;
  uint32_t count = fs.count;
  uint8_t* op = fs.op;
  uint32_t saved_end = fs.saved_end;
  const uint32_t save_limit = static_cast<uint32_t>(out_end - out);
  WrapContext wrap{out, saved, std::min(saved_end, save_limit), high_water};
  FastExit exit = FastExit::kSlow;
  if (in_end - next < kFastInput + 8 || out_end - op < kFastOutput) return exit;
  const uint8_t* const in_last = in_end - kFastInput;  // last start of an iteration
  const uint8_t* const out_last = out_end - kFastOutput;
  FastRefill(next, buf, count);  // one more than an iteration's, hence the 8
  uint32_t e = literal_length[buf & kLiteralMask];
  for (;;) {
    // Before the iterations below write past the saved bytes, the bytes they
    // may write over are saved: at most kFastOutput from where each starts.
    const uint32_t at = static_cast<uint32_t>(op - out);
    if (at + kFastOutput > saved_end) {
      saved_end = SaveAhead(out, saved, saved_end, at, at + kFastOutput, save_limit);
      wrap.saved_end = std::min(saved_end, save_limit);
    }
    const uint8_t* const stop = out + std::min<uint32_t>(out_last - out, saved_end - kFastOutput);
    do {
      // Here at least 56 bits are in the buffer and e is the next code's entry.
      // Whether e is a literal or a length is hard to predict, so both lookups
      // that may follow it are started before that is known: the next code's
      // entry and, as if e were a length, the distance code's entry. The bits
      // after e are enough for either: 11 after a literal (at least 23 are
      // left after three), 8 after a length (at least 14 after two literals
      // and a length of at most 20 bits). A refill after literals leaves the
      // low bits, and so the distance entry, as they were.
      uint64_t rest = buf >> (e & 63);
      uint32_t d = distance[rest & kDistanceMask];
      // Writes the literal e and looks up the next entry and its distance.
      auto literal = [&]() __attribute__((always_inline)) {
        buf = rest;
        count -= e;
        *op++ = EntryLiteral(e);
        e = literal_length[buf & kLiteralMask];
        rest = buf >> (e & 63);
        d = distance[rest & kDistanceMask];
      };
      if (IsLiteral(e)) {
        literal();
        if (IsLiteral(e)) {
          literal();
          if (IsLiteral(e)) {
            literal();  // at least 23 bits are left
            FastRefill(next, buf, count);
            continue;
          }
        }
        FastRefill(next, buf, count);
      }
      if (IsSpecial(e)) {
        if (e & kLinkFlag) {
          FastConsume(buf, count, e);
          e = literal_length[EntryValue(e) + FastLow(buf, EntryCodeBits(e))];
          if (IsLiteral(e)) {
            FastConsume(buf, count, e);
            *op++ = EntryLiteral(e);
            e = literal_length[buf & kLiteralMask];  // at least 41 bits are left
            FastRefill(next, buf, count);
            continue;
          }
          d = distance[(buf >> (e & 63)) & kDistanceMask];
        }
        if (IsSpecial(e)) {
          FastConsume(buf, count, e);
          exit = e & kEndFlag ? FastExit::kEndOfBlock : FastExit::kCorrupt;
          break;
        }
      }
      // A length and a distance: at most 48 bits.
      uint64_t before = buf;
      FastConsume(buf, count, e);
      const uint32_t length = FastValue<kBmi2>(before, e);

      if (IsSpecial(d)) {
        if (d & kLinkFlag) {
          FastConsume(buf, count, d);
          d = distance[EntryValue(d) + FastLow(buf, EntryCodeBits(d))];
        }
        if (IsSpecial(d)) {
          FastConsume(buf, count, d);
          exit = FastExit::kCorrupt;
          break;
        }
      }
      // The next code's entry is looked up before the refill, so that the
      // lookup does not wait for it: that needs 11 bits left after the
      // distance (at most 28 bits), which only a long length code leaves short.
      if ((count & 63) < 28 + kLiteralRoot) FastRefill(next, buf, count);
      before = buf;
      FastConsume(buf, count, d);
      const uint32_t dist = FastValue<kBmi2>(before, d);
      e = literal_length[buf & kLiteralMask];
      FastRefill(next, buf, count);

      const uint32_t pos = static_cast<uint32_t>(op - out);
      if (dist <= pos) {
        uint8_t* const end = op + length;
        CopyMatchFast(op, dist, length);
        op = end;
      } else {
        uint8_t* const after = WrappedMatch(wrap, pos, dist, length);
        if (!after) {
          exit = FastExit::kCorrupt;
          break;
        }
        op = after;
      }
    } while (next <= in_last && op <= stop);
    if (exit != FastExit::kSlow || next > in_last || op > out_last) break;
  }
  fs = {next, buf, count & 63, op, saved_end};
  return exit;
}

// The loop compiled twice: for any x86-64 and for processors with BMI2,
// whose shifts and bit masks by a count in a register take one instruction.
// The choice is made once per process.
using FastCodesFn = FastExit (*)(FastState&, const uint8_t*, uint8_t*, uint8_t*, const uint32_t*, const uint32_t*,
                                 uint8_t*, uint32_t);
FastExit FastCodesGeneric(FastState& fs, const uint8_t* in_end, uint8_t* out, uint8_t* out_end,
                          const uint32_t* literal_length, const uint32_t* distance, uint8_t* saved,
                          uint32_t high_water) {
  return FastCodesBody<false>(fs, in_end, out, out_end, literal_length, distance, saved, high_water);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("bmi2"))) FastExit FastCodesBmi2(FastState& fs, const uint8_t* in_end, uint8_t* out,
                                                       uint8_t* out_end, const uint32_t* literal_length,
                                                       const uint32_t* distance, uint8_t* saved,
                                                       uint32_t high_water) {
  return FastCodesBody<true>(fs, in_end, out, out_end, literal_length, distance, saved, high_water);
}
FastCodesFn ChooseFastCodes() {
  return CpuHasBmi2() ? FastCodesBmi2 : FastCodesGeneric;
}
#else
FastCodesFn ChooseFastCodes() { return FastCodesGeneric; }
#endif
const FastCodesFn kFastCodes = ChooseFastCodes();

// Puts back what fast match copies wrote after the block's last byte (see
// "Fast decoding loop").
void Inflater::RestoreAfterEnd() {
  const uint32_t end = SavedEnd();
  for (uint32_t pos = Produced(); pos < end; ++pos) out_[pos] = st_.saved[pos % kSaveRing];
}

// Huffman-coded data: literals, end of block, and length/distance pairs.
MszipStatus Inflater::Codes(const uint32_t* literal_length, const uint32_t* distance, bool& full) {
  const uint32_t high_water = st_.high_water;
  if (bits_.end - bits_.next >= kFastInput + 8 && out_end_ - op_ >= kFastOutput) {
    FastState fs{bits_.next, bits_.buf, bits_.count, op_, saved_end_};
    const FastExit exit = kFastCodes(fs, bits_.end, out_, out_end_, literal_length, distance, st_.saved, high_water);
    bits_.next = fs.next;
    bits_.buf = fs.buf;
    bits_.count = fs.count;
    op_ = fs.op;
    saved_end_ = fs.saved_end;
    // Within the fast loop no bit came from past the end of the input.
    if (exit == FastExit::kEndOfBlock) return MszipStatus::kDone;
    if (exit == FastExit::kCorrupt) return Fail();
  }
  for (;;) {
    bits_.Refill();
    uint32_t e = bits_.Decode(literal_length, kLiteralRoot);
    if (IsLiteral(e)) {
      bits_.Consume(e);
      *op_++ = EntryLiteral(e);
      if (op_ == out_end_) {
        full = true;
        return MszipStatus::kDone;
      }
      // At least 41 bits are left: enough for one more literal/length code
      // (its extra bits and the distance come after a refill below).
      e = bits_.Decode(literal_length, kLiteralRoot);
      if (IsLiteral(e)) {
        bits_.Consume(e);
        *op_++ = EntryLiteral(e);
        if (op_ == out_end_) {
          full = true;
          return MszipStatus::kDone;
        }
        continue;
      }
      bits_.Refill();
    }
    const uint32_t length = EntryValue(e) + bits_.Consume(e);
    if (e & kEndFlag) return MszipStatus::kDone;
    if (IsSpecial(e)) return Fail();

    e = bits_.Decode(distance, kDistanceRoot);
    const uint32_t dist = EntryValue(e) + bits_.Consume(e);
    if (IsSpecial(e)) return Fail();

    const uint32_t pos = static_cast<uint32_t>(op_ - out_);
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(out_end_ - op_));
    if (dist <= pos) {
      CopyMatch(op_, dist, n);
      op_ += n;
    } else {
      // Reaches into the previous block: the source bytes up to the end of
      // the buffer must all have been written by earlier blocks of this folder.
      if (!WrappedSourceWritten(pos, dist, n, high_water)) return Fail();
      op_ = out_ + CopyWrappedAt(out_, st_.saved, SavedEnd(), pos, dist, n);
    }
    if (op_ == out_end_) {
      full = true;
      return MszipStatus::kDone;
    }
  }
}

// ---------------------------------------------------------------------------
// Codec operations

BlockCodecError Create(uint32_t max_block, const void* /*config*/, AllocFn alloc, FreeFn free,
                       uint32_t* min_input, void** handle) {
  if (max_block == 0 || max_block > kMaxBlockSize) max_block = kMaxBlockSize;
  if (min_input) *min_input = max_block + kInputSlack;
  if (!handle) return kCodecOk;
  *handle = nullptr;
  if (!alloc || !free) return kCodecBadHandle;
  auto* h = static_cast<Handle*>(alloc(sizeof(Handle)));
  if (!h) return kCodecOutOfMemory;
  auto* st = static_cast<State*>(alloc(sizeof(State)));
  if (!st) {
    free(h);
    return kCodecOutOfMemory;
  }
  std::memset(st, 0, sizeof(State));
  st->last_status = MszipStatus::kDone;
  Fixed();
  h->signature = kSignature;
  h->free = free;
  h->max_block = max_block;
  h->state = st;
  *handle = h;
  return kCodecOk;
}

BlockCodecError Decompress(void* handle, const uint8_t* in, uint32_t in_size, uint8_t* out,
                           uint32_t* out_size) {
  Handle* h = CheckHandle(handle);
  if (!h || !in || !out || !out_size) return kCodecBadHandle;
  State& st = *h->state;
  if (in_size > h->max_block + kInputSlack) return kCodecBufferOverflow;
  const uint32_t limit = std::min(*out_size, h->max_block);
  *out_size = 0;
  if (in_size < 2 || in[0] != 'C' || in[1] != 'K') {
    st.last_status = MszipStatus::kCorrupt;
    return kCodecFailed;
  }
  Inflater inflater(st, in + 2, in_size - 2, out, limit);
  const MszipStatus status = inflater.Run();
  inflater.RestoreAfterEnd();
  const uint32_t produced = inflater.Produced();
  st.high_water = std::max(st.high_water, produced);
  st.last_status = status;
  *out_size = produced;
  return status == MszipStatus::kDone || status == MszipStatus::kOutputFull ? kCodecOk
                                                                            : kCodecFailed;
}

// A new folder starts without history.
BlockCodecError Reset(void* handle) {
  Handle* h = CheckHandle(handle);
  if (!h) return kCodecBadHandle;
  h->state->high_water = 0;
  return kCodecOk;
}

BlockCodecError Destroy(void* handle) {
  Handle* h = CheckHandle(handle);
  if (!h) return kCodecBadHandle;
  h->signature = 0;
  FreeFn free = h->free;
  free(h->state);
  free(h);
  return kCodecOk;
}

}  // namespace

MszipStatus MszipLastStatus(const void* handle) {
  const Handle* h = CheckHandle(const_cast<void*>(handle));
  return h ? h->state->last_status : MszipStatus::kCorrupt;
}

const CabBlockCodec kMszipCodec = {"MSZIP", Create, Decompress, Reset, Destroy};

}  // namespace kestrin::cab
