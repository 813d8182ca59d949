// Small cabinet writer and reader for tests: builds cabinets with exactly
// the names, attributes, dates and folder layout a case needs (gcab cannot
// write a "..\" name, a read-only attribute or several folders), and takes
// folders out of cabinets that gcab wrote so they can be combined.
#ifndef KESTRIN_TESTS_BUNDLE_CAB_BUILDER_H_
#define KESTRIN_TESTS_BUNDLE_CAB_BUILDER_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrin::testing {

struct CabFolder {
  uint16_t type = 0;                // compression type
  std::vector<std::string> blocks;  // whole CFDATA records (8-byte head + data)
};

struct CabMember {
  std::string name;  // bytes as stored, "\" separating folders
  uint32_t size = 0;
  uint32_t offset = 0;  // in the folder's uncompressed stream
  uint16_t folder = 0;
  uint16_t date = (46 << 9) | (3 << 5) | 14;  // 2026-03-14
  uint16_t time = (13 << 11) | (37 << 5) | 21;  // 13:37:42
  uint16_t attribs = 0x20;
};

struct CabContents {
  std::vector<CabFolder> folders;
  std::vector<CabMember> members;
};

inline void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}
inline void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline uint16_t GetU16(const std::string& in, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(in.at(at)) | (static_cast<uint8_t>(in.at(at + 1)) << 8));
}
inline uint32_t GetU32(const std::string& in, size_t at) {
  return GetU16(in, at) | (static_cast<uint32_t>(GetU16(in, at + 2)) << 16);
}

// Writes a cabinet (no reserve, no set) holding the folders and members.
inline std::string WriteCabinet(const CabContents& contents) {
  std::string folders, files, data;
  size_t files_size = 0;
  for (const CabMember& m : contents.members) files_size += 16 + m.name.size() + 1;
  const uint32_t folders_at = 36;
  const uint32_t files_at = folders_at + 8 * static_cast<uint32_t>(contents.folders.size());
  uint32_t data_at = files_at + static_cast<uint32_t>(files_size);
  for (const CabFolder& f : contents.folders) {
    PutU32(&folders, data_at + static_cast<uint32_t>(data.size()));
    PutU16(&folders, static_cast<uint16_t>(f.blocks.size()));
    PutU16(&folders, f.type);
    for (const std::string& b : f.blocks) data += b;
  }
  for (const CabMember& m : contents.members) {
    PutU32(&files, m.size);
    PutU32(&files, m.offset);
    PutU16(&files, m.folder);
    PutU16(&files, m.date);
    PutU16(&files, m.time);
    PutU16(&files, m.attribs);
    files += m.name;
    files.push_back('\0');
  }
  std::string out = "MSCF";
  PutU32(&out, 0);
  PutU32(&out, static_cast<uint32_t>(36 + folders.size() + files.size() + data.size()));
  PutU32(&out, 0);
  PutU32(&out, files_at);
  PutU32(&out, 0);
  out.push_back(3);
  out.push_back(1);
  PutU16(&out, static_cast<uint16_t>(contents.folders.size()));
  PutU16(&out, static_cast<uint16_t>(contents.members.size()));
  PutU16(&out, 0);
  PutU16(&out, 0x1234);
  PutU16(&out, 0);
  return out + folders + files + data;
}

// Stored blocks for `payload` (checksum 0 = not checked).
inline std::vector<std::string> StoredBlocks(const std::string& payload) {
  std::vector<std::string> blocks;
  for (size_t at = 0; at < payload.size(); at += 32768) {
    const std::string piece = payload.substr(at, 32768);
    std::string b;
    PutU32(&b, 0);
    PutU16(&b, static_cast<uint16_t>(piece.size()));
    PutU16(&b, static_cast<uint16_t>(piece.size()));
    blocks.push_back(b + piece);
  }
  return blocks;
}

struct StoredFile {
  std::string name;
  std::string data;
  uint16_t attribs = 0x20;
  uint16_t date = (46 << 9) | (3 << 5) | 14;
  uint16_t time = (13 << 11) | (37 << 5) | 21;
  int folder = 0;
};

// A cabinet of stored folders: each file goes into the folder it names,
// folders in order of their index.
inline std::string BuildStoredCabinet(const std::vector<StoredFile>& files) {
  int folder_count = 0;
  for (const StoredFile& f : files) folder_count = std::max(folder_count, f.folder + 1);
  CabContents contents;
  std::vector<std::string> payloads(folder_count);
  for (const StoredFile& f : files) {
    CabMember m;
    m.name = f.name;
    m.size = static_cast<uint32_t>(f.data.size());
    m.offset = static_cast<uint32_t>(payloads[f.folder].size());
    m.folder = static_cast<uint16_t>(f.folder);
    m.date = f.date;
    m.time = f.time;
    m.attribs = f.attribs;
    payloads[f.folder] += f.data;
    contents.members.push_back(m);
  }
  for (const std::string& p : payloads) contents.folders.push_back({0, StoredBlocks(p)});
  return WriteCabinet(contents);
}

// Reads a simple cabinet (no reserve, no set), as gcab writes them.
inline CabContents ReadCabinet(const std::string& cab) {
  CabContents contents;
  const uint32_t files_at = GetU32(cab, 16);
  const uint16_t folder_count = GetU16(cab, 26);
  const uint16_t file_count = GetU16(cab, 28);
  for (uint16_t i = 0; i < folder_count; ++i) {
    const size_t at = 36 + 8 * i;
    CabFolder folder;
    uint32_t data = GetU32(cab, at);
    const uint16_t blocks = GetU16(cab, at + 4);
    folder.type = GetU16(cab, at + 6);
    for (uint16_t b = 0; b < blocks; ++b) {
      const uint16_t size = GetU16(cab, data + 4);
      folder.blocks.push_back(cab.substr(data, 8 + size));
      data += 8 + size;
    }
    contents.folders.push_back(folder);
  }
  size_t at = files_at;
  for (uint16_t i = 0; i < file_count; ++i) {
    CabMember m;
    m.size = GetU32(cab, at);
    m.offset = GetU32(cab, at + 4);
    m.folder = GetU16(cab, at + 8);
    m.date = GetU16(cab, at + 10);
    m.time = GetU16(cab, at + 12);
    m.attribs = GetU16(cab, at + 14);
    const size_t end = cab.find('\0', at + 16);
    m.name = cab.substr(at + 16, end - at - 16);
    at = end + 1;
    contents.members.push_back(m);
  }
  return contents;
}

// Appends the folders and members of `more` to `into` (folder indexes moved).
inline void MergeCabinet(CabContents* into, const CabContents& more) {
  const uint16_t base = static_cast<uint16_t>(into->folders.size());
  for (const CabFolder& f : more.folders) into->folders.push_back(f);
  for (CabMember m : more.members) {
    m.folder = static_cast<uint16_t>(m.folder + base);
    into->members.push_back(m);
  }
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_BUNDLE_CAB_BUILDER_H_
