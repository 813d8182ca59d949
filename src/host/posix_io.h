// Small helpers of the POSIX back ends (only *_posix.cc include this).
#ifndef KESTRIN_HOST_POSIX_IO_H_
#define KESTRIN_HOST_POSIX_IO_H_

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace kestrin {

// Writes all `size` bytes to the descriptor, again after an interruption.
inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace kestrin

#endif  // KESTRIN_HOST_POSIX_IO_H_
