// LZX encoder: not written yet; the factory says so, and MakeBlockEncoder
// passes the answer on.
#include "cabinet/block_encoder.h"

namespace kestrin::cab {

std::unique_ptr<BlockEncoder> MakeLzxEncoder(int, EncodedBlockSink, std::string* error) {
  if (error) *error = "LZX compression is not available in this build";
  return nullptr;
}

}  // namespace kestrin::cab
