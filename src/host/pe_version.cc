#include "host/pe_version.h"

#include <algorithm>
#include <cstdio>

namespace kestrin {
namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr uint32_t kVersionInfoId = 1;         // VS_VERSION_INFO
constexpr uint32_t kHighBit = 0x80000000u;
// The Windows loader refuses images with more sections than this.
constexpr uint32_t kMaxSections = 96;

bool Fits(Bytes data, size_t offset, size_t length) {
  return offset <= data.size() && data.size() - offset >= length;
}

bool U16(Bytes data, size_t offset, uint16_t* value) {
  if (!Fits(data, offset, 2)) return false;
  *value = static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
  return true;
}

bool U32(Bytes data, size_t offset, uint32_t* value) {
  if (!Fits(data, offset, 4)) return false;
  *value = static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
           static_cast<uint32_t>(data[offset + 2]) << 16 |
           static_cast<uint32_t>(data[offset + 3]) << 24;
  return true;
}

struct Section {
  uint32_t virtual_address, virtual_size, raw_size, raw_offset;
};

// The file bytes behind an RVA, up to the end of its section's raw data.
std::optional<Bytes> MapRva(Bytes image, const std::vector<Section>& sections, uint32_t rva) {
  for (const Section& s : sections) {
    const uint32_t span = s.virtual_size > s.raw_size ? s.virtual_size : s.raw_size;
    if (rva < s.virtual_address || rva - s.virtual_address >= span) continue;
    const uint64_t delta = rva - s.virtual_address;
    if (delta >= s.raw_size) return std::nullopt;  // in the section's zero-filled tail
    const uint64_t offset = uint64_t{s.raw_offset} + delta;
    uint64_t end = uint64_t{s.raw_offset} + s.raw_size;
    if (end > image.size()) end = image.size();
    if (offset >= end) return std::nullopt;
    return image.subspan(static_cast<size_t>(offset), static_cast<size_t>(end - offset));
  }
  return std::nullopt;
}

// One entry of a resource directory: its name or ID word and its target.
struct DirEntry {
  uint32_t name;
  uint32_t target;
};

// The entries of the resource directory at `offset` of the resource data.
std::optional<std::vector<DirEntry>> ReadDirectory(Bytes resources, uint32_t offset) {
  uint16_t named = 0, ids = 0;
  if (!U16(resources, size_t{offset} + 12, &named) || !U16(resources, size_t{offset} + 14, &ids)) {
    return std::nullopt;
  }
  const size_t count = size_t{named} + ids;
  if (!Fits(resources, size_t{offset} + 16, count * 8)) return std::nullopt;
  std::vector<DirEntry> entries(count);
  for (size_t i = 0; i < count; ++i) {
    U32(resources, offset + 16 + i * 8, &entries[i].name);
    U32(resources, offset + 20 + i * 8, &entries[i].target);
  }
  return entries;
}

// ---- The version block tree ----

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

struct Block {
  size_t end = 0;
  std::u16string key;
  uint16_t type = 0;
  size_t value_start = 0, value_end = 0;
  size_t children = 0;
};

// The block starting at `pos`, which must end by `limit`. Offsets are
// aligned relative to the resource's start, as the resource compiler lays
// the blocks out.
bool ParseBlock(Bytes r, size_t pos, size_t limit, Block* block) {
  uint16_t length = 0, value_length = 0;
  if (pos >= limit || limit - pos < 6 || !U16(r, pos, &length) || length < 6 ||
      length > limit - pos || !U16(r, pos + 2, &value_length) || !U16(r, pos + 4, &block->type)) {
    return false;
  }
  block->end = pos + length;
  block->key.clear();
  size_t at = pos + 6;
  for (;; at += 2) {
    uint16_t c = 0;
    if (at + 2 > block->end || !U16(r, at, &c)) return false;  // key without its NUL
    if (c == 0) break;
    block->key.push_back(static_cast<char16_t>(c));
  }
  // A text value counts its length in characters, any other in bytes.
  const size_t value_bytes = block->type == 1 ? size_t{value_length} * 2 : value_length;
  block->value_start = std::min(Align4(at + 2), block->end);
  block->value_end = std::min(block->value_start + value_bytes, block->end);
  block->children = std::min(Align4(block->value_start + value_bytes), block->end);
  return true;
}

bool KeyEquals(const std::u16string& key, std::string_view name) {
  if (key.size() != name.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    char16_t a = key[i], b = static_cast<unsigned char>(name[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<char16_t>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char16_t>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// The block a "\"-separated query names, starting at the root block.
std::optional<Block> Query(Bytes r, std::string_view query) {
  Block block;
  if (!ParseBlock(r, 0, r.size(), &block)) return std::nullopt;
  size_t pos = 0;
  while (pos < query.size()) {
    if (query[pos] == '\\') {
      ++pos;
      continue;
    }
    size_t end = query.find('\\', pos);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view name = query.substr(pos, end - pos);
    pos = end;
    bool found = false;
    Block child;
    for (size_t at = block.children; at < block.end; at = Align4(child.end)) {
      if (!ParseBlock(r, at, block.end, &child)) break;
      if (KeyEquals(child.key, name)) {
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
    block = child;
  }
  return block;
}

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::optional<Bytes> FindVersionResource(Bytes image) {
  uint32_t pe = 0;
  if (!Fits(image, 0, 2) || image[0] != 'M' || image[1] != 'Z' || !U32(image, 0x3C, &pe) ||
      !Fits(image, pe, 24) || image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] != 0 ||
      image[pe + 3] != 0) {
    return std::nullopt;
  }
  const size_t coff = size_t{pe} + 4, optional = coff + 20;
  uint16_t section_count = 0, optional_size = 0, magic = 0;
  U16(image, coff + 2, &section_count);
  U16(image, coff + 16, &optional_size);
  if (!U16(image, optional, &magic)) return std::nullopt;
  size_t rva_count_at = 0, directories_at = 0;
  if (magic == 0x10B) {
    rva_count_at = 92, directories_at = 96;  // PE32
  } else if (magic == 0x20B) {
    rva_count_at = 108, directories_at = 112;  // PE32+
  } else {
    return std::nullopt;
  }
  uint32_t rva_count = 0, resource_rva = 0;
  const size_t resource_entry = directories_at + 2 * 8;
  if (resource_entry + 8 > optional_size || !U32(image, optional + rva_count_at, &rva_count) ||
      rva_count < 3 || !U32(image, optional + resource_entry, &resource_rva) || resource_rva == 0) {
    return std::nullopt;
  }
  if (section_count > kMaxSections) return std::nullopt;
  std::vector<Section> sections(section_count);
  const size_t table = optional + optional_size;
  for (size_t i = 0; i < section_count; ++i) {
    const size_t at = table + i * 40;
    Section& s = sections[i];
    if (!U32(image, at + 8, &s.virtual_size) || !U32(image, at + 12, &s.virtual_address) ||
        !U32(image, at + 16, &s.raw_size) || !U32(image, at + 20, &s.raw_offset)) {
      return std::nullopt;
    }
  }
  const std::optional<Bytes> resources = MapRva(image, sections, resource_rva);
  if (!resources) return std::nullopt;

  // Type, then name, then language: three fixed levels, so a directory
  // pointing back at itself cannot make the walk loop.
  const auto types = ReadDirectory(*resources, 0);
  if (!types) return std::nullopt;
  const DirEntry* type = nullptr;
  for (const DirEntry& e : *types) {
    if (e.name == kVersionResourceType) {
      type = &e;
      break;
    }
  }
  if (type == nullptr || (type->target & kHighBit) == 0) return std::nullopt;
  const auto names = ReadDirectory(*resources, type->target & ~kHighBit);
  if (!names || names->empty()) return std::nullopt;
  const DirEntry* name = &names->front();
  for (const DirEntry& e : *names) {
    if (e.name == kVersionInfoId) {
      name = &e;
      break;
    }
  }
  if ((name->target & kHighBit) == 0) return std::nullopt;
  const auto languages = ReadDirectory(*resources, name->target & ~kHighBit);
  if (!languages || languages->empty() || (languages->front().target & kHighBit) != 0) {
    return std::nullopt;
  }
  uint32_t data_rva = 0, data_size = 0;
  const size_t leaf = languages->front().target;
  if (!U32(*resources, leaf, &data_rva) || !U32(*resources, leaf + 4, &data_size)) {
    return std::nullopt;
  }
  const std::optional<Bytes> data = MapRva(image, sections, data_rva);
  if (!data || data->size() < data_size) return std::nullopt;
  return data->first(data_size);
}

std::vector<std::pair<uint16_t, uint16_t>> VersionTranslations(Bytes resource) {
  std::vector<std::pair<uint16_t, uint16_t>> pairs;
  const std::optional<Block> block = Query(resource, "\\VarFileInfo\\Translation");
  if (!block) return pairs;
  for (size_t at = block->value_start; at + 4 <= block->value_end; at += 4) {
    uint16_t language = 0, code_page = 0;
    U16(resource, at, &language);
    U16(resource, at + 2, &code_page);
    pairs.emplace_back(language, code_page);
  }
  return pairs;
}

std::optional<std::string> VersionString(Bytes resource, std::string_view query) {
  const std::optional<Block> block = Query(resource, query);
  if (!block) return std::nullopt;
  std::string text;
  for (size_t at = block->value_start; at + 2 <= block->value_end; at += 2) {
    uint16_t c = 0;
    U16(resource, at, &c);
    if (c == 0) break;
    uint32_t code = c;
    if (c >= 0xD800 && c < 0xDC00) {
      uint16_t low = 0;
      if (at + 4 <= block->value_end && U16(resource, at + 2, &low) && low >= 0xDC00 &&
          low < 0xE000) {
        code = 0x10000 + ((uint32_t{c} - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      } else {
        code = 0xFFFD;
      }
    } else if (c >= 0xDC00 && c < 0xE000) {
      code = 0xFFFD;
    }
    AppendUtf8(&text, code);
  }
  return text;
}

std::string VersionResourceFileVersion(Bytes resource) {
  for (const auto& [language, code_page] : VersionTranslations(resource)) {
    char query[128];
    snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\%s", language, code_page,
             "FileVersion");
    if (std::optional<std::string> text = VersionString(resource, query)) return *text;
  }
  return std::string();
}

}  // namespace kestrin
