// The block-encoder interface the cabinet writer drives: the counterpart of
// block_codec.h for writing.
//
// One implementation per compression method (MSZIP, LZX, Quantum), each in
// the file of its decoder's method (mszip_encoder.cc beside mszip.cc, ...).
// The writer streams a folder's uncompressed bytes in with Write, in pieces
// of any size, and closes the folder with EndFolder. The encoder hands its
// data blocks out through the sink, in order, each as the format stores it in
// one CFDATA record: at most kMaxBlockSize uncompressed bytes, every block but
// the folder's last exactly kMaxBlockSize, at most kMaxEncodedBlockSize
// compressed bytes. An encoder may hold back input (to parse ahead or to
// choose block types) but never more than it needs: memory stays bounded
// whatever the folder's size.
//
// After EndFolder the next Write starts a new folder with a fresh state, as
// the decoder's reset expects.
#ifndef KESTRIN_CABINET_BLOCK_ENCODER_H_
#define KESTRIN_CABINET_BLOCK_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "cabinet/block_codec.h"

namespace kestrin::cab {

// The largest compressed data block a writer stores: the uncompressed block
// plus what an incompressible block costs in any method's framing.
inline constexpr uint32_t kMaxEncodedBlockSize = kMaxBlockSize + 6144;

// Receives one data block: `data` holds `compressed_size` bytes that decode
// to `uncompressed_size` bytes. Answers false to stop the encoder (a write
// failed); the encoder then answers false too.
using EncodedBlockSink =
    std::function<bool(const uint8_t* data, uint32_t compressed_size, uint32_t uncompressed_size)>;

class BlockEncoder {
 public:
  virtual ~BlockEncoder() = default;

  // The folder's typeCompress field (method, and for LZX and Quantum the
  // window and level bits) as the container stores it.
  virtual uint16_t TypeCompress() const = 0;
  // More uncompressed bytes of the current folder. False when the sink
  // refused a block or the encoder failed (LastError says why).
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Encodes whatever is held back and ends the folder. An empty folder
  // gives no block.
  virtual bool EndFolder() = 0;
  virtual const std::string& LastError() const = 0;
};

// Compression method and its parameters as `kestrin-cab c -m` names them.
struct EncoderSpec {
  enum Method { kNone, kMszip, kLzx, kQuantum } method = kMszip;
  int window_bits = 0;  // LZX 15..21, Quantum 10..21
  int level = 0;        // Quantum 1..7
};

// Reads a method as `kestrin-cab c -m` takes it: "none", "mszip",
// "lzx:15".."lzx:21" (window exponent), "quantum:1:10".."quantum:7:21"
// (level, window exponent). False, with a sentence in `error`, for anything
// else.
bool ParseEncoderSpec(std::string_view text, EncoderSpec* spec, std::string* error);
// The method in that form ("lzx:21").
std::string EncoderSpecName(const EncoderSpec& spec);

// Whether `text` (an error a factory gave) says the method is missing from
// this build rather than that its parameters are wrong.
bool IsNotAvailableError(std::string_view text);

// The largest compressed data block every reader accepts for a folder of
// this compression type (stored 32768, MSZIP 32780, LZX and Quantum
// kMaxEncodedBlockSize); the writer refuses larger blocks.
uint32_t MaxEncodedBlockSize(uint16_t type_compress);

// Makes the encoder for `spec`, or nullptr (with `error` set) for a method
// or parameter this build cannot write. kNone gives a stored-block encoder.
std::unique_ptr<BlockEncoder> MakeBlockEncoder(const EncoderSpec& spec, EncodedBlockSink sink,
                                               std::string* error);

// The method factories MakeBlockEncoder dispatches to, each in its method's
// encoder file (block_encoder.cc, mszip_encoder.cc, lzx_encoder.cc,
// quantum_encoder.cc). A factory that cannot make its encoder answers nullptr
// and says why in `error`; "not available in this build" in that text marks
// a method this build does not have (tests skip such methods).
std::unique_ptr<BlockEncoder> MakeStoredEncoder(EncodedBlockSink sink);
std::unique_ptr<BlockEncoder> MakeMszipEncoder(EncodedBlockSink sink, std::string* error);
std::unique_ptr<BlockEncoder> MakeLzxEncoder(int window_bits, EncodedBlockSink sink,
                                             std::string* error);
std::unique_ptr<BlockEncoder> MakeQuantumEncoder(int level, int window_bits,
                                                 EncodedBlockSink sink, std::string* error);

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_BLOCK_ENCODER_H_
