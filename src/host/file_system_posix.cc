#include "host/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "host/path_resolve.h"

namespace kestrin {
namespace {

void SetError(FsError* error, const std::string& what, const std::string& path, int err) {
  if (error == nullptr || !error->text.empty()) return;  // keep the first failure
  error->path = path;
  error->text = what + " " + path;
  if (err != 0) error->text += std::string(": ") + std::strerror(err);
}

std::string StripTrailingSlashes(const std::string& path) {
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Splits "a/b/c" into "a/b" and "c"; "c" gives "." and "c"; "/c" gives "/".
std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  if (slash == 0) return {"/", path.substr(1)};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

struct FileId {
  dev_t dev;
  ino_t ino;
  bool operator<(const FileId& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

// Reads the names of a folder, "." and ".." left out, sorted in byte order.
bool ListNames(const std::string& dir, std::vector<std::string>* names, int* err) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    *err = errno;
    return false;
  }
  errno = 0;
  while (const dirent* entry = readdir(d)) {
    const char* n = entry->d_name;
    if (std::strcmp(n, ".") != 0 && std::strcmp(n, "..") != 0) names->emplace_back(n);
  }
  *err = errno;
  closedir(d);
  std::sort(names->begin(), names->end());
  return *err == 0;
}

// Names of one destination folder by lower-case spelling, so that copying
// many files into it does not scan it once per file.
class FolderIndex {
 public:
  explicit FolderIndex(const std::string& dir) {
    std::vector<std::string> names;
    int err = 0;
    ListNames(dir, &names, &err);
    for (const std::string& name : names) by_lower_.emplace(Lower(name), name);  // first in byte order stays
  }
  // The existing spelling of `name`: exact match first, else ignoring case,
  // else `name` itself (which is then remembered).
  std::string Spelling(const std::string& name) {
    const std::string lower = Lower(name);
    auto range = by_lower_.equal_range(lower);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == name) return name;
    }
    if (range.first != range.second) return range.first->second;
    by_lower_.emplace(lower, name);
    return name;
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  }
  std::multimap<std::string, std::string> by_lower_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A replacement written to a temporary file and not yet renamed over its target.
struct PendingReplace {
  std::string temp;
  std::string target;
};

// Puts pending replacements in place: one flush of the file system for all
// of them (instead of one per file, which costs seconds for a folder of a
// thousand help pages), then the renames. A crash before the flush leaves
// the old files and stray temporaries, never a truncated file.
bool CommitReplacements(std::vector<PendingReplace>* pending, FsError* error) {
  if (pending->empty()) return true;
  bool flushed = false;
  const int fd = open(SplitLast(pending->front().temp).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    flushed = syncfs(fd) == 0;
    close(fd);
  }
  bool ok = true;
  for (const PendingReplace& p : *pending) {
    if (!flushed) {
      // One at a time then (another file system below the destination).
      const int tfd = open(p.temp.c_str(), O_RDONLY | O_CLOEXEC);
      const bool synced = tfd >= 0 && fsync(tfd) == 0;
      if (tfd >= 0) close(tfd);
      if (!synced) {
        SetError(error, "cannot write", p.target, errno);
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
  pending->clear();
  return ok;
}

// Copies one file to `target` through a temporary file beside it. When the
// target exists and `deferred` is given, the rename is left to
// CommitReplacements; otherwise the data is flushed and renamed here.
bool CopyOneFile(const std::string& source, const std::string& target, FsError* error,
                 std::vector<PendingReplace>* deferred = nullptr) {
  // Only regular files are copied: a device is not even opened, and the
  // open does not wait for a FIFO's writer.
  struct stat pre_st;
  if (stat(source.c_str(), &pre_st) == 0 && !S_ISREG(pre_st.st_mode)) {
    SetError(error, "cannot copy what is not a regular file (a FIFO, device or socket):", source, 0);
    return false;
  }
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (in < 0) {
    SetError(error, "cannot open", source, errno);
    return false;
  }
  struct stat src_st;
  if (fstat(in, &src_st) != 0) {
    SetError(error, "cannot read", source, errno);
    close(in);
    return false;
  }
  if (!S_ISREG(src_st.st_mode)) {
    SetError(error, "cannot copy what is not a regular file (a FIFO, device or socket):", source, 0);
    close(in);
    return false;
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  struct stat dst_st;
  const bool target_exists = stat(target.c_str(), &dst_st) == 0;
  if (target_exists) {
    if (dst_st.st_dev == src_st.st_dev && dst_st.st_ino == src_st.st_ino) {
      close(in);  // the file onto itself: nothing to do
      return true;
    }
    if (S_ISDIR(dst_st.st_mode)) {
      SetError(error, "cannot replace the folder", target, EISDIR);
      close(in);
      return false;
    }
  }
  const auto [dir, name] = SplitLast(target);
  // The temporary name keeps at most 200 bytes of the target's, so that a
  // name near the 255-byte limit can still be replaced.
  std::string temp_name = ".";
  temp_name.append(name, 0, 200);
  temp_name += ".kestrin-XXXXXX";
  std::string temp = Join(dir, temp_name);
  const int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    SetError(error, "cannot create a file in", dir, errno);
    close(in);
    return false;
  }
  static constexpr size_t kBufferSize = 1 << 16;
  std::vector<char> buffer(kBufferSize);
  bool ok = true;
  int err = 0;
  std::string failed_path = source;
  std::string what = "cannot read";
  for (;;) {
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      err = errno;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
      ok = false;
      err = errno;
      what = "cannot write";
      failed_path = target;
      break;
    }
  }
  if (ok) {
    const struct timespec times[2] = {src_st.st_atim, src_st.st_mtim};
    fchmod(out, src_st.st_mode & 07777);
    futimens(out, times);
    // Only a replaced file needs its data on disk before the rename: a
    // crash must not leave an empty file where a good one was.
    if (target_exists && deferred == nullptr && fsync(out) != 0) {
      ok = false;
      err = errno;
      what = "cannot write";
      failed_path = target;
    }
  }
  if (close(out) != 0 && ok) {
    ok = false;
    err = errno;
    what = "cannot write";
    failed_path = target;
  }
  close(in);
  if (ok && target_exists && deferred != nullptr) {
    deferred->push_back(PendingReplace{temp, target});
    return true;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
    what = "cannot replace";
    failed_path = target;
  }
  if (!ok) {
    unlink(temp.c_str());
    SetError(error, what, failed_path, err);
  }
  return ok;
}

class TreeCopier {
 public:
  explicit TreeCopier(FsError* error) : error_(error) {}

  // Copies `source` (file or folder) as `name` into the existing folder
  // `dest_dir`, whose index is `index`.
  bool CopyEntry(const std::string& source, const std::string& dest_dir, FolderIndex& index,
                 const std::string& name, int depth) {
    struct stat st;
    if (stat(source.c_str(), &st) != 0) {
      SetError(error_, "cannot read", source, errno);
      return false;
    }
    const std::string target = Join(dest_dir, index.Spelling(name));
    if (!S_ISDIR(st.st_mode)) return CopyOneFile(source, target, error_, &pending_);

    if (depth > kMaxTreeDepth) {
      SetError(error_, "folders nested too deeply (a loop of links?) at", source, ELOOP);
      return false;
    }
    if (made_.count(FileId{st.st_dev, st.st_ino}) != 0) return true;  // our own output
    struct stat dst_st;
    if (stat(target.c_str(), &dst_st) == 0) {
      if (!S_ISDIR(dst_st.st_mode)) {
        SetError(error_, "cannot replace a file by a folder:", target, ENOTDIR);
        return false;
      }
      if (dst_st.st_dev == st.st_dev && dst_st.st_ino == st.st_ino) return true;  // itself
    } else if (mkdir(target.c_str(), 0777) != 0 || stat(target.c_str(), &dst_st) != 0) {
      SetError(error_, "cannot create folder", target, errno);
      return false;
    }
    made_.insert(FileId{dst_st.st_dev, dst_st.st_ino});
    return CopyContents(source, target, nullptr, depth + 1);
  }

  // Copies the entries of folder `source` (all, or those matching
  // `pattern`) into the existing folder `dest_dir`.
  bool CopyContents(const std::string& source, const std::string& dest_dir,
                    const std::string* pattern, int depth) {
    std::vector<std::string> names;
    int err = 0;
    if (!ListNames(source, &names, &err)) {
      SetError(error_, "cannot read folder", source, err);
      return false;
    }
    FolderIndex index(dest_dir);
    bool ok = true;
    for (const std::string& name : names) {
      if (pattern != nullptr && !WildcardMatch(*pattern, name)) continue;
      ok = CopyEntry(Join(source, name), dest_dir, index, name, depth) && ok;
    }
    return ok;
  }

  // Puts the replaced files in place; false when one of them failed.
  bool Finish() { return CommitReplacements(&pending_, error_); }

  void NoteDestination(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) made_.insert(FileId{st.st_dev, st.st_ino});
  }

 private:
  FsError* error_;
  std::set<FileId> made_;  // destination folders, never copied into themselves
  std::vector<PendingReplace> pending_;
};

// Makes sure `dir` is a folder, creating it and its parents.
bool EnsureFolder(const std::string& dir, FsError* error) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    SetError(error, "not a folder:", dir, ENOTDIR);
    return false;
  }
  return CreateDirectoryTree(dir, error) == 1;
}

bool RemoveTree(const std::string& path, FsError* error, int depth) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetError(error, "cannot delete", path, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (unlink(path.c_str()) != 0) {
      SetError(error, "cannot delete", path, errno);
      return false;
    }
    return true;
  }
  if (depth > kMaxTreeDepth) {
    SetError(error, "folders nested too deeply at", path, ELOOP);
    return false;
  }
  // A read-only folder is deleted with its contents, as on Windows.
  if ((st.st_mode & S_IWUSR) == 0) chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR | S_IXUSR);
  std::vector<std::string> names;
  int err = 0;
  bool ok = true;
  if (!ListNames(path, &names, &err)) {
    SetError(error, "cannot read folder", path, err);
    ok = false;
  }
  for (const std::string& name : names) ok = RemoveTree(Join(path, name), error, depth + 1) && ok;
  if (ok && rmdir(path.c_str()) != 0) {
    SetError(error, "cannot delete folder", path, errno);
    ok = false;
  }
  return ok;
}

bool StatResolved(const std::string& path, struct stat* st) {
  if (path.empty()) return false;
  return stat(ResolvePath(path).c_str(), st) == 0;
}

}  // namespace

int DeleteFiles(const std::string& path, FsError* error, NameMode mode) {
  if (path.empty()) {
    SetError(error, "nothing to delete: empty path", "", 0);
    return 0;
  }
  const std::string stripped = StripTrailingSlashes(path);
  const auto [dir, last] = SplitLast(stripped);
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    const std::string folder = ResolvePath(dir);
    if (folder == "/") {
      SetError(error, "refusing to delete the contents of", folder, 0);
      return 0;
    }
    std::vector<std::string> names;
    int err = 0;
    if (!ListNames(folder, &names, &err)) {
      SetError(error, "cannot read folder", folder, err);
      return 0;
    }
    bool ok = true;
    for (const std::string& name : names) {
      if (WildcardMatch(last, name)) ok = RemoveTree(Join(folder, name), error, 0) && ok;
    }
    return ok ? 1 : 0;
  }
  const std::string target = ResolvePath(stripped);
  if (target == "/") {
    SetError(error, "refusing to delete", target, 0);
    return 0;
  }
  return RemoveTree(target, error, 0) ? 1 : 0;
}

int CreateDirectoryTree(const std::string& path, FsError* error) {
  if (path.empty()) {
    SetError(error, "cannot create folder: empty path", "", 0);
    return 0;
  }
  const std::string target = StripTrailingSlashes(ResolvePath(path));
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    SetError(error, S_ISDIR(st.st_mode) ? "folder exists already:" : "a file is in the way:",
             target, S_ISDIR(st.st_mode) ? EEXIST : ENOTDIR);
    return 0;
  }
  // Create each missing level from the top down.
  size_t pos = target.front() == '/' ? 1 : 0;
  for (;;) {
    const size_t slash = target.find('/', pos);
    const std::string prefix = target.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      SetError(error, "cannot create folder", prefix, errno);
      return 0;
    }
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  if (stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetError(error, "cannot create folder", target, ENOTDIR);
    return 0;
  }
  return 1;
}

int CopyFiles(const std::string& source, const std::string& destination, FsError* error,
              NameMode mode) {
  if (source.empty() || destination.empty()) {
    SetError(error, "cannot copy: empty path", source.empty() ? destination : source, 0);
    return 0;
  }
  const std::string stripped = StripTrailingSlashes(source);
  const auto [dir, last] = SplitLast(stripped);
  const std::string dest = StripTrailingSlashes(ResolvePath(destination));
  TreeCopier copier(error);
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    const std::string folder = ResolvePath(dir);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      SetError(error, "no such folder:", folder, ENOENT);
      return 0;
    }
    if (!EnsureFolder(dest, error)) return 0;
    copier.NoteDestination(dest);
    const bool copied = copier.CopyContents(folder, dest, &last, 0);
    return copier.Finish() && copied ? 1 : 0;
  }
  const std::string from = ResolvePath(stripped);
  struct stat src_st;
  if (stat(from.c_str(), &src_st) != 0) {
    SetError(error, "cannot copy", from, errno);
    return 0;
  }
  struct stat dst_st;
  if (!S_ISDIR(src_st.st_mode) && stat(dest.c_str(), &dst_st) == 0 && !S_ISDIR(dst_st.st_mode)) {
    return CopyOneFile(from, dest, error) ? 1 : 0;  // file onto a named file
  }
  if (!EnsureFolder(dest, error)) return 0;
  copier.NoteDestination(dest);
  FolderIndex index(dest);
  const bool copied = copier.CopyEntry(from, dest, index, SplitLast(from).second, 0);
  return copier.Finish() && copied ? 1 : 0;
}

int CopyFilesChecked(const std::string& source, const std::string& destination,
                     int /*extra_flags*/, int verify, FsError* error, NameMode mode) {
  if (CopyFiles(source, destination, error, mode) == 1) return 1;
  if (verify != 1) return 0;
  const std::string stripped = StripTrailingSlashes(source);
  const auto [dir, last] = SplitLast(stripped);
  if (mode == NameMode::kLiteral || !HasWildcard(last)) return 0;
  if (destination.empty()) return 0;
  std::string dest = destination;
  if (dest.back() != '/') dest += '/';
  return CompareTree(dir + "/", dest);
}

bool FileMatches(const std::string& directory, const std::string& name,
                 const DirEntry& source_entry) {
  struct stat st;
  // The name is taken exactly as given: another letter case is no match.
  if (stat(Join(ResolvePath(directory), name).c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode) != source_entry.is_directory) return false;
  return source_entry.is_directory || static_cast<uint64_t>(st.st_size) == source_entry.size;
}

bool FindFiles(const std::string& pattern_path, std::vector<DirEntry>* entries, FsError* error) {
  entries->clear();
  const auto [dir, last] = SplitLast(pattern_path);
  if (last.empty()) {
    SetError(error, "no file name in search", pattern_path, EINVAL);
    return false;
  }
  const std::string folder = ResolvePath(dir);
  std::vector<std::string> names;
  int err = 0;
  if (!ListNames(folder, &names, &err)) {
    SetError(error, "cannot read folder", folder, err);
    return false;
  }
  const bool pattern = HasWildcard(last);
  for (const std::string& name : names) {
    if (pattern ? !WildcardMatch(last, name) : !EqualsIgnoreCase(last, name)) continue;
    struct stat st;
    const std::string path = Join(folder, name);
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) continue;
    const bool is_dir = S_ISDIR(st.st_mode);
    entries->push_back(DirEntry{name, is_dir, is_dir ? 0 : static_cast<uint64_t>(st.st_size),
                                S_ISREG(st.st_mode)});
    if (!pattern) {
      // Without a pattern, only the entry Windows would find: exact spelling
      // first, else the first match ignoring case.
      const std::string resolved = ResolvePath(Join(folder, last));
      entries->back().name = SplitLast(resolved).second;
      break;
    }
  }
  return true;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return StatResolved(path, &st);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return StatResolved(path, &st) && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return StatResolved(path, &st) && S_ISREG(st.st_mode);
}

bool DeleteSingleFile(const std::string& path, FsError* error) {
  const std::string target = ResolvePath(path);
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) {
    SetError(error, "cannot delete", target, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    SetError(error, "cannot delete a folder as a file:", target, EISDIR);
    return false;
  }
  if (unlink(target.c_str()) != 0) {
    SetError(error, "cannot delete", target, errno);
    return false;
  }
  return true;
}

bool SetReadOnly(const std::string& path, bool read_only, FsError* error) {
  const std::string target = ResolvePath(path);
  struct stat st;
  if (stat(target.c_str(), &st) != 0) {
    SetError(error, "cannot change attributes of", target, errno);
    return false;
  }
  mode_t mode = st.st_mode & 07777;
  if (read_only) {
    mode &= ~static_cast<mode_t>(0222);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode |= S_IWUSR | (0222 & ~mask & ((mode & 0044) >> 1));
  }
  if (mode != (st.st_mode & 07777) && chmod(target.c_str(), mode) != 0) {
    SetError(error, "cannot change attributes of", target, errno);
    return false;
  }
  return true;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return StatResolved(path, &st) && (st.st_mode & 0222) == 0;
}

}  // namespace kestrin
