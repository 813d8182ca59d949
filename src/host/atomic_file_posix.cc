#include "host/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "host/file_lock.h"

namespace kestrin {
namespace {

std::string DirName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileResult Fail(FileError error, const char* what, const std::string& path, int err) {
  FileResult result;
  result.error = error;
  char text[512];
  std::snprintf(text, sizeof text, "%s %s: %s", what, path.c_str(), std::strerror(err));
  result.message = text;
  return result;
}

std::string TempPrefix(const std::string& target) {
  std::string prefix(1, '.');
  prefix.append(BaseName(target)).append(".tmp-");
  return prefix;
}

// Temporary files of writers that died before their rename. Only a writer
// holding the lock has one, so under the lock every one found is stale.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
      ::unlink((dir + "/" + entry->d_name).c_str());
    }
  }
  ::closedir(d);
}

// The folders whose flush waits for FlushDeferredFolders.
struct DeferredFolders {
  std::mutex mutex;
  bool deferring = false;
  std::set<std::string> folders;
};

DeferredFolders& Deferred() {
  static DeferredFolders deferred;
  return deferred;
}

// Flushes the folder of a renamed file now, or notes it when flushes wait.
void SyncFolderAfterRename(const std::string& dir) {
  {
    DeferredFolders& deferred = Deferred();
    std::lock_guard<std::mutex> hold(deferred.mutex);
    if (deferred.deferring) {
      deferred.folders.insert(dir);
      return;
    }
  }
  SyncFolder(dir);
}

void PauseForTests() {
  const char* marker = std::getenv(kPauseBeforeRenameVariable);
  if (marker == nullptr || *marker == '\0') return;
  const int fd = ::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
  ::sleep(60);
}

}  // namespace

StagedFile::~StagedFile() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    ::unlink(temp_.c_str());
  }
}

FileResult StagedFile::Open(const std::string& path) {
  target_ = path;
  const std::string dir = DirName(path);
  const std::string prefix = TempPrefix(path);
  int fd = -1;
  for (unsigned attempt = 0; fd < 0; ++attempt) {
    temp_ = dir + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    // 0666 less the umask for a new file; an existing file's mode is copied on Commit.
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) {
      return Fail(FileError::kWriteFailed, "cannot create a temporary file beside", path, errno);
    }
  }
  handle_ = fd;
  return {};
}

FileResult StagedFile::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(FileError::kWriteFailed, "cannot write", target_, errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

FileResult StagedFile::Commit() {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  int err = 0;
  struct stat old_stat;
  if (::stat(target_.c_str(), &old_stat) == 0) {
    if (::fchmod(fd, old_stat.st_mode & 07777) != 0) err = errno;
    if (err == 0 && (old_stat.st_uid != ::geteuid() || old_stat.st_gid != ::getegid())) {
      // Only root may give the file back to its owner; others keep theirs.
      if (::fchown(fd, old_stat.st_uid, old_stat.st_gid) != 0) {
        // not permitted: the file now belongs to us, as any editor would leave it
      }
    }
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(temp_.c_str());
    return Fail(FileError::kWriteFailed, "cannot write", target_, err);
  }
  PauseForTests();
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    err = errno;
    ::unlink(temp_.c_str());
    return Fail(FileError::kWriteFailed, "cannot replace", target_, err);
  }
  SyncFolderAfterRename(DirName(target_));
  return {};
}

bool SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

void DeferFolderFlushes() {
  DeferredFolders& deferred = Deferred();
  std::lock_guard<std::mutex> hold(deferred.mutex);
  deferred.deferring = true;
}

bool FlushDeferredFolders() {
  std::set<std::string> folders;
  {
    DeferredFolders& deferred = Deferred();
    std::lock_guard<std::mutex> hold(deferred.mutex);
    deferred.deferring = false;
    folders.swap(deferred.folders);
  }
  bool ok = true;
  for (const std::string& dir : folders) {
    // A folder removed since (a temporary one) has nothing left to keep.
    if (!SyncFolder(dir) && errno != ENOENT) ok = false;
  }
  return ok;
}

std::string ResolveWriteTarget(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string link(4096, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0) break;
    link.resize(static_cast<size_t>(n));
    current = link.front() == '/' ? link : DirName(current) + "/" + link;
  }
  // One spelling of the folder for everyone, so that writers reaching the
  // file through different folder links share one lock.
  char* real_dir = ::realpath(DirName(current).c_str(), nullptr);
  if (real_dir != nullptr) {
    std::string dir = real_dir;
    std::free(real_dir);
    current = (dir == "/" ? dir : dir + "/") + BaseName(current);
  }
  return current;
}

FileResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Fail(FileError::kMissing, "cannot find", path, err);
    return Fail(FileError::kUnreadable, "cannot read", path, err);
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Fail(FileError::kUnreadable, "cannot read", path, EISDIR);
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      content.clear();
      return Fail(FileError::kUnreadable, "cannot read", path, err);
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return {};
}

FileResult UpdateFileLocked(const std::string& path,
                            const std::function<EditAction(std::string& content, bool exists)>& edit) {
  const std::string target = ResolveWriteTarget(path);
  FileLock lock;
  unsigned long code = 0;
  if (lock.Take(target + ".lock", true, nullptr, &code) != FileLock::Outcome::kHeld) {
    const int err = static_cast<int>(code);
    if (err == ENOENT || err == ENOTDIR) {
      return Fail(FileError::kFolderMissing, "cannot write", target,
                  ENOENT);  // the folder is missing; nothing is created
    }
    if (err == EACCES || err == EROFS || err == EPERM) {
      return Fail(FileError::kReadOnly, "cannot lock", target + ".lock", err);
    }
    return Fail(FileError::kWriteFailed, "cannot lock", target + ".lock", err);
  }
  std::string content;
  FileResult read = ReadWholeFile(target, content);
  if (!read.ok() && read.error != FileError::kMissing) return read;
  const bool exists = read.ok();
  if (edit(content, exists) == EditAction::kKeep) return {};
  if (exists) {
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) {
      return Fail(FileError::kWriteFailed, "cannot examine", target, errno);
    }
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
      return Fail(FileError::kReadOnly, "cannot write", target, EACCES);
    }
  }
  RemoveStaleTemporaries(DirName(target), TempPrefix(target));
  StagedFile file;
  FileResult result = file.Open(target);
  if (result.ok()) result = file.Write(content.data(), content.size());
  if (result.ok()) result = file.Commit();
  return result;
}

FileResult WriteFileAtomically(const std::string& path, const std::string& content) {
  return UpdateFileLocked(path, [&](std::string& current, bool) {
    current = content;
    return EditAction::kWrite;
  });
}

}  // namespace kestrin
