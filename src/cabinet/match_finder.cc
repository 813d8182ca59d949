#include "cabinet/match_finder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <cstdlib>

namespace kestrin::cab {
namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t Hash(uint32_t v, int bits) { return (v * 2654435761u) >> (32 - bits); }

// The tree's buckets: a hash of the first five bytes (eight are read). With
// four, the commonest 4-byte strings of programs crowd the buckets so that a
// search of limited depth stops short of the longer matches further back
// (1 % larger output of text and programs, and 5 % slower); 4-byte matches
// still come from the 3-byte table.
inline uint32_t Hash5(const uint8_t* p, int bits) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return static_cast<uint32_t>(((v << 24) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// Positions stay below this in the tables; Rebase brings them down.
constexpr uint32_t kRebaseAt = 0x80000000u;
// Two-byte matches farther than this cost more than two literals; the
// latest position of a 3-byte string (which may match longer) is looked at
// 16 times as far. Farther matches are the tree's, five bytes or longer.
constexpr uint32_t kShortMatchReach = 4096;

void* HeapAllocate(size_t size) { return ::operator new(size, std::nothrow); }
void HeapRelease(void* block, size_t) { ::operator delete(block); }

LargeMemory large_memory = {HeapAllocate, HeapRelease};

}  // namespace

void SetLargeMemory(const LargeMemory& memory) { large_memory = memory; }

template <typename T>
bool LargeArray<T>::Reset(size_t n) {
  if (data_ != nullptr) release_(data_, size_ * sizeof(T));
  data_ = n == 0 ? nullptr : static_cast<T*>(large_memory.allocate(n * sizeof(T)));
  size_ = data_ != nullptr ? n : 0;
  release_ = large_memory.release;
  return n == 0 || data_ != nullptr;
}
template class LargeArray<uint8_t>;
template class LargeArray<uint32_t>;

uint32_t MatchFinder::CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t len = 0;
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

bool MatchFinder::Init(const Params& params) {
  params_ = params;
  const size_t window = size_t{1} << params.window_bits;
  // History of a window before the oldest position still needed, room for
  // another window of input so that slides are rare, and the look-ahead.
  capacity_ = 2 * std::max<size_t>(window, 65536) + 2 * params.lookahead + 65536;
  mask_ = static_cast<uint32_t>(window - 1);
  // About two tree positions per bucket: a bucket's tree is searched from
  // its root, and a random string's search costs a cache miss per level.
  hash_bits_ = std::clamp(params.window_bits - 1, 12, 20);
  hash3_bits_ = std::clamp(params.window_bits - 5, 10, 16);
  if (!buffer_.Reset(capacity_) || !tree_.Reset(2 * window) || !head_.Reset(size_t{1} << hash_bits_) ||
      !head3_.Reset(size_t{1} << hash3_bits_) || !head2_.Reset(65536)) {
    return false;
  }
  Reset();
  return true;
}

void MatchFinder::Reset() {
  end_ = 0;
  cursor_ = 0;
  base_ = params_.max_offset + 1;
  std::memset(head_.get(), 0, sizeof(uint32_t) << hash_bits_);
  std::memset(head3_.get(), 0, sizeof(uint32_t) << hash3_bits_);
  std::memset(head2_.get(), 0, sizeof(uint32_t) * 65536);
}

void MatchFinder::Append(const uint8_t* bytes, size_t n) {
  std::memcpy(buffer_.get() + end_, bytes, n);
  end_ += n;
}

size_t MatchFinder::Slide(size_t keep) {
  keep = std::min(keep, cursor_);
  if (keep <= params_.max_offset) return 0;
  const size_t drop = keep - params_.max_offset;
  std::memmove(buffer_.get(), buffer_.get() + drop, end_ - drop);
  end_ -= drop;
  cursor_ -= drop;
  base_ += static_cast<uint32_t>(drop);
  if (base_ >= kRebaseAt) Rebase();
  return drop;
}

// Moves every position in the tables down so that the buffer's first
// position is max_offset + 1 again. Entries out of reach already may become
// 0; those in reach keep their distances.
void MatchFinder::Rebase() {
  const uint32_t delta = base_ - (params_.max_offset + 1);
  const auto lower = [delta](uint32_t* table, size_t n) {
    for (size_t i = 0; i < n; ++i) table[i] = table[i] > delta ? table[i] - delta : 0;
  };
  lower(tree_.get(), size_t{2} << params_.window_bits);
  lower(head_.get(), size_t{1} << hash_bits_);
  lower(head3_.get(), size_t{1} << hash3_bits_);
  lower(head2_.get(), 65536);
  base_ -= delta;
}

template <bool kReport>
int MatchFinder::Insert(Match* out) {
  const uint8_t* const cur = buffer_.get() + cursor_;
  const uint32_t avail = static_cast<uint32_t>(end_ - cursor_);
  const uint32_t pos = static_cast<uint32_t>(cursor_) + base_;
  const uint32_t max_offset = params_.max_offset;
  ++cursor_;
  int n = 0;
  if (avail < 8) return 0;  // the folder's last bytes: nothing is worth finding
  const uint32_t limit = std::min(params_.nice_length, avail);
  uint32_t best = params_.min_length - 1;

  // The latest position with the same first two bytes, and with a 3-byte
  // hash alike: the closest short matches, which the tree may hold deep.
  const uint32_t first4 = Load32(cur);
  if (avail >= 10) {
    // The searches of the next positions start with cache misses: the hash
    // heads two positions ahead, and the first node (and its bytes) one
    // position ahead, whose head the last call fetched.
    __builtin_prefetch(&head_[Hash5(cur + 2, hash_bits_)]);
    __builtin_prefetch(&head3_[Hash(Load32(cur + 2) << 8, hash3_bits_)]);
    const uint32_t next = head_[Hash5(cur + 1, hash_bits_)];
    __builtin_prefetch(&tree_[2 * (next & mask_)]);
    if (next >= base_) __builtin_prefetch(buffer_.get() + (next - base_));
    const uint32_t next3 = head3_[Hash(Load32(cur + 1) << 8, hash3_bits_)];
    if (next3 >= base_) __builtin_prefetch(buffer_.get() + (next3 - base_));
  }
  uint32_t last_offset = 0;
  const auto consider = [&](uint32_t candidate) {
    const uint32_t offset = pos - candidate;
    if (offset > max_offset || offset == last_offset) return;
    const uint32_t len = CommonLength(cur, cur - offset, limit);
    if (len > best) {
      best = len;
      out[n++] = Match{len, offset};
      last_offset = offset;
    }
  };
  if (params_.min_length <= 2) {
    uint32_t& slot2 = head2_[first4 & 0xFFFF];
    if constexpr (kReport) {
      if (pos - slot2 <= kShortMatchReach) consider(slot2);
    }
    slot2 = pos;
  }
  uint32_t& slot3 = head3_[Hash(first4 << 8, hash3_bits_)];
  if constexpr (kReport) {
    if (pos - slot3 <= kShortMatchReach * 16) consider(slot3);
  }
  slot3 = pos;

  uint32_t& head = head_[Hash5(cur, hash_bits_)];
  uint32_t candidate = head;
  head = pos;
  uint32_t* const tree = tree_.get();
  uint32_t* smaller = tree + 2 * (pos & mask_);  // where the next smaller node hangs
  uint32_t* larger = smaller + 1;                // where the next larger one does
  uint32_t len_smaller = 0, len_larger = 0;
  uint32_t depth = params_.max_depth;
  for (;;) {
    const uint32_t offset = pos - candidate;
    if (offset > max_offset || depth-- == 0) {
      *smaller = 0;
      *larger = 0;
      break;
    }
    const uint8_t* const match = cur - offset;
    uint32_t* const children = tree + 2 * (candidate & mask_);
    // Both neighbours share this much with the current string, and so does
    // everything between them in the tree.
    uint32_t len = std::min(len_smaller, len_larger);
    len += CommonLength(cur + len, match + len, limit - len);
    if constexpr (kReport) {
      if (len > best) {
        best = len;
        out[n++] = Match{len, offset};
      }
    }
    if (len == limit) {
      // The same string as far as the tree tells strings apart: the new
      // position takes the old one's place and children.
      *smaller = children[0];
      *larger = children[1];
      break;
    }
    if (match[len] < cur[len]) {
      *smaller = candidate;
      smaller = children + 1;
      candidate = *smaller;
      len_smaller = len;
    } else {
      *larger = candidate;
      larger = children;
      candidate = *larger;
      len_larger = len;
    }
  }
  return n;
}

int MatchFinder::FindMatches(Match* out) { return Insert<true>(out); }

void MatchFinder::Skip(size_t n) {
  for (size_t i = 0; i < n; ++i) Insert<false>(nullptr);
}

}  // namespace kestrin::cab
