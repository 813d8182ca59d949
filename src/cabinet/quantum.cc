// Placeholder until the Quantum decoder lands: every folder of this method fails
// to start, which the container reader reports as a decoder failure.
#include "cabinet/block_codec.h"

namespace kestrin::cab {
namespace {
BlockCodecError Create(uint32_t, const void*, AllocFn, FreeFn, uint32_t* min_input, void**) {
  if (min_input) *min_input = 0;
  return kCodecConfigNotSupported;
}
BlockCodecError Decompress(void*, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return kCodecBadHandle;
}
BlockCodecError Reset(void*) { return kCodecBadHandle; }
BlockCodecError Destroy(void*) { return kCodecBadHandle; }
}  // namespace

const CabBlockCodec kQuantumCodec = {"Quantum", Create, Decompress, Reset, Destroy};

}  // namespace kestrin::cab
