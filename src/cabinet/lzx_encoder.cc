// LZX encoder for cabinet folders of compression method 3: the counterpart
// of lzx.cc, whose header describes the bit stream.
//
// The folder is cut into frames of 32768 bytes, each one cabinet data
// block. A frame is encoded when the next one is complete (or the folder
// ends), so that the match finder can look past its end:
//
// 1. E8 translation: every frame is translated as the decoder undoes it
//    (calls to absolute addresses), before anything searches it.
// 2. Matches: the match finder lists, for each position of the frame, the
//    closest earlier occurrence for each length it meets. A match of
//    kNiceLength or more is taken without looking further, and the positions
//    it covers are entered into the tree without a search.
// 3. Parse: a shortest path through the frame, where each position is a node
//    and each literal or match an edge weighted with its cost in bits under
//    the code of the block the frame is likely to join. The repeated offsets
//    depend on the path taken; each node keeps those of its best path, and
//    matches at them are tried at every node.
// 4. Blocks: the parsed frames are held while one LZX block with one set of
//    length-limited Huffman codes for all of them is smaller than separate
//    blocks; then they go out, each frame in its data block, the first
//    with the block's header and trees. A block is verbatim or aligned-
//    offset, whichever is smaller; a frame that codes no smaller than its
//    bytes is an uncompressed block of its own. Trees are sent as
//    differences to the previous ones through the pre-tree, with runs
//    coded as the format allows.
//
// Matches never cross a frame's end: the decoders take every frame (data
// block) on its own.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "cabinet/block_encoder.h"
#include "cabinet/huffman_builder.h"
#include "cabinet/lz_encoder.h"
#include "cabinet/lzx_format.h"

namespace kestrin::cab {
namespace {

using namespace lzx;  // the format's sizes and slots

constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;
constexpr uint32_t kNumPrimaryLengths = 7;
// Call targets below this become absolute. The translation is meant for
// one program; a folder of many gains as far as the size reaches (64 MiB:
// -8 % for 22 MB of x86-64 programs at 12 MB, -2.4 % more at 64 MiB). Data
// other than code are touched only where an E8 byte is followed by a value
// whose fourth byte is 0 to 3 (or 0xFF): hardly ever in text, be it ASCII,
// Latin-1, UTF-8 or UTF-16 of Latin letters.
constexpr uint32_t kE8TranslationSize = 1u << 26;
// Parser effort.
constexpr uint32_t kNiceLength = 48;
constexpr uint32_t kMaxDepth = 8;
// Passes of the parser over a frame: the first prices with the previous
// frame's code, the next with the code of the pass before.
constexpr int kPasses = 1;

// Frames one block may hold.
constexpr int kMaxBlockFrames = 8;
// A frame's codes in a block of several: at most this many bits, so that
// with the header and trees of a first frame its data block stays below the
// compressed maximum.
constexpr uint64_t kMaxFrameBits = 8 * (kMaxBlockSize + 1024);

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };
enum CodeIndex { kHeldCode, kFrameCode, kMergedCode };

// Position slot of a formatted offset (offset + 2, or 0..2 for a repeated
// offset).
inline int SlotOf(uint32_t formatted) {
  if (formatted < 4) return static_cast<int>(formatted);
  if (formatted < 262144) {
    const int high = 31 - __builtin_clz(formatted);
    return 2 * high + static_cast<int>((formatted >> (high - 1)) & 1);
  }
  return 36 + static_cast<int>((formatted - 262144) >> 17);
}

// A parsed step: a literal (length 0, the byte in `value`) or a match of
// `length` bytes at formatted offset `value`.
inline uint32_t MakeItem(uint32_t length, uint32_t value) { return length << 22 | value; }
inline uint32_t ItemLength(uint32_t item) { return item >> 22; }
inline uint32_t ItemValue(uint32_t item) { return item & 0x3FFFFF; }
inline uint32_t ItemSpan(uint32_t item) { return item >> 22 ? item >> 22 : 1; }

// Output bits: 16-bit little-endian words, each filled from its most
// significant bit.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}
  void Put(uint32_t value, int bits) {
    acc_ = acc_ << bits | value;
    count_ += bits;
    while (count_ >= 16) {
      count_ -= 16;
      const uint32_t word = static_cast<uint32_t>(acc_ >> count_);
      out_[size_++] = static_cast<uint8_t>(word);
      out_[size_++] = static_cast<uint8_t>(word >> 8);
    }
  }
  // Zero bits up to the next word boundary.
  void Align() {
    if (count_ != 0) Put(0, 16 - count_);
  }
  bool aligned() const { return count_ == 0; }
  void Bytes(const uint8_t* bytes, size_t n) {
    std::memcpy(out_ + size_, bytes, n);
    size_ += n;
  }
  size_t size() const { return size_; }

 private:
  uint8_t* out_;
  size_t size_ = 0;
  uint64_t acc_ = 0;
  int count_ = 0;
};

// One part of a tree as the pre-tree codes it: the pre-tree's lengths and
// the run-length symbols.
struct TreePart {
  struct Symbol {
    uint8_t symbol;  // 0..19
    uint8_t extra;   // run length bits of 17, 18, 19
    uint8_t delta;   // the delta that follows 19
  };
  Symbol symbols[kMaxMainSymbols];
  int count;
  uint8_t pre_lengths[kPretreeSymbols];
  uint16_t pre_codes[kPretreeSymbols];
  uint32_t bits;
};

inline uint8_t Delta(uint8_t previous, uint8_t length) {
  return static_cast<uint8_t>((previous + 17 - length) % 17);
}

// Codes lengths[first, last) against the previous lengths.
void PrepareTreePart(const uint8_t* previous, const uint8_t* lengths, int first, int last,
                     TreePart& part, HuffmanScratch& scratch) {
  int n = 0;
  int i = first;
  while (i < last) {
    const uint8_t v = lengths[i];
    int run = 1;
    while (i + run < last && lengths[i + run] == v) ++run;
    if (v == 0 && run >= 4) {
      while (run >= 4) {
        if (run >= 20) {
          const int k = std::min(run, 51);
          part.symbols[n++] = {18, static_cast<uint8_t>(k - 20), 0};
          i += k;
          run -= k;
        } else {
          const int k = std::min(run, 19);
          part.symbols[n++] = {17, static_cast<uint8_t>(k - 4), 0};
          i += k;
          run -= k;
        }
      }
      continue;
    }
    if (run >= 4) {
      const int k = std::min(run, 5);
      part.symbols[n++] = {19, static_cast<uint8_t>(k - 4), Delta(previous[i], v)};
      i += k;
      continue;
    }
    part.symbols[n++] = {Delta(previous[i], v), 0, 0};
    ++i;
  }
  part.count = n;
  uint32_t freqs[kPretreeSymbols] = {};
  for (int k = 0; k < n; ++k) {
    ++freqs[part.symbols[k].symbol];
    if (part.symbols[k].symbol == 19) ++freqs[part.symbols[k].delta];
  }
  BuildLimitedLengths(freqs, kPretreeSymbols, 15, part.pre_lengths, scratch);
  MakeCanonicalCodes(part.pre_lengths, kPretreeSymbols, part.pre_codes);
  uint32_t bits = 4 * kPretreeSymbols;
  for (int k = 0; k < n; ++k) {
    const TreePart::Symbol& s = part.symbols[k];
    bits += part.pre_lengths[s.symbol];
    if (s.symbol == 17) bits += 4;
    if (s.symbol == 18) bits += 5;
    if (s.symbol == 19) bits += 1 + part.pre_lengths[s.delta];
  }
  part.bits = bits;
}

void WriteTreePart(BitWriter& out, const TreePart& part) {
  for (int i = 0; i < kPretreeSymbols; ++i) out.Put(part.pre_lengths[i], 4);
  for (int k = 0; k < part.count; ++k) {
    const TreePart::Symbol& s = part.symbols[k];
    out.Put(part.pre_codes[s.symbol], part.pre_lengths[s.symbol]);
    if (s.symbol == 17) out.Put(s.extra, 4);
    if (s.symbol == 18) out.Put(s.extra, 5);
    if (s.symbol == 19) {
      out.Put(s.extra, 1);
      out.Put(part.pre_codes[s.delta], part.pre_lengths[s.delta]);
    }
  }
}

// Converts relative call targets of one frame (at folder position `start`)
// to absolute ones, the inverse of the decoder's translation.
void TranslateE8(uint8_t* data, uint32_t size, uint32_t start) {
  if (size <= 10) return;
  uint8_t* const limit = data + size - 10;
  const int64_t t = kE8TranslationSize;
  for (uint8_t* p = data; p < limit; p += 5) {
    p = static_cast<uint8_t*>(std::memchr(p, 0xE8, static_cast<size_t>(limit - p)));
    if (p == nullptr) break;
    const int64_t current = start + static_cast<uint32_t>(p - data);
    const int64_t r = static_cast<int32_t>(static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                                           static_cast<uint32_t>(p[3]) << 16 |
                                           static_cast<uint32_t>(p[4]) << 24);
    int64_t v = r;
    if (r >= -current && r < t - current) {
      v = r + current;
    } else if (r >= t - current && r < t) {
      v = r - t;
    }
    const uint32_t u = static_cast<uint32_t>(v);
    p[1] = static_cast<uint8_t>(u);
    p[2] = static_cast<uint8_t>(u >> 8);
    p[3] = static_cast<uint8_t>(u >> 16);
    p[4] = static_cast<uint8_t>(u >> 24);
  }
}

// Bit costs of the symbols under one code.
struct Costs {
  uint32_t main[kMaxMainSymbols];
  uint32_t length[kLengthSymbols];
  uint32_t aligned[kAlignedSymbols];
  bool use_aligned;
  // main symbol and length code of a match of each length in each slot
  uint32_t match[kMaxSlots][kMaxMatch + 1];
};

// Statistics of a parsed frame.
struct Stats {
  uint32_t main[kMaxMainSymbols];
  uint32_t length[kLengthSymbols];
  uint32_t aligned[kAlignedSymbols];
  uint64_t verbatim_bits;  // extra bits in a verbatim block
  uint64_t aligned_bits;   // extra bits outside the aligned code in an aligned block
};

void AddStats(Stats& into, const Stats& from) {
  for (int i = 0; i < kMaxMainSymbols; ++i) into.main[i] += from.main[i];
  for (int i = 0; i < kLengthSymbols; ++i) into.length[i] += from.length[i];
  for (int i = 0; i < kAlignedSymbols; ++i) into.aligned[i] += from.aligned[i];
  into.verbatim_bits += from.verbatim_bits;
  into.aligned_bits += from.aligned_bits;
}

// A block's code: the lengths of its trees, the pre-tree coding of the main
// and length trees against the last trees sent, the block type and size.
struct Code {
  uint8_t main[kMaxMainSymbols];
  uint8_t length[kLengthSymbols];
  uint8_t aligned[kAlignedSymbols];
  TreePart parts[3];
  BlockType type;
  uint64_t bits;  // the whole block, header and trees included
};

// A parsed frame waiting for the block it ends up in.
struct ParsedFrame {
  std::unique_ptr<uint32_t[]> items;
  int count;
  uint32_t size;
  Stats stats;
};

struct Node {
  uint32_t cost;
  uint32_t item;  // the step that reaches this node on its best path
  uint32_t r[3];  // the repeated offsets after that path
};

class LzxEncoder final : public LzEncoder {
 public:
  LzxEncoder(int window_bits, EncodedBlockSink sink)
      : LzEncoder(std::move(sink)), window_bits_(window_bits),
        main_symbols_(kNumChars + 8 * SlotCount(1u << window_bits)) {}

  bool Init() {
    // The format allows offsets up to the window size less 3, but 7-Zip
    // copies a match of that offset wrongly: one less is as good.
    if (!InitFrames(window_bits_, (1u << window_bits_) - 4, kMinMatch, kMaxMatch,
                    Effort{kNiceLength, kMaxDepth}, true)) {
      return false;
    }
    nodes_.reset(new (std::nothrow) Node[kFrameSize + 1]);
    items_.reset(new (std::nothrow) uint32_t[kFrameSize]);
    out_.reset(new (std::nothrow) uint8_t[kMaxEncodedBlockSize + 64]);
    work_.reset(new (std::nothrow) Work);
    held_.reset(new (std::nothrow) ParsedFrame[kMaxBlockFrames]);
    if (!nodes_ || !items_ || !out_ || !work_ || !held_) return false;
    for (int i = 0; i < kMaxBlockFrames; ++i) {
      held_[i].items.reset(new (std::nothrow) uint32_t[kFrameSize]);
      if (!held_[i].items) return false;
    }
    ResetFolder();
    return true;
  }

  uint16_t TypeCompress() const override { return static_cast<uint16_t>(3 | window_bits_ << 8); }

 private:
  struct Work {
    HuffmanScratch scratch;
    Costs costs;
    Stats stats;          // of the frame just parsed
    Stats block_stats;    // of the frames held
    Stats merged_stats;   // of both
    Code codes[3];        // held frames, the frame just parsed, both
    uint16_t main_codes[kMaxMainSymbols];
    uint16_t length_codes[kLengthSymbols];
    uint16_t aligned_codes[kAlignedSymbols];
    // The lengths of the last trees sent: the base of the next ones.
    uint8_t previous_main[kMaxMainSymbols];
    uint8_t previous_length[kLengthSymbols];
  };

  void StartFolder() override {
    frames_ = 0;
    held_count_ = 0;
    r_[0] = r_[1] = r_[2] = 1;
    std::memset(work_->previous_main, 0, sizeof work_->previous_main);
    std::memset(work_->previous_length, 0, sizeof work_->previous_length);
    DefaultCosts();
  }

  void FrameComplete(uint8_t* frame, uint32_t size, uint64_t index) override {
    if (index < kE8FrameLimit) TranslateE8(frame, size, static_cast<uint32_t>(index) * kFrameSize);
  }

  // Costs before any code is known: every literal 8 bits, matches a little
  // more than a literal plus their extra bits.
  void DefaultCosts() {
    Costs& c = work_->costs;
    for (int i = 0; i < kMaxMainSymbols; ++i) c.main[i] = i < kNumChars ? 8 : 10;
    for (int i = 0; i < kLengthSymbols; ++i) c.length[i] = 8;
    for (int i = 0; i < kAlignedSymbols; ++i) c.aligned[i] = 3;
    c.use_aligned = false;
    FillMatchCosts();
  }

  // Costs under a block's code; symbols the code leaves out are priced as
  // rare ones.
  void CostsFromCode(const Code& code) {
    Costs& c = work_->costs;
    for (int i = 0; i < main_symbols_; ++i) c.main[i] = code.main[i] ? code.main[i] : 15;
    for (int i = 0; i < kLengthSymbols; ++i) c.length[i] = code.length[i] ? code.length[i] : 14;
    for (int i = 0; i < kAlignedSymbols; ++i) c.aligned[i] = code.aligned[i] ? code.aligned[i] : 7;
    c.use_aligned = code.type == kAligned;
    FillMatchCosts();
  }

  void FillMatchCosts() {
    Costs& c = work_->costs;
    const int slots = (main_symbols_ - kNumChars) / 8;
    for (int s = 0; s < slots; ++s) {
      for (uint32_t len = kMinMatch; len <= kMaxMatch; ++len) {
        const uint32_t header = std::min(len - kMinMatch, kNumPrimaryLengths);
        uint32_t cost = c.main[kNumChars + 8 * s + header];
        if (header == kNumPrimaryLengths) cost += c.length[len - kMinMatch - kNumPrimaryLengths];
        c.match[s][len] = cost;
      }
    }
  }

  inline uint32_t OffsetCost(uint32_t formatted, int slot) const {
    const Costs& c = work_->costs;
    const uint32_t extra = kSlots.extra[slot];
    if (c.use_aligned && extra >= 3) return extra - 3 + c.aligned[formatted & 7];
    return extra;
  }

  // The repeated offsets after `item` starting from `r`.
  static void Advance(const uint32_t* r, uint32_t item, uint32_t* out) {
    if (ItemLength(item) == 0) {
      out[0] = r[0], out[1] = r[1], out[2] = r[2];
      return;
    }
    const uint32_t v = ItemValue(item);
    if (v == 0) {
      out[0] = r[0], out[1] = r[1], out[2] = r[2];
    } else if (v == 1) {
      out[0] = r[1], out[1] = r[0], out[2] = r[2];
    } else if (v == 2) {
      out[0] = r[2], out[1] = r[1], out[2] = r[0];
    } else {
      out[0] = v - 2, out[1] = r[0], out[2] = r[1];
    }
  }

  // One shortest-path pass over the frame under the current costs; leaves
  // the steps in items_ and answers their number.
  int Parse(const uint8_t* data, uint32_t size) {
    const Costs& c = work_->costs;
    Node* const nodes = nodes_.get();
    for (uint32_t i = 1; i <= size; ++i) nodes[i].cost = UINT32_MAX;
    nodes[0].cost = 0;
    nodes[0].item = 0;
    std::memcpy(nodes[0].r, r_, sizeof r_);
    const auto relax = [nodes](uint32_t at, uint32_t cost, uint32_t item) {
      if (cost < nodes[at].cost) {
        nodes[at].cost = cost;
        nodes[at].item = item;
      }
    };
    uint32_t skip_until = 0;
    for (uint32_t i = 0; i < size; ++i) {
      // Positions passed over by a long match at a repeated offset are no
      // sources, and those inside a long match the match finder took try
      // only literals and repeated offsets. Every other position has been
      // reached, at worst by literals from the end of such a match.
      Node& node = nodes[i];
      if (i < skip_until || node.cost == UINT32_MAX) continue;
      if (i > 0) Advance(nodes[i - ItemSpan(node.item)].r, node.item, node.r);
      const uint32_t base = node.cost;
      relax(i + 1, base + c.main[data[i]], MakeItem(0, data[i]));
      const uint32_t room = std::min(size - i, kMaxMatch);
      if (room < kMinMatch) continue;

      // Matches at the repeated offsets.
      const uint64_t history = folder_position() + i;
      for (uint32_t k = 0; k < 3; ++k) {
        const uint32_t offset = node.r[k];
        if (offset > history) continue;
        const uint8_t* const match = data + i - offset;
        if (match[0] != data[i] || match[1] != data[i + 1]) continue;
        const uint32_t len = MatchFinder::CommonLength(data + i, match, room);
        if (len >= kNiceLength) {
          relax(i + len, base + c.match[k][len], MakeItem(len, k));
          skip_until = i + len;
          break;
        }
        for (uint32_t l = kMinMatch; l <= len; ++l) relax(i + l, base + c.match[k][l], MakeItem(l, k));
      }
      if (i < skip_until || Inside(i)) continue;

      const Match* const list = MatchesAt(i);
      const int n = MatchCountAt(i);
      const bool taken = Taken(i);
      uint32_t done = kMinMatch - 1;
      for (int m = 0; m < n; ++m) {
        const uint32_t len = list[m].length;
        const uint32_t offset = list[m].offset;
        if (offset == node.r[0] || offset == node.r[1] || offset == node.r[2]) {
          done = std::max(done, len);
          continue;
        }
        const uint32_t formatted = offset + 2;
        const int slot = SlotOf(formatted);
        const uint32_t offset_cost = base + OffsetCost(formatted, slot);
        const uint32_t* const match_cost = c.match[slot];
        if (taken) {
          relax(i + len, offset_cost + match_cost[len], MakeItem(len, formatted));
          skip_until = i + len;
          break;
        }
        for (uint32_t l = done + 1; l <= len; ++l) relax(i + l, offset_cost + match_cost[l], MakeItem(l, formatted));
        done = std::max(done, len);
      }
    }
    // Walk back from the end.
    Node& last = nodes[size];
    Advance(nodes[size - ItemSpan(last.item)].r, last.item, last.r);
    int count = 0;
    for (uint32_t at = size; at > 0; at -= ItemSpan(nodes[at].item)) items_[count++] = nodes[at].item;
    std::reverse(items_.get(), items_.get() + count);
    return count;
  }

  void Gather(const uint32_t* items, int count, Stats& s) {
    std::memset(&s, 0, sizeof s);
    for (int k = 0; k < count; ++k) {
      const uint32_t item = items[k];
      const uint32_t len = ItemLength(item);
      if (len == 0) {
        ++s.main[ItemValue(item)];
        continue;
      }
      const uint32_t formatted = ItemValue(item);
      const int slot = SlotOf(formatted);
      const uint32_t header = std::min(len - kMinMatch, kNumPrimaryLengths);
      ++s.main[kNumChars + 8 * slot + header];
      if (header == kNumPrimaryLengths) ++s.length[len - kMinMatch - kNumPrimaryLengths];
      const uint32_t extra = kSlots.extra[slot];
      s.verbatim_bits += extra;
      if (extra >= 3) {
        s.aligned_bits += extra - 3;
        ++s.aligned[formatted & 7];
      } else {
        s.aligned_bits += extra;
      }
    }
  }

  void BuildLengths(const Stats& s, Code& c) {
    HuffmanScratch& scratch = work_->scratch;
    BuildLimitedLengths(s.main, main_symbols_, 16, c.main, scratch);
    BuildLimitedLengths(s.length, kLengthSymbols, 16, c.length, scratch);
    BuildLimitedLengths(s.aligned, kAlignedSymbols, 7, c.aligned, scratch);
  }

  // The bits of a frame's codes under `c` (without header and trees).
  uint64_t FrameBits(const Stats& s, const Code& c, BlockType type) const {
    uint64_t bits = 0;
    for (int i = 0; i < main_symbols_; ++i) bits += uint64_t{s.main[i]} * c.main[i];
    for (int i = 0; i < kLengthSymbols; ++i) bits += uint64_t{s.length[i]} * c.length[i];
    if (type == kVerbatim) return bits + s.verbatim_bits;
    for (int i = 0; i < kAlignedSymbols; ++i) bits += uint64_t{s.aligned[i]} * c.aligned[i];
    return bits + s.aligned_bits;
  }

  // The code of a block of frames with statistics `s`, its type the
  // smaller of verbatim and aligned, its trees coded against the last sent.
  void MakeCode(const Stats& s, Code& c) {
    Work& w = *work_;
    BuildLengths(s, c);
    PrepareTreePart(w.previous_main, c.main, 0, kNumChars, c.parts[0], w.scratch);
    PrepareTreePart(w.previous_main, c.main, kNumChars, main_symbols_, c.parts[1], w.scratch);
    PrepareTreePart(w.previous_length, c.length, 0, kLengthSymbols, c.parts[2], w.scratch);
    const uint64_t head = 3 + 24 + c.parts[0].bits + c.parts[1].bits + c.parts[2].bits;
    const uint64_t verbatim = head + FrameBits(s, c, kVerbatim);
    const uint64_t aligned = head + 3 * kAlignedSymbols + FrameBits(s, c, kAligned);
    c.type = aligned < verbatim ? kAligned : kVerbatim;
    c.bits = std::min(aligned, verbatim);
  }

  // The parse of frames: held until the block they go into is known. A
  // frame joins the held ones when one block of all of them is no larger
  // than the held block and a block of its own; otherwise the held frames
  // go out as one block, and the frame is held alone. A frame that is no
  // smaller coded than as it is goes out as an uncompressed block.
  bool EncodeFrame(size_t start, uint32_t size) override {
    Work& w = *work_;
    const uint8_t* const data = finder().data() + start;
    GatherMatches(start, size);
    int count = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
      count = Parse(data, size);
      Gather(items_.get(), count, w.stats);
      if (pass + 1 < kPasses) {
        BuildLengths(w.stats, w.codes[kFrameCode]);
        w.codes[kFrameCode].type = w.costs.use_aligned ? kAligned : kVerbatim;
        CostsFromCode(w.codes[kFrameCode]);
      }
    }
    std::memcpy(r_, nodes_[size].r, sizeof r_);

    MakeCode(w.stats, w.codes[kFrameCode]);
    const uint64_t raw_bits = 3 + 24 + 16 + 96 + 8 * uint64_t{size + (size & 1)};
    if (raw_bits <= w.codes[kFrameCode].bits) return Flush() && EmitUncompressed(data, size);
    if (held_count_ > 0) {
      w.merged_stats = w.block_stats;
      AddStats(w.merged_stats, w.stats);
      MakeCode(w.merged_stats, w.codes[kMergedCode]);
      const Code& merged = w.codes[kMergedCode];
      bool join = held_count_ < kMaxBlockFrames &&
                  merged.bits <= w.codes[kHeldCode].bits + w.codes[kFrameCode].bits &&
                  FrameBits(w.stats, merged, merged.type) <= kMaxFrameBits;
      for (int i = 0; join && i < held_count_; ++i) {
        join = FrameBits(held_[i].stats, merged, merged.type) <= kMaxFrameBits;
      }
      if (join) {
        std::swap(w.codes[kHeldCode], w.codes[kMergedCode]);
        w.block_stats = w.merged_stats;
        Hold(size, count);
        CostsFromCode(w.codes[kHeldCode]);
        return true;
      }
      if (!Flush()) return false;
      MakeCode(w.stats, w.codes[kFrameCode]);  // against the trees just sent
    }
    std::swap(w.codes[kHeldCode], w.codes[kFrameCode]);
    w.block_stats = w.stats;
    Hold(size, count);
    CostsFromCode(w.codes[kHeldCode]);
    return true;
  }

  bool FinishFolder() override { return Flush(); }

  void Hold(uint32_t size, int count) {
    ParsedFrame& f = held_[held_count_++];
    std::swap(f.items, items_);
    f.count = count;
    f.size = size;
    f.stats = work_->stats;
  }

  // The stream header before the folder's first block.
  void StreamHeader(BitWriter& out) {
    if (frames_ != 0) return;
    out.Put(1, 1);  // E8 translation on
    out.Put(kE8TranslationSize >> 16, 16);
    out.Put(kE8TranslationSize & 0xFFFF, 16);
  }

  // Sends the held frames as one block.
  bool Flush() {
    if (held_count_ == 0) return true;
    Work& w = *work_;
    const Code& c = w.codes[kHeldCode];
    uint32_t block_size = 0;
    for (int i = 0; i < held_count_; ++i) block_size += held_[i].size;
    MakeCanonicalCodes(c.main, main_symbols_, w.main_codes);
    MakeCanonicalCodes(c.length, kLengthSymbols, w.length_codes);
    MakeCanonicalCodes(c.aligned, kAlignedSymbols, w.aligned_codes);
    const int frames = held_count_;
    held_count_ = 0;
    for (int i = 0; i < frames; ++i) {
      BitWriter out(out_.get());
      if (i == 0) {
        StreamHeader(out);
        out.Put(c.type, 3);
        out.Put(block_size >> 16, 8);
        out.Put((block_size >> 8) & 0xFF, 8);
        out.Put(block_size & 0xFF, 8);
        if (c.type == kAligned) {
          for (int k = 0; k < kAlignedSymbols; ++k) out.Put(c.aligned[k], 3);
        }
        for (const TreePart& part : c.parts) WriteTreePart(out, part);
      }
      WriteCodes(out, c, held_[i].items.get(), held_[i].count);
      out.Align();
      ++frames_;
      if (!Emit(out_.get(), static_cast<uint32_t>(out.size()), held_[i].size)) return false;
    }
    std::memcpy(w.previous_main, c.main, sizeof w.previous_main);
    std::memcpy(w.previous_length, c.length, sizeof w.previous_length);
    return true;
  }

  bool EmitUncompressed(const uint8_t* data, uint32_t size) {
    BitWriter out(out_.get());
    StreamHeader(out);
    out.Put(kUncompressed, 3);
    out.Put(size >> 16, 8);
    out.Put((size >> 8) & 0xFF, 8);
    out.Put(size & 0xFF, 8);
    if (out.aligned()) out.Put(0, 16);
    out.Align();
    uint8_t r[12];
    for (int k = 0; k < 3; ++k) {
      for (int b = 0; b < 4; ++b) r[4 * k + b] = static_cast<uint8_t>(r_[k] >> (8 * b));
    }
    out.Bytes(r, sizeof r);
    out.Bytes(data, size);
    if (size & 1) out.Bytes(reinterpret_cast<const uint8_t*>("\0"), 1);
    ++frames_;
    return Emit(out_.get(), static_cast<uint32_t>(out.size()), size);
  }

  void WriteCodes(BitWriter& out, const Code& c, const uint32_t* items, int count) {
    const Work& w = *work_;
    const bool aligned = c.type == kAligned;
    for (int k = 0; k < count; ++k) {
      const uint32_t item = items[k];
      const uint32_t len = ItemLength(item);
      if (len == 0) {
        const uint32_t b = ItemValue(item);
        out.Put(w.main_codes[b], c.main[b]);
        continue;
      }
      const uint32_t formatted = ItemValue(item);
      const int slot = SlotOf(formatted);
      const uint32_t header = std::min(len - kMinMatch, kNumPrimaryLengths);
      const int symbol = kNumChars + 8 * slot + static_cast<int>(header);
      out.Put(w.main_codes[symbol], c.main[symbol]);
      if (header == kNumPrimaryLengths) {
        const uint32_t l = len - kMinMatch - kNumPrimaryLengths;
        out.Put(w.length_codes[l], c.length[l]);
      }
      const int extra = kSlots.extra[slot];
      const uint32_t bits = formatted - kSlots.base[slot];
      if (aligned && extra >= 3) {
        out.Put(bits >> 3, extra - 3);
        out.Put(w.aligned_codes[bits & 7], c.aligned[bits & 7]);
      } else if (extra > 0) {
        out.Put(bits, extra);
      }
    }
  }

  const int window_bits_;
  const int main_symbols_;
  std::unique_ptr<Node[]> nodes_;
  std::unique_ptr<uint32_t[]> items_;
  std::unique_ptr<uint8_t[]> out_;
  std::unique_ptr<Work> work_;
  std::unique_ptr<ParsedFrame[]> held_;
  int held_count_ = 0;
  uint64_t frames_ = 0;  // of the folder, sent
  uint32_t r_[3] = {1, 1, 1};
};

}  // namespace

std::unique_ptr<BlockEncoder> MakeLzxEncoder(int window_bits, EncodedBlockSink sink,
                                             std::string* error) {
  if (window_bits < kMinWindowBits || window_bits > kMaxWindowBits) {
    if (error) *error = "LZX window must be 15 to 21 bits";
    return nullptr;
  }
  auto encoder = std::make_unique<LzxEncoder>(window_bits, std::move(sink));
  if (!encoder->Init()) {
    if (error) *error = "out of memory for the LZX encoder";
    return nullptr;
  }
  return encoder;
}

}  // namespace kestrin::cab
