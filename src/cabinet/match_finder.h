// The match finder of the LZX and Quantum encoders: a sliding input buffer
// and a binary tree of the positions in the window, searched for the longest
// earlier occurrences of the string at the current position.
//
// The buffer holds the folder's bytes from some point in the past to the
// last byte appended; positions are indexes into it. Each position is
// entered into the tree once, in order, by FindMatches or Skip. The tree
// orders the positions whose first five bytes hash alike by their strings
// (up to `nice_length` bytes); a search walks it from the root and finds, on
// its way, the closest position for every match length it meets. Two small
// tables of the latest position of each 2-byte value and each 3-byte hash
// add the short matches the tree does not keep apart.
//
// All memory is allocated by Init; searching and sliding allocate nothing.
#ifndef KESTRIN_CABINET_MATCH_FINDER_H_
#define KESTRIN_CABINET_MATCH_FINDER_H_

#include <cstddef>
#include <cstdint>

namespace kestrin::cab {

struct Match {
  uint32_t length;
  uint32_t offset;  // 1 = the byte before
};

// Where match finders get their large tables (the buffer, the tree, the
// hash heads). By default the C++ heap; a program may install its platform
// layer's allocator instead, for memory backed by huge pages: the tree is
// walked at random, and with small pages nearly every step of the walk
// misses the TLB besides the cache. `allocate` answers nullptr when memory
// is short; `release` gets the size that was asked for.
struct LargeMemory {
  void* (*allocate)(size_t size);
  void (*release)(void* block, size_t size);
};
// Applies to match finders initialised afterwards.
void SetLargeMemory(const LargeMemory& memory);

// An array from the large-memory allocator.
template <typename T>
class LargeArray {
 public:
  LargeArray() = default;
  LargeArray(const LargeArray&) = delete;
  LargeArray& operator=(const LargeArray&) = delete;
  ~LargeArray() { Reset(0); }
  // Frees the array and allocates n elements; false when memory is short.
  bool Reset(size_t n);
  T* get() const { return data_; }
  T& operator[](size_t i) const { return data_[i]; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  void (*release_)(void*, size_t) = nullptr;
};

class MatchFinder {
 public:
  struct Params {
    int window_bits;      // the tree covers 2^window_bits positions
    uint32_t max_offset;  // farthest match offset, below 2^window_bits
    uint32_t min_length;  // 2 or 3: shorter matches are never reported
    uint32_t nice_length; // a match this long ends the search
    uint32_t max_depth;   // tree nodes visited per search
    uint32_t lookahead;   // bytes appended beyond the position being searched
  };

  MatchFinder() = default;
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;

  // Allocates the buffer and the tables; false when memory is short.
  bool Init(const Params& params);
  // Forgets every byte and position, for a new folder.
  void Reset();

  uint8_t* data() { return buffer_.get(); }
  const uint8_t* data() const { return buffer_.get(); }
  // Bytes held: positions [0, end()).
  size_t end() const { return end_; }
  // The next position to enter into the tree.
  size_t cursor() const { return cursor_; }
  // Appends n bytes; the caller makes room first (Room, Slide).
  void Append(const uint8_t* bytes, size_t n);
  size_t Room() const { return capacity_ - end_; }
  // Drops the bytes before position `keep` less the window; answers how far
  // every position moved down (0 when nothing could be dropped).
  size_t Slide(size_t keep);

  // Enters cursor() into the tree and writes to `out` the matches found for
  // it, shortest first, each longer and (but for the short-match tables'
  // candidates) farther than the one before; answers how many. Matches are
  // at most nice_length long and never reach past end(). The caller leaves
  // at least `lookahead` bytes after the cursor unless the folder ends.
  int FindMatches(Match* out);
  // Enters the next n positions into the tree without searching.
  void Skip(size_t n);
  // Moves past the next n positions without entering them: no search
  // finds them later.
  void Pass(size_t n) { cursor_ += n; }

  // The length of the common prefix of the strings at `a` and `b`, at most
  // `limit`.
  static uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit);

  // Upper bound of FindMatches' answer.
  static constexpr int kMaxMatches = 260;

 private:
  template <bool kReport>
  int Insert(Match* out);
  void Rebase();

  Params params_{};
  size_t capacity_ = 0;
  size_t end_ = 0;
  size_t cursor_ = 0;
  // Positions in the tables are buffer positions plus base_ (uint32 with
  // wrap-around protection in Rebase); 0 is empty, and base_ starts above
  // max_offset so that an empty entry is always out of reach.
  uint32_t base_ = 0;
  uint32_t mask_ = 0;
  LargeArray<uint8_t> buffer_;
  LargeArray<uint32_t> tree_;  // two children per window position
  LargeArray<uint32_t> head_;
  LargeArray<uint32_t> head3_;
  LargeArray<uint32_t> head2_;
  int hash_bits_ = 0;
  int hash3_bits_ = 0;
};

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_MATCH_FINDER_H_
