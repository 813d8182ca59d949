// Small Windows PE images with a version resource, laid out as a linker and a
// resource compiler lay them out (version reader tests, test runtime loaders).
#ifndef KESTRIN_TESTS_SUPPORT_PE_IMAGE_H_
#define KESTRIN_TESTS_SUPPORT_PE_IMAGE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrin::testing {

struct tPeImage {
  // (language, code page) pairs of "\VarFileInfo\Translation".
  std::vector<std::pair<uint16_t, uint16_t>> translations = {{0x0409, 0x04B0}};
  // String tables: key ("040904b0") and their "FileVersion" ("" leaves the key out).
  std::vector<std::pair<std::string, std::string>> tables = {{"040904b0", "2.0.50727.42"}};
  uint32_t resource_type = 16;  // 16 is the version resource; any other hides it
  bool pe32_plus = false;
};

namespace pe_detail {

inline void Put16(std::string* s, size_t at, uint32_t v) {
  (*s)[at] = static_cast<char>(v), (*s)[at + 1] = static_cast<char>(v >> 8);
}
inline void Put32(std::string* s, size_t at, uint32_t v) { Put16(s, at, v), Put16(s, at + 2, v >> 16); }
inline std::string Utf16z(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out + std::string(2, '\0');
}
inline void Pad4(std::string* s) { s->resize((s->size() + 3) / 4 * 4, '\0'); }
// One block: length, value length, type, key, value, children.
inline std::string Block(const std::string& key, const std::string& value, uint16_t value_length,
                         uint16_t type, const std::vector<std::string>& children) {
  std::string b(6, '\0');
  b += Utf16z(key);
  Pad4(&b);
  b += value;
  for (const std::string& child : children) Pad4(&b), b += child;
  Put16(&b, 0, static_cast<uint32_t>(b.size())), Put16(&b, 2, value_length), Put16(&b, 4, type);
  return b;
}

}  // namespace pe_detail

// The version resource (VS_VERSIONINFO) alone.
inline std::string VersionResource(const tPeImage& pe) {
  using namespace pe_detail;
  std::string fixed(52, '\0');
  Put32(&fixed, 0, 0xFEEF04BD), Put32(&fixed, 4, 0x00010000);
  std::vector<std::string> tables;
  for (const auto& [key, version] : pe.tables) {
    std::vector<std::string> strings = {Block("CompanyName", Utf16z("Test"), 5, 1, {})};
    const auto length = static_cast<uint16_t>(version.size() + 1);
    if (!version.empty()) strings.push_back(Block("FileVersion", Utf16z(version), length, 1, {}));
    tables.push_back(Block(key, "", 0, 1, strings));
  }
  std::string pairs;
  for (const auto& [language, code_page] : pe.translations)
    pairs += std::string(4, '\0'), Put32(&pairs, pairs.size() - 4, language | uint32_t{code_page} << 16);
  return Block("VS_VERSION_INFO", fixed, 52, 0,
               {Block("StringFileInfo", "", 0, 1, tables),
                Block("VarFileInfo", "", 0, 1,
                      {Block("Translation", pairs, static_cast<uint16_t>(pairs.size()), 0, {})})});
}

// A whole DLL image: headers, one ".rsrc" section whose resource tree holds
// the version resource (type, ID 1, language 0x409); the file ends with the
// resource's last byte.
inline std::string PeImage(const tPeImage& pe) {
  using namespace pe_detail;
  const uint32_t kSectionRva = 0x1000, kRawOffset = 0x200;
  const size_t optional_size = pe.pe32_plus ? 240 : 224;
  std::string image(kRawOffset, '\0');
  image[0] = 'M', image[1] = 'Z';
  Put32(&image, 0x3C, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  const size_t coff = 0x44, optional = coff + 20;
  Put16(&image, coff, pe.pe32_plus ? 0x8664 : 0x14C), Put16(&image, coff + 2, 1);
  Put16(&image, coff + 16, static_cast<uint32_t>(optional_size)), Put16(&image, coff + 18, 0x2102);
  Put16(&image, optional, pe.pe32_plus ? 0x20B : 0x10B);
  const size_t directories = optional + (pe.pe32_plus ? 112 : 96);
  Put32(&image, optional + (pe.pe32_plus ? 108 : 92), 16);

  std::string rsrc(88, '\0');
  const uint32_t ids[3] = {pe.resource_type, 1, 0x409};
  for (uint32_t level = 0; level < 3; ++level) {  // one ID entry each: type, name, language
    Put16(&rsrc, 24 * level + 14, 1), Put32(&rsrc, 24 * level + 16, ids[level]);
    Put32(&rsrc, 24 * level + 20, level < 2 ? 0x80000000u | (24 * level + 24) : 72);
  }
  const std::string version = VersionResource(pe);
  Put32(&rsrc, 72, kSectionRva + 88);
  Put32(&rsrc, 76, static_cast<uint32_t>(version.size()));
  rsrc += version;

  const auto size = static_cast<uint32_t>(rsrc.size());
  Put32(&image, directories + 16, kSectionRva), Put32(&image, directories + 20, size);
  const size_t section = optional + optional_size;
  image.replace(section, 5, ".rsrc");
  Put32(&image, section + 8, size), Put32(&image, section + 12, kSectionRva);
  Put32(&image, section + 16, size), Put32(&image, section + 20, kRawOffset);
  return image + rsrc;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_PE_IMAGE_H_
