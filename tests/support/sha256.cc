#include "support/sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestrin::testing {
namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void Sha256::Block(const uint8_t* p) {
  uint32_t w[64], v[8];  // v: a b c d e f g h
  for (int i = 0; i < 64; ++i) {
    w[i] = i < 16 ? uint32_t{p[4 * i]} << 24 | p[4 * i + 1] << 16 | p[4 * i + 2] << 8 | p[4 * i + 3]
                  : w[i - 16] + (Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) +
                        w[i - 7] + (Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
  }
  std::memcpy(v, state_, sizeof v);
  for (int i = 0; i < 64; ++i) {
    const uint32_t e = v[4], a = v[0];
    const uint32_t t1 = v[7] + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +
                        ((e & v[5]) ^ (~e & v[6])) + kRound[i] + w[i];
    const uint32_t t2 =
        (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
    std::memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (int i = 0; i < 8; ++i) state_[i] += v[i];
}

void Sha256::Update(const void* data, size_t size) {
  for (const auto* p = static_cast<const uint8_t*>(data); size > 0;) {
    const size_t n = std::min(size, 64 - buffered_);
    std::memcpy(buffer_ + buffered_, p, n);
    buffered_ += n, total_ += n, p += n, size -= n;
    if (buffered_ == 64) Block(buffer_), buffered_ = 0;
  }
}

std::string Sha256::HexDigest() {
  const uint64_t bits = total_ * 8;
  uint8_t tail[72] = {0x80};  // the 1 bit, zeros up to 56 mod 64, the bit count
  const size_t pad = (119 - buffered_) % 64 + 1;
  for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(tail, pad + 8);
  std::string out;
  char hex[9];
  for (const uint32_t word : state_) std::snprintf(hex, sizeof hex, "%08x", word), out += hex;
  return out;
}

std::string Sha256Hex(std::string_view data) {
  Sha256 h;
  h.Update(data.data(), data.size());
  return h.HexDigest();
}

}  // namespace kestrin::testing
