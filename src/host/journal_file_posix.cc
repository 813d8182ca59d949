#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/journal_file.h"
#include "host/posix_io.h"

namespace kestrin {
namespace {

std::string ErrorText(const char* what, const std::string& path, int err) {
  return std::string(what) + " " + path + ": " + std::strerror(err);
}


}  // namespace

bool JournalFile::Open(const std::string& path, std::string* error) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = ErrorText("cannot open", path, errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool JournalFile::Append(std::string_view text) {
  return handle_ != -1 && WriteAll(static_cast<int>(handle_), text.data(), text.size());
}

bool JournalFile::Sync() { return handle_ != -1 && ::fdatasync(static_cast<int>(handle_)) == 0; }

void JournalFile::Close() {
  if (handle_ == -1) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool KeepFileContent(const std::string& source, const std::string& copy, std::string* error) {
  if (::link(source.c_str(), copy.c_str()) == 0) return true;
  // Another file system, or one without links: a copy, flushed.
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    if (error != nullptr) *error = ErrorText("cannot read", source, errno);
    return false;
  }
  const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = out >= 0;
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    ok = WriteAll(out, buffer, static_cast<size_t>(n));
  }
  if (ok) ok = ::fsync(out) == 0;
  const int err = errno;
  if (out >= 0) ::close(out);
  ::close(in);
  if (!ok) {
    ::unlink(copy.c_str());
    if (error != nullptr) *error = ErrorText("cannot keep a copy of", source, err);
  }
  return ok;
}

bool CopiesWaitForFinish() { return true; }

}  // namespace kestrin
