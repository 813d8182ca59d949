#include "cabinet/quantum_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

uint32_t Get(const std::string& b, size_t at, int bytes) {
  if (at + bytes > b.size()) {
    ADD_FAILURE() << "cabinet truncated at " << at;
    return 0;
  }
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

std::string GetString(const std::string& b, size_t* at) {
  const size_t end = b.find('\0', *at);
  if (end == std::string::npos) {
    ADD_FAILURE() << "unterminated string at " << *at;
    *at = b.size();
    return "";
  }
  std::string s = b.substr(*at, end - *at);
  *at = end + 1;
  return s;
}

}  // namespace

SimpleCabinet ReadSimpleCabinet(const std::filesystem::path& path) {
  const std::string b = kestrin::testing::ReadFileOrDie(path);
  SimpleCabinet cab;
  if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) {
    ADD_FAILURE() << path << " is not a cabinet";
    return cab;
  }
  const uint32_t first_file = Get(b, 16, 4);
  const int folders = Get(b, 26, 2), files = Get(b, 28, 2), flags = Get(b, 30, 2);
  size_t at = 36;
  uint32_t folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    const uint32_t header_reserve = Get(b, 36, 2);
    folder_reserve = Get(b, 38, 1);
    data_reserve = Get(b, 39, 1);
    at = 40 + header_reserve;
  }
  for (int bit : {1, 2}) {
    if (flags & bit) {
      GetString(b, &at);
      GetString(b, &at);
    }
  }
  for (int i = 0; i < folders && at + 8 <= b.size(); ++i, at += 8 + folder_reserve) {
    SimpleCabinet::Folder folder;
    size_t block_at = Get(b, at, 4);
    const int blocks = Get(b, at + 4, 2);
    folder.type = static_cast<int>(Get(b, at + 6, 2));
    for (int k = 0; k < blocks; ++k) {
      const uint32_t compressed = Get(b, block_at + 4, 2);
      const uint32_t uncompressed = Get(b, block_at + 6, 2);
      const size_t data_at = block_at + 8 + data_reserve;
      if (data_at + compressed > b.size()) {
        ADD_FAILURE() << path << ": block " << k << " of folder " << i << " is truncated";
        break;
      }
      folder.blocks.push_back(
          {std::vector<uint8_t>(b.begin() + data_at, b.begin() + data_at + compressed),
           uncompressed});
      block_at = data_at + compressed;
    }
    cab.folders.push_back(std::move(folder));
  }
  at = first_file;
  for (int i = 0; i < files && at + 16 <= b.size(); ++i) {
    SimpleCabinet::File file;
    file.size = Get(b, at, 4);
    file.offset = Get(b, at + 4, 4);
    file.folder = static_cast<uint16_t>(Get(b, at + 8, 2));
    at += 16;
    file.name = GetString(b, &at);
    cab.files.push_back(file);
  }
  return cab;
}

std::vector<ExpectedFile> ReadExpectedHashes(const std::filesystem::path& path) {
  std::istringstream in(kestrin::testing::ReadFileOrDie(path));
  std::vector<ExpectedFile> files;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ExpectedFile f;
    std::string size;
    std::getline(fields, f.sha256, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, f.name, '\t');
    f.size = std::stoull(size);
    files.push_back(f);
  }
  return files;
}

// SHA-256 as FIPS 180-4 defines it.
std::string Sha256Hex(const std::string& data) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  std::string msg = data;
  const uint64_t bit_length = static_cast<uint64_t>(data.size()) * 8;
  msg.push_back(static_cast<char>(0x80));
  while (msg.size() % 64 != 56) msg.push_back('\0');
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<char>(bit_length >> (8 * i)));
  for (size_t chunk = 0; chunk < msg.size(); chunk += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(msg.data() + chunk + 4 * i);
      w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                          k[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  std::string hex;
  char buf[9];
  for (uint32_t v : h) {
    std::snprintf(buf, sizeof buf, "%08x", v);
    hex += buf;
  }
  return hex;
}

}  // namespace kestrin::cab::testing
