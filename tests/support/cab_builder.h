// The one way tests make cabinet files: byte by byte, every field settable so
// that damaged cabinets can be made on purpose, or packed by gcab from files.
#ifndef KESTRIN_TESTS_SUPPORT_CAB_BUILDER_H_
#define KESTRIN_TESTS_SUPPORT_CAB_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrin::cab::testing {

using NamedContents = std::vector<std::pair<std::string, std::string>>;

struct DataBlock {
  std::string data;                  // compressed bytes as stored
  uint16_t uncompressed = 0;         // 0 for the first piece of a split block
  std::optional<uint32_t> checksum;  // default: the correct one
};

struct Folder {
  uint16_t type = 0;  // compression type
  std::vector<DataBlock> blocks;
  std::optional<uint16_t> block_count;  // overrides the number of blocks
};

struct File {
  std::string name;  // stored bytes; a terminator is appended
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
  uint16_t date = 0x5A21;  // 2025-01-01
  uint16_t time = 0x6000;  // 12:00:00
  uint16_t attribs = 0x20;
};

// Reserve areas are filled with 'f' (folders) and 'd' (data blocks).
class CabBuilder {
 public:
  uint8_t version_minor = 3;
  uint8_t version_major = 1;
  uint16_t set_id = 0x4B53;
  uint16_t index = 0;
  bool reserve_present = false;
  std::string header_reserve;
  uint8_t folder_reserve = 0;
  uint8_t data_reserve = 0;
  std::optional<std::string> prev_cabinet, prev_disk, next_cabinet, next_disk;
  std::vector<Folder> folders;
  std::vector<File> files;
  std::optional<uint16_t> file_count;  // overrides the computed count

  // Stored folder holding `content` in blocks of at most block_size bytes.
  int AddStoredFolder(const std::string& content, size_t block_size = 32768);
  // MSZIP folder of `content` in 32768-byte blocks, each one deflate stored block.
  int AddMszipFolder(const std::string& content);
  // Adds the files back to back into folder `folder`, starting at `offset`.
  void AddFiles(int folder, const NamedContents& named_contents, uint32_t offset = 0);

  std::string Build() const;
};

// A stored block of `data` (a piece of a split block with uncompressed 0).
inline DataBlock Stored(const std::string& data, int uncompressed = -1) {
  return {data, static_cast<uint16_t>(uncompressed < 0 ? data.size() : uncompressed), {}};
}

// A set of two stored cabinets, a.cab naming `next` ("b.cab") and b.cab naming
// a.cab: "f1" (100 bytes) in a; "f2" (500) from a into b, its second block
// split between them; "f3" (50) in a second folder of b.
struct TwoCabinets {
  std::string f1, f2, f3;
  CabBuilder a, b;
};
TwoCabinets CabinetSet(const std::string& next = "b.cab");

// A cabinet of one stored folder holding the (name, content) pairs in order.
std::string StoredCabinet(const NamedContents& files);

// A deterministic test payload of n bytes (mixed text-like and binary).
std::string Payload(size_t n, uint32_t seed);

// Packs (name "DIR/file", content) pairs with gcab into `cab`, MSZIP unless
// `stored`; a gcab failure fails the current test.
void PackWithGcab(const std::string& cab, const NamedContents& files, bool stored = false);

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_SUPPORT_CAB_BUILDER_H_
