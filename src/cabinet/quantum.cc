// Quantum block decoder (cabinet compression method 2).
//
// Quantum is an LZ77 scheme whose symbols are coded with adaptive frequency
// models and a 16-bit arithmetic coder. Each cabinet data block is one
// arithmetic-coded stream; the window and the models carry over from block
// to block within a folder and are reset between folders.
//
// Symbols
// -------
// Every step starts with a selector symbol (7 values):
//   0..3  a literal byte follows, coded in literal model 0..3, which covers
//         the bytes 0..63, 64..127, 128..191 or 192..255;
//   4     a match of length 3: a position slot from the length-3 model;
//   5     a match of length 4: a position slot from the length-4 model;
//   6     a longer match: a length slot from the length model (length =
//         base + extra + 5, 5..259), then a position slot from the
//         longer-match model.
// A position slot stands for the offsets base+1 .. base+2^extra; the exact
// offset is the slot base plus `extra` raw bits plus 1. The three position
// models differ only in how many slots they offer: those whose base lies
// below 4096, below 262144, and below the window size, each also limited to
// slots below the window size.
//
// Models
// ------
// A model is a list of (symbol, cumulative frequency) entries, kept in
// decreasing order of cumulative frequency, followed by a terminating entry
// with cumulative frequency 0; the first entry's value is the model's total.
// Initially every symbol has frequency 1 and the symbols are in ascending
// order. After each decoded symbol the frequency of that entry grows by 8
// (its cumulative frequency and that of every entry before it). When the
// total exceeds 3800 the model is rescaled: normally every cumulative
// frequency is halved, keeping each strictly above its successor; every
// 50th rescale (the 4th for the first time) instead halves the single
// frequencies, rounding up, and sorts the entries by frequency so that the
// most frequent symbols are found first.
//
// Arithmetic decoder
// ------------------
// Three 16-bit registers: `low` and `high` bound the current interval
// (inclusive), `code` holds the 16 stream bits the decoder is looking at.
// Each block starts with low = 0, high = 0xFFFF and code = its first 16
// bits. A symbol is found by scaling code into the model's total and taking
// the entry whose interval contains it; the interval then shrinks to that
// entry's share. Renormalisation shifts all three registers left while the
// top bits of low and high agree (the bit is settled), and also while the
// interval straddles the middle closely (low = 01..., high = 10...): then
// the second bit is dropped from all three before the shift. Every shift
// pulls one new stream bit into code. Because code always lies in
// [low, high], any input, however damaged, decodes to some valid symbol;
// damage shows only as matches that reach too far or a stream that ends
// early.
//
// Bit stream
// ----------
// Bytes are read most significant bit first. The extra bits of position and
// length slots are raw bits taken from the same reader at its current
// position, that is right after the bits that have already been shifted into
// code (so they lie 16 bits beyond what the arithmetic decoder has consumed
// so far); the arithmetic decoder then continues behind them.
//
// Failure rules: a match longer than the bytes the block still owes, a match
// reaching before the first byte the folder produced, or a block that needs
// bits beyond its input fails the call (kCodecFailed). The window is zeroed
// when made and on reset, so a damaged block can never expose old memory.
#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "cabinet/block_codec.h"
#include "cabinet/chunk_copy.h"
#include "cabinet/cpu_features.h"
#include "cabinet/quantum_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrin::cab {
namespace {

constexpr uint32_t kSignature = 0x4D54514Bu;  // "KQTM"
constexpr int kMinWindowBits = 10;
constexpr int kMaxWindowBits = 21;
// A compressed block may exceed the uncompressed maximum by this much.
constexpr uint32_t kInputMargin = 10240;

using namespace quantum;  // the format's sizes and slots

// Cumulative frequencies are searched eight at a time: the entries, their
// terminator and zeros up to a multiple of eight.
constexpr int kLanes = 8;
constexpr int kModelSlots = (kMaxModelSymbols + 1 + kLanes - 1) / kLanes * kLanes;

struct Model {
  // cumulative frequencies, cum[symbols] == 0 and zeros after it
  alignas(16) uint16_t cum[kModelSlots];
  uint16_t sym[kMaxModelSymbols + 1];  // symbol of each entry
  int symbols;             // number of entries before the terminator
  int groups;              // groups of kLanes slots holding the entries (a terminator's 0 never counts)
  int reorder_countdown;   // rescales left until the next reordering
};

void InitModel(Model& m, int symbols, int first_symbol) {
  m.symbols = symbols;
  m.groups = (symbols + kLanes - 1) / kLanes;
  m.reorder_countdown = kFirstReorder;
  for (int i = 0; i <= symbols; ++i) {
    m.sym[i] = static_cast<uint16_t>(first_symbol + i);
    m.cum[i] = static_cast<uint16_t>(symbols - i);
  }
}

#if defined(__SSE2__)
// The plain rescale (no reordering) of m, eight slots at a time: each
// cumulative frequency halved and kept above its successor's new value.
// Unrolled, the new value of entry i is max over j = i..n of
// (cum[j] / 2 + j) - i, with cum[n] = 0: a running maximum taken from the
// end of the list, within each group by shifting lanes down, and carried
// from group to group.
void HalveCumulative(Model& m) {
  const int n = m.symbols;
  auto* cum = reinterpret_cast<__m128i*>(m.cum);
  const __m128i entries = _mm_set1_epi16(static_cast<int16_t>(n));
  __m128i index = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const int last = n / kLanes;  // the group holding the terminator
  index = _mm_add_epi16(index, _mm_set1_epi16(static_cast<int16_t>(last * kLanes)));
  __m128i carry = _mm_setzero_si128();
  for (int g = last; g >= 0; --g) {
    const __m128i c = _mm_load_si128(cum + g);
    // c / 2 + j for the entries and the terminator, 0 beyond it.
    const __m128i up_to_n = _mm_cmpgt_epi16(_mm_add_epi16(entries, _mm_set1_epi16(1)), index);
    __m128i h = _mm_and_si128(_mm_add_epi16(_mm_srli_epi16(c, 1), index), up_to_n);
    h = _mm_max_epi16(h, _mm_srli_si128(h, 2));
    h = _mm_max_epi16(h, _mm_srli_si128(h, 4));
    h = _mm_max_epi16(h, _mm_srli_si128(h, 8));
    h = _mm_max_epi16(h, carry);
    carry = _mm_shuffle_epi32(_mm_shufflelo_epi16(h, 0), 0);
    // The terminator and what follows it stay 0.
    const __m128i before_n = _mm_cmpgt_epi16(entries, index);
    _mm_store_si128(cum + g, _mm_and_si128(_mm_sub_epi16(h, index), before_n));
    index = _mm_sub_epi16(index, _mm_set1_epi16(kLanes));
  }
}
#endif

// Called when a model's total has passed the limit.
[[gnu::noinline]] void Rescale(Model& m) {
#if defined(__SSE2__)
  if (m.reorder_countdown > 1) {
    --m.reorder_countdown;
    HalveCumulative(m);
    return;
  }
#endif
  RescaleModel(m.symbols, &m.reorder_countdown, m.cum, m.sym);
}

// Division by a model total without a divide instruction. Totals never
// exceed kRescaleLimit + kUpdateStep when a symbol is decoded, products
// c * range stay below 2^28, and with m = ceil(2^40 / total) the quotient
// floor(x / total) equals (x * m) >> 40 exactly for every x < 2^28 (the
// error m * total - 2^40 is below total <= 2^12). The bounds of a symbol
// need c * range / total for two frequencies c <= total: range * m is
// formed while the symbol is searched, leaving one multiplication each
// once c is known; c * (range * m) <= range * (2^40 + total) < 2^57.
constexpr uint32_t kMaxTotal = kRescaleLimit + kUpdateStep;
struct ReciprocalTable {
  uint64_t m[kMaxTotal + 1];
};
constexpr ReciprocalTable MakeReciprocals() {
  ReciprocalTable t{};
  for (uint32_t d = 1; d <= kMaxTotal; ++d) t.m[d] = ((uint64_t{1} << 40) + d - 1) / d;
  return t;
}
constexpr ReciprocalTable kReciprocal = MakeReciprocals();

// range * m for a model's total: the factor of ScaleByRange.
inline uint64_t RangeOverTotal(uint32_t range, uint32_t total) { return range * kReciprocal.m[total]; }

// floor(c * range / total) for the factor range_over_total of range and total.
inline uint32_t ScaleByRange(uint32_t c, uint64_t range_over_total) {
  return static_cast<uint32_t>((c * range_over_total) >> 40);
}

struct Decoder {
  uint32_t signature;
  AllocFn alloc;
  FreeFn free;
  uint32_t max_block;
  int cpu_type;
  int window_bits;
  uint32_t window_size;
  uint8_t* window;      // window_size bytes
  uint32_t window_pos;  // where the next byte goes
  uint32_t history;     // bytes produced since the reset, capped at window_size

  Model selector;
  Model literal[4];
  Model position[3];  // matches of length 3, of length 4, longer
  Model length;
};

void ResetDecoder(Decoder& d) {
  std::memset(d.window, 0, d.window_size);
  d.window_pos = 0;
  d.history = 0;
  InitModel(d.selector, kSelectorSymbols, 0);
  for (int i = 0; i < 4; ++i) InitModel(d.literal[i], kLiteralSymbols, i * kLiteralSymbols);
  const uint32_t size = d.window_size;
  const int all = SlotsBelow(size);
  InitModel(d.position[0], std::min(SlotsBelow(4096), all), 0);
  InitModel(d.position[1], std::min(SlotsBelow(262144), all), 0);
  InitModel(d.position[2], all, 0);
  InitModel(d.length, kLengthSymbols, 0);
}

// Input bit reader over one data block.
//
//   next_, end_  the bytes not yet loaded into the buffer;
//   buf_         the loaded, unread bits, left-aligned: the next bit of the
//                stream is bit 63;
//   count_       how many bits of buf_ are valid (0..64);
//   padding_     zero bytes supplied after the block's end.
// Reading past the end yields zero bits; Overrun() tells whether any bit
// that was actually consumed lay beyond the block.
class BitReader {
 public:
  BitReader(const uint8_t* in, uint32_t size) : next_(in), end_(in + size) {}

  // Consumes n bits (0 <= n <= 32) and returns them, first bit highest.
  uint32_t Bits(int n) {
    if (end_ - next_ >= 8) {
      // Whether bits are needed or not: a branch on the bit count would be
      // mispredicted often. Bits loaded beyond count_ are the stream's own
      // next bits, so loading them again changes nothing.
      uint64_t word;
      std::memcpy(&word, next_, 8);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      buf_ |= word >> count_;
      next_ += (63 - count_) >> 3;  // whole bytes that fit
      count_ |= 56;
    } else if (count_ < n) {
      RefillTail();
    }
    const uint32_t v = static_cast<uint32_t>((buf_ >> 1) >> (63 - n));
    buf_ <<= n;
    count_ -= n;
    return v;
  }

  // Whether a consumed bit lay beyond the block. An encoder ends a block
  // with enough bits to cover the code register's 16-bit look-ahead, so this
  // only happens to a block that was cut short or damaged.
  bool Overrun() const { return padding_ != 0 && padding_ * 8 > count_; }

 private:
  // Within the last 8 bytes: byte by byte, zero bytes after the end.
  void RefillTail() {
    while (count_ <= 56) {
      uint64_t byte = 0;
      if (next_ < end_) {
        byte = *next_++;
      } else {
        ++padding_;
      }
      buf_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t buf_ = 0;
  int count_ = 0;
  int padding_ = 0;
};

// The arithmetic decoder's registers for one block, with the reader that
// feeds them.
// Adds kUpdateStep to every entry of m whose cumulative frequency c has
// c * range >= scaled, and returns how many there were.
template <bool kVector>
inline int CountAndUpdate(Model& m, uint32_t range, uint32_t scaled) {
#if defined(__SSE2__)
  if constexpr (kVector) {
    // c * range >= scaled exactly when c >= ceil(scaled / range). The
    // frequencies stay below 2^15: signed 16-bit lanes compare them.
    const uint32_t t = (scaled + range - 1) / range;
    const __m128i below = _mm_set1_epi16(static_cast<int16_t>(t - 1));
    const __m128i step = _mm_set1_epi16(kUpdateStep);
    __m128i counts = _mm_setzero_si128();
    auto* cum = reinterpret_cast<__m128i*>(m.cum);
    for (int g = 0; g < m.groups; ++g) {
      const __m128i c = _mm_load_si128(cum + g);
      const __m128i at_least = _mm_cmpgt_epi16(c, below);  // all ones where c >= t
      _mm_store_si128(cum + g, _mm_add_epi16(c, _mm_and_si128(at_least, step)));
      counts = _mm_sub_epi16(counts, at_least);
    }
    // Each lane counted at most kModelSlots / kLanes: one byte; add the bytes.
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
  }
#endif
  int n = 0;
  while (m.cum[n] * range >= scaled) {
    m.cum[n] = static_cast<uint16_t>(m.cum[n] + kUpdateStep);
    ++n;
  }
  return n;
}

class ArithmeticDecoder {
 public:
  ArithmeticDecoder(const uint8_t* in, uint32_t size) : bits_(in, size) {
    above_low_ = bits_.Bits(16);  // code, with low = 0
  }

  BitReader& bits() { return bits_; }

  // Decodes one symbol from m and updates m.
  //
  // The symbol is the first entry whose successor's cumulative frequency
  // does not exceed target = ((code - low + 1) * total - 1) / range, that
  // is, whose successor's is below t = ceil((code - low + 1) * total /
  // range). The frequencies decrease along the list, so the entries from
  // the first to the symbol are exactly those whose own cumulative
  // frequency is at least t (the first always is: t <= total), and the
  // update (+8 to the symbol's entry and every entry before it) applies to
  // them: one comparison with t, lane by lane, finds the symbol and updates
  // the model. The new bounds need c * range / total, computed with the
  // reciprocal of total.
  template <bool kVector = false>
  uint32_t Decode(Model& m) {
    const uint32_t range = high_ - low_ + 1;
    const uint32_t total = m.cum[0];
    const uint64_t scale = RangeOverTotal(range, total);
    const int i = CountAndUpdate<kVector>(m, range, (above_low_ + 1) * total) - 1;
    const uint32_t symbol = m.sym[i];
    const uint32_t upper = m.cum[i] - kUpdateStep;
    const uint32_t rise = ScaleByRange(m.cum[i + 1], scale);
    high_ = low_ + ScaleByRange(upper, scale) - 1;
    low_ += rise;
    above_low_ -= rise;
    if (m.cum[0] > kRescaleLimit) Rescale(m);

    Renormalise();
    return symbol;
  }

 private:
  void Renormalise() {
    // Settled leading bits: all n bits in which low and high agree are
    // shifted out at once (16 when they are equal, none when the top bits
    // differ already). Then, while low = 01... and high = 10..., the
    // second bit is dropped from all three registers (code lies between
    // them, so its second bit is the inverse of its first) and they shift
    // left; the top bits still differ afterwards. Those k straddle steps
    // are the run of bits, right after the first differing one, in which
    // low has a one and high a zero: both counts come from the registers
    // as they are, and the shifts by n + k are done at once (keeping bit
    // 15, dropping bits 14..15-k for the straddle steps).
    //
    // c = n + 16 counts the leading zeros of the 32-bit difference. The
    // run's first bit is low_not_high's bit 14 - n; placed at bit 33 and
    // shifted by c it reaches bit 63, the bits above it leave, and the
    // complemented register's ones below bit 33 end the count.
    const int c = std::countl_zero(low_ ^ high_);
    const int n = c - 16;
    const uint64_t low_not_high = static_cast<uint64_t>(low_ & ~high_) << 33;
    const int k = std::countl_zero(~low_not_high << c);
    const int shift = n + k;
    low_ = (low_ << shift) & 0x7FFF;
    high_ = ((high_ << shift) | ((1u << shift) - 1) | 0x8000) & 0xFFFF;
    // Each step, settled or straddling, maps low and code alike to twice
    // their value less the same amount (0x10000 for a settled one bit, 0
    // for a settled zero, 0x8000 for a straddle step) and brings a new
    // stream bit into code:
    // code - low doubles and takes the bit. So the n + k new stream bits,
    // read at once, end up below code - low shifted by n + k.
    above_low_ = (above_low_ << shift) | bits_.Bits(shift);
  }

  BitReader bits_;
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFF;
  // code - low: code itself is never needed, only how far it lies above
  // low (at most high - low).
  uint32_t above_low_ = 0;
};

Decoder* FromHandle(void* handle) {
  auto* d = static_cast<Decoder*>(handle);
  return d && d->signature == kSignature ? d : nullptr;
}

BlockCodecError Create(uint32_t max_block, const void* config, AllocFn alloc, FreeFn free,
                       uint32_t* min_input, void** handle) {
  if (!config) return kCodecBadHandle;
  const auto* qc = static_cast<const QuantumConfig*>(config);
  if (qc->window_bits < kMinWindowBits || qc->window_bits > kMaxWindowBits) {
    return kCodecConfigNotSupported;
  }
  if (max_block == 0 || max_block > kMaxBlockSize) max_block = kMaxBlockSize;
  if (min_input) *min_input = max_block + kInputMargin;
  if (!handle) return kCodecOk;
  *handle = nullptr;
  if (!alloc || !free) return kCodecBadHandle;

  auto* d = static_cast<Decoder*>(alloc(sizeof(Decoder)));
  if (!d) return kCodecOutOfMemory;
  std::memset(static_cast<void*>(d), 0, sizeof(Decoder));
  d->window_size = 1u << qc->window_bits;
  d->window = static_cast<uint8_t*>(alloc(d->window_size));
  if (!d->window) {
    free(d);
    return kCodecOutOfMemory;
  }
  d->signature = kSignature;
  d->alloc = alloc;
  d->free = free;
  d->max_block = max_block;
  d->cpu_type = qc->cpu_type;
  d->window_bits = qc->window_bits;
  ResetDecoder(*d);
  *handle = d;
  return kCodecOk;
}

// Decodes one data block of `owed` bytes (at least 1) into out; returns
// false when the block fails, with *produced telling how many bytes reached
// out all the same.
[[gnu::always_inline]] inline bool DecodeBlock(Decoder* d, const uint8_t* in, uint32_t in_size, uint8_t* out,
                                               uint32_t owed, uint32_t* produced) {
  uint8_t* const window = d->window;
  const uint32_t window_size = d->window_size;
  const uint32_t mask = window_size - 1;
  uint32_t pos = d->window_pos;
  uint32_t history = d->history;
  // Bytes of the window from flush_from to pos still have to reach out.
  uint32_t flush_from = pos;
  uint8_t* out_next = out;
  auto flush_to_window_end = [&]() {
    std::memcpy(out_next, window + flush_from, window_size - flush_from);
    out_next += window_size - flush_from;
    flush_from = 0;
    pos = 0;
  };

  ArithmeticDecoder ac(in, in_size);
  BitReader& bits = ac.bits();
  bool failed = false;
  // A match copied in 16-byte chunks waits until the next selector is
  // decoded: its source, anywhere in a window of up to 2 MiB, is fetched
  // meanwhile.
  uint32_t pending_to = 0, pending_from = 0, pending_length = 0;
  const auto copy_pending = [&]() {
    if (pending_length) CopyChunks<16>(window + pending_to, window + pending_from, pending_length);
    pending_length = 0;
  };

  while (owed > 0) {
    if (bits.Overrun()) {
      failed = true;  // the input ran out before the block was complete
      break;
    }
    const uint32_t selector = ac.Decode(d->selector);
    copy_pending();
    if (selector < 4) {
      window[pos++] = static_cast<uint8_t>(ac.Decode<true>(d->literal[selector]));
      if (pos == window_size) flush_to_window_end();
      if (history < window_size) ++history;
      --owed;
      continue;
    }

    uint32_t length;
    uint32_t slot;
    if (selector == 4) {
      length = 3;
      slot = ac.Decode(d->position[0]);
    } else if (selector == 5) {
      length = 4;
      slot = ac.Decode(d->position[1]);
    } else {
      const uint32_t length_slot = ac.Decode(d->length);
      length = kLengthBase.v[length_slot] + bits.Bits(kLengthExtraBits[length_slot]) + 5;
      slot = ac.Decode(d->position[2]);
    }
    const uint32_t offset = kPositionBase.v[slot] + bits.Bits(kPositionExtraBits[slot]) + 1;
    if (length > owed || offset > history) {
      failed = true;  // reaches past the block's end or before the folder's start
      break;
    }
    owed -= length;
    history = std::min(window_size, history + length);

    uint32_t src = (pos - offset) & mask;
    if (offset >= 16 && offset <= window_size - 16 && pos + length + 16 <= window_size &&
        src + length + 16 <= window_size) {
      // Source and destination at least 16 bytes apart (either way round)
      // and 16 bytes clear of the window's end.
      __builtin_prefetch(window + src);
      pending_to = pos;
      pending_from = src;
      pending_length = length;
      pos += length;
      continue;
    }
    if (pos + length < window_size && src + length <= window_size) {
      // Common case: neither end wraps. Overlapping copies repeat bytes, so
      // copy forwards byte by byte unless the regions are apart.
      if (offset >= length && length > 16) {
        std::memmove(window + pos, window + src, length);
      } else {
        for (uint32_t k = 0; k < length; ++k) window[pos + k] = window[src + k];
      }
      pos += length;
      continue;
    }
    while (length > 0) {
      const uint32_t chunk = std::min({length, window_size - pos, window_size - src});
      if (src >= pos || src + chunk <= pos) {
        std::memmove(window + pos, window + src, chunk);
      } else {
        for (uint32_t k = 0; k < chunk; ++k) window[pos + k] = window[src + k];
      }
      length -= chunk;
      pos += chunk;
      src = (src + chunk) & mask;
      if (pos == window_size) flush_to_window_end();
    }
  }
  copy_pending();
  if (!failed && bits.Overrun()) failed = true;

  std::memcpy(out_next, window + flush_from, pos - flush_from);
  out_next += pos - flush_from;
  d->window_pos = pos;
  d->history = history;
  *produced = static_cast<uint32_t>(out_next - out);
  return !failed;
}

// The block loop compiled twice: for any processor and for those with BMI2
// and LZCNT, whose shifts by a count in a register and leading-zero counts
// (two per symbol in the renormalisation) take one fast instruction each.
// The choice is made once per process.
using DecodeBlockFn = bool (*)(Decoder*, const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t*);
bool DecodeBlockGeneric(Decoder* d, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t owed,
                        uint32_t* produced) {
  return DecodeBlock(d, in, in_size, out, owed, produced);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("bmi2,lzcnt"))) bool DecodeBlockBmi2(Decoder* d, const uint8_t* in, uint32_t in_size,
                                                           uint8_t* out, uint32_t owed, uint32_t* produced) {
  return DecodeBlock(d, in, in_size, out, owed, produced);
}
DecodeBlockFn ChooseDecodeBlock() {
  return CpuHasBmi2() && CpuHasLzcnt() ? DecodeBlockBmi2 : DecodeBlockGeneric;
}
#else
DecodeBlockFn ChooseDecodeBlock() { return DecodeBlockGeneric; }
#endif
const DecodeBlockFn kDecodeBlock = ChooseDecodeBlock();

BlockCodecError Decompress(void* handle, const uint8_t* in, uint32_t in_size, uint8_t* out,
                           uint32_t* out_size) {
  Decoder* d = FromHandle(handle);
  if (!d || !out_size || !out || (!in && in_size)) return kCodecBadHandle;
  const uint32_t owed = *out_size;
  *out_size = 0;
  if (owed > d->max_block) return kCodecBufferOverflow;
  if (owed == 0) return kCodecOk;
  return kDecodeBlock(d, in, in_size, out, owed, out_size) ? kCodecOk : kCodecFailed;
}

BlockCodecError Reset(void* handle) {
  Decoder* d = FromHandle(handle);
  if (!d) return kCodecBadHandle;
  ResetDecoder(*d);
  return kCodecOk;
}

BlockCodecError Destroy(void* handle) {
  Decoder* d = FromHandle(handle);
  if (!d) return kCodecBadHandle;
  const FreeFn free = d->free;
  d->signature = 0;
  free(d->window);
  free(d);
  return kCodecOk;
}

}  // namespace

const CabBlockCodec kQuantumCodec = {"Quantum", Create, Decompress, Reset, Destroy};

}  // namespace kestrin::cab
