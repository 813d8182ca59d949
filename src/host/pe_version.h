// Reading the version resource of a Windows PE file (a DLL or EXE) without
// loading it: the resource directory is walked from the file's bytes, every
// offset and length checked against the file, so a damaged or hostile file
// reads as "no version" and never makes the reader touch memory outside it.
#ifndef KESTRIN_HOST_PE_VERSION_H_
#define KESTRIN_HOST_PE_VERSION_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrin {

// The raw version resource (the VS_VERSIONINFO block) of a PE image: the
// resource of type 16 (version) with ID 1 if there is one, else the first of
// that type, in its first language. Nothing when the image is no PE file,
// has no such resource, or any structure on the way lies outside the image.
std::optional<std::span<const uint8_t>> FindVersionResource(std::span<const uint8_t> image);

// The value of a version-resource query as Windows' VerQueryValue answers
// it, for the two kinds Kestrin asks: "\VarFileInfo\Translation" gives the
// (language, code page) pairs; "\StringFileInfo\<llllcccc>\<name>" a text.
// Block names compare ignoring ASCII case; texts are converted to UTF-8.
std::vector<std::pair<uint16_t, uint16_t>> VersionTranslations(std::span<const uint8_t> resource);
std::optional<std::string> VersionString(std::span<const uint8_t> resource,
                                         std::string_view query);

// The "FileVersion" text of a version resource: the string table of the
// first translation pair that answers. "" when there is none.
std::string VersionResourceFileVersion(std::span<const uint8_t> resource);

// The "FileVersion" text of the PE file at `path` (found ignoring letter
// case); "" when the file is missing, unreadable, larger than 256 MiB or
// holds no answering version resource.
std::string ReadPeFileVersion(const std::string& path);

}  // namespace kestrin

#endif  // KESTRIN_HOST_PE_VERSION_H_
