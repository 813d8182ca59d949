// The file system on POSIX: stat, readdir and friends. A replaced file is
// written beside its target and renamed over it once the data is on disk;
// all replacements of one copy share a single flush of the file system. A
// new file copied from the scratch folder is a second link to its source.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/posix_io.h"

namespace kestrin {
namespace {

void SetError(FsError* error, const std::string& what, const std::string& path, int err) {
  SetFsError(error, what, path, err != 0 ? std::strerror(err) : std::string());
}


// A copy written to a temporary file and not yet renamed to its target.
struct PendingReplace {
  std::string temp;
  std::string target;
  bool replaces;  // an existing file
};

class PosixFileSystem : public FileSystem {
 public:
  std::string Resolve(std::string_view path) override { return ResolvePath(path); }

  FileStatus Stat(const std::string& path, FollowLinks follow) override {
    FileStatus status;
    struct stat st;
    const int result =
        follow == FollowLinks::kYes ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    if (path.empty() || result != 0) {
      status.reason = std::strerror(path.empty() ? ENOENT : errno);
      return status;
    }
    status.exists = true;
    status.is_directory = S_ISDIR(st.st_mode);
    status.is_regular = S_ISREG(st.st_mode);
    status.is_link = S_ISLNK(st.st_mode);
    status.read_only = (st.st_mode & 0222) == 0;
    status.size = static_cast<uint64_t>(st.st_size);
    status.identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return status;
  }

  bool ListFolder(const std::string& dir, std::vector<std::string>* names,
                  FsError* error) override {
    names->clear();
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
      SetError(error, "cannot read folder", dir, errno);
      return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(d)) {
      const char* n = entry->d_name;
      if (std::strcmp(n, ".") != 0 && std::strcmp(n, "..") != 0) names->emplace_back(n);
    }
    const int err = errno;
    closedir(d);
    std::sort(names->begin(), names->end());
    if (err != 0) SetError(error, "cannot read folder", dir, err);
    return err == 0;
  }

  bool MakeFolder(const std::string& path, FsError* error) override {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    SetError(error, "cannot create folder", path, errno);
    return false;
  }

  bool RemoveFolder(const std::string& path, FsError* error) override {
    if (rmdir(path.c_str()) == 0) return true;
    SetError(error, "cannot delete folder", path, errno);
    return false;
  }

  bool RemoveFile(const std::string& path, FsError* error) override {
    if (unlink(path.c_str()) == 0) return true;
    SetError(error, "cannot delete", path, errno);
    return false;
  }

  bool CopyRegularFile(const std::string& source, const std::string& target,
                       FsError* error) override;
  bool FinishCopies(FsError* error) override;
  void SetScratchFolder(const std::string& dir) override {
    scratch_ = dir.empty() ? dir : StripTrailingSeparators(dir);
  }

  bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      SetError(error, "cannot change attributes of", path, errno);
      return false;
    }
    mode_t mode = st.st_mode & 07777;
    if (read_only) {
      mode &= ~static_cast<mode_t>(0222);
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      mode |= S_IWUSR | (0222 & ~mask & ((mode & 0044) >> 1));
      // A folder must be entered too to change what it holds.
      if (S_ISDIR(st.st_mode)) mode |= S_IXUSR;
    }
    if (mode != (st.st_mode & 07777) && chmod(path.c_str(), mode) != 0) {
      SetError(error, "cannot change attributes of", path, errno);
      return false;
    }
    return true;
  }

  bool AppendText(const std::string& path, std::string_view text) override {
    return AppendWithRuntime(path, text);
  }

 private:
  // Whether `source` (its status `st`, a link followed) may become `target` by a second
  // link instead of a copy: an unpacked file below the scratch folder that
  // has no other name yet. A file copied twice shares its data with one
  // target only, so two installed files are never one.
  bool Shareable(const std::string& source, const struct stat& st) const {
    return !scratch_.empty() && st.st_nlink == 1 && source.size() > scratch_.size() &&
           source.compare(0, scratch_.size(), scratch_) == 0 &&
           IsPathSeparator(source[scratch_.size()]);
  }

  std::vector<PendingReplace> pending_;
  std::string scratch_;
};

// The source of a copy, open for reading: a regular file only. The open
// does not wait for a FIFO's writer; what it opened is checked. -1 (error
// set) for anything else.
int OpenCopySource(const std::string& source, struct stat* st, FsError* error) {
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (in < 0) {
    SetError(error, "cannot open", source, errno);
    return -1;
  }
  const bool examined = fstat(in, st) == 0;
  if (!examined || !S_ISREG(st->st_mode)) {
    if (!examined) {
      SetError(error, "cannot read", source, errno);
    } else {
      SetError(error, "cannot copy what is not a regular file (a FIFO, device or socket):", source,
               0);
    }
    close(in);
    return -1;
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  return in;
}

// Writes the data of `in` (with the source's mode and times) into a new
// temporary file beside `target`; its name in *temp. False (error set, the
// temporary gone) on failure.
bool WriteTemporaryCopy(int in, const struct stat& src_st, const std::string& source,
                        const std::string& target, std::string* temp, FsError* error) {
  const auto [dir, name] = SplitLastComponent(target);
  std::string temp_name = TemporaryCopyPrefix(name) + "XXXXXX";
  *temp = JoinPath(dir, temp_name);
  const int out = mkostemp(temp->data(), O_CLOEXEC);
  if (out < 0) {
    SetError(error, "cannot create a file in", dir, errno);
    return false;
  }
  // The kernel copies first: the data does not pass through this process,
  // and a file system that can clone shares the blocks. Whatever it does not
  // copy (another file system, an older kernel, a failure midway) the loop
  // below reads and writes from the offsets reached, and names the failure.
  while (copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0) > 0) {
  }
  static constexpr size_t kBufferSize = 1 << 16;
  std::vector<char> buffer(kBufferSize);
  const char* what = nullptr;  // the failure, if any
  int err = 0;
  for (;;) {
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n)))) {
      what = n < 0 ? "cannot read" : "cannot write";
      err = errno;
    }
    if (n <= 0 || what != nullptr) break;
  }
  if (what == nullptr) {
    const struct timespec times[2] = {src_st.st_atim, src_st.st_mtim};
    fchmod(out, src_st.st_mode & 07777);
    futimens(out, times);
  }
  if (close(out) != 0 && what == nullptr) {
    what = "cannot write";
    err = errno;
  }
  if (what == nullptr) return true;
  unlink(temp->c_str());
  SetError(error, what, std::string_view(what) == "cannot read" ? source : target, err);
  return false;
}

// A second link to `source` under a temporary name beside `target`, in
// *temp; false when the file system refuses it.
bool LinkTemporary(const std::string& source, const std::string& target, std::string* temp) {
  // Six characters, the shape of a copy's temporary name; a name that is
  // taken makes the link fail and the caller copy instead.
  static std::atomic<unsigned> counter{0};
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint64_t n = (static_cast<uint64_t>(getpid()) << 20) ^ ++counter;
  std::string suffix;
  for (int i = 0; i < 6; ++i, n /= 36) suffix.push_back(kDigits[n % 36]);
  const auto [dir, name] = SplitLastComponent(target);
  *temp = JoinPath(dir, TemporaryCopyPrefix(name) + suffix);
  return linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp->c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Copies one file to `target` through a temporary file beside it, renamed
// into place by FinishCopies: the creation of a new file waits too, so that
// a journal flushed before FinishCopies is on disk before any file of it
// appears.
bool PosixFileSystem::CopyRegularFile(const std::string& source, const std::string& target,
                                      FsError* error) {
  struct stat src_st;
  const int in = OpenCopySource(source, &src_st, error);
  if (in < 0) return false;
  struct stat dst_st;
  const bool target_exists = stat(target.c_str(), &dst_st) == 0;
  bool ok = true;
  std::string temp;
  if (target_exists && dst_st.st_dev == src_st.st_dev && dst_st.st_ino == src_st.st_ino) {
    // The file onto itself: nothing to do.
  } else if (target_exists && S_ISDIR(dst_st.st_mode)) {
    SetError(error, "cannot replace the folder", target, EISDIR);
    ok = false;
  } else if (!target_exists && Shareable(source, src_st) && LinkTemporary(source, target, &temp)) {
    // The data written once; the link waits under its temporary name like
    // a copy. Where links are refused (another file system, too many) the
    // copy below is made.
    pending_.push_back(PendingReplace{temp, target, false});
  } else if (!WriteTemporaryCopy(in, src_st, source, target, &temp, error)) {
    ok = false;
  } else {
    pending_.push_back(PendingReplace{temp, target, target_exists});
  }
  close(in);
  return ok;
}

// Only a replaced file needs its data on disk before the rename: a crash
// must not leave an empty file where a good one was. One flush of the file
// system serves all of them (instead of one per file, which costs seconds
// for a folder of a thousand help pages); a single file is flushed alone.
// A crash before the flush leaves the old files and stray temporaries,
// never a truncated file. A new file is renamed without a flush.
bool PosixFileSystem::FinishCopies(FsError* error) {
  if (pending_.empty()) return true;
  size_t replacements = 0;
  for (const PendingReplace& p : pending_) replacements += p.replaces ? 1 : 0;
  bool flushed = replacements == 0;
  if (replacements > 1) {
    const auto first = std::find_if(pending_.begin(), pending_.end(),
                                    [](const PendingReplace& p) { return p.replaces; });
    const int fd = open(SplitLastComponent(first->temp).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      flushed = syncfs(fd) == 0;
      close(fd);
    }
  }
  bool ok = true;
  for (const PendingReplace& p : pending_) {
    if (p.replaces && !flushed) {
      // One at a time then (a single file, or another file system below the
      // destination).
      const int tfd = open(p.temp.c_str(), O_RDONLY | O_CLOEXEC);
      const bool synced = tfd >= 0 && fsync(tfd) == 0;
      const int err = errno;
      if (tfd >= 0) close(tfd);
      if (!synced) {
        SetError(error, "cannot write", p.target, err);
        unlink(p.temp.c_str());
        ok = false;
        continue;
      }
    }
    if (rename(p.temp.c_str(), p.target.c_str()) != 0) {
      SetError(error, "cannot replace", p.target, errno);
      unlink(p.temp.c_str());
      ok = false;
    }
  }
  pending_.clear();
  return ok;
}

}  // namespace

// The name keeps at most 200 bytes of the target's, so that a name near
// the 255-byte limit can still be copied.
std::string TemporaryCopyPrefix(const std::string& target_name) {
  return "." + target_name.substr(0, 200) + ".kestrin-";
}

std::string FsReasonText(FsReason reason) {
  switch (reason) {
    case FsReason::kNone:
      return std::string();
    case FsReason::kNotFound:
      return std::strerror(ENOENT);
    case FsReason::kExists:
      return std::strerror(EEXIST);
    case FsReason::kNotFolder:
      return std::strerror(ENOTDIR);
    case FsReason::kIsFolder:
      return std::strerror(EISDIR);
    case FsReason::kLoop:
      return std::strerror(ELOOP);
    case FsReason::kInvalidName:
      return std::strerror(EINVAL);
  }
  return std::string();
}

FileSystem& SystemFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace kestrin
