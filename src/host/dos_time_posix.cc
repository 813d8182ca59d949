#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/dos_time.h"
#include "host/path_resolve.h"

namespace kestrin {

bool SetModificationTime(const std::string& path, time_t t, FsError* error) {
  const std::string target = ResolvePath(path);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, target.c_str(), times, 0) != 0) {
    SetTimeError(error, target, errno);
    return false;
  }
  return true;
}

}  // namespace kestrin
