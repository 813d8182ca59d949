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
//   bits 0..7    bits the entry consumes (the code length; for a link: root)
//   bits 8..11   kind: literal, length, end of block, distance, link, invalid
//   bits 12..15  extra bits that follow the code (for a link: subtable width)
//   bits 16..31  literal byte, base length, base distance or subtable offset
// Roots: 11 bits for literals/lengths, 8 for distances, 7 for the code-length
// code (whose codes are at most 7 bits long).
#include "cabinet/mszip.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace kestrin::cab {
namespace {

constexpr uint32_t kSignature = 0x505A534D;  // "MSZP"
constexpr uint32_t kHistorySize = 32768;
constexpr uint32_t kInputSlack = 12;  // input buffer is max_block + 12

// ---------------------------------------------------------------------------
// Table entries

enum EntryKind : uint32_t {
  kLiteral = 0,
  kLength = 1,
  kEndOfBlock = 2,
  kDistance = 3,
  kLink = 4,
  kInvalid = 5,
  kCodeLength = 6,
};

constexpr uint32_t MakeEntry(uint32_t bits, uint32_t kind, uint32_t extra, uint32_t value) {
  return bits | (kind << 8) | (extra << 12) | (value << 16);
}
constexpr uint32_t EntryBits(uint32_t e) { return e & 0xFF; }
constexpr uint32_t EntryKind(uint32_t e) { return (e >> 8) & 0xF; }
constexpr uint32_t EntryExtra(uint32_t e) { return (e >> 12) & 0xF; }
constexpr uint32_t EntryValue(uint32_t e) { return e >> 16; }
constexpr bool IsLiteral(uint32_t e) { return (e & 0xF00) == 0; }  // kind kLiteral

constexpr uint32_t kInvalidEntry = MakeEntry(0, kInvalid, 0, 0);

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

// Per-symbol entries (without the bit count) of the three alphabets. Symbols
// 286 and 287 of the literal/length alphabet and 30, 31 of the distance
// alphabet take part in the fixed code but are invalid when decoded.
struct SymbolEntries {
  uint32_t literal_length[288];
  uint32_t distance[32];
  uint32_t code_length[19];
};
constexpr SymbolEntries MakeSymbolEntries() {
  SymbolEntries s{};
  for (uint32_t i = 0; i < 256; ++i) s.literal_length[i] = MakeEntry(0, kLiteral, 0, i);
  s.literal_length[256] = MakeEntry(0, kEndOfBlock, 0, 0);
  for (uint32_t i = 0; i < 29; ++i) {
    s.literal_length[257 + i] = MakeEntry(0, kLength, kLengthExtra[i], kLengthBase[i]);
  }
  s.literal_length[286] = s.literal_length[287] = kInvalidEntry;
  for (uint32_t i = 0; i < 30; ++i) {
    s.distance[i] = MakeEntry(0, kDistance, kDistanceExtra[i], kDistanceBase[i]);
  }
  s.distance[30] = s.distance[31] = kInvalidEntry;
  for (uint32_t i = 0; i < 19; ++i) s.code_length[i] = MakeEntry(0, kCodeLength, 0, i);
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
  unsigned count[kMaxCodeLength + 1] = {};
  for (unsigned i = 0; i < n; ++i) ++count[lengths[i]];
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

  // Canonical codes: first code of each length.
  unsigned next_code[kMaxCodeLength + 1];
  unsigned code = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    code = (code + count[len - 1]) << 1;
    next_code[len] = code;
  }

  // Reversed code of every symbol; the width of each subtable is the length
  // of its longest code less the root.
  uint16_t reversed[288];
  uint8_t sub_width[1u << kLiteralRoot] = {};
  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lengths[sym];
    if (len == 0) continue;
    const unsigned c = next_code[len]++;
    const unsigned r = (kReverse8[c & 0xFF] << 8 | kReverse8[(c >> 8) & 0xFF]) >> (16 - len);
    reversed[sym] = static_cast<uint16_t>(r);
    if (len > root) {
      uint8_t& w = sub_width[r & (root_size - 1)];
      w = std::max<uint8_t>(w, static_cast<uint8_t>(len - root));
    }
  }
  // Place the subtables after the root table.
  unsigned used = root_size;
  if (max_length > root) {
    for (unsigned prefix = 0; prefix < root_size; ++prefix) {
      const unsigned w = sub_width[prefix];
      if (w == 0) continue;
      if (used + (1u << w) > capacity) return BuildResult::kBad;
      table[prefix] = MakeEntry(root, kLink, w, used);
      used += 1u << w;
    }
  }
  // Fill the entries.
  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lengths[sym];
    if (len == 0) continue;
    const unsigned r = reversed[sym];
    if (len <= root) {
      const uint32_t e = symbol_entries[sym] | len;
      for (unsigned i = r; i < root_size; i += 1u << len) table[i] = e;
    } else {
      const uint32_t link = table[r & (root_size - 1)];
      const unsigned w = EntryExtra(link);
      const unsigned sub_len = len - root;
      uint32_t* sub = table + EntryValue(link);
      const uint32_t e = symbol_entries[sym] | sub_len;
      for (unsigned i = r >> root; i < (1u << w); i += 1u << sub_len) sub[i] = e;
    }
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

// The bytes a fast match copy wrote past the match's end, as they were
// before (see "Fast decoding loop").
constexpr uint32_t kOvershoot = 40;
constexpr uint32_t kTailSlots = 16;  // more than kOvershoot / 3 matches
struct SavedTail {
  uint32_t pos;  // output position of the match's end
  uint8_t bytes[kOvershoot];
};

struct State {
  SavedTail tails[kTailSlots];
  uint32_t literal_length[kLiteralTableSize];
  uint32_t distance[kDistanceTableSize];
  uint32_t code_length[kCodeLengthTableSize];
  uint8_t lengths[286 + 30];
  uint32_t high_water;  // bytes of the output buffer written by earlier blocks of the folder
  MszipStatus last_status;
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
  // Decodes one entry of table (root bits wide).
  uint32_t Decode(const uint32_t* table, unsigned root) {
    uint32_t e = table[Peek(root)];
    if (EntryKind(e) == kLink) {
      Drop(root);
      e = table[EntryValue(e) + Peek(EntryExtra(e))];
    }
    Drop(EntryBits(e));
    return e;
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
  void UndoOvershoot();

 private:
  MszipStatus Fail() const { return bits_.PastEnd() ? MszipStatus::kTruncated : MszipStatus::kCorrupt; }
  MszipStatus Stored(bool& full);
  MszipStatus ReadDynamicTables();
  MszipStatus Codes(const uint32_t* literal_length, const uint32_t* distance, bool& full);

  State& st_;
  BitReader bits_;
  uint8_t* const out_;
  uint8_t* op_;
  uint8_t* const out_end_;
  uint32_t tails_saved_ = 0;
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
    bits_.Refill();
    const uint32_t e = bits_.Decode(st_.code_length, kCodeLengthRoot);
    if (EntryKind(e) != kCodeLength) return Fail();
    const uint32_t sym = EntryValue(e);
    if (sym < 16) {
      lengths[i++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint8_t value = 0;
    uint32_t repeat;
    if (sym == 16) {
      value = i ? lengths[i - 1] : 0;
      repeat = 3 + bits_.Take(2);
    } else if (sym == 17) {
      repeat = 3 + bits_.Take(3);
    } else {
      repeat = 11 + bits_.Take(7);
    }
    if (repeat > total - i) return Fail();
    std::memset(lengths + i, value, repeat);
    i += repeat;
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
// the buffer taken as a ring of 32768 bytes. Returns the new position.
uint32_t CopyWrappedAt(uint8_t* out, uint32_t pos, uint32_t dist, uint32_t n) {
  uint32_t src = (pos + kHistorySize - dist) % kHistorySize;
  for (uint32_t k = 0; k < n; ++k) {
    out[pos++] = out[src];
    src = (src + 1) % kHistorySize;
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
// One refill (at least 56 bits) covers a length/distance pair (at most 48
// bits) or two literals from the root table (at most 22 bits) followed by the
// look-up of a third code; when that third code is not a root literal, one
// more refill precedes it. An iteration writes at most two literals and a
// match of 258 bytes, or three literals.
constexpr ptrdiff_t kFastInput = 16;   // two refills of 8 bytes, each advancing at most 7
constexpr ptrdiff_t kFastOutput = 258 + 2 + kOvershoot;

enum class FastExit { kEndOfBlock, kCorrupt, kSlow };

struct FastState {
  const uint8_t* next;
  uint64_t buf;
  unsigned count;
  uint8_t* op;
  SavedTail* tails;
  uint32_t tails_saved;  // saves so far; the last kTailSlots are kept
};

// A match from at least 8 back, copied 8 bytes at a time: always the first
// kOvershoot bytes, then more while the match goes on. Up to kOvershoot bytes
// after the match are overwritten; the caller saved them.
[[gnu::always_inline]] inline void CopyMatchOvershoot(uint8_t* op, uint32_t dist, uint32_t n) {
  const uint8_t* src = op - dist;
  uint8_t* const end = op + n;
  static_assert(kOvershoot == 40);
  std::memcpy(op, src, 8);
  std::memcpy(op + 8, src + 8, 8);
  std::memcpy(op + 16, src + 16, 8);
  std::memcpy(op + 24, src + 24, 8);
  std::memcpy(op + 32, src + 32, 8);
  op += 40;
  src += 40;
  while (op < end) {
    std::memcpy(op, src, 8);
    op += 8;
    src += 8;
  }
}

// Puts back the bytes at and after output position `end` that fast match
// copies overwrote, so that they read as before the block began: they may be
// history the next block of the folder refers to, or the source of a match
// of this block that reaches into the previous one. Newest save first, so
// that a save holding bytes an earlier copy overwrote is itself undone by
// the earlier save. Matches have at least 3 bytes, so every copy that
// reached past `end` is among the kept saves. All bytes from `end` on are
// then as before the block, and the saves are done with.
void UndoOvershoot(uint8_t* out, const SavedTail* tails, uint32_t& tails_saved, uint32_t end) {
  const uint32_t kept = std::min(tails_saved, kTailSlots);
  for (uint32_t k = 1; k <= kept; ++k) {
    const SavedTail& tail = tails[(tails_saved - k) % kTailSlots];
    if (tail.pos + kOvershoot <= end) break;
    const uint32_t from = std::max(tail.pos, end);
    std::memcpy(out + from, tail.bytes + (from - tail.pos), tail.pos + kOvershoot - from);
  }
  tails_saved = 0;
}

// Bit buffer steps of the fast loop, on its local copies of the reader.
[[gnu::always_inline]] inline void FastRefill(const uint8_t*& next, uint64_t& buf, unsigned& count) {
  buf |= BitReader::LoadWord(next) << count;
  next += (63 - count) >> 3;
  count |= 56;
}
[[gnu::always_inline]] inline void FastDrop(uint64_t& buf, unsigned& count, unsigned n) {
  buf >>= n;
  count -= n;
}
[[gnu::always_inline]] inline uint32_t FastLow(uint64_t buf, unsigned n) {
  return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1));
}

[[gnu::always_inline]] inline FastExit FastCodesBody(FastState& fs, const uint8_t* const in_end, uint8_t* const out,
                                                      uint8_t* const out_end, const uint32_t* literal_length,
                                                      const uint32_t* distance, uint32_t high_water) {
  constexpr uint64_t kLiteralMask = (1u << kLiteralRoot) - 1;
  constexpr uint64_t kDistanceMask = (1u << kDistanceRoot) - 1;
  const uint8_t* next = fs.next;
  uint64_t buf = fs.buf;
  unsigned count = fs.count;
  uint8_t* op = fs.op;
  SavedTail* const tails = fs.tails;
  uint32_t tails_saved = fs.tails_saved;
  FastExit exit = FastExit::kSlow;
  while (in_end - next >= kFastInput && out_end - op >= kFastOutput) {
    FastRefill(next, buf, count);
    uint32_t e = literal_length[buf & kLiteralMask];
    if (IsLiteral(e)) {
      FastDrop(buf, count, EntryBits(e));
      *op++ = static_cast<uint8_t>(EntryValue(e));
      e = literal_length[buf & kLiteralMask];
      if (IsLiteral(e)) {
        FastDrop(buf, count, EntryBits(e));
        *op++ = static_cast<uint8_t>(EntryValue(e));
        e = literal_length[buf & kLiteralMask];
        if (IsLiteral(e)) {
          FastDrop(buf, count, EntryBits(e));
          *op++ = static_cast<uint8_t>(EntryValue(e));
          continue;
        }
      }
      FastRefill(next, buf, count);
    }
    if (EntryKind(e) == kLink) {
      FastDrop(buf, count, kLiteralRoot);
      e = literal_length[EntryValue(e) + FastLow(buf, EntryExtra(e))];
    }
    FastDrop(buf, count, EntryBits(e));
    const uint32_t kind = EntryKind(e);
    if (kind == kLiteral) {
      *op++ = static_cast<uint8_t>(EntryValue(e));
      continue;
    }
    if (kind != kLength) {
      exit = kind == kEndOfBlock ? FastExit::kEndOfBlock : FastExit::kCorrupt;
      break;
    }
    const uint32_t length = EntryValue(e) + FastLow(buf, EntryExtra(e));
    FastDrop(buf, count, EntryExtra(e));

    e = distance[buf & kDistanceMask];
    if (EntryKind(e) == kLink) {
      FastDrop(buf, count, kDistanceRoot);
      e = distance[EntryValue(e) + FastLow(buf, EntryExtra(e))];
    }
    FastDrop(buf, count, EntryBits(e));
    if (EntryKind(e) != kDistance) {
      exit = FastExit::kCorrupt;
      break;
    }
    const uint32_t dist = EntryValue(e) + FastLow(buf, EntryExtra(e));
    FastDrop(buf, count, EntryExtra(e));

    const uint32_t pos = static_cast<uint32_t>(op - out);
    if (dist >= 8 && dist <= pos) {
      SavedTail& tail = tails[tails_saved++ % kTailSlots];
      tail.pos = pos + length;
      std::memcpy(tail.bytes, op + length, kOvershoot);
      CopyMatchOvershoot(op, dist, length);
      op += length;
    } else if (dist <= pos) {
      CopyMatch(op, dist, length);
      op += length;
    } else {
      if (!WrappedSourceWritten(pos, dist, length, high_water)) {
        exit = FastExit::kCorrupt;
        break;
      }
      UndoOvershoot(out, tails, tails_saved, pos);  // the source lies at and after pos
      op = out + CopyWrappedAt(out, pos, dist, length);
    }
  }
  fs = {next, buf, count, op, tails, tails_saved};
  return exit;
}

// The loop compiled twice: for any x86-64 and for processors with BMI2,
// whose shifts and bit masks by a count in a register take one instruction.
// The choice is made once per process.
using FastCodesFn = FastExit (*)(FastState&, const uint8_t*, uint8_t*, uint8_t*, const uint32_t*, const uint32_t*,
                                 uint32_t);
FastExit FastCodesGeneric(FastState& fs, const uint8_t* in_end, uint8_t* out, uint8_t* out_end,
                          const uint32_t* literal_length, const uint32_t* distance, uint32_t high_water) {
  return FastCodesBody(fs, in_end, out, out_end, literal_length, distance, high_water);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("bmi2"))) FastExit FastCodesBmi2(FastState& fs, const uint8_t* in_end, uint8_t* out,
                                                       uint8_t* out_end, const uint32_t* literal_length,
                                                       const uint32_t* distance, uint32_t high_water) {
  return FastCodesBody(fs, in_end, out, out_end, literal_length, distance, high_water);
}
FastCodesFn ChooseFastCodes() { return __builtin_cpu_supports("bmi2") ? FastCodesBmi2 : FastCodesGeneric; }
#else
FastCodesFn ChooseFastCodes() { return FastCodesGeneric; }
#endif
const FastCodesFn kFastCodes = ChooseFastCodes();

void Inflater::UndoOvershoot() { cab::UndoOvershoot(out_, st_.tails, tails_saved_, Produced()); }

// Huffman-coded data: literals, end of block, and length/distance pairs.
MszipStatus Inflater::Codes(const uint32_t* literal_length, const uint32_t* distance, bool& full) {
  const uint32_t high_water = st_.high_water;
  {
    FastState fs{bits_.next, bits_.buf, bits_.count, op_, st_.tails, tails_saved_};
    const FastExit exit = kFastCodes(fs, bits_.end, out_, out_end_, literal_length, distance, high_water);
    bits_.next = fs.next;
    bits_.buf = fs.buf;
    bits_.count = fs.count;
    op_ = fs.op;
    tails_saved_ = fs.tails_saved;
    // Within the fast loop no bit came from past the end of the input.
    if (exit == FastExit::kEndOfBlock) return MszipStatus::kDone;
    if (exit == FastExit::kCorrupt) return Fail();
  }
  for (;;) {
    bits_.Refill();
    uint32_t e = bits_.Decode(literal_length, kLiteralRoot);
    const uint32_t kind = EntryKind(e);
    if (kind == kLiteral) {
      *op_++ = static_cast<uint8_t>(EntryValue(e));
      if (op_ == out_end_) {
        full = true;
        return MszipStatus::kDone;
      }
      // At least 41 bits are left: enough for one more literal/length code
      // (its extra bits and the distance come after a refill below).
      e = bits_.Decode(literal_length, kLiteralRoot);
      if (EntryKind(e) == kLiteral) {
        *op_++ = static_cast<uint8_t>(EntryValue(e));
        if (op_ == out_end_) {
          full = true;
          return MszipStatus::kDone;
        }
        continue;
      }
      bits_.Refill();
    }
    const uint32_t kind2 = EntryKind(e);
    if (kind2 == kEndOfBlock) return MszipStatus::kDone;
    if (kind2 != kLength) return Fail();
    const uint32_t length = EntryValue(e) + bits_.Take(EntryExtra(e));

    e = bits_.Decode(distance, kDistanceRoot);
    if (EntryKind(e) != kDistance) return Fail();
    const uint32_t dist = EntryValue(e) + bits_.Take(EntryExtra(e));

    const uint32_t pos = static_cast<uint32_t>(op_ - out_);
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(out_end_ - op_));
    if (dist <= pos) {
      CopyMatch(op_, dist, n);
      op_ += n;
    } else {
      // Reaches into the previous block: the source bytes up to the end of
      // the buffer must all have been written by earlier blocks of this folder.
      if (!WrappedSourceWritten(pos, dist, n, high_water)) return Fail();
      UndoOvershoot();  // the source lies at and after pos
      op_ = out_ + CopyWrappedAt(out_, pos, dist, n);
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
  inflater.UndoOvershoot();
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
