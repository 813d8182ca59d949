// The LZX format's sizes and position slots, shared by the decoder and the
// encoder (lzx.cc describes the bit stream).
#ifndef KESTRIN_CABINET_LZX_FORMAT_H_
#define KESTRIN_CABINET_LZX_FORMAT_H_

#include <cstdint>

namespace kestrin::cab::lzx {

inline constexpr int kNumChars = 256;
inline constexpr int kMaxSlots = 50;
inline constexpr int kMaxMainSymbols = kNumChars + 8 * kMaxSlots;
inline constexpr int kLengthSymbols = 249;
inline constexpr int kAlignedSymbols = 8;
inline constexpr int kPretreeSymbols = 20;
inline constexpr uint32_t kMinMatch = 2;
inline constexpr uint32_t kMaxMatch = 257;
// Frames of a folder after which calls are no longer translated.
inline constexpr uint32_t kE8FrameLimit = 32768;

// Position slots: slot s covers the formatted offsets base[s] ..
// base[s] + 2^extra[s] - 1, with extra bits 0, 0, 0, 0, 1, 1, 2, 2, ...
// rising by one every two slots up to 17, each base the sum of 2^extra of
// the slots before it. A window has the slots whose base lies below its
// size.

struct SlotTables {
  uint8_t extra[kMaxSlots + 1];
  uint32_t base[kMaxSlots + 1];
};
constexpr SlotTables MakeSlotTables() {
  SlotTables t{};
  uint32_t base = 0;
  for (int s = 0; s <= kMaxSlots; ++s) {
    int extra = s < 4 ? 0 : (s - 2) / 2;
    if (extra > 17) extra = 17;
    t.extra[s] = static_cast<uint8_t>(extra);
    t.base[s] = base;
    base += 1u << extra;
  }
  return t;
}
inline constexpr SlotTables kSlots = MakeSlotTables();

constexpr int SlotCount(uint32_t window_size) {
  int s = 0;
  while (kSlots.base[s] < window_size) ++s;
  return s;
}
static_assert(SlotCount(1u << 15) == 30 && SlotCount(1u << 16) == 32 &&
              SlotCount(1u << 17) == 34 && SlotCount(1u << 18) == 36 &&
              SlotCount(1u << 19) == 38 && SlotCount(1u << 20) == 42 &&
              SlotCount(1u << 21) == 50);

}  // namespace kestrin::cab::lzx

#endif  // KESTRIN_CABINET_LZX_FORMAT_H_
