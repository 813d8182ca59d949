// The encode-and-decode-back check the block-decoder fuzz targets run on
// their input besides decoding it: the input is one folder for the method's
// encoder, each block it gives must fit the decoder's input buffer, and the
// decoder must give back exactly the bytes of that block. A method this build
// has no encoder for is passed over, so a target checks the round trip of
// its method as soon as the encoder exists.
#ifndef KESTRIN_FUZZ_ROUND_TRIP_H_
#define KESTRIN_FUZZ_ROUND_TRIP_H_

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/block_encoder.h"

namespace kestrin::cab {

inline void EncodeDecodeRoundTrip(const EncoderSpec& spec, const CabBlockCodec& codec, const void* config,
                                  const uint8_t* data, size_t size) {
  constexpr size_t kMaxInput = 256 * 1024;  // enough for eight frames, fast per input
  if (size > kMaxInput) size = kMaxInput;
  struct Block {
    std::vector<uint8_t> bytes;
    uint32_t size;
  };
  std::vector<Block> blocks;
  auto encoder = MakeBlockEncoder(
      spec,
      [&blocks](const uint8_t* p, uint32_t n, uint32_t u) {
        blocks.push_back({std::vector<uint8_t>(p, p + n), u});
        return true;
      },
      nullptr);
  if (!encoder) return;
  // Pieces of uneven sizes, as a writer reading files would give them.
  for (size_t at = 0, piece = 1; at < size; at += piece, piece = piece * 3 % 70001 + 1) {
    if (!encoder->Write(data + at, piece < size - at ? piece : size - at)) std::abort();
  }
  if (!encoder->EndFolder()) std::abort();
  void* handle = nullptr;
  uint32_t min_input = 0;
  auto alloc = [](uint32_t n) { return std::malloc(n ? n : 1); };
  if (codec.create(kMaxBlockSize, config, alloc, std::free, &min_input, &handle) != kCodecOk) std::abort();
  std::vector<uint8_t> output(kMaxBlockSize);
  size_t at = 0;
  for (const Block& b : blocks) {
    if (b.bytes.size() > min_input || b.bytes.size() > MaxEncodedBlockSize(encoder->TypeCompress())) std::abort();
    if (b.size == 0 || b.size > kMaxBlockSize || (b.size != kMaxBlockSize && &b != &blocks.back())) std::abort();
    std::vector<uint8_t> input(b.bytes);
    input.resize(min_input);
    uint32_t got = b.size;
    if (codec.decompress(handle, input.data(), static_cast<uint32_t>(b.bytes.size()), output.data(), &got) !=
            kCodecOk ||
        got != b.size || at + got > size || std::memcmp(output.data(), data + at, got) != 0) {
      std::abort();
    }
    at += got;
  }
  if (at != size || codec.destroy(handle) != kCodecOk) std::abort();
}

}  // namespace kestrin::cab

#endif  // KESTRIN_FUZZ_ROUND_TRIP_H_
