#include "cabinet/huffman_builder.h"

#include <algorithm>

namespace kestrin::cab {

// Package-merge: at the deepest level the list holds the symbols by rising
// frequency; each level above merges the symbols with the pairs ("packages")
// of the level below. The first 2m - 2 items of the top list pick the
// optimal lengths: a symbol's length is the number of levels at which it is
// among the items picked, and the packages picked at one level pick twice
// as many items at the level below. At every level the symbols picked are
// the least frequent ones, so counting them is enough.
void BuildLimitedLengths(const uint32_t* freqs, int n, int max_length, uint8_t* lengths,
                         HuffmanScratch& s) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    lengths[i] = 0;
    if (freqs[i] != 0) s.order[m++] = static_cast<uint16_t>(i);
  }
  if (m < 2) {
    int given = 0;
    if (m == 1) {
      lengths[s.order[0]] = 1;
      given = 1;
    }
    for (int i = 0; i < n && given < 2; ++i) {
      if (lengths[i] == 0) {
        lengths[i] = 1;
        ++given;
      }
    }
    return;
  }
  std::sort(s.order, s.order + m, [freqs](uint16_t a, uint16_t b) {
    return freqs[a] != freqs[b] ? freqs[a] < freqs[b] : a < b;
  });

  uint64_t* list = s.weight[0];
  uint64_t* next = s.weight[1];
  for (int k = 0; k < m; ++k) {
    list[k] = freqs[s.order[k]];
    s.is_leaf[max_length - 1][k] = 1;
  }
  int size = m;
  for (int level = max_length - 1; level >= 1; --level) {
    const int packages = size / 2;
    uint8_t* leaf_flags = s.is_leaf[level - 1];
    int a = 0, b = 0, out = 0;
    while (a < m || b < packages) {
      const uint64_t package = b < packages ? list[2 * b] + list[2 * b + 1] : 0;
      if (b >= packages || (a < m && freqs[s.order[a]] <= package)) {
        next[out] = freqs[s.order[a++]];
        leaf_flags[out++] = 1;
      } else {
        next[out] = package;
        leaf_flags[out++] = 0;
        ++b;
      }
    }
    std::swap(list, next);
    size = out;
  }

  int take = 2 * m - 2;
  for (int level = 1; level <= max_length && take > 0; ++level) {
    const uint8_t* leaf_flags = s.is_leaf[level - 1];
    int leaves = 0;
    for (int k = 0; k < take; ++k) leaves += leaf_flags[k];
    for (int k = 0; k < leaves; ++k) ++lengths[s.order[k]];
    take = 2 * (take - leaves);
  }
}

void MakeCanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
  uint16_t count[kMaxHuffmanLength + 1] = {};
  for (int i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  uint16_t next[kMaxHuffmanLength + 1] = {};
  uint32_t code = 0;
  for (int len = 1; len <= kMaxHuffmanLength; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = static_cast<uint16_t>(code);
  }
  for (int i = 0; i < n; ++i) codes[i] = lengths[i] ? next[lengths[i]]++ : 0;
}

}  // namespace kestrin::cab
