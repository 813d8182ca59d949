// MSZIP block decoder (kMszipCodec in block_codec.h): each data block of a
// folder is 'C' 'K' followed by a deflate stream (RFC 1951) that may refer
// back into the previous block's output.
//
// The codec answers only BlockCodecError codes; the finer outcome of the last
// decompress call is kept for tests and diagnostics.
#ifndef KESTRIN_CABINET_MSZIP_H_
#define KESTRIN_CABINET_MSZIP_H_

#include "cabinet/block_codec.h"

namespace kestrin::cab {

enum class MszipStatus {
  kDone,        // the final deflate block ended
  kOutputFull,  // the output limit was reached (the rest of the input is ignored)
  kCorrupt,     // inconsistent data (no 'C' 'K', bad block type, bad table, bad code,
                // bad stored length, match before the folder's first byte)
  kTruncated,   // the stream ran past the end of the block and then failed
};

// Outcome of the last decompress call on handle (kCorrupt for a bad handle).
MszipStatus MszipLastStatus(const void* handle);

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_MSZIP_H_
