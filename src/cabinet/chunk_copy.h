// The chunked copy the LZ decoders (LZX, Quantum) use for matches whose
// source lies far enough from their destination.
#ifndef KESTRIN_CABINET_CHUNK_COPY_H_
#define KESTRIN_CABINET_CHUNK_COPY_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrin::cab {

// Copies `length` (at least 1) bytes forwards in chunks of N, for a source at
// least N bytes before or after dst: a chunk then never reads what this copy
// has not yet written, nor anything a later chunk's source still needs. The
// N bytes after dst + length must be writable and are put back as they were;
// the source may be read up to N - 1 bytes past its end.
template <size_t N>
inline void CopyChunks(uint8_t* dst, const uint8_t* src, uint32_t length) {
  uint8_t saved[N];
  std::memcpy(saved, dst + length, N);
  uint32_t i = 0;
  do {
    std::memcpy(dst + i, src + i, N);
    i += N;
  } while (i < length);
  std::memcpy(dst + length, saved, N);
}

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_CHUNK_COPY_H_
