#include "support/cab_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

void Put16(std::string& s, uint32_t v) { s += {static_cast<char>(v), static_cast<char>(v >> 8)}; }
void Put32(std::string& s, uint32_t v) { Put16(s, v), Put16(s, v >> 16); }

// The cabinet checksum, written independently of the reader's: XOR of the
// little-endian words, the 1..3 bytes left over taken big-endian.
uint32_t BuilderChecksum(const std::string& bytes, uint32_t sum) {
  const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
  size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) sum ^= b(i) | b(i + 1) << 8 | b(i + 2) << 16 | b(i + 3) << 24;
  uint32_t tail = 0;
  for (; i < bytes.size(); ++i) tail = tail << 8 | b(i);
  return sum ^ tail;
}

}  // namespace

int CabBuilder::AddStoredFolder(const std::string& content, size_t block_size) {
  Folder f;
  for (size_t at = 0; at < content.size(); at += block_size)
    f.blocks.push_back(Stored(content.substr(at, block_size)));
  folders.push_back(f);
  return static_cast<int>(folders.size() - 1);
}

int CabBuilder::AddMszipFolder(const std::string& content) {
  const int index = AddStoredFolder(content);
  folders[index].type = 1;
  for (DataBlock& b : folders[index].blocks) {
    std::string block = "CK\x01";  // BFINAL 1, BTYPE 00 (stored), then byte aligned
    Put16(block, static_cast<uint32_t>(b.data.size()));
    Put16(block, static_cast<uint32_t>(~b.data.size()));
    b.data = block + b.data;
  }
  return index;
}

void CabBuilder::AddFiles(int folder, const NamedContents& named_contents, uint32_t offset) {
  for (const auto& [name, content] : named_contents) {
    files.push_back(File{name, static_cast<uint32_t>(content.size()), offset,
                         static_cast<uint16_t>(folder)});
    offset += files.back().size;
  }
}

std::string CabBuilder::Build() const {
  std::string strings;
  if (prev_cabinet) strings += *prev_cabinet + '\0' + prev_disk.value_or("") + '\0';
  if (next_cabinet) strings += *next_cabinet + '\0' + next_disk.value_or("") + '\0';
  const size_t folders_at =
      36 + (reserve_present ? 4 + header_reserve.size() : 0) + strings.size();
  const size_t files_at = folders_at + folders.size() * (8 + folder_reserve);
  std::string file_table;
  for (const File& f : files) {
    Put32(file_table, f.size), Put32(file_table, f.offset), Put16(file_table, f.folder);
    Put16(file_table, f.date), Put16(file_table, f.time), Put16(file_table, f.attribs);
    file_table += f.name + '\0';
  }
  const size_t data_at = files_at + file_table.size();

  std::string folder_table, data;
  for (const Folder& folder : folders) {
    Put32(folder_table, static_cast<uint32_t>(data_at + data.size()));
    Put16(folder_table, folder.block_count.value_or(static_cast<uint16_t>(folder.blocks.size())));
    Put16(folder_table, folder.type);
    folder_table += std::string(folder_reserve, 'f');
    for (const DataBlock& b : folder.blocks) {
      std::string tail;  // compressed size, uncompressed size, reserve
      Put16(tail, static_cast<uint32_t>(b.data.size()));
      Put16(tail, b.uncompressed);
      tail += std::string(data_reserve, 'd');
      Put32(data, b.checksum.value_or(BuilderChecksum(tail, BuilderChecksum(b.data, 0))));
      data += tail + b.data;
    }
  }

  std::string out = "MSCF";
  Put32(out, 0), Put32(out, static_cast<uint32_t>(data_at + data.size())), Put32(out, 0);
  Put32(out, static_cast<uint32_t>(files_at)), Put32(out, 0);
  out += {static_cast<char>(version_minor), static_cast<char>(version_major)};
  Put16(out, static_cast<uint32_t>(folders.size()));
  Put16(out, file_count.value_or(static_cast<uint16_t>(files.size())));
  Put16(out, (prev_cabinet ? 1 : 0) | (next_cabinet ? 2 : 0) | (reserve_present ? 4 : 0));
  Put16(out, set_id), Put16(out, index);
  if (reserve_present) {
    Put16(out, static_cast<uint32_t>(header_reserve.size()));
    out += {static_cast<char>(folder_reserve), static_cast<char>(data_reserve)};
    out += header_reserve;
  }
  return out + strings + folder_table + file_table + data;
}

TwoCabinets CabinetSet(const std::string& next) {
  TwoCabinets s{Payload(100, 11), Payload(500, 12), Payload(50, 13), {}, {}};
  s.a.next_cabinet = next, s.a.next_disk = "disk 2";
  s.a.folders = {{0, {Stored(s.f1 + s.f2.substr(0, 100), 200), Stored(s.f2.substr(100, 100), 0)}, {}}};
  s.a.files = {{"f1", 100, 0, 0}, {"f2", 500, 100, 0xFFFE}};  // continued to the next
  s.b.index = 1, s.b.prev_cabinet = "a.cab", s.b.prev_disk = "disk 1";
  s.b.folders = {{0, {Stored(s.f2.substr(200, 100), 200), Stored(s.f2.substr(300), 200)}, {}},
                 {0, {Stored(s.f3)}, {}}};
  s.b.files = {{"f2", 500, 100, 0xFFFD}, {"f3", 50, 0, 1}};  // continued from the previous
  return s;
}

std::string StoredCabinet(const NamedContents& files) {
  CabBuilder cab;
  std::string all;
  for (const auto& file : files) all += file.second;
  cab.AddFiles(cab.AddStoredFolder(all), files);
  return cab.Build();
}

std::string Payload(size_t n, uint32_t seed) {
  static const char* kWords[] = {"driver ", "module ", "hardware ", "the ", "bundle ", "0x1F ", "\n"};
  std::string s;
  for (uint32_t x = seed * 2654435761u + 1; s.size() < n;) {
    x = x * 1103515245u + 12345u;
    s += (x >> 16) % 4 == 0 ? std::string(1, static_cast<char>(x >> 24)) : kWords[(x >> 16) % 7];
  }
  s.resize(n);
  return s;
}

void PackWithGcab(const std::string& cab, const NamedContents& files, bool stored) {
  kestrin::testing::ScopedTempDir stage;
  std::string command =
      "cd '" + stage.path().string() + "' && gcab -c " + (stored ? "" : "-z ") + "'" + cab + "'";
  for (const auto& [name, content] : files) {
    std::filesystem::create_directories((stage.path() / name).parent_path());
    kestrin::testing::WriteFileOrDie(stage.path() / name, content);
    command += " '" + name + "'";
  }
  std::filesystem::create_directories(std::filesystem::path(cab).parent_path());
  EXPECT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

}  // namespace kestrin::cab::testing
