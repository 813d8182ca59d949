// The data-block checksum of the cabinet format, shared by the reader and
// the writer.
#ifndef KESTRIN_CABINET_CHECKSUM_H_
#define KESTRIN_CABINET_CHECKSUM_H_

#include <cstdint>

namespace kestrin::cab {

// The bytes as little-endian 32-bit words XORed into `seed`; 1 to 3 trailing
// bytes form one more value (b0 b1 b2 as b0<<16 | b1<<8 | b2, b0 b1 as
// b0<<8 | b1, b0 as b0). A CFDATA record's checksum is that of its compressed
// bytes (seed 0), continued over the record from its compressed-size field
// to the end of its reserve.
uint32_t CabChecksum(const uint8_t* p, uint32_t n, uint32_t seed);

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_CHECKSUM_H_
