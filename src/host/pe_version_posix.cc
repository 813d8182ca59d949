#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/path_resolve.h"
#include "host/pe_version.h"

namespace kestrin {
namespace {
using Bytes = std::span<const uint8_t>;
constexpr off_t kMaxImageSize = off_t{256} << 20;
}  // namespace

std::string ReadPeFileVersion(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  // Non-blocking, so a FIFO in the file's place cannot stall the open.
  const int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string();
  struct stat st {};
  std::vector<uint8_t> image;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxImageSize;
  if (ok) {
    image.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < image.size()) {
      const ssize_t n = ::read(fd, image.data() + done, image.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // shrunk meanwhile: what was read is the file
      done += static_cast<size_t>(n);
    }
    image.resize(done);
  }
  ::close(fd);
  if (!ok) return std::string();
  const std::optional<Bytes> resource = FindVersionResource(image);
  return resource ? VersionResourceFileVersion(*resource) : std::string();
}

}  // namespace kestrin
