// A Quantum encoder for tests: builds compressed blocks symbol by symbol.
//
// It is written independently of the decoder's optimised code: the models
// are plain vectors updated exactly as the format describes, the arithmetic
// coder renormalises one bit at a time, and the expected output is expanded
// from the tokens as they are encoded. Options change the model rules on
// purpose, so that tests can show that a decoder following the real rules
// notices the difference.
#ifndef KESTRIN_TESTS_CABINET_QUANTUM_TEST_ENCODER_H_
#define KESTRIN_TESTS_CABINET_QUANTUM_TEST_ENCODER_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrin::cab::testing {

struct QuantumEncoderOptions {
  int window_bits = 16;
  uint32_t rescale_limit = 3800;
  int reorder_interval = 50;
  int first_reorder = 4;
  // Symbol count of the longer-match position model; 0 takes the count the
  // window size gives.
  int longer_match_slots = 0;
};

// Slot tables of the format, computed from the extra-bit counts.
inline const std::vector<int>& PositionExtraBits() {
  static const std::vector<int> bits = [] {
    std::vector<int> b;
    for (int i = 0; i < 42; ++i) b.push_back(i < 4 ? 0 : i / 2 - 1);
    return b;
  }();
  return bits;
}
inline const std::vector<int>& LengthExtraBits() {
  static const std::vector<int> bits = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  return bits;
}
inline std::vector<uint32_t> SlotBases(const std::vector<int>& extra) {
  std::vector<uint32_t> base;
  uint32_t b = 0;
  for (int e : extra) {
    base.push_back(b);
    b += 1u << e;
  }
  return base;
}

class QuantumTestEncoder {
 public:
  explicit QuantumTestEncoder(QuantumEncoderOptions options = {}) : options_(options) {
    ResetModels();
  }

  // Back to the state of a new folder: initial models, no history.
  void ResetModels() {
    const uint32_t window = 1u << options_.window_bits;
    const auto base = SlotBases(PositionExtraBits());
    auto slots_below = [&](uint32_t limit) {
      int n = 0;
      while (n < 42 && base[n] < limit && base[n] < window) ++n;
      return n;
    };
    selector_.Init(7, 0, options_);
    for (int i = 0; i < 4; ++i) literal_[i].Init(64, 64 * i, options_);
    position_[0].Init(slots_below(4096), 0, options_);
    position_[1].Init(slots_below(262144), 0, options_);
    position_[2].Init(
        options_.longer_match_slots ? options_.longer_match_slots : slots_below(window), 0,
        options_);
    length_.Init(27, 0, options_);
    expected_.clear();
  }

  void Literal(uint8_t byte) {
    EncodeSymbol(selector_, byte / 64);
    EncodeSymbol(literal_[byte / 64], byte);
    expected_.push_back(static_cast<char>(byte));
  }

  // A match of length 3..259 at offset 1..2^21 (length 3 reaches 4096 back
  // at most, length 4 262144). The expected output gets the copied bytes
  // when the offset lies within what was produced.
  void Match(uint32_t length, uint32_t offset) {
    const auto pbase = SlotBases(PositionExtraBits());
    int pslot = 0;
    while (pslot + 1 < 42 && pbase[pslot + 1] <= offset - 1) ++pslot;
    const uint32_t pextra = offset - 1 - pbase[pslot];
    if (length == 3 || length == 4) {
      EncodeSymbol(selector_, length == 3 ? 4 : 5);
      EncodeSymbol(position_[length - 3], pslot);
    } else {
      const auto lbase = SlotBases(LengthExtraBits());
      int lslot = 0;
      while (lslot + 1 < 27 && lbase[lslot + 1] <= length - 5) ++lslot;
      EncodeSymbol(selector_, 6);
      EncodeSymbol(length_, lslot);
      RawBits(length - 5 - lbase[lslot], LengthExtraBits()[lslot]);
      EncodeSymbol(position_[2], pslot);
    }
    RawBits(pextra, PositionExtraBits()[pslot]);
    for (uint32_t k = 0; k < length; ++k) {
      const size_t n = expected_.size();
      expected_.push_back(offset <= n ? expected_[n - offset] : '?');
    }
  }

  // Ends the current block: flushes the arithmetic coder, interleaves the
  // raw bits, and returns the bytes. The next block starts a fresh coder;
  // models and history carry over.
  std::vector<uint8_t> FinishBlock() {
    // code = low identifies the last interval: emit low's 16 bits, with the
    // pending straddle bits after its first bit.
    EmitWithPending((low_ >> 15) & 1);
    for (int b = 14; b >= 0; --b) arith_.push_back((low_ >> b) & 1);

    std::vector<int> stream;
    size_t next_raw = 0;
    for (size_t i = 0; i <= arith_.size(); ++i) {
      while (next_raw < raw_.size() && raw_[next_raw].first == i) {
        for (int bit : raw_[next_raw].second) stream.push_back(bit);
        ++next_raw;
      }
      if (i < arith_.size()) stream.push_back(arith_[i]);
    }
    std::vector<uint8_t> bytes((stream.size() + 7) / 8, 0);
    for (size_t i = 0; i < stream.size(); ++i) {
      if (stream[i]) bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    low_ = 0;
    high_ = 0xFFFF;
    pending_ = 0;
    shifts_ = 0;
    arith_.clear();
    raw_.clear();
    return bytes;
  }

  // Everything the tokens since the last ResetModels() expand to.
  const std::string& expected() const { return expected_; }

 private:
  struct Model {
    std::vector<int> sym;
    std::vector<uint32_t> cum;  // one more entry than sym, the last 0
    int countdown = 0;
    QuantumEncoderOptions opt;

    void Init(int n, int first, const QuantumEncoderOptions& o) {
      opt = o;
      sym.clear();
      cum.clear();
      for (int i = 0; i < n; ++i) {
        sym.push_back(first + i);
        cum.push_back(n - i);
      }
      cum.push_back(0);
      countdown = o.first_reorder;
    }
    void Update(size_t index) {
      for (size_t j = 0; j <= index; ++j) cum[j] += 8;
      if (cum[0] <= opt.rescale_limit) return;
      const int n = static_cast<int>(sym.size());
      if (--countdown == 0) {
        countdown = opt.reorder_interval;
        std::vector<uint32_t> f(n);
        for (int i = 0; i < n; ++i) f[i] = (cum[i] - cum[i + 1] + 1) / 2;
        for (int i = 0; i < n; ++i) {
          for (int j = i + 1; j < n; ++j) {
            if (f[j] > f[i]) {
              std::swap(f[i], f[j]);
              std::swap(sym[i], sym[j]);
            }
          }
        }
        for (int i = n - 1; i >= 0; --i) cum[i] = cum[i + 1] + f[i];
      } else {
        for (int i = n - 1; i >= 0; --i) {
          cum[i] /= 2;
          if (cum[i] <= cum[i + 1]) cum[i] = cum[i + 1] + 1;
        }
      }
    }
  };

  void EncodeSymbol(Model& m, int symbol) {
    size_t i = 0;
    while (i < m.sym.size() && m.sym[i] != symbol) ++i;
    if (i == m.sym.size()) throw std::invalid_argument("symbol not in model");
    const uint32_t range = high_ - low_ + 1;
    const uint32_t total = m.cum[0];
    const uint32_t new_high = low_ + m.cum[i] * range / total - 1;
    low_ = low_ + m.cum[i + 1] * range / total;
    high_ = new_high;
    for (;;) {
      if ((low_ & 0x8000) == (high_ & 0x8000)) {
        EmitWithPending((high_ >> 15) & 1);
      } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
        ++pending_;
        low_ &= 0x3FFF;
        high_ |= 0x4000;
      } else {
        break;
      }
      low_ = (low_ << 1) & 0xFFFF;
      high_ = ((high_ << 1) | 1) & 0xFFFF;
      ++shifts_;
    }
    m.Update(i);
  }

  void EmitWithPending(int bit) {
    arith_.push_back(bit);
    for (; pending_ > 0; --pending_) arith_.push_back(!bit);
  }

  // The decoder reads raw bits right behind the 16 bits of its code
  // register, that is at arithmetic bit shifts_ + 16.
  void RawBits(uint32_t value, int count) {
    if (count == 0) return;
    std::vector<int> bits;
    for (int b = count - 1; b >= 0; --b) bits.push_back((value >> b) & 1);
    raw_.emplace_back(shifts_ + 16, std::move(bits));
  }

  QuantumEncoderOptions options_;
  Model selector_;
  Model literal_[4];
  Model position_[3];
  Model length_;
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFF;
  int pending_ = 0;
  size_t shifts_ = 0;
  std::vector<int> arith_;
  std::vector<std::pair<size_t, std::vector<int>>> raw_;
  std::string expected_;
};

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_CABINET_QUANTUM_TEST_ENCODER_H_
