#include "cabinet/quantum_test_support.h"

#include <gtest/gtest.h>

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

}  // namespace kestrin::cab::testing
