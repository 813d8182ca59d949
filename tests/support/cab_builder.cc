#include "support/cab_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// The cabinet checksum, written independently of the reader's.
uint32_t BuilderChecksum(const std::string& bytes, uint32_t seed) {
  uint32_t sum = seed;
  size_t i = 0;
  const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
  for (; i + 4 <= bytes.size(); i += 4)
    sum ^= b(i) | b(i + 1) << 8 | b(i + 2) << 16 | b(i + 3) << 24;
  switch (bytes.size() - i) {
    case 3:
      sum ^= b(i) << 16 | b(i + 1) << 8 | b(i + 2);
      break;
    case 2:
      sum ^= b(i) << 8 | b(i + 1);
      break;
    case 1:
      sum ^= b(i);
      break;
    default:
      break;
  }
  return sum;
}

}  // namespace

int CabBuilder::AddStoredFolder(const std::string& content, size_t block_size) {
  Folder f{0, {}, std::string(folder_reserve, 'f')};
  for (size_t at = 0; at < content.size(); at += block_size) {
    const std::string piece = content.substr(at, block_size);
    f.blocks.push_back(DataBlock{piece, static_cast<uint16_t>(piece.size()), std::nullopt,
                                 std::string(data_reserve, 'd')});
  }
  folders.push_back(f);
  return static_cast<int>(folders.size() - 1);
}

int CabBuilder::AddMszipFolder(const std::string& content) {
  const int index = AddStoredFolder(content);
  folders[index].type = 1;
  for (DataBlock& b : folders[index].blocks) {
    std::string block = "CK\x01";  // BFINAL 1, BTYPE 00 (stored), then byte aligned
    Put16(block, static_cast<uint32_t>(b.data.size()));
    Put16(block, static_cast<uint32_t>(~b.data.size() & 0xFFFF));
    b.data = block + b.data;
  }
  return index;
}

void CabBuilder::AddFiles(int folder,
                          const std::vector<std::pair<std::string, std::string>>& named_contents,
                          uint32_t offset) {
  for (const auto& [name, content] : named_contents) {
    File f;
    f.name = name;
    f.size = static_cast<uint32_t>(content.size());
    f.offset = offset;
    f.folder = static_cast<uint16_t>(folder);
    files.push_back(f);
    offset += f.size;
  }
}

std::string CabBuilder::Build() const {
  uint16_t flags = 0;
  if (prev_cabinet) flags |= 0x0001;
  if (next_cabinet) flags |= 0x0002;
  if (reserve_present) flags |= 0x0004;

  std::string strings;
  if (prev_cabinet) {
    strings += *prev_cabinet + '\0';
    strings += prev_disk.value_or("") + '\0';
  }
  if (next_cabinet) {
    strings += *next_cabinet + '\0';
    strings += next_disk.value_or("") + '\0';
  }
  size_t header_size = 36 + (reserve_present ? 4 + header_reserve.size() : 0) + strings.size();
  const size_t folder_size = 8 + folder_reserve;
  const size_t folders_at = header_size;
  const size_t files_at = folders_at + folders.size() * folder_size;
  std::string file_table;
  for (const File& f : files) {
    Put32(file_table, f.size);
    Put32(file_table, f.offset);
    Put16(file_table, f.folder);
    Put16(file_table, f.date);
    Put16(file_table, f.time);
    Put16(file_table, f.attribs);
    file_table += f.name + '\0';
  }
  size_t data_at = files_at + file_table.size();

  std::string folder_table, data;
  for (const Folder& folder : folders) {
    Put32(folder_table, static_cast<uint32_t>(data_at + data.size()));
    Put16(folder_table, static_cast<uint32_t>(folder.blocks.size()));
    Put16(folder_table, folder.type);
    std::string reserve = folder.reserve;
    reserve.resize(folder_reserve, 'f');
    folder_table += reserve;
    for (const DataBlock& b : folder.blocks) {
      std::string tail;  // compressed size, uncompressed size, reserve
      Put16(tail, static_cast<uint32_t>(b.data.size()));
      Put16(tail, b.uncompressed);
      std::string reserve_bytes = b.reserve;
      reserve_bytes.resize(data_reserve, 'd');
      tail += reserve_bytes;
      const uint32_t sum =
          b.checksum ? *b.checksum : BuilderChecksum(tail, BuilderChecksum(b.data, 0));
      Put32(data, sum);
      data += tail;
      data += b.data;
    }
  }

  std::string out = "MSCF";
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(data_at + data.size()));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(files_at));
  Put32(out, 0);
  out += static_cast<char>(version_minor);
  out += static_cast<char>(version_major);
  Put16(out, static_cast<uint32_t>(folders.size()));
  Put16(out, file_count.value_or(static_cast<uint16_t>(files.size())));
  Put16(out, flags);
  Put16(out, set_id);
  Put16(out, index);
  if (reserve_present) {
    Put16(out, static_cast<uint32_t>(header_reserve.size()));
    out += static_cast<char>(folder_reserve);
    out += static_cast<char>(data_reserve);
    out += header_reserve;
  }
  out += strings;
  out += folder_table;
  out += file_table;
  out += data;
  return out;
}

std::string StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files) {
  CabBuilder cab;
  std::string all;
  for (const auto& file : files) all += file.second;
  cab.AddFiles(cab.AddStoredFolder(all), files);
  return cab.Build();
}

std::string Payload(size_t n, uint32_t seed) {
  std::string s;
  s.reserve(n);
  uint32_t x = seed * 2654435761u + 1;
  static const char* kWords[] = {"driver ", "module ", "hardware ", "the ",
                                 "bundle ", "0x1F ",   "\n"};
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    if ((x >> 16) % 4 == 0) {
      s += static_cast<char>(x >> 24);
    } else {
      s += kWords[(x >> 16) % 7];
    }
  }
  s.resize(n);
  return s;
}

void PackWithGcab(const std::string& cab,
                  const std::vector<std::pair<std::string, std::string>>& files, bool stored) {
  kestrin::testing::ScopedTempDir stage;
  std::string command = "cd '" + stage.path().string() + "' && gcab -c " + (stored ? "" : "-z ") +
                        "'" + cab + "'";
  for (const auto& [name, content] : files) {
    std::filesystem::create_directories((stage.path() / name).parent_path());
    kestrin::testing::WriteFileOrDie(stage.path() / name, content);
    command += " '" + name + "'";
  }
  std::filesystem::create_directories(std::filesystem::path(cab).parent_path());
  EXPECT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

bool HaveGcab() { return std::system("gcab --version >/dev/null 2>&1") == 0; }

}  // namespace kestrin::cab::testing
