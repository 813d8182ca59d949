#include <vector>

#include "host/pe_version.h"
#include "host/win32_util.h"

namespace kestrin {

std::string ReadPeFileVersion(const std::string& path) {
  constexpr uint64_t kMaxImageSize = uint64_t{256} << 20;
  HANDLE file =
      CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  LARGE_INTEGER size{};
  std::vector<uint8_t> image;
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) &&
            static_cast<uint64_t>(size.QuadPart) <= kMaxImageSize;
  if (ok) {
    image.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < image.size()) {
      DWORD n = 0;
      if (!ReadFile(file, image.data() + done, static_cast<DWORD>(image.size() - done), &n, nullptr) ||
          n == 0) {
        break;  // shrunk meanwhile: what was read is the file
      }
      done += n;
    }
    image.resize(done);
  }
  CloseHandle(file);
  if (!ok) return std::string();
  const std::optional<std::span<const uint8_t>> resource = FindVersionResource(image);
  return resource ? VersionResourceFileVersion(*resource) : std::string();
}

}  // namespace kestrin
