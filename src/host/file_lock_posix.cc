#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/file_lock.h"

namespace kestrin {

FileLock::Outcome FileLock::Take(const std::string& path, bool wait, std::string* error,
                                 unsigned long* system_error) {
  Release();
  auto fail = [&](const char* what, int err) {
    if (error != nullptr) *error = std::string(what) + " " + path + ": " + std::strerror(err);
    if (system_error != nullptr) *system_error = static_cast<unsigned long>(err);
    return Outcome::kFailed;
  };
  for (;;) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES) {
      // A lock file made by another user (0644 under the usual umask) can
      // still be locked through a read-only descriptor.
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return fail("cannot lock", errno);
    int locked;
    while ((locked = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return Outcome::kBusy;
      return fail("cannot lock", err);
    }
    // The previous holder may have removed the file while we waited for
    // it: then the lock we hold is on nothing anyone else can find.
    struct stat held_st, named_st;
    if (::fstat(fd, &held_st) == 0 && ::stat(path.c_str(), &named_st) == 0 &&
        held_st.st_dev == named_st.st_dev && held_st.st_ino == named_st.st_ino) {
      handle_ = fd;
      path_ = path;
      return Outcome::kHeld;
    }
    ::close(fd);
  }
}

void FileLock::Release() {
  if (handle_ == -1) return;
  ::unlink(path_.c_str());  // while still held: no one can hold the removed file
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace kestrin
