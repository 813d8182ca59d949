// Fuzz target: the LZX block decoder through the codec interface.
//
// Two input shapes:
// - A cabinet ("MSCF"): the data blocks of its first LZX folder are fed in
//   order, with the window size of the folder's compression type (clamped
//   into the accepted range), so the corpus cabinets make good seeds.
// - Anything else: byte 0 picks the window (2^15..2^21), then blocks of
//   [compressed size u16][uncompressed size u16][bytes]; a block whose
//   uncompressed size has bit 15 set resets the decoder first.
// Output is capped so that no input decodes for long. Then the input is
// encoded as one LZX folder of that window and decoded back (round_trip.h;
// it does nothing while this build has no LZX encoder).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/block_codec.h"
#include "round_trip.h"

namespace {

using kestrin::cab::kLzxCodec;
using kestrin::cab::kMaxBlockSize;

constexpr size_t kMaxFrames = 48;  // 1.5 MiB of output at most

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* p) { std::free(p); }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct Block {
  const uint8_t* data;
  uint32_t size;
  uint32_t want;
  bool reset;
};

// The data blocks of a cabinet's first LZX folder; false if the header does not
// lead to any.
bool CabinetBlocks(const uint8_t* data, size_t size, int* window_bits, std::vector<Block>* blocks) {
  if (size < 36 || std::memcmp(data, "MSCF", 4) != 0) return false;
  uint16_t flags = U16(data + 30);
  size_t pos = 36;
  size_t folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    if (size < pos + 4) return false;
    folder_reserve = data[38];
    data_reserve = data[39];
    pos += 4 + U16(data + 36);
  }
  for (int flag : {1, 2}) {
    if (!(flags & flag)) continue;
    for (int s = 0; s < 2; ++s) {
      while (pos < size && data[pos] != 0) ++pos;
      ++pos;
    }
  }
  // The first LZX folder, or else the first folder.
  uint16_t folders = U16(data + 26);
  size_t record = 8 + folder_reserve;
  if (pos + record > size) return false;
  for (uint16_t f = 0; f < folders; ++f) {
    size_t at = pos + f * record;
    if (at + record > size) break;
    if ((U16(data + at + 6) & 0xF) == 3) {
      pos = at;
      break;
    }
  }
  uint32_t offset = U32(data + pos);
  uint16_t count = U16(data + pos + 4);
  *window_bits = (U16(data + pos + 6) >> 8) & 0x1F;
  size_t at = offset;
  for (uint16_t i = 0; i < count && blocks->size() < kMaxFrames; ++i) {
    if (at + 8 + data_reserve > size) break;
    uint32_t csize = U16(data + at + 4);
    uint32_t usize = U16(data + at + 6);
    at += 8 + data_reserve;
    if (csize > size - at) csize = static_cast<uint32_t>(size - at);
    blocks->push_back({data + at, csize, usize, false});
    at += csize;
  }
  return !blocks->empty();
}

void RawBlocks(const uint8_t* data, size_t size, int* window_bits, std::vector<Block>* blocks) {
  if (size < 1) return;
  *window_bits = 15 + data[0] % 7;
  size_t at = 1;
  while (at + 4 <= size && blocks->size() < kMaxFrames) {
    uint32_t csize = U16(data + at);
    uint16_t u = U16(data + at + 2);
    at += 4;
    if (csize > size - at) csize = static_cast<uint32_t>(size - at);
    blocks->push_back({data + at, csize, (u & 0x7FFFu) + 1u, (u & 0x8000u) != 0});
    at += csize;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Block> blocks;
  int window_bits = 15;
  if (!CabinetBlocks(data, size, &window_bits, &blocks)) RawBlocks(data, size, &window_bits, &blocks);
  if (window_bits < 15) window_bits = 15;
  if (window_bits > 21) window_bits = 21;

  // One handle per window size for the whole run, reset before each input:
  // making a 2 MiB window per input would cost more than decoding it.
  static void* handles[22] = {};
  kestrin::cab::LzxConfig config{1u << window_bits, 1};
  uint32_t min_input = 0;
  void*& handle = handles[window_bits];
  if (handle == nullptr) {
    if (kLzxCodec.create(kMaxBlockSize, &config, Alloc, Free, &min_input, &handle) != 0) abort();
  } else {
    if (kLzxCodec.create(kMaxBlockSize, &config, Alloc, Free, &min_input, nullptr) != 0) abort();
    if (kLzxCodec.reset(handle) != 0) abort();
  }
  // Input and output exactly as large as the interface promises, so the
  // sanitizer sees any access beyond them.
  std::vector<uint8_t> input(min_input);
  std::vector<uint8_t> output(kMaxBlockSize);
  for (const Block& b : blocks) {
    if (b.reset && kLzxCodec.reset(handle) != 0) abort();
    uint32_t in_size = b.size < min_input ? b.size : min_input;
    std::memcpy(input.data(), b.data, in_size);
    uint32_t want = b.want;
    uint32_t got = want;
    int rc = kLzxCodec.decompress(handle, input.data(), in_size, output.data(), &got);
    if (want > kMaxBlockSize) {
      if (rc != kestrin::cab::kCodecBufferOverflow) abort();
      continue;
    }
    if (rc == kestrin::cab::kCodecOk && got > want) abort();
    if (rc != kestrin::cab::kCodecOk && got != 0) abort();
    if (rc != kestrin::cab::kCodecOk || got != want) {
      if (kLzxCodec.reset(handle) != 0) abort();  // as the container would, for a new folder
    }
  }
  const kestrin::cab::EncoderSpec spec{kestrin::cab::EncoderSpec::kLzx, window_bits, 0};
  kestrin::cab::EncodeDecodeRoundTrip(spec, kLzxCodec, &config, data, size);
  return 0;
}
