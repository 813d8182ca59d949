// LZX block decoder for cabinet folders of compression method 3.
//
// Format notes (the LZX data compression format as cabinets use it):
//
// - A folder is one LZX stream, decoded into a sliding window of 2^15 to
//   2^21 bytes. The cabinet cuts the stream into data blocks of (at most)
//   32768 uncompressed bytes; each data block is one "frame" here, and every
//   data block starts on a 16-bit boundary of the bit stream, so the bit
//   reader starts afresh on each (lzx_huffman.h describes the bit order).
// - After a reset the stream opens with one bit: when set, a 32-bit
//   translation size for call instructions (E8) follows, high 16 bits
//   first.
// - Then LZX blocks follow, unrelated to the data blocks: 3 bits of block
//   type, 24 bits of uncompressed block size (three 8-bit fields, high
//   first), and per type:
//     1 verbatim:     main tree, length tree, then codes.
//     2 aligned:      8 aligned-offset code lengths of 3 bits each, then as
//                     for verbatim.
//     3 uncompressed: 1 to 16 zero bits up to the next 16-bit boundary, the
//                     three repeated offsets R0 R1 R2 as 32-bit
//                     little-endian values, the raw bytes, and one padding
//                     byte when the size is odd. A block's raw bytes may run
//                     on into the next data block; they continue at its
//                     first byte.
// - Trees are sent as code lengths through a pre-tree (20 lengths of 4
//   bits): the main tree in two parts (the 256 literals, then the 8 match
//   headers of each position slot), each part with a pre-tree of its own,
//   then the length tree (249 elements) with a third. Pre-tree symbols:
//     0..16  the length becomes (previous length - symbol) mod 17
//     17     4 + (4 bits) lengths become 0
//     18     20 + (5 bits) lengths become 0
//     19     4 + (1 bit) lengths become (previous - next symbol) mod 17,
//            the previous length being that of the run's first element
//   A run may reach past the end of the part it is in; the excess lengths
//   land on the elements that follow.
//   "Previous" is the length the element had in the last tree of the
//   folder: main and length tree lengths persist across blocks, and only a
//   reset clears them.
// - Main tree symbols below 256 are literals. Symbol 256 + 8 * slot + h is a
//   match: length h + 2, or for h = 7 the length tree symbol + 9 (2..257
//   in all). Position slots 0, 1 and 2 repeat R0, R1 or R2 (the used one
//   swaps places with R0). Any other slot carries extra bits after the
//   codes; its offset is base + extra - 2 and it pushes R0 -> R1 -> R2. In
//   aligned blocks a slot with 3 or more extra bits sends the lowest 3 of
//   them as an aligned-offset code, after the others.
// - A match must stay inside the window, the current LZX block and the
//   current frame, and must not reach before the first byte of the folder:
//   this decoder fails such data rather than read stale memory.
// - E8 translation undoes the encoder's conversion of the targets of x86
//   CALL instructions to absolute addresses. It is done on each frame after
//   decoding, on the copy handed to the caller (the window keeps the
//   untranslated bytes), for the first 32768 frames of a folder only.
#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cabinet/block_codec.h"
#include "cabinet/chunk_copy.h"
#include "cabinet/cpu_features.h"
#include "cabinet/lzx_format.h"
#include "cabinet/lzx_huffman.h"

namespace kestrin::cab {
namespace {

using namespace lzx;  // the bit reader, the tables, the format's sizes and slots

constexpr uint32_t kSignature = 0x44585a4c;  // "LZXD"
constexpr uint32_t kMinWindow = 1u << 15;
constexpr uint32_t kMaxWindow = 1u << 21;
// Bytes after the window's end that the chunked match copies may pass over
// (they put back what they overwrite).
constexpr uint32_t kWindowMargin = 261;
// create() reports max + kInputReserve; decompress() accepts max + kInputSlack.
constexpr uint32_t kInputReserve = 6148;
constexpr uint32_t kInputSlack = 6144;


constexpr int kRunSlack = 51;  // the longest run of one pre-tree symbol

enum BlockType : int { kNoBlock = 0, kVerbatim = 1, kAligned = 2, kUncompressed = 3 };


// Outcome of one stage of decoding a frame.
enum class Step { kOk, kInputUsedUp, kBad };

struct LzxDecoder {
  uint32_t signature;
  FreeFn free_fn;
  uint32_t max_block;
  uint32_t window_size;
  int cpu_type;
  int main_symbols;
  uint8_t* window;  // window_size + kWindowMargin bytes

  // Folder state; ResetState() sets it.
  uint32_t pos;        // window position of the next byte
  bool wrapped;        // the window has been filled once
  uint32_t r0, r1, r2;
  int block_type;      // of the current LZX block; kNoBlock before the first
  uint32_t block_size;
  uint32_t block_remaining;
  bool pad_pending;    // an odd-sized uncompressed block's padding byte is ahead
  bool header_read;    // the E8 header bit (and size) were read
  uint32_t e8_size;
  uint32_t out_pos;    // folder output position of the next frame
  uint32_t frames;     // frames decoded, up to kE8FrameLimit
  bool broken;         // a frame failed; nothing more until a reset

  uint8_t main_lengths[kMaxMainSymbols + kRunSlack];
  uint8_t length_lengths[kLengthSymbols + kRunSlack];
  uint8_t aligned_lengths[kAlignedSymbols];
  uint8_t pre_lengths[kPretreeSymbols];
  // The lengths pre_table was last built from, when built_pre_valid: a
  // pre-tree sent again unchanged keeps its table.
  uint8_t built_pre_lengths[kPretreeSymbols];
  bool built_pre_valid;
  HuffmanTable<kMaxMainSymbols, 11> main_table;
  HuffmanTable<kLengthSymbols, 10> length_table;
  HuffmanTable<kAlignedSymbols, 7> aligned_table;
  HuffmanTable<kPretreeSymbols, 8> pre_table;
};

LzxDecoder* FromHandle(void* handle) {
  auto* d = static_cast<LzxDecoder*>(handle);
  if (d == nullptr || d->signature != kSignature) return nullptr;
  return d;
}

void ResetState(LzxDecoder* d) {
  std::memset(d->window, 0, d->window_size + kWindowMargin);
  d->pos = 0;
  d->wrapped = false;
  d->r0 = d->r1 = d->r2 = 1;
  d->block_type = kNoBlock;
  d->block_size = 0;
  d->block_remaining = 0;
  d->pad_pending = false;
  d->header_read = false;
  d->e8_size = 0;
  d->out_pos = 0;
  d->frames = 0;
  d->broken = false;
  d->built_pre_valid = false;
  std::memset(d->main_lengths, 0, sizeof d->main_lengths);
  std::memset(d->length_lengths, 0, sizeof d->length_lengths);
}

// ---------------------------------------------------------------------------
// Trees

// (length - delta) mod 17 for a length and a delta of 0 to 16.
inline uint8_t LengthMinus(uint8_t length, uint32_t delta) {
  int v = static_cast<int>(length) - static_cast<int>(delta);
  return static_cast<uint8_t>(v < 0 ? v + 17 : v);
}

// Reads the code lengths of elements [first, last) through a freshly sent
// pre-tree, updating the previous lengths in place.
[[gnu::always_inline]] inline Step ReadLengthsWith(LzxDecoder* d, BitReader& in, uint8_t* lengths,
                                                   int first, int last) {
  for (int i = 0; i < kPretreeSymbols; ++i) d->pre_lengths[i] = static_cast<uint8_t>(in.Bits(4));
  if (in.Overrun()) return Step::kInputUsedUp;
  if (!d->built_pre_valid || std::memcmp(d->built_pre_lengths, d->pre_lengths, kPretreeSymbols) != 0) {
    d->built_pre_valid = false;
    if (!d->pre_table.Build(d->pre_lengths, kPretreeSymbols)) return Step::kBad;
    std::memcpy(d->built_pre_lengths, d->pre_lengths, kPretreeSymbols);
    d->built_pre_valid = true;
  }
  const auto& pre_table = d->pre_table;
  const bool empty = pre_table.empty();
  int i = first;
  while (i < last) {
    in.Refill();
    if (in.Overrun()) return Step::kInputUsedUp;
    if (empty) return Step::kBad;
    uint32_t symbol = pre_table.Decode(in);  // at most 15 bits
    if (symbol <= 16) {
      lengths[i] = LengthMinus(lengths[i], symbol);
      ++i;
      continue;
    }
    int run;
    uint8_t value = 0;
    if (symbol == 17) {
      run = 4 + static_cast<int>(in.Read(4));
    } else if (symbol == 18) {
      run = 20 + static_cast<int>(in.Read(5));
    } else {  // 19: a run of one length, sent as a delta against the first element
      run = 4 + static_cast<int>(in.Read(1));
      uint32_t delta = pre_table.Decode(in);  // 15 + 1 + 15 bits fit in one refill
      if (delta > 16) return Step::kBad;
      value = LengthMinus(lengths[i], delta);
    }
    // A run may pass the end of the part being read: the excess spills into
    // the elements that follow (the second part of the main tree) or into
    // the slack after the tree, where it is never used.
    std::memset(lengths + i, value, static_cast<size_t>(run));
    i += run;
  }
  return in.Overrun() ? Step::kInputUsedUp : Step::kOk;
}

// ReadLengthsWith on a local copy of the reader: stores to the lengths could
// otherwise change the reader, as far as the compiler knows, and would send
// it to memory and back on every symbol.
Step ReadLengths(LzxDecoder* d, BitReader& bits, uint8_t* lengths, int first, int last) {
  BitReader in = bits;
  Step step = ReadLengthsWith(d, in, lengths, first, last);
  bits = in;
  return step;
}

// Reads the trees of a verbatim or aligned block (the aligned-offset tree
// first for the latter) and builds their tables.
Step ReadTrees(LzxDecoder* d, BitReader& in, int type) {
  if (type == kAligned) {
    for (int i = 0; i < kAlignedSymbols; ++i) {
      d->aligned_lengths[i] = static_cast<uint8_t>(in.Bits(3));
    }
    if (!d->aligned_table.Build(d->aligned_lengths, kAlignedSymbols)) return Step::kBad;
  }
  Step step = ReadLengths(d, in, d->main_lengths, 0, kNumChars);
  if (step == Step::kOk) step = ReadLengths(d, in, d->main_lengths, kNumChars, d->main_symbols);
  if (step != Step::kOk) return step;
  if (!d->main_table.Build(d->main_lengths, d->main_symbols)) return Step::kBad;
  step = ReadLengths(d, in, d->length_lengths, 0, kLengthSymbols);
  if (step != Step::kOk) return step;
  if (!d->length_table.Build(d->length_lengths, kLengthSymbols)) return Step::kBad;
  return Step::kOk;
}

// ---------------------------------------------------------------------------
// Match copies
//
// `dst` is the window at the current position; the match never runs past
// the window's end (the caller checks), and the margin after the window
// absorbs the over-long stores of the chunked copies. Bytes ahead of the
// current position still hold the history a window ago, which matches with
// offsets close to the window size read, so whatever a chunked copy writes
// past the match is put back.

// Copies a match whose source lies `offset` bytes back in the same window
// pass (offset <= current position), overlapping or not.
inline void CopyMatch(uint8_t* dst, uint32_t offset, uint32_t length) {
  const uint8_t* src = dst - offset;
  if (offset >= 16) {
    CopyChunks<16>(dst, src, length);
  } else if (offset == 1) {
    std::memset(dst, src[0], length);  // a run of one byte
  } else if (offset >= 8) {
    CopyChunks<8>(dst, src, length);
  } else if (length <= 16) {
    for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
  } else {
    // A repeating pattern of `offset` bytes: each copy doubles the part
    // already laid out, which stays a whole number of periods.
    uint32_t done = offset;  // dst - src: the pattern so far starts at src
    uint32_t left = length;
    uint8_t* out = dst;
    while (left > done) {
      std::memcpy(out, src, done);
      out += done;
      left -= done;
      done *= 2;
    }
    std::memcpy(out, src, left);
  }
}

// ---------------------------------------------------------------------------
// Compressed blocks

// The registers of the decoding loop.
struct CodesState {
  BitReader in;
  uint32_t pos;
  uint32_t r0, r1, r2;
};

// Input a pass of the fast loop may use up: three refills of 4 bytes (the
// look-ahead at its end included).
constexpr ptrdiff_t kFastInput = 12;

// Decodes codes into the window until `stop`. kFast: only while at least
// kFastInput bytes of input are left, so that no refill runs short and the
// checks for input used up can go; the checked loop (kFast false) then
// decodes the rest exactly as it would have decoded everything. The fast
// loop's refill at the end of a pass (before the next symbol's lookup) has
// no branch; the bits it leaves below the valid ones are cleared before the
// checked loop takes over.
template <bool kAlignedBlock, bool kFast>
[[gnu::always_inline]] inline Step CodesLoop(LzxDecoder* d, CodesState& st, uint32_t stop) {
  BitReader in = st.in;
  uint8_t* const window = d->window;
  const uint32_t window_size = d->window_size;
  uint32_t pos = st.pos;
  uint32_t r0 = st.r0, r1 = st.r1, r2 = st.r2;
  Step step = Step::kOk;
  const auto refill = [&in] {
    if constexpr (kFast) {
      in.RefillFast();
    } else {
      in.Refill();
    }
  };

  using MainTable = decltype(d->main_table);
  // The fast loop refills and looks up the next symbol's primary entry at
  // the end of each pass, as soon as the bits of the pass are consumed:
  // ahead of the choice of a repeated offset and of the match copy, so that
  // a mispredicted branch in those does not take that work back with it.
  uint32_t entry = 0;
  const auto look_ahead = [&in, &entry, d] {
    in.RefillBranchless();
    entry = d->main_table.RootEntry(in);
  };
  if constexpr (kFast) {
    if (in.end - in.next < kFastInput) return step;
    look_ahead();
  }
  while (pos < stop) {
    if constexpr (kFast) {
      // The pass's refills, the look-ahead's included, take 12 bytes at most.
      if (in.end - in.next < kFastInput) break;
    } else {
      in.Refill();
      if (in.Overrun()) [[unlikely]] {
        step = Step::kInputUsedUp;
        break;
      }
      entry = d->main_table.RootEntry(in);
    }
    // A primary entry below kLiteralEntries is a literal whose code fits
    // the primary table: one test, no link check.
    static_assert(kNumChars <= 1 << MainTable::kRootBits);
    constexpr uint32_t kLiteralEntries = static_cast<uint32_t>(kNumChars) << 16;
    if (entry < kLiteralEntries) {
      // Literals come in runs: after one, at least 17 bits are left, enough
      // to look up the next symbol and take it too if it is a literal.
      MainTable::ConsumeLeaf(in, entry);
      window[pos++] = static_cast<uint8_t>(MainTable::Symbol(entry));
      if (pos == stop) break;
      entry = d->main_table.RootEntry(in);
      if (entry < kLiteralEntries) {
        MainTable::ConsumeLeaf(in, entry);
        window[pos++] = static_cast<uint8_t>(MainTable::Symbol(entry));
        if constexpr (kFast) look_ahead();
        continue;
      }
      refill();  // adds bits below the ones looked up: the entry stays valid
    }
    entry = d->main_table.Resolve(entry, in);
    if (MainTable::Symbol(entry) < kNumChars) [[unlikely]] {
      // A literal with a code longer than the primary table's bits.
      MainTable::ConsumeLeaf(in, entry);
      window[pos++] = static_cast<uint8_t>(MainTable::Symbol(entry));
      if constexpr (kFast) look_ahead();
      continue;
    }
    MainTable::ConsumeLeaf(in, entry);
    uint32_t symbol = MainTable::Symbol(entry) - kNumChars;
    uint32_t length = (symbol & 7) + kMinMatch;
    uint32_t slot = symbol >> 3;
    if constexpr (kFast) {
      // The length code, taken without a branch: the length table is looked
      // up for every match (the fast loop runs only when it is not empty)
      // and its code consumed only after header 7.
      uint32_t e = d->length_table.Lookup(in);
      uint32_t coded = 0u - static_cast<uint32_t>((symbol & 7) == 7);  // all ones or 0
      length += MainTable::Symbol(e) & coded;
      in.Consume(static_cast<int>(static_cast<uint32_t>(MainTable::Length(e)) & coded));
    } else if ((symbol & 7) == 7) {
      if (d->length_table.empty()) [[unlikely]] {
        step = Step::kBad;
        break;
      }
      length += d->length_table.Decode(in);
    }
    // The offset, without branching on the kind of slot: slots 0 to 2 have
    // no extra bits, and select a repeated offset, which moves to the front;
    // any other slot's offset pushes the others back.
    refill();
    int extra = kSlots.extra[slot];
    uint32_t formatted = kSlots.base[slot];
    if (kAlignedBlock && extra >= 3) {
      formatted += in.Read(extra - 3) << 3;
      if (d->aligned_table.empty()) [[unlikely]] {
        step = Step::kBad;
        break;
      }
      formatted += d->aligned_table.Decode(in);
    } else {
      formatted += in.Read(extra);
    }
    if constexpr (kFast) look_ahead();
    const bool repeated = slot < 3;
    uint32_t offset = slot == 0 ? r0 : slot == 1 ? r1 : r2;
    offset = repeated ? offset : formatted - 2;
    const uint32_t new_r1 = repeated ? (slot == 1 ? r0 : r1) : r0;
    const uint32_t new_r2 = repeated ? (slot == 2 ? r0 : r2) : r1;
    r2 = new_r2;
    r1 = new_r1;
    r0 = offset;

    // The match must end inside the block, the frame and the window, and
    // must not reach before the folder's first byte or past the window.
    if (length > stop - pos) [[unlikely]] {
      step = Step::kBad;
      break;
    }
    uint8_t* dst = window + pos;
    if (offset <= pos) [[likely]] {
      if (offset == 0) [[unlikely]] {
        step = Step::kBad;
        break;
      }
      CopyMatch(dst, offset, length);
    } else {
      if (!d->wrapped || offset >= window_size) [[unlikely]] {
        step = Step::kBad;
        break;
      }
      // The source starts in the previous pass through the window and may
      // run on across its end into this pass.
      uint32_t from = window_size - (offset - pos);
      uint32_t first_part = window_size - from;
      if (first_part >= length) {
        // The source lies window_size - offset bytes ahead of dst.
        if (from - pos >= 16) {
          CopyChunks<16>(dst, window + from, length);
        } else {
          std::memmove(dst, window + from, length);
        }
      } else {
        std::memmove(dst, window + from, first_part);
        CopyMatch(dst + first_part, offset, length - first_part);
      }
    }
    pos += length;
  }

  st.in = in;
  st.pos = pos;
  st.r0 = r0;
  st.r1 = r1;
  st.r2 = r2;
  return step;
}

// Decodes verbatim or aligned codes into the window until `stop`
// (pos < stop <= window size). Every match must end by `stop`.
template <bool kAlignedBlock>
[[gnu::always_inline]] inline Step DecodeCodesBody(LzxDecoder* d, BitReader& bits, uint32_t stop) {
  if (d->main_table.empty()) return Step::kBad;
  CodesState st{bits, d->pos, d->r0, d->r1, d->r2};
  Step step = Step::kOk;
  if (!d->length_table.empty()) {
    step = CodesLoop<kAlignedBlock, true>(d, st, stop);
    st.in.ClearBelow();
  }
  if (step == Step::kOk) step = CodesLoop<kAlignedBlock, false>(d, st, stop);
  if (step == Step::kOk && st.in.Overrun()) step = Step::kInputUsedUp;
  bits = st.in;
  d->pos = st.pos;
  d->r0 = st.r0;
  d->r1 = st.r1;
  d->r2 = st.r2;
  return step;
}

// The loops compiled twice: for any x86-64 and for processors with BMI2,
// whose shifts by a count in a register take one instruction. The choice is
// made once per process.
using DecodeCodesFn = Step (*)(LzxDecoder*, BitReader&, uint32_t);
template <bool kAlignedBlock>
Step DecodeCodesGeneric(LzxDecoder* d, BitReader& bits, uint32_t stop) {
  return DecodeCodesBody<kAlignedBlock>(d, bits, stop);
}
#if defined(__GNUC__) && defined(__x86_64__)
template <bool kAlignedBlock>
__attribute__((target("bmi2"))) Step DecodeCodesBmi2(LzxDecoder* d, BitReader& bits, uint32_t stop) {
  return DecodeCodesBody<kAlignedBlock>(d, bits, stop);
}
template <bool kAlignedBlock>
DecodeCodesFn ChooseDecodeCodes() {
  return CpuHasBmi2() ? DecodeCodesBmi2<kAlignedBlock> : DecodeCodesGeneric<kAlignedBlock>;
}
#else
template <bool kAlignedBlock>
DecodeCodesFn ChooseDecodeCodes() {
  return DecodeCodesGeneric<kAlignedBlock>;
}
#endif
template <bool kAlignedBlock>
Step DecodeCodes(LzxDecoder* d, BitReader& bits, uint32_t stop) {
  static const DecodeCodesFn decode = ChooseDecodeCodes<kAlignedBlock>();
  return decode(d, bits, stop);
}

// ---------------------------------------------------------------------------
// E8 translation

// Bit i of the result is set when data[i] is 0xE8, for the 64 bytes at data.
// Most blocks hold none: they are told apart with one test.
inline uint64_t E8Mask(const uint8_t* data) {
#if defined(__SSE2__)
  const __m128i e8 = _mm_set1_epi8(static_cast<char>(0xE8));
  const auto* v = reinterpret_cast<const __m128i*>(data);
  const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(v), e8);
  const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(v + 1), e8);
  const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(v + 2), e8);
  const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(v + 3), e8);
  if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) return 0;
  const auto bits = [](__m128i m) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(m)));
  };
  return bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
#else
  uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(data[i] == 0xE8) << i;
  return mask;
#endif
}

// Converts the call target after the E8 at p, at folder output position
// `current`, from absolute back to relative. The target is stored back
// whether it changed or not: the choice between the three cases depends on
// the data and is made without branching.
inline void TranslateCall(uint8_t* p, uint32_t current, uint32_t translation_size) {
  const uint32_t raw = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                       static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
  const int64_t v = static_cast<int32_t>(raw);
  const int64_t here = current;
  // 0 <= v < translation size: an absolute target, made relative again.
  // -current <= v < 0: a relative target the encoder moved up by the size.
  const bool absolute = static_cast<uint64_t>(v) < translation_size;
  const bool shifted = static_cast<uint64_t>(v + here) < static_cast<uint64_t>(here);
  int64_t result = shifted ? v + translation_size : v;
  result = absolute ? v - here : result;
  const uint32_t r = static_cast<uint32_t>(result);
  p[1] = static_cast<uint8_t>(r);
  p[2] = static_cast<uint8_t>(r >> 8);
  p[3] = static_cast<uint8_t>(r >> 16);
  p[4] = static_cast<uint8_t>(r >> 24);
}

// Converts the absolute call targets of frame `data` (size bytes, at folder
// output position `start`) back to relative ones. The E8 bytes are found 64
// at a time as a bit mask; a call's four operand bytes are never taken for
// the start of another call.
void TranslateE8(uint8_t* data, uint32_t size, uint32_t start, uint32_t translation_size) {
  if (size <= 10) return;
  const uint32_t limit = size - 10;  // an E8 must lie before this
  uint32_t next = 0;                 // the first position after the last call's operand
  uint32_t block = 0;
  for (; block < limit && size - block >= 64; block += 64) {
    uint64_t mask = E8Mask(data + block);
    if (next > block) mask &= ~uint64_t{0} << (next - block);  // at most 4 positions
    if (limit - block < 64) mask &= (uint64_t{1} << (limit - block)) - 1;
    while (mask != 0) {
      const int bit = __builtin_ctzll(mask);
      const uint32_t at = block + static_cast<uint32_t>(bit);
      TranslateCall(data + at, start + at, translation_size);
      next = at + 5;
      mask &= ~(uint64_t{31} << bit);
    }
  }
  for (uint32_t at = next > block ? next : block; at < limit;) {
    if (data[at] == 0xE8) {
      TranslateCall(data + at, start + at, translation_size);
      at += 5;
    } else {
      ++at;
    }
  }
}

// ---------------------------------------------------------------------------
// One frame

// Where the input stands between stages: in the bit stream (bits) or, inside
// an uncompressed block, at a byte (`byte`).
struct Input {
  BitReader bits;
  const uint8_t* byte;
  const uint8_t* end;
  bool in_bits;
};

void EnterBits(Input& in) {
  in.bits.Start(in.byte, in.end);
  in.in_bits = true;
}

// Reads the next LZX block header (and its trees, or the start of its raw
// bytes).
Step ReadBlockHeader(LzxDecoder* d, Input& in) {
  if (d->pad_pending) {
    // The padding byte after an odd-sized uncompressed block.
    if (in.end - in.byte < 1) return Step::kInputUsedUp;
    ++in.byte;
    d->pad_pending = false;
  }
  if (!in.in_bits) EnterBits(in);
  BitReader& bits = in.bits;
  int type = static_cast<int>(bits.Bits(3));
  uint32_t size = bits.Read(8) << 16;
  size |= bits.Read(8) << 8;
  size |= bits.Bits(8);
  if (bits.Overrun()) return Step::kInputUsedUp;
  d->block_type = kNoBlock;
  switch (type) {
    case kVerbatim:
    case kAligned: {
      Step step = ReadTrees(d, bits, type);
      if (step != Step::kOk) return step;
      break;
    }
    case kUncompressed: {
      const uint8_t* at = bits.AlignToBytes();
      if (at == nullptr || in.end - at < 12) return Step::kBad;  // offsets past the input
      uint32_t r[3];
      for (int i = 0; i < 3; ++i, at += 4) {
        r[i] = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
               static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
      }
      d->r0 = r[0];
      d->r1 = r[1];
      d->r2 = r[2];
      in.byte = at;
      in.in_bits = false;
      break;
    }
    default:
      return Step::kBad;  // block types 0 and 4 to 7 do not exist
  }
  d->block_type = type;
  d->block_size = size;
  d->block_remaining = size;
  return Step::kOk;
}

// Decodes the next `want` bytes of the folder into the window, copying each
// piece to `out`. *produced counts the bytes handed over, also when the
// frame stops short.
Step DecodeFrame(LzxDecoder* d, const uint8_t* data, uint32_t size, uint8_t* out, uint32_t want,
                 uint32_t* produced) {
  Input in;
  in.byte = data;
  in.end = data + size;
  in.in_bits = false;
  // The raw bytes of an uncompressed block simply go on at the data block's
  // first byte, and so does its padding byte when one is still ahead; codes
  // of a compressed block and the stream header restart the bit stream
  // there. A block header starts it itself.
  bool in_codes = d->block_remaining > 0 && d->block_type != kUncompressed;
  if (in_codes || !d->header_read) EnterBits(in);

  if (!d->header_read) {
    if (in.bits.Bits(1)) {
      uint32_t high = in.bits.Bits(16);
      uint32_t low = in.bits.Bits(16);
      d->e8_size = high << 16 | low;
    } else {
      d->e8_size = 0;
    }
    if (in.bits.Overrun()) return Step::kInputUsedUp;
    d->header_read = true;
  }

  uint32_t& done = *produced;
  done = 0;
  while (done < want) {
    if (d->block_remaining == 0) {
      Step step = ReadBlockHeader(d, in);
      if (step != Step::kOk) return step;
      continue;  // a block may be empty
    }
    uint32_t start = d->pos;
    uint32_t run = d->block_remaining;
    if (run > want - done) run = want - done;
    if (run > d->window_size - start) run = d->window_size - start;
    Step step;
    if (d->block_type == kUncompressed) {
      if (static_cast<uint32_t>(in.end - in.byte) < run) return Step::kBad;  // raw bytes past the input
      std::memcpy(d->window + start, in.byte, run);
      in.byte += run;
      d->pos += run;
      step = Step::kOk;
    } else if (d->block_type == kAligned) {
      step = DecodeCodes<true>(d, in.bits, start + run);
    } else {
      step = DecodeCodes<false>(d, in.bits, start + run);
    }
    uint32_t got = d->pos - start;
    std::memcpy(out + done, d->window + start, got);
    done += got;
    d->block_remaining -= got;
    if (d->pos == d->window_size) {
      d->pos = 0;
      d->wrapped = true;
    }
    if (step != Step::kOk) return step;
    if (d->block_type == kUncompressed && d->block_remaining == 0 && (d->block_size & 1)) {
      d->pad_pending = true;
    }
  }
  // An odd-sized uncompressed block that ends with the frame: its padding
  // byte may close this data block or open the next one. A single byte left
  // over here is that byte.
  if (d->pad_pending && !in.in_bits && in.end - in.byte == 1) d->pad_pending = false;
  return Step::kOk;
}

// ---------------------------------------------------------------------------
// The codec interface

BlockCodecError Create(uint32_t max_block, const void* config, AllocFn alloc, FreeFn free,
                       uint32_t* min_input, void** handle) {
  if (config == nullptr || alloc == nullptr || free == nullptr || min_input == nullptr) {
    return kCodecBadHandle;
  }
  if (max_block == 0 || max_block > kMaxBlockSize) max_block = kMaxBlockSize;
  if (max_block > UINT32_MAX - kInputReserve) return kCodecBufferOverflow;
  *min_input = max_block + kInputReserve;
  const auto* lzx_config = static_cast<const LzxConfig*>(config);
  uint32_t window_size = lzx_config->window_size;
  if (window_size < kMinWindow || window_size > kMaxWindow ||
      (window_size & (window_size - 1)) != 0) {
    return kCodecConfigNotSupported;
  }
  if (handle == nullptr) return kCodecOk;
  *handle = nullptr;

  void* memory = alloc(static_cast<uint32_t>(sizeof(LzxDecoder)));
  if (memory == nullptr) return kCodecOutOfMemory;
  auto* window = static_cast<uint8_t*>(alloc(window_size + kWindowMargin));
  if (window == nullptr) {
    free(memory);
    return kCodecOutOfMemory;
  }
  auto* d = new (memory) LzxDecoder;
  d->signature = kSignature;
  d->free_fn = free;
  d->max_block = max_block;
  d->window_size = window_size;
  d->cpu_type = lzx_config->cpu_type;
  d->main_symbols = kNumChars + 8 * SlotCount(window_size);
  d->window = window;
  ResetState(d);
  *handle = d;
  return kCodecOk;
}

BlockCodecError Decompress(void* handle, const uint8_t* in, uint32_t in_size, uint8_t* out,
                           uint32_t* out_size) {
  LzxDecoder* d = FromHandle(handle);
  if (d == nullptr || out_size == nullptr || out == nullptr || (in == nullptr && in_size != 0)) {
    return kCodecBadHandle;
  }
  uint32_t want = *out_size;
  if (want > d->max_block) return kCodecBufferOverflow;
  *out_size = 0;
  if (in_size > d->max_block + kInputSlack) return kCodecFailed;
  if (d->broken) return kCodecFailed;
  if (want == 0) return kCodecOk;

  uint32_t produced = 0;
  Step step = DecodeFrame(d, in, in_size, out, want, &produced);
  if (step == Step::kBad) {
    d->broken = true;
    return kCodecFailed;
  }
  if (step == Step::kInputUsedUp) {
    // A short frame: the caller's size check rejects it.
    d->broken = true;
    *out_size = produced;
    return kCodecOk;
  }
  if (d->e8_size != 0 && d->frames < kE8FrameLimit) TranslateE8(out, want, d->out_pos, d->e8_size);
  d->out_pos += want;
  if (d->frames < kE8FrameLimit) ++d->frames;
  *out_size = want;
  return kCodecOk;
}

BlockCodecError Reset(void* handle) {
  LzxDecoder* d = FromHandle(handle);
  if (d == nullptr) return kCodecBadHandle;
  ResetState(d);
  return kCodecOk;
}

BlockCodecError Destroy(void* handle) {
  LzxDecoder* d = FromHandle(handle);
  if (d == nullptr) return kCodecBadHandle;
  FreeFn free_fn = d->free_fn;
  d->signature = 0;
  free_fn(d->window);
  d->~LzxDecoder();
  free_fn(d);
  return kCodecOk;
}

}  // namespace

const CabBlockCodec kLzxCodec = {"Lzx", Create, Decompress, Reset, Destroy};

}  // namespace kestrin::cab
