// Fuzzes the MSZIP block decoder on raw blocks chained as in one folder: the
// input is cut before every "CK", each piece is one block (so cabinets used as
// seeds give their real blocks), all decoded into the same 32768-byte output
// buffer so that matches reach back into the previous block. A failed block
// resets the decoder, as a new folder would. Then the input is encoded as
// one folder and decoded back (round_trip.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cabinet/block_codec.h"
#include "round_trip.h"

using namespace kestrin::cab;

namespace {
void* Alloc(uint32_t n) { return std::malloc(n ? n : 1); }
void Free(void* p) { std::free(p); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  void* handle = nullptr;
  uint32_t in_size = 0;
  if (kMszipCodec.create(0, nullptr, Alloc, Free, &in_size, &handle) != kCodecOk) std::abort();
  // Exactly sized buffers, so that any overrun is caught.
  auto* out = static_cast<uint8_t*>(std::malloc(kMaxBlockSize));
  auto* in = static_cast<uint8_t*>(std::malloc(in_size));
  std::memset(out, 0, kMaxBlockSize);
  size_t start = 0;
  while (start < size) {
    size_t end = start + 2;
    while (end + 1 < size && !(data[end] == 'C' && data[end + 1] == 'K')) ++end;
    if (end + 1 >= size) end = size;
    const size_t len = end - start < in_size ? end - start : in_size;
    std::memcpy(in, data + start, len);
    // Ask for a full block mostly; a piece whose last byte ends in 0xF asks
    // for less.
    uint32_t ask = kMaxBlockSize;
    if (len > 2 && (data[start + len - 1] & 0x0F) == 0x0F) ask = data[start + len - 1] * 64u;
    uint32_t produced = ask;
    const BlockCodecError err = kMszipCodec.decompress(handle, in, static_cast<uint32_t>(len), out, &produced);
    if (produced > ask) std::abort();
    if (err != kCodecOk && kMszipCodec.reset(handle) != kCodecOk) std::abort();
    start = end;
  }
  if (kMszipCodec.destroy(handle) != kCodecOk) std::abort();
  std::free(out);
  std::free(in);
  EncodeDecodeRoundTrip(EncoderSpec{EncoderSpec::kMszip, 0, 0}, kMszipCodec, nullptr, data, size);
  return 0;
}
