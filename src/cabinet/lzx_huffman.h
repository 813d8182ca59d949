// Bit reader and canonical Huffman decoding tables of the LZX block decoder.
//
// Kept apart from lzx.cc so the tables can be read (and tested) on their own;
// only the LZX decoder includes this header.
#ifndef KESTRIN_CABINET_LZX_HUFFMAN_H_
#define KESTRIN_CABINET_LZX_HUFFMAN_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrin::cab::lzx {

// ---------------------------------------------------------------------------
// Input bitstream
//
// LZX writes its bits as a sequence of 16-bit little-endian words and takes
// the bits of each word from the most significant end: the stream bytes
// 0x12 0x34 0x56 0x78 carry the bits of 0x3412 followed by those of 0x7856.
// The cabinet container cuts the stream into data blocks that each begin on
// a 16-bit boundary, so the reader starts afresh on every block.
//
// BitReader's state:
//
//   next, end  The input not yet loaded into the buffer. Words are loaded
//              whole, two bytes at a time (four in the fast path).
//   buf        Up to 64 bits, left-aligned: the next bit of the stream is
//              bit 63. Bits below the valid ones are zero.
//   left       Number of valid bits in buf. Because words are loaded whole,
//              left % 16 is the number of unread bits of the word the
//              reader is in, and the reader sits on a word boundary when it
//              is 0.
//   pad        When fewer than two bytes of input remain, Refill appends
//              zero words instead, so table lookups never need a bounds
//              check. pad counts these made-up bits; they are always the
//              lowest valid bits of buf. As long as left >= pad every bit
//              consumed came from the input; left < pad means the data
//              block's input has been used up (Overrun).
//
// Refill guarantees more than 32 valid bits, enough for two Huffman codes
// of at most 16 bits, or 17 extra bits plus an aligned-offset code.
struct BitReader {
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
  uint64_t buf = 0;
  int left = 0;
  int pad = 0;

  void Start(const uint8_t* begin, const uint8_t* stop) {
    next = begin;
    end = stop;
    buf = 0;
    left = 0;
    pad = 0;
  }

  // Ensures left > 32.
  inline void Refill() {
    if (left > 32) return;
    if (end - next >= 4) {
      // Two words at once: w0 in the upper half, w1 in the lower one.
      uint32_t w0 = static_cast<uint32_t>(next[0]) | static_cast<uint32_t>(next[1]) << 8;
      uint32_t w1 = static_cast<uint32_t>(next[2]) | static_cast<uint32_t>(next[3]) << 8;
      buf |= static_cast<uint64_t>(w0 << 16 | w1) << (32 - left);
      next += 4;
      left += 32;
      return;
    }
    RefillSlow();
  }

  // Refill for a reader with at least 4 bytes of input left.
  inline void RefillFast() {
    if (left > 32) return;
    uint32_t w0 = static_cast<uint32_t>(next[0]) | static_cast<uint32_t>(next[1]) << 8;
    uint32_t w1 = static_cast<uint32_t>(next[2]) | static_cast<uint32_t>(next[3]) << 8;
    buf |= static_cast<uint64_t>(w0 << 16 | w1) << (32 - left);
    next += 4;
    left += 32;
  }

  // Refill without a branch, for a reader with at least 4 bytes of input
  // left: the next two words go in below the valid bits, and as many of
  // them count as fit whole, which leaves at least 32 valid bits. Bits of a
  // word that does not fit stay below the valid ones; they are the stream
  // bits that follow, the same that the next refill puts there, so the
  // refills agree. ClearBelow() removes them before the reader goes on with
  // the checked refills.
  inline void RefillBranchless() {
    uint32_t w0 = static_cast<uint32_t>(next[0]) | static_cast<uint32_t>(next[1]) << 8;
    uint32_t w1 = static_cast<uint32_t>(next[2]) | static_cast<uint32_t>(next[3]) << 8;
    uint64_t more = (static_cast<uint64_t>(w0 << 16 | w1) << 32) >> (left & 63);
    buf |= left < 64 ? more : 0;
    int words = (64 - left) >> 4;
    words = words > 2 ? 2 : words;
    next += 2 * words;
    left += 16 * words;
  }
  inline void ClearBelow() { buf = left == 0 ? 0 : buf & ~uint64_t{0} << ((64 - left) & 63); }

  // The last bytes of the input, one word at a time, then zero words. A
  // single trailing byte cannot hold a whole word and is not used.
  void RefillSlow() {
    while (left <= 48) {
      uint32_t word = 0;
      if (end - next >= 2) {
        word = static_cast<uint32_t>(next[0]) | static_cast<uint32_t>(next[1]) << 8;
        next += 2;
      } else {
        pad += 16;
      }
      buf |= static_cast<uint64_t>(word) << (48 - left);
      left += 16;
    }
  }

  // The next n bits (0 <= n <= 32, n <= left) as an unsigned value.
  inline uint32_t Peek(int n) const { return static_cast<uint32_t>((buf >> 1) >> (63 - n)); }
  inline void Consume(int n) {
    buf <<= n;
    left -= n;
  }
  inline uint32_t Read(int n) {
    uint32_t v = Peek(n);
    Consume(n);
    return v;
  }
  // Refills, then reads n bits (0 <= n <= 32).
  inline uint32_t Bits(int n) {
    Refill();
    return Read(n);
  }

  inline bool Overrun() const { return left < pad; }

  // Skips 1 to 16 bits so that the reader stands on a word boundary (a
  // reader already on one skips a whole word), then hands back the byte
  // position that follows, or nullptr if that lies past the input. The
  // reader must be started again before reading more bits.
  const uint8_t* AlignToBytes() {
    Refill();
    int skip = left % 16;
    if (skip == 0) skip = 16;
    Consume(skip);
    if (Overrun()) return nullptr;
    return next - (left - pad) / 8;
  }
};

// ---------------------------------------------------------------------------
// Canonical Huffman decoding tables
//
// LZX codes are canonical: the code lengths alone define the codes. Codes
// are handed out in order of increasing length, and among codes of one
// length in order of increasing symbol; each code is the previous one plus
// one, shifted left whenever the length grows. No code is longer than 16
// bits.
//
// A table is looked up with the next kTableBits bits of the stream. Entries:
//
//   leaf:  symbol << 16 | length            (length 1..16: bits to consume)
//   link:  start << 16 | kLink | sub_bits   (codes longer than kTableBits)
//
// A link sends the lookup to a subtable of 2^sub_bits entries at `start`,
// indexed with the sub_bits stream bits that follow the first kTableBits.
// Its leaves hold the full code length. Subtables are as small as the
// longest code under their prefix allows.
inline constexpr int kMaxCodeLength = 16;
inline constexpr uint32_t kLink = 0x80;

// Upper bound of the entries a table needs: a subtable of 2^s entries holds
// a complete code of depth s, so at least s + 1 symbols; the bound puts as
// many symbols as possible into subtables of the largest size, plus one
// more of that size for the rest.
constexpr int TableCapacity(int symbols, int table_bits) {
  int sub = kMaxCodeLength - table_bits;
  return (1 << table_bits) + (symbols / (sub + 1) + 1) * (1 << sub);
}

template <int kSymbols, int kTableBits>
class HuffmanTable {
 public:
  static constexpr int kCapacity = TableCapacity(kSymbols, kTableBits);
  static constexpr int kRootBits = kTableBits;

  // Builds the table from `count` code lengths (count <= kSymbols). A set of
  // lengths is usable when every length is at most 16 and the codes fill the
  // code space exactly, or when all lengths are 0 (an empty table, which
  // decodes nothing: callers check empty() before decoding). Returns false
  // for any other set (lengths too long, over-full, under-full).
  bool Build(const uint8_t* lengths, int count) {
    uint8_t longest = 0;
    for (int i = 0; i < count; ++i) longest = lengths[i] > longest ? lengths[i] : longest;
    if (longest > kMaxCodeLength) return false;

    // The symbols are counted and sorted in kParts runs of consecutive
    // symbols, side by side: each run has counters of its own, so that
    // neighbours of one length do not each wait for the previous one's
    // increment of the same counter in memory. Run p covers
    // [p * quarter, (p + 1) * quarter), the last run also the remainder.
    const int quarter = count / kParts;
    uint16_t run_count[kParts][kMaxCodeLength + 1] = {};
    for (int j = 0; j < quarter; ++j) {
      for (int p = 0; p < kParts; ++p) ++run_count[p][lengths[p * quarter + j]];
    }
    for (int i = kParts * quarter; i < count; ++i) ++run_count[kParts - 1][lengths[i]];
    uint16_t per_length[kMaxCodeLength + 1];
    for (int len = 0; len <= kMaxCodeLength; ++len) {
      uint16_t n = 0;
      for (int p = 0; p < kParts; ++p) n = static_cast<uint16_t>(n + run_count[p][len]);
      per_length[len] = n;
    }
    empty_ = per_length[0] == count;
    if (empty_) return true;
    // Kraft sum: the code space still free after each length.
    int32_t free_codes = 1;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
      free_codes = free_codes * 2 - per_length[len];
      if (free_codes < 0) return false;  // over-full
    }
    if (free_codes != 0) return false;  // under-full

    // Symbols sorted by (length, symbol): the canonical code order. Unused
    // symbols go to the end, so that every symbol is stored without a test.
    uint16_t first[kMaxCodeLength + 2];
    first[0] = first[1] = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) first[len + 1] = first[len] + per_length[len];
    uint16_t at[kParts][kMaxCodeLength + 1];  // where run p puts its next symbol of a length
    for (int len = 0; len <= kMaxCodeLength; ++len) {
      uint16_t next = len == 0 ? first[kMaxCodeLength + 1] : first[len];
      for (int p = 0; p < kParts; ++p) {
        at[p][len] = next;
        next = static_cast<uint16_t>(next + run_count[p][len]);
      }
    }
    uint16_t sorted[kSymbols];
    for (int j = 0; j < quarter; ++j) {
      for (int p = 0; p < kParts; ++p) {
        const int i = p * quarter + j;
        sorted[at[p][lengths[i]]++] = static_cast<uint16_t>(i);
      }
    }
    for (int i = kParts * quarter; i < count; ++i) {
      sorted[at[kParts - 1][lengths[i]]++] = static_cast<uint16_t>(i);
    }
    // first[len] marks the end of the symbols of length len from here on.
    for (int len = 1; len <= kMaxCodeLength; ++len) first[len] = first[len + 1];

    // Codes up to kTableBits fill a run of primary entries each.
    uint32_t code = 0;
    int index = 0;
    for (int len = 1; len <= kTableBits; ++len) {
      const uint32_t span = 1u << (kTableBits - len);
      for (; index < first[len]; ++index) {
        Fill(entries_ + (code << (kTableBits - len)), span,
             static_cast<uint32_t>(sorted[index]) << 16 | static_cast<uint32_t>(len));
        ++code;
      }
      code <<= 1;
    }
    if (index == first[kMaxCodeLength]) return true;  // no code longer than kTableBits

    // Longer codes, taken from the last one back. The codes under one
    // primary prefix are consecutive in canonical order and the last of them
    // is the longest, so going backwards each prefix shows up first with the
    // code that sizes its subtable. The code space being full, the last code
    // is all ones; going back within a length subtracts one, and going back
    // to a shorter length drops the extra bits of the first code of the
    // longer one before subtracting (the canonical step run in reverse).
    int len = kMaxCodeLength;
    while (first[len] == first[len - 1]) --len;  // the longest length in use
    uint32_t c = (1u << len) - 1;
    uint32_t next_free = 1u << kTableBits;
    uint32_t current_prefix = ~0u;
    uint32_t base = 0;
    int sub_bits = 0;
    for (int i = first[kMaxCodeLength] - 1; i >= index; --i) {
      while (i < first[len - 1]) {  // symbol i has a shorter code
        int shorter = len - 1;
        while (i < first[shorter - 1]) --shorter;
        c = (c + 1) >> (len - shorter);
        --c;
        len = shorter;
      }
      uint32_t prefix = c >> (len - kTableBits);
      if (prefix != current_prefix) {
        current_prefix = prefix;
        sub_bits = len - kTableBits;
        base = next_free;
        next_free += 1u << sub_bits;
        if (next_free > static_cast<uint32_t>(kCapacity)) return false;  // cannot happen
        entries_[prefix] = base << 16 | kLink | static_cast<uint32_t>(sub_bits);
      }
      int below = len - kTableBits;  // bits of this code inside the subtable
      uint32_t suffix = c & ((1u << below) - 1);
      Fill(entries_ + base + (suffix << (sub_bits - below)), 1u << (sub_bits - below),
           static_cast<uint32_t>(sorted[i]) << 16 | static_cast<uint32_t>(len));
      --c;
    }
    return true;
  }

  bool empty() const { return empty_; }

  // The entry of the next symbol (symbol << 16 | code length), without
  // consuming it. The table must not be empty and the reader must hold at
  // least 16 valid bits.
  inline uint32_t Lookup(const BitReader& in) const { return Resolve(RootEntry(in), in); }

  // Lookup in two steps: the primary entry, which may be a link, and the
  // entry it leads to. A link's value is at least 2^kTableBits << 16
  // (subtables follow the primary table), so a primary entry below
  // n << 16 for any n <= 2^kTableBits is a leaf of a symbol below n.
  inline uint32_t RootEntry(const BitReader& in) const { return entries_[in.buf >> (64 - kTableBits)]; }
  inline uint32_t Resolve(uint32_t entry, const BitReader& in) const {
    if (entry & kLink) [[unlikely]] {
      int sub_bits = static_cast<int>(entry & 31);
      entry = entries_[(entry >> 16) + ((in.buf << kTableBits) >> (64 - sub_bits))];
    }
    return entry;
  }
  static inline uint32_t Symbol(uint32_t entry) { return entry >> 16; }
  static inline int Length(uint32_t entry) { return static_cast<int>(entry & 31); }
  // Consumes the code of a leaf entry. A leaf's bits 5 to 15 are zero, so
  // its low six bits are the length: the same count that a 64-bit shift
  // takes from its operand, which spares the masking step on the way from
  // the table load to the next lookup.
  static inline void ConsumeLeaf(BitReader& in, uint32_t entry) {
    int n = static_cast<int>(entry & 63);
    in.buf <<= n;
    in.left -= n;
  }

  // Decodes one symbol (same conditions as Lookup).
  inline uint32_t Decode(BitReader& in) const {
    uint32_t entry = Lookup(in);
    ConsumeLeaf(in, entry);
    return Symbol(entry);
  }

 private:
  // Writes `entry` to the `span` entries at `at` (span a power of two),
  // four at a time where it can.
  static inline void Fill(uint32_t* at, uint32_t span, uint32_t entry) {
    if (span >= 4) {
      const uint32_t quad[4] = {entry, entry, entry, entry};
      for (uint32_t k = 0; k < span; k += 4) std::memcpy(at + k, quad, sizeof quad);
    } else {
      at[0] = entry;
      if (span == 2) at[1] = entry;
    }
  }

  // Runs of symbols counted side by side in Build (one for small trees).
  static constexpr int kParts = kSymbols >= 64 ? 4 : 1;

  bool empty_ = true;
  uint32_t entries_[kCapacity];
};

}  // namespace kestrin::cab::lzx

#endif  // KESTRIN_CABINET_LZX_HUFFMAN_H_
