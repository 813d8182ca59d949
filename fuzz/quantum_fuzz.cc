// Fuzz target for the Quantum block decoder, driven through the codec
// interface.
//
// Two input forms:
//  - a cabinet ("MSCF"...): the data blocks of its first Quantum folder are
//    fed in order with the folder's window exponent, so mutations of real
//    cabinets reach deep decoder states;
//  - anything else: byte 0 picks the window exponent (8..23, so refused
//    ones occur too), bytes 1-2 the block maximum, then blocks follow, each
//    as compressed size (2 bytes), owed size (2 bytes), a flag byte (bit 0:
//    reset before the block) and the compressed bytes.
// Every block is copied into a buffer of its exact size and decoded into a
// buffer of exactly the owed size, so any read or write outside them is
// caught. Output is capped per input. Then the input is encoded as one
// Quantum folder of that window (the level from byte 1) and decoded back
// (round_trip.h; it does nothing while this build has no Quantum encoder).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/block_codec.h"
#include "round_trip.h"

using kestrin::cab::BlockCodecError;
using kestrin::cab::kQuantumCodec;
using kestrin::cab::QuantumConfig;

namespace {

constexpr size_t kOutputCap = 64 << 10;

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* block) { std::free(block); }

struct Block {
  const uint8_t* data;
  uint32_t size;
  uint32_t owed;
  bool reset;
};

uint32_t Le(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The blocks of the first Quantum folder of a cabinet; false when there is
// none or the structure is cut short before its first block.
bool CabinetBlocks(const uint8_t* data, size_t size, int* window_bits, std::vector<Block>* blocks) {
  if (size < 36 || std::memcmp(data, "MSCF", 4) != 0) return false;
  const uint32_t folders = Le(data + 26, 2);
  const uint32_t flags = Le(data + 30, 2);
  size_t at = 36;
  uint32_t folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    if (size < 40) return false;
    folder_reserve = data[38];
    data_reserve = data[39];
    at = 40 + Le(data + 36, 2);
  }
  for (int strings = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); strings > 0; --strings) {
    while (at < size && data[at] != 0) ++at;
    ++at;
  }
  for (uint32_t f = 0; f < folders; ++f, at += 8 + folder_reserve) {
    if (at + 8 > size) return false;
    const uint32_t type = Le(data + at + 6, 2);
    if ((type & 15) != 2) continue;
    *window_bits = static_cast<int>((type >> 8) & 31);
    size_t block_at = Le(data + at, 4);
    const uint32_t count = Le(data + at + 4, 2);
    for (uint32_t b = 0; b < count; ++b) {
      if (block_at + 8 + data_reserve > size) break;
      const uint32_t compressed = Le(data + block_at + 4, 2);
      const uint32_t owed = Le(data + block_at + 6, 2);
      const size_t data_at = block_at + 8 + data_reserve;
      const uint32_t available =
          static_cast<uint32_t>(std::min<size_t>(compressed, size - std::min(size, data_at)));
      blocks->push_back({data + std::min(size, data_at), available, owed, false});
      block_at = data_at + compressed;
    }
    return true;
  }
  return false;
}

void RawBlocks(const uint8_t* data, size_t size, std::vector<Block>* blocks) {
  size_t at = 3;
  while (at + 5 <= size && blocks->size() < 256) {
    const uint32_t compressed = Le(data + at, 2);
    const uint32_t owed = Le(data + at + 2, 2);
    const bool reset = data[at + 4] & 1;
    at += 5;
    const uint32_t available = static_cast<uint32_t>(std::min<size_t>(compressed, size - at));
    blocks->push_back({data + at, available, owed, reset});
    at += available;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  int window_bits = 0;
  uint32_t max_block = 0;
  std::vector<Block> blocks;
  if (!CabinetBlocks(data, size, &window_bits, &blocks)) {
    blocks.clear();
    window_bits = 8 + data[0] % 16;
    max_block = Le(data + 1, 2);
    RawBlocks(data, size, &blocks);
  }

  QuantumConfig config{window_bits, 1};
  uint32_t min_input = 0;
  void* handle = nullptr;
  const BlockCodecError created =
      kQuantumCodec.create(max_block, &config, Alloc, Free, &min_input, &handle);
  if (window_bits < 10 || window_bits > 21) {
    if (created != kestrin::cab::kCodecConfigNotSupported || handle) std::abort();
    return 0;
  }
  if (created != kestrin::cab::kCodecOk || !handle) std::abort();
  const uint32_t effective_max = max_block == 0 || max_block > 32768 ? 32768 : max_block;
  if (min_input != effective_max + 10240) std::abort();

  size_t produced = 0;
  for (const Block& b : blocks) {
    if (produced >= kOutputCap) break;
    if (b.reset && kQuantumCodec.reset(handle) != kestrin::cab::kCodecOk) std::abort();
    std::vector<uint8_t> in(b.data, b.data + b.size);
    std::vector<uint8_t> out(b.owed ? b.owed : 1);
    uint32_t out_size = b.owed;
    const BlockCodecError e =
        kQuantumCodec.decompress(handle, in.data(), b.size, out.data(), &out_size);
    if (out_size > b.owed) std::abort();
    if (b.owed > effective_max) {
      if (e != kestrin::cab::kCodecBufferOverflow || out_size != 0) std::abort();
      continue;
    }
    if (e == kestrin::cab::kCodecOk && out_size != b.owed) std::abort();
    if (e != kestrin::cab::kCodecOk && e != kestrin::cab::kCodecFailed) std::abort();
    produced += out_size;
    if (e != kestrin::cab::kCodecOk) break;  // a folder does not go on after a failure
  }
  if (kQuantumCodec.destroy(handle) != kestrin::cab::kCodecOk) std::abort();
  const kestrin::cab::EncoderSpec spec{kestrin::cab::EncoderSpec::kQuantum, window_bits, 1 + data[1] % 7};
  kestrin::cab::EncodeDecodeRoundTrip(spec, kQuantumCodec, &config, data, size);
  return 0;
}
