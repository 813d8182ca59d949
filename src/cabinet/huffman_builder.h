// Length-limited Huffman codes for the LZX encoder's trees.
//
// LZX sends its trees as code lengths, and the decoders build canonical codes
// from them: codes in order of increasing length, and of increasing symbol
// within a length, each the previous one plus one, shifted left when the
// length grows. Every tree sent must fill the code space exactly (or be
// empty), and no length may pass the tree's limit: 16 for the main and
// length trees, 7 for the aligned-offset tree (3-bit lengths), 15 for the
// pre-tree (4-bit lengths).
#ifndef KESTRIN_CABINET_HUFFMAN_BUILDER_H_
#define KESTRIN_CABINET_HUFFMAN_BUILDER_H_

#include <cstdint>

namespace kestrin::cab {

// Symbols a tree may have (the largest LZX main tree has 656).
inline constexpr int kMaxHuffmanSymbols = 1024;
inline constexpr int kMaxHuffmanLength = 16;

// Scratch memory of BuildLimitedLengths, so that building allocates nothing.
struct HuffmanScratch {
  uint64_t weight[2][2 * kMaxHuffmanSymbols];
  uint8_t is_leaf[kMaxHuffmanLength][2 * kMaxHuffmanSymbols];
  uint16_t order[kMaxHuffmanSymbols];
};

// Sets lengths[0..n) to the code lengths, none above max_length (and
// 2^max_length >= n), that minimise the sum of freq * length: symbols of
// frequency 0 get length 0. The code always fills the code space: with fewer
// than two symbols in use, the first unused symbols get length 1 too (a tree
// of one code is not a complete code). n must be at least 2.
void BuildLimitedLengths(const uint32_t* freqs, int n, int max_length, uint8_t* lengths,
                         HuffmanScratch& scratch);

// The canonical codes of `lengths` (each code right-aligned, its first bit
// the most significant of its length).
void MakeCanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes);

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_HUFFMAN_BUILDER_H_
