#include "bundle/crt_file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/path_resolve.h"

namespace kestrin {

namespace crt_platform {

// A decoder's window (up to 2 MiB for LZX and Quantum) is cleared and
// written all over: laid on huge pages it costs one page fault instead of
// 512. Other blocks come from malloc as they are.
void* Allocate(uint32_t size) {
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size < kHugePage / 2) return std::malloc(size == 0 ? 1 : size);
  void* block = nullptr;
  if (posix_memalign(&block, kHugePage, size) != 0) return nullptr;
  madvise(block, size, MADV_HUGEPAGE);  // only advice: fine if refused
  return block;
}

const char* const kNotRegularText = "it is not a regular file (a FIFO, device or socket)";

long ReadOnce(int fd, void* buffer, uint32_t count) {
  for (;;) {
    const ssize_t n = read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

long WriteOnce(int fd, const void* buffer, uint32_t count) {
  for (;;) {
    const ssize_t n = write(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

int Close(int fd) { return close(fd); }

long Seek(int fd, long offset, int origin) {
  static constexpr int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  const off_t pos = lseek(fd, static_cast<off_t>(offset), kWhence[origin]);
  return pos < 0 ? -1L : static_cast<long>(pos);
}

}  // namespace crt_platform

int TranslateCrtOpenFlags(int crt_flags) {
  int flags = O_CLOEXEC;
  switch (crt_flags & 3) {
    case kCrtWrOnly: flags |= O_WRONLY; break;
    case kCrtRdWr: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  if (crt_flags & kCrtAppend) flags |= O_APPEND;
  if (crt_flags & kCrtCreat) flags |= O_CREAT;
  if (crt_flags & kCrtTrunc) flags |= O_TRUNC;
  if (crt_flags & kCrtExcl) flags |= O_EXCL;
  if ((crt_flags & kCrtCreat) && (crt_flags & 3) != kCrtRdOnly) flags |= O_TRUNC;
  return flags;
}

unsigned TranslateCrtPermission(int crt_permission) {
  return (crt_permission & kCrtIWrite) ? 0666u : 0444u;
}

namespace {

// Opens a regular file only. A FIFO, device or socket is never opened for
// real: opening a FIFO without a writer would wait forever, and opening a
// device can have effects of its own. The type is checked before the open
// and again on the descriptor (the entry may have been swapped in between);
// the open itself does not block. errno is ENXIO for such an entry and
// EISDIR for a folder.
int OpenRegular(int dir_fd, const char* path, int flags, mode_t mode) {
  struct stat st;
  const int stat_flags = (flags & O_NOFOLLOW) ? AT_SYMLINK_NOFOLLOW : 0;
  const bool found = fstatat(dir_fd, path, &st, stat_flags) == 0;
  if (found && !S_ISREG(st.st_mode) &&
      !(S_ISLNK(st.st_mode) && (flags & O_NOFOLLOW))) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    return -1;
  }
  // A file with other names (an unpacked file that an earlier run linked
  // into place and then left behind) is replaced, never truncated: what its
  // other names hold stays as it is. (Only where the entry itself was
  // examined: a link followed would be replaced by a file.)
  if (found && (flags & (O_TRUNC | O_NOFOLLOW)) == (O_TRUNC | O_NOFOLLOW) &&
      S_ISREG(st.st_mode) && st.st_nlink > 1 &&
      unlinkat(dir_fd, path, 0) != 0) {
    return -1;
  }
  const int fd = openat(dir_fd, path, flags | O_NONBLOCK | O_NOCTTY, mode);
  if (fd < 0) return -1;
  st.st_mode = 0;
  errno = 0;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno != 0 && st.st_mode == 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    close(fd);
    errno = err;
    return -1;
  }
  const int status = fcntl(fd, F_GETFL);
  if (status != -1) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

}  // namespace

cab::INT_PTR CrtOpen(const char* path, int crt_flags, int crt_permission) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  const int flags = TranslateCrtOpenFlags(crt_flags);
  const mode_t mode = TranslateCrtPermission(crt_permission);
  int fd = OpenRegular(AT_FDCWD, path, flags, mode);
  if (fd < 0 && errno == ENOENT && !(flags & O_CREAT)) {
    const std::string resolved = ResolvePath(path);
    if (resolved != path) {
      fd = OpenRegular(AT_FDCWD, resolved.c_str(), flags, mode);
    } else {
      errno = ENOENT;
    }
  }
  return fd < 0 ? -1 : HandleFromFd(fd);
}

cab::INT_PTR CrtOpenAt(int dir_fd, const char* name, int crt_flags, int crt_permission) {
  const int fd = OpenRegular(dir_fd, name, TranslateCrtOpenFlags(crt_flags) | O_NOFOLLOW,
                             TranslateCrtPermission(crt_permission));
  return fd < 0 ? -1 : HandleFromFd(fd);
}

std::string DecoderFolder(const std::string& folder, size_t name_length, int* handle) {
  *handle = -1;
  if (folder.size() + name_length <= 255) return folder;
  *handle = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return *handle >= 0 ? "/proc/self/fd/" + std::to_string(*handle) + "/" : folder;
}

void ReleaseDecoderFolder(int handle) {
  if (handle >= 0) close(handle);
}

}  // namespace kestrin
