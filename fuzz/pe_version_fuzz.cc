// Fuzzes the PE version reader: the bytes as a whole PE image (resource
// directory walk, then the version block tree) and as a bare version
// resource (block tree only). Nothing may be read outside the bytes; a
// version text, when found, must be found again on a second read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "host/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (const auto resource = kestrin::FindVersionResource(bytes)) {
    if (resource->data() < data || resource->data() + resource->size() > data + size) std::abort();
    const std::string version = kestrin::VersionResourceFileVersion(*resource);
    if (kestrin::VersionResourceFileVersion(*resource) != version) std::abort();
  }
  for (const auto& [language, code_page] : kestrin::VersionTranslations(bytes)) {
    (void)language, (void)code_page;
  }
  kestrin::VersionString(bytes, "\\StringFileInfo\\040904b0\\FileVersion");
  kestrin::VersionResourceFileVersion(bytes);
  return 0;
}
