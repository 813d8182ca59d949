// SHA-256 (FIPS 180-4) for checking extracted data against recorded digests.
#ifndef KESTRIN_TESTS_SUPPORT_SHA256_H_
#define KESTRIN_TESTS_SUPPORT_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrin::testing {

// Incremental hash: Update any number of times, then HexDigest once.
class Sha256 {
 public:
  void Update(const void* data, size_t size);
  // Finishes the hash and returns it as 64 lower-case hex digits.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);

  uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

std::string Sha256Hex(std::string_view data);

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_SHA256_H_
