// Test helpers for the Quantum decoder tests: a minimal reader of one
// cabinet file's folders, data blocks and file entries (no cabinet sets, no
// checksums), so a block decoder can be tested without the container reader,
// and the corpus' EXPECTED hash lists.
#ifndef KESTRIN_TESTS_CABINET_QUANTUM_TEST_SUPPORT_H_
#define KESTRIN_TESTS_CABINET_QUANTUM_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrin::cab::testing {

struct SimpleCabinet {
  struct Block {
    std::vector<uint8_t> data;
    uint32_t uncompressed;
  };
  struct Folder {
    int type;
    std::vector<Block> blocks;
  };
  struct File {
    std::string name;
    uint32_t size;
    uint32_t offset;
    uint16_t folder;
  };
  std::vector<Folder> folders;
  std::vector<File> files;
};

// Reads a single cabinet; a malformed one fails the current test and gives
// what could be read.
SimpleCabinet ReadSimpleCabinet(const std::filesystem::path& path);

struct ExpectedFile {
  std::string sha256;
  size_t size;
  std::string name;  // the third column as it stands
};
// Reads "sha256 <tab> size <tab> name ..." lines, skipping "#" comments.
std::vector<ExpectedFile> ReadExpectedHashes(const std::filesystem::path& path);

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_CABINET_QUANTUM_TEST_SUPPORT_H_
