// Test helpers that write LZX streams bit by bit: a bit writer with the
// stream's bit order, canonical codes, and tree writers through a fixed
// pre-tree. Used by the LZX decoder tests.
#ifndef KESTRIN_TESTS_CABINET_LZX_TEST_STREAM_H_
#define KESTRIN_TESTS_CABINET_LZX_TEST_STREAM_H_

#include <cstdint>
#include <map>
#include <vector>

namespace kestrin::cab::testing {

// Writes bits MSB-first into 16-bit little-endian words; raw bytes (inside
// uncompressed blocks) go straight to the output once the writer stands on
// a word boundary.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      word_ = static_cast<uint16_t>(word_ << 1 | ((value >> i) & 1));
      if (++filled_ == 16) FlushWord();
    }
    bit_pos_ += count;
  }
  // Zero bits up to the next word boundary: 1 to 16 of them, as uncompressed
  // blocks want.
  void AlignForBytes() { Bits(0, 16 - filled_); }
  // Zero bits up to the next word boundary (none if already there), as the
  // end of a frame wants.
  void Flush() {
    if (filled_ != 0) Bits(0, 16 - filled_);
  }
  void Byte(uint8_t b) { out_.push_back(b); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Bytes(const std::vector<uint8_t>& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  // Restarts the bit count after raw bytes.
  void ResumeBits() { filled_ = 0; word_ = 0; }

  long bit_pos() const { return bit_pos_; }
  std::vector<uint8_t> Take() {
    std::vector<uint8_t> result;
    result.swap(out_);
    return result;
  }
  const std::vector<uint8_t>& data() const { return out_; }

 private:
  void FlushWord() {
    out_.push_back(static_cast<uint8_t>(word_));
    out_.push_back(static_cast<uint8_t>(word_ >> 8));
    word_ = 0;
    filled_ = 0;
  }
  std::vector<uint8_t> out_;
  uint16_t word_ = 0;
  int filled_ = 0;
  long bit_pos_ = 0;
};

// A canonical prefix code given by its lengths (0 = symbol unused).
struct Code {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;

  explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(lengths.size()) {
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
      for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] == len) codes[s] = code++;
      }
      code <<= 1;
    }
  }
  // A code of `size` elements in which `symbols` (a power of two of them)
  // share one length.
  static Code Flat(size_t size, const std::vector<int>& symbols) {
    std::vector<uint8_t> l(size, 0);
    uint8_t len = 0;
    while ((1u << len) < symbols.size()) ++len;
    for (int s : symbols) l[static_cast<size_t>(s)] = len;
    return Code(l);
  }
  void Put(BitWriter& w, int symbol) const {
    w.Bits(codes[static_cast<size_t>(symbol)], lengths[static_cast<size_t>(symbol)]);
  }
};

// The pre-tree every helper sends: symbols 0..11 have 4 bits, 12..19 5.
inline const Code& TestPretree() {
  static const Code pre(std::vector<uint8_t>{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,  //
                                             5, 5, 5, 5, 5, 5, 5, 5});
  return pre;
}

// Sends lengths [first, last) of `now` as deltas against `before`, one
// pre-tree symbol per element (no runs).
inline void WriteLengths(BitWriter& w, const std::vector<uint8_t>& before,
                         const std::vector<uint8_t>& now, size_t first, size_t last) {
  const Code& pre = TestPretree();
  for (uint8_t l : pre.lengths) w.Bits(l, 4);  // pre-tree length
  for (size_t i = first; i < last; ++i) pre.Put(w, (before[i] + 17 - now[i]) % 17);
}

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_CABINET_LZX_TEST_STREAM_H_
