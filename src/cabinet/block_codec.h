// The block-decoder interface the cabinet container reader drives.
//
// One implementation per compression method (MSZIP, Quantum, LZX). A decoder
// takes one compressed data block of a folder at a time and produces its
// uncompressed bytes. It owns its window and tables; all of its memory comes
// through the alloc/free callbacks given at creation, made once per handle,
// never while decoding.
#ifndef KESTRIN_CABINET_BLOCK_CODEC_H_
#define KESTRIN_CABINET_BLOCK_CODEC_H_

#include <cstdint>

namespace kestrin::cab {

// Memory callbacks of the decoder context (the caller's alloc and free).
using AllocFn = void* (*)(uint32_t size);
using FreeFn = void (*)(void* block);

// Result of every block-decoder operation.
enum BlockCodecError : int {
  kCodecOk = 0,                  // no error
  kCodecOutOfMemory = 1,         // an allocation through the alloc callback failed
  kCodecBadHandle = 2,           // null or foreign handle (signature mismatch), null argument
  kCodecBufferOverflow = 3,      // a size asked for exceeds what the handle was created for
  kCodecFailed = 4,              // the compressed data are inconsistent
  kCodecConfigNotSupported = 5,  // window size or exponent out of range
};

// Largest uncompressed block of a cabinet and the default maximum of a codec.
inline constexpr uint32_t kMaxBlockSize = 32768;

// Method configuration handed to create(). MSZIP takes none.
struct QuantumConfig {
  int window_bits;  // window exponent, 10..21
  int cpu_type;     // processor type of the decoder context
};
struct LzxConfig {
  uint32_t window_size;  // window size in bytes, a power of two 2^15..2^21
  int cpu_type;          // processor type of the decoder context
};

// One block decoder: four operations over an opaque handle.
struct CabBlockCodec {
  const char* name;
  // Creates a handle for blocks of at most max_block bytes (0 or more than
  // 32768 become 32768) and reports the input buffer size the caller must
  // provide in *min_input. With handle == nullptr only *min_input is reported.
  BlockCodecError (*create)(uint32_t max_block, const void* config, AllocFn alloc, FreeFn free,
                            uint32_t* min_input, void** handle);
  // Decodes one data block. *out_size holds on entry the number of bytes the
  // caller asks for (MSZIP: at most; Quantum, LZX: exactly) and on return
  // the number produced. The caller passes the same output buffer, of at
  // least max_block bytes, for every block of a folder.
  BlockCodecError (*decompress)(void* handle, const uint8_t* in, uint32_t in_size, uint8_t* out,
                                uint32_t* out_size);
  // Called before each new folder of the same method.
  BlockCodecError (*reset)(void* handle);
  // Frees everything the handle holds.
  BlockCodecError (*destroy)(void* handle);
};

extern const CabBlockCodec kMszipCodec;
extern const CabBlockCodec kQuantumCodec;
extern const CabBlockCodec kLzxCodec;

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_BLOCK_CODEC_H_
