// The Quantum format's models and slots, shared by the decoder and the
// encoder (quantum.cc describes them): a position slot stands for the
// offsets base + 1 .. base + 2^extra, a length slot for the lengths
// base + 5 .. base + 2^extra + 4, each base the sum of 2^extra of the slots
// before it.
#ifndef KESTRIN_CABINET_QUANTUM_FORMAT_H_
#define KESTRIN_CABINET_QUANTUM_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace kestrin::cab::quantum {

inline constexpr int kSelectorSymbols = 7;
inline constexpr int kLiteralSymbols = 64;
inline constexpr int kLengthSymbols = 27;
inline constexpr int kPositionSlots = 42;
inline constexpr int kMaxModelSymbols = 64;

// Model updates: each coded symbol adds kUpdateStep; a total above
// kRescaleLimit rescales, every kReorderInterval-th time (the first time
// the kFirstReorder-th) with a reordering.
inline constexpr uint32_t kUpdateStep = 8;
inline constexpr uint32_t kRescaleLimit = 3800;
inline constexpr int kReorderInterval = 50;
inline constexpr int kFirstReorder = 4;

inline constexpr uint8_t kPositionExtraBits[kPositionSlots] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,
    9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19};
inline constexpr uint8_t kLengthExtraBits[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                                              3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

template <size_t N>
constexpr auto SlotBases(const uint8_t (&extra)[N]) {
  struct Table {
    uint32_t v[N + 1];  // v[N]: the end of the last slot
  } table{};
  uint32_t base = 0;
  for (size_t i = 0; i <= N; ++i) {
    table.v[i] = base;
    if (i < N) base += 1u << extra[i];
  }
  return table;
}
inline constexpr auto kPositionBase = SlotBases(kPositionExtraBits);
inline constexpr auto kLengthBase = SlotBases(kLengthExtraBits);
static_assert(kPositionBase.v[24] == 4096 && kPositionBase.v[36] == 262144);
static_assert(kLengthBase.v[26] == 254);

// Rescales a model whose total passed kRescaleLimit: its n entries'
// cumulative frequencies cum[0..n) (cum[n] == 0) in list order, with their
// symbols, and the countdown to the next reordering. Normally every
// cumulative frequency is halved, each kept above its successor; every
// kReorderInterval-th time instead the single frequencies are halved
// (rounding up) and the entries sorted, highest frequency first, by an
// exchange sort: every later entry with a strictly higher frequency is
// swapped into position i. The decoder and the encoder must leave the same
// order among equal frequencies, so this sort is part of the format.
// Answers whether the entries were reordered.
inline bool RescaleModel(int n, int* reorder_countdown, uint16_t* cum, uint16_t* sym) {
  if (--*reorder_countdown != 0) {
    for (int i = n - 1; i >= 0; --i) {
      cum[i] = static_cast<uint16_t>(cum[i] >> 1);
      if (cum[i] <= cum[i + 1]) cum[i] = static_cast<uint16_t>(cum[i + 1] + 1);
    }
    return false;
  }
  *reorder_countdown = kReorderInterval;
  uint16_t freq[kMaxModelSymbols];
  for (int i = 0; i < n; ++i) freq[i] = static_cast<uint16_t>((cum[i] - cum[i + 1] + 1) / 2);
  for (int i = 0; i < n - 1; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (freq[i] < freq[j]) {
        const uint16_t f = freq[i];
        freq[i] = freq[j];
        freq[j] = f;
        const uint16_t s = sym[i];
        sym[i] = sym[j];
        sym[j] = s;
      }
    }
  }
  for (int i = n - 1; i >= 0; --i) cum[i] = static_cast<uint16_t>(cum[i + 1] + freq[i]);
  return true;
}

// Number of position slots whose base lies below `limit`.
constexpr int SlotsBelow(uint32_t limit) {
  int n = 0;
  while (n < kPositionSlots && kPositionBase.v[n] < limit) ++n;
  return n;
}

}  // namespace kestrin::cab::quantum

#endif  // KESTRIN_CABINET_QUANTUM_FORMAT_H_
