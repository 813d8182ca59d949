// Quantum encoder for cabinet folders of compression method 2: the
// counterpart of quantum.cc, whose header describes the symbols, the
// adaptive models and the arithmetic coder.
//
// Each frame of 32768 bytes is one data block and one arithmetic-coded
// stream; the models carry over from frame to frame and start afresh with
// each folder, exactly as the decoder keeps them. The level (1 to 7, stored
// in the folder's compression type) sets the effort: levels 1 and 2 take the
// longest match at each position when it is cheaper than its literals,
// levels 3 to 7 find the cheapest path through the frame, pricing each
// symbol with the models as they stand at the frame's start, and search the
// match finder harder with each level.
//
// The arithmetic coder is the decoder's run backwards. Its raw bits (the
// extra bits of length and position slots) are where the decoder's reader
// stands when it reads them: 16 bits beyond the bits the arithmetic decoder
// has shifted in so far. The encoder does not know those 16 bits yet when it
// codes the extra bits, so it keeps them in a queue until the coded bits
// before them have gone out.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "cabinet/block_encoder.h"
#include "cabinet/lz_encoder.h"
#include "cabinet/quantum_format.h"

namespace kestrin::cab {
namespace {

constexpr int kMinWindowBits = 10;
constexpr int kMaxWindowBits = 21;
constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 7;

constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 259;
constexpr uint32_t kLongMatch = 5;  // the length model's first length

using namespace quantum;  // the format's sizes and slots

// The length slot of each length less 5.
struct LengthSlots {
  uint8_t of[kMaxMatch - kLongMatch + 1];
};
constexpr LengthSlots MakeLengthSlots() {
  LengthSlots t{};
  for (int s = 0; s < kLengthSymbols; ++s) {
    for (uint32_t v = kLengthBase.v[s]; v < kLengthBase.v[s + 1]; ++v) t.of[v] = static_cast<uint8_t>(s);
  }
  return t;
}
constexpr LengthSlots kLengthSlot = MakeLengthSlots();
static_assert(kLengthBase.v[kLengthSymbols - 1] + kLongMatch == kMaxMatch);

// Position slot of offset - 1.
inline int PositionSlot(uint32_t value) {
  if (value < 4) return static_cast<int>(value);
  const int high = 31 - __builtin_clz(value);
  return 2 * high + static_cast<int>((value >> (high - 1)) & 1);
}


// An adaptive model as the decoder keeps it: entries in decreasing order of
// cumulative frequency, and where each symbol stands.
struct Model {
  int symbols;
  int first;  // the symbol of the first entry at the start
  int reorder_countdown;
  uint16_t cum[kMaxModelSymbols + 1];
  uint16_t sym[kMaxModelSymbols + 1];
  uint8_t entry[kMaxModelSymbols];  // entry of symbol first + i

  void Init(int n, int first_symbol) {
    symbols = n;
    first = first_symbol;
    reorder_countdown = kFirstReorder;
    for (int i = 0; i <= n; ++i) {
      sym[i] = static_cast<uint16_t>(first_symbol + i);
      cum[i] = static_cast<uint16_t>(n - i);
    }
    for (int i = 0; i < n; ++i) entry[i] = static_cast<uint8_t>(i);
  }

  // After coding entry i: the update of the decoder, rescaling included.
  void Update(int i) {
    for (int k = 0; k <= i; ++k) cum[k] = static_cast<uint16_t>(cum[k] + kUpdateStep);
    if (cum[0] > kRescaleLimit) Rescale();
  }

  void Rescale() {
    if (RescaleModel(symbols, &reorder_countdown, cum, sym)) {
      for (int i = 0; i < symbols; ++i) entry[sym[i] - first] = static_cast<uint8_t>(i);
    }
  }
};

// Output bits, most significant first within each byte.
class BitWriter {
 public:
  void Start(uint8_t* out, size_t capacity) {
    out_ = out;
    capacity_ = capacity;
    size_ = 0;
    acc_ = 0;
    count_ = 0;
  }
  void Put(uint32_t value, int bits) {
    acc_ = acc_ << bits | value;
    count_ += bits;
    while (count_ >= 8) {
      count_ -= 8;
      if (size_ < capacity_) out_[size_] = static_cast<uint8_t>(acc_ >> count_);
      ++size_;
    }
  }
  void Flush() {
    if (count_ > 0) Put(0, 8 - count_);
  }
  // Bytes written, or that would have been when past the capacity.
  size_t size() const { return size_; }

 private:
  uint8_t* out_ = nullptr;
  size_t capacity_ = 0;
  size_t size_ = 0;
  uint64_t acc_ = 0;
  int count_ = 0;
};

// Raw bits waiting for the coded bits before them.
struct RawBits {
  uint64_t at;  // coded bits that go out before them
  uint32_t value;
  int bits;
};

class ArithmeticEncoder {
 public:
  void Start(uint8_t* out, size_t capacity, RawBits* queue) {
    out_.Start(out, capacity);
    queue_ = queue;
    head_ = tail_ = 0;
    low_ = 0;
    high_ = 0xFFFF;
    pending_ = 0;
    shifted_ = 0;
    written_ = 0;
  }

  void Encode(Model& m, int symbol) {
    const int i = m.entry[symbol - m.first];
    const uint32_t range = high_ - low_ + 1;
    const uint32_t total = m.cum[0];
    high_ = low_ + m.cum[i] * range / total - 1;
    low_ = low_ + m.cum[i + 1] * range / total;
    m.Update(i);
    for (;;) {
      if ((low_ ^ high_) & 0x8000) {
        if ((low_ & 0x4000) == 0 || (high_ & 0x4000) != 0) break;
        // low = 01..., high = 10...: the next settled bit is not known yet;
        // drop the second bit and remember an opposite bit is owed.
        ++pending_;
        low_ &= 0x3FFF;
        high_ |= 0x4000;
      } else {
        const uint32_t bit = high_ >> 15;
        PutCoded(bit);
        for (; pending_ > 0; --pending_) PutCoded(bit ^ 1);
      }
      low_ = (low_ << 1) & 0xFFFF;
      high_ = ((high_ << 1) | 1) & 0xFFFF;
      ++shifted_;
    }
  }

  // Raw bits, read by the decoder 16 bits past what it has shifted in.
  void Raw(uint32_t value, int bits) {
    if (bits > 0) queue_[tail_++] = RawBits{shifted_ + 16, value, bits};
  }

  // Ends the block: the 16 bits of a value inside the interval (its low
  // end) fill the decoder's code register; the raw bits still queued follow.
  size_t Finish() {
    const uint32_t bit = low_ >> 15;
    PutCoded(bit);
    for (; pending_ > 0; --pending_) PutCoded(bit ^ 1);
    for (int k = 14; k >= 0; --k) PutCoded((low_ >> k) & 1);
    while (head_ < tail_) PutRaw();
    out_.Flush();
    return out_.size();
  }

 private:
  void PutCoded(uint32_t bit) {
    while (head_ < tail_ && queue_[head_].at == written_) PutRaw();
    out_.Put(bit, 1);
    ++written_;
  }
  void PutRaw() {
    out_.Put(queue_[head_].value, queue_[head_].bits);
    ++head_;
  }

  BitWriter out_;
  RawBits* queue_ = nullptr;
  size_t head_ = 0, tail_ = 0;
  uint32_t low_ = 0, high_ = 0xFFFF;
  uint32_t pending_ = 0;
  uint64_t shifted_ = 0;  // shifts of the coder's registers
  uint64_t written_ = 0;  // coded bits written
};

// Costs are in 1/16 bits.
constexpr int kCostShift = 4;

// 16 * log2(x) for the model totals and frequencies.
struct LogTable {
  uint16_t v[kRescaleLimit + kUpdateStep + 1];
  LogTable() {
    v[0] = 0;
    for (uint32_t x = 1; x < std::size(v); ++x) {
      v[x] = static_cast<uint16_t>(std::lround(std::log2(static_cast<double>(x)) * (1 << kCostShift)));
    }
  }
};
const LogTable& Logs() {
  static const LogTable table;
  return table;
}

struct Level {
  LzEncoder::Effort effort;
  bool shortest_path;
};
constexpr Level kLevels[kMaxLevel + 1] = {
    {{0, 0}, false},    {{16, 2}, false},    {{24, 4}, false},   {{24, 4}, true},
    {{32, 8}, true},    {{64, 12}, true},    {{128, 24}, true},  {{258, 48}, true},
};

// A parsed step: a literal (length 0) or a match.
inline uint32_t MakeItem(uint32_t length, uint32_t value) { return length << 22 | value; }
inline uint32_t ItemLength(uint32_t item) { return item >> 22; }
inline uint32_t ItemValue(uint32_t item) { return item & 0x3FFFFF; }

struct Node {
  uint32_t cost;
  uint32_t item;
};

class QuantumEncoder final : public LzEncoder {
 public:
  QuantumEncoder(int level, int window_bits, EncodedBlockSink sink)
      : LzEncoder(std::move(sink)), level_(level), window_bits_(window_bits) {
    const uint32_t window = 1u << window_bits;
    const int all = SlotsBelow(window);
    slots_[0] = std::min(SlotsBelow(4096), all);
    slots_[1] = std::min(SlotsBelow(262144), all);
    slots_[2] = all;
    for (int k = 0; k < 3; ++k) reach_[k] = kPositionBase.v[slots_[k]];
  }

  bool Init() {
    const Level& level = kLevels[level_];
    // The tree holds a window of positions; the one offset of a whole window
    // would share its node with the current position.
    if (!InitFrames(window_bits_, (1u << window_bits_) - 1, kMinMatch, kMaxMatch, level.effort,
                    level.shortest_path)) {
      return false;
    }
    nodes_.reset(new (std::nothrow) Node[kFrameSize + 1]);
    items_.reset(new (std::nothrow) uint32_t[kFrameSize]);
    queue_.reset(new (std::nothrow) RawBits[kFrameSize]);
    out_.reset(new (std::nothrow) uint8_t[kMaxEncodedBlockSize]);
    if (!nodes_ || !items_ || !queue_ || !out_) return false;
    Logs();
    ResetFolder();
    return true;
  }

  uint16_t TypeCompress() const override {
    return static_cast<uint16_t>(2 | level_ << 4 | window_bits_ << 8);
  }

 private:
  struct Costs {
    uint32_t literal[256];  // selector and literal model
    uint32_t selector[kSelectorSymbols];
    uint32_t position[3][kPositionSlots];  // slot and its extra bits
    uint32_t length[kMaxMatch + 1];        // selector 6 and length slot, extra bits
  };

  void StartFolder() override {
    selector_.Init(kSelectorSymbols, 0);
    for (int i = 0; i < 4; ++i) literal_[i].Init(kLiteralSymbols, i * kLiteralSymbols);
    for (int k = 0; k < 3; ++k) position_[k].Init(slots_[k], 0);
    length_.Init(kLengthSymbols, 0);
  }

  // The cost of each symbol under the models as they stand.
  void PriceSymbols() {
    const uint16_t* const log = Logs().v;
    const auto price = [log](const Model& m, int symbol) {
      const int i = m.entry[symbol - m.first];
      return static_cast<uint32_t>(log[m.cum[0]] - log[m.cum[i] - m.cum[i + 1]]);
    };
    for (int s = 0; s < kSelectorSymbols; ++s) costs_.selector[s] = price(selector_, s);
    for (int b = 0; b < 256; ++b) costs_.literal[b] = costs_.selector[b >> 6] + price(literal_[b >> 6], b);
    for (int k = 0; k < 3; ++k) {
      for (int s = 0; s < slots_[k]; ++s) {
        costs_.position[k][s] = price(position_[k], s) + (kPositionExtraBits[s] << kCostShift);
      }
    }
    costs_.length[3] = costs_.selector[4];
    costs_.length[4] = costs_.selector[5];
    for (uint32_t len = kLongMatch; len <= kMaxMatch; ++len) {
      const int slot = kLengthSlot.of[len - kLongMatch];
      costs_.length[len] = costs_.selector[6] + price(length_, slot) + (kLengthExtraBits[slot] << kCostShift);
    }
  }

  // The model a match of `length` takes its position slot from.
  static int PositionModel(uint32_t length) { return length == 3 ? 0 : length == 4 ? 1 : 2; }

  uint32_t MatchCost(uint32_t length, uint32_t offset) const {
    const int k = PositionModel(length);
    return costs_.length[length] + costs_.position[k][PositionSlot(offset - 1)];
  }

  int ShortestPath(const uint8_t* data, uint32_t size) {
    Node* const nodes = nodes_.get();
    for (uint32_t i = 1; i <= size; ++i) nodes[i].cost = UINT32_MAX;
    nodes[0].cost = 0;
    const auto relax = [nodes](uint32_t at, uint32_t cost, uint32_t item) {
      if (cost < nodes[at].cost) {
        nodes[at].cost = cost;
        nodes[at].item = item;
      }
    };
    for (uint32_t i = 0; i < size; ++i) {
      const uint32_t base = nodes[i].cost;
      if (base == UINT32_MAX) continue;  // inside a match taken without choice
      relax(i + 1, base + costs_.literal[data[i]], MakeItem(0, data[i]));
      const Match* const list = MatchesAt(i);
      const int n = MatchCountAt(i);
      if (Taken(i)) {
        const Match& m = list[0];
        relax(i + m.length, base + MatchCost(m.length, m.offset), MakeItem(m.length, m.offset));
        // Only the end of the match goes on.
        for (uint32_t k = 1; k < m.length; ++k) nodes[i + k].cost = UINT32_MAX;
        i += m.length - 1;
        continue;
      }
      uint32_t done = kMinMatch - 1;
      for (int m = 0; m < n; ++m) {
        const uint32_t len = list[m].length;
        const uint32_t offset = list[m].offset;
        const uint32_t slot_cost = costs_.position[2][PositionSlot(offset - 1)];
        for (uint32_t l = done + 1; l <= len; ++l) {
          if (l < kLongMatch) {
            if (offset > reach_[PositionModel(l)]) continue;
            relax(i + l, base + MatchCost(l, offset), MakeItem(l, offset));
          } else {
            relax(i + l, base + costs_.length[l] + slot_cost, MakeItem(l, offset));
          }
        }
        done = len;
      }
    }
    int count = 0;
    for (uint32_t at = size; at > 0;) {
      const uint32_t item = nodes[at].item;
      items_[count++] = item;
      at -= ItemLength(item) ? ItemLength(item) : 1;
    }
    std::reverse(items_.get(), items_.get() + count);
    return count;
  }

  // At each position the longest match, when it costs less than its bytes
  // as literals; the positions it covers are entered without a search.
  int Greedy(const uint8_t* data, uint32_t size) {
    Match list[MatchFinder::kMaxMatches];
    int count = 0;
    for (uint32_t i = 0; i < size;) {
      const int n = finder().FindMatches(list);
      const uint32_t room = std::min(size - i, kMaxMatch);
      uint32_t best = 0, best_offset = 0;
      for (int m = n - 1; m >= 0 && best == 0; --m) {
        uint32_t len = std::min(list[m].length, room);
        if (len >= effort().nice_length) {
          len += MatchFinder::CommonLength(data + i + len, data + i + len - list[m].offset, room - len);
        }
        while (len >= kMinMatch && len < kLongMatch && list[m].offset > reach_[PositionModel(len)]) --len;
        if (len < kMinMatch) continue;
        uint32_t literals = 0;
        for (uint32_t k = 0; k < len; ++k) literals += costs_.literal[data[i + k]];
        if (MatchCost(len, list[m].offset) < literals) best = len, best_offset = list[m].offset;
      }
      if (best == 0) {
        items_[count++] = MakeItem(0, data[i]);
        ++i;
        continue;
      }
      items_[count++] = MakeItem(best, best_offset);
      finder().Skip(best - 1);
      i += best;
    }
    return count;
  }

  bool EncodeFrame(size_t start, uint32_t size) override {
    const uint8_t* const data = finder().data() + start;
    PriceSymbols();
    int count;
    if (kLevels[level_].shortest_path) {
      GatherMatches(start, size);
      count = ShortestPath(data, size);
    } else {
      count = Greedy(data, size);
    }
    coder_.Start(out_.get(), kMaxEncodedBlockSize, queue_.get());
    for (int k = 0; k < count; ++k) {
      const uint32_t item = items_[k];
      const uint32_t len = ItemLength(item);
      if (len == 0) {
        const uint32_t b = ItemValue(item);
        coder_.Encode(selector_, static_cast<int>(b >> 6));
        coder_.Encode(literal_[b >> 6], static_cast<int>(b));
        continue;
      }
      const uint32_t value = ItemValue(item) - 1;
      const int slot = PositionSlot(value);
      if (len < kLongMatch) {
        coder_.Encode(selector_, len == 3 ? 4 : 5);
      } else {
        const int length_slot = kLengthSlot.of[len - kLongMatch];
        coder_.Encode(selector_, 6);
        coder_.Encode(length_, length_slot);
        coder_.Raw(len - kLongMatch - kLengthBase.v[length_slot], kLengthExtraBits[length_slot]);
      }
      coder_.Encode(position_[PositionModel(len)], slot);
      coder_.Raw(value - kPositionBase.v[slot], kPositionExtraBits[slot]);
    }
    const size_t bytes = coder_.Finish();
    if (bytes > kMaxEncodedBlockSize) return Fail("a Quantum data block came out too large");
    return Emit(out_.get(), static_cast<uint32_t>(bytes), size);
  }

  const int level_;
  const int window_bits_;
  int slots_[3];       // position slots of the three position models
  uint32_t reach_[3];  // and the farthest offset each can code
  Model selector_;
  Model literal_[4];
  Model position_[3];
  Model length_;
  Costs costs_;
  ArithmeticEncoder coder_;
  std::unique_ptr<Node[]> nodes_;
  std::unique_ptr<uint32_t[]> items_;
  std::unique_ptr<RawBits[]> queue_;
  std::unique_ptr<uint8_t[]> out_;
};

}  // namespace

std::unique_ptr<BlockEncoder> MakeQuantumEncoder(int level, int window_bits, EncodedBlockSink sink,
                                                 std::string* error) {
  if (level < kMinLevel || level > kMaxLevel) {
    if (error) *error = "Quantum level must be 1 to 7";
    return nullptr;
  }
  if (window_bits < kMinWindowBits || window_bits > kMaxWindowBits) {
    if (error) *error = "Quantum window must be 10 to 21 bits";
    return nullptr;
  }
  auto encoder = std::make_unique<QuantumEncoder>(level, window_bits, std::move(sink));
  if (!encoder->Init()) {
    if (error) *error = "out of memory for the Quantum encoder";
    return nullptr;
  }
  return encoder;
}

}  // namespace kestrin::cab
