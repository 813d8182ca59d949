// The shell's copy and delete rules, the verification pass and the file
// search over the primitives of a FileSystem. The back ends keep only what
// differs between the platforms.
#include "host/file_system.h"

#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "host/path_resolve.h"

namespace kestrin {
namespace {

void Fail(FsError* error, const std::string& what, const std::string& path, FsReason reason) {
  SetFsError(error, what, path, reason == FsReason::kNone ? std::string() : FsReasonText(reason));
}

// Whether `path` is a root ("/", "C:\") and nothing below it.
bool IsRootPath(const std::string& path) {
  return !path.empty() && path.size() <= RootLength(path);
}

// Names of one destination folder by lower-case spelling, so that copying
// many files into it does not scan it once per file.
class FolderIndex {
 public:
  FolderIndex(FileSystem& fs, const std::string& dir) {
    std::vector<std::string> names;
    fs.ListFolder(dir, &names, nullptr);
    for (const std::string& name : names)
      by_lower_.emplace(AsciiLower(name), name);  // first in byte order stays
  }
  // The existing spelling of `name`: exact match first, else ignoring case,
  // else `name` itself (which is then remembered).
  std::string Spelling(const std::string& name) {
    const std::string lower = AsciiLower(name);
    auto range = by_lower_.equal_range(lower);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == name) return name;
    }
    if (range.first != range.second) return range.first->second;
    by_lower_.emplace(lower, name);
    return name;
  }

 private:
  std::multimap<std::string, std::string> by_lower_;
};

// Makes sure `dir` is a folder, creating it and its parents.
bool EnsureFolder(FileSystem& fs, const std::string& dir, FsError* error) {
  const FileStatus status = fs.Stat(dir);
  if (status.exists) {
    if (status.is_directory) return true;
    Fail(error, "not a folder:", dir, FsReason::kNotFolder);
    return false;
  }
  return CreateDirectoryTree(fs, dir, error) == 1;
}

class TreeCopier {
 public:
  TreeCopier(FileSystem& fs, FsError* error) : fs_(fs), error_(error) {}

  // Copies `source` (file or folder) as `name` into the existing folder
  // `dest_dir`, whose index is `index`.
  bool CopyEntry(const std::string& source, const std::string& dest_dir, FolderIndex& index,
                 const std::string& name, int depth) {
    const FileStatus from = fs_.Stat(source);
    if (!from.exists) {
      SetFsError(error_, "cannot read", source, from.reason);
      return false;
    }
    const std::string target = JoinPath(dest_dir, index.Spelling(name));
    if (!from.is_directory) return CopyFileEntry(source, from, target);

    if (depth > kMaxTreeDepth) {
      Fail(error_, "folders nested too deeply (a loop of links?) at", source, FsReason::kLoop);
      return false;
    }
    if (made_.count(from.identity) != 0) return true;  // our own output
    FileStatus to = fs_.Stat(target);
    if (to.exists) {
      if (!to.is_directory) {
        Fail(error_, "cannot replace a file by a folder:", target, FsReason::kNotFolder);
        return false;
      }
      if (to.identity == from.identity) return true;  // itself
    } else if (!fs_.MakeFolder(target, error_)) {
      return false;
    } else if (!(to = fs_.Stat(target)).exists) {
      SetFsError(error_, "cannot create folder", target, to.reason);
      return false;
    }
    made_.insert(to.identity);
    return CopyContents(source, target, nullptr, depth + 1);
  }

  // Copies one file onto `target` (which need not exist).
  bool CopyFileEntry(const std::string& source, const FileStatus& from, const std::string& target) {
    // Only regular files are copied: a FIFO's open would wait for a writer,
    // a device's could have effects of its own.
    if (!from.is_regular) {
      SetFsError(error_,
                 "cannot copy what is not a regular file (a FIFO, device or socket):", source,
                 std::string());
      return false;
    }
    const FileStatus to = fs_.Stat(target);
    if (to.exists) {
      if (to.identity == from.identity) return true;  // the file onto itself
      if (to.is_directory) {
        Fail(error_, "cannot replace the folder", target, FsReason::kIsFolder);
        return false;
      }
    }
    return fs_.CopyRegularFile(source, target, error_);
  }

  // Copies the entries of folder `source` (all, or those matching
  // `pattern`) into the existing folder `dest_dir`.
  bool CopyContents(const std::string& source, const std::string& dest_dir,
                    const std::string* pattern, int depth) {
    std::vector<std::string> names;
    if (!fs_.ListFolder(source, &names, error_)) return false;
    FolderIndex index(fs_, dest_dir);
    bool ok = true;
    for (const std::string& name : names) {
      if (pattern != nullptr && !WildcardMatch(*pattern, name)) continue;
      ok = CopyEntry(JoinPath(source, name), dest_dir, index, name, depth) && ok;
    }
    return ok;
  }

  // Puts the replaced files in place; false when one of them failed.
  bool Finish() { return fs_.FinishCopies(error_); }

  // A destination folder is never copied into itself.
  void NoteDestination(const std::string& dir) {
    const FileStatus status = fs_.Stat(dir);
    if (status.exists) made_.insert(status.identity);
  }

 private:
  FileSystem& fs_;
  FsError* error_;
  std::set<std::string> made_;  // identities of destination folders
};

bool RemoveTree(FileSystem& fs, const std::string& path, FsError* error, int depth) {
  const FileStatus status = fs.Stat(path, FollowLinks::kNo);
  if (!status.exists) {
    SetFsError(error, "cannot delete", path, status.reason);
    return false;
  }
  // A link goes as what it is, never what it points to.
  if (status.is_link || !status.is_directory) {
    return status.is_directory ? fs.RemoveFolder(path, error) : fs.RemoveFile(path, error);
  }
  if (depth > kMaxTreeDepth) {
    Fail(error, "folders nested too deeply at", path, FsReason::kLoop);
    return false;
  }
  // A read-only folder is deleted with its contents, as on Windows.
  if (status.read_only) fs.SetReadOnlyFlag(path, false, nullptr);
  std::vector<std::string> names;
  bool ok = fs.ListFolder(path, &names, error);
  for (const std::string& name : names)
    ok = RemoveTree(fs, JoinPath(path, name), error, depth + 1) && ok;
  return ok && fs.RemoveFolder(path, error);
}

// The names of `directory` (resolved) as a set, for exact-name lookups.
std::set<std::string> NamesOf(FileSystem& fs, const std::string& directory) {
  std::vector<std::string> names;
  fs.ListFolder(directory, &names, nullptr);
  return std::set<std::string>(names.begin(), names.end());
}

bool EntryMatches(FileSystem& fs, const std::string& directory, const std::set<std::string>& names,
                  const DirEntry& source_entry) {
  // The name is taken exactly as given: another letter case is no match.
  if (names.count(source_entry.name) == 0) return false;
  const FileStatus status = fs.Stat(JoinPath(directory, source_entry.name));
  if (!status.exists || status.is_directory != source_entry.is_directory) return false;
  return source_entry.is_directory || status.size == source_entry.size;
}

void CompareLevel(FileSystem& fs, const std::string& source_dir, const std::string& destination_dir,
                  TreeCounters* counters, int depth, bool* readable) {
  std::vector<DirEntry> entries;
  if (!FindFiles(fs, JoinPath(source_dir, "*"), &entries)) {
    *readable = false;
    return;
  }
  const std::string destination = fs.Resolve(destination_dir);
  const std::set<std::string> names = NamesOf(fs, destination);
  for (const DirEntry& entry : entries) {
    const bool matched = EntryMatches(fs, destination, names, entry);
    if (!entry.is_directory) {
      ++counters->files_seen;
      counters->files_matched += matched;
      continue;
    }
    ++counters->directories_seen;
    counters->directories_matched += matched;
    if (depth < kMaxTreeDepth) {
      // An unreadable subfolder counts only through its own entries.
      bool inner_readable = true;
      CompareLevel(fs, JoinPath(source_dir, entry.name) + kPathSeparator,
                   JoinPath(destination_dir, entry.name) + kPathSeparator, counters, depth + 1,
                   &inner_readable);
    }
  }
}

// The entry a search found, as the folder holds it; a dangling link is
// described as the link itself.
bool Describe(FileSystem& fs, const std::string& folder, const std::string& name, DirEntry* entry) {
  const std::string path = JoinPath(folder, name);
  FileStatus status = fs.Stat(path);
  if (!status.exists) status = fs.Stat(path, FollowLinks::kNo);
  if (!status.exists) return false;
  *entry =
      DirEntry{name, status.is_directory, status.is_directory ? 0 : status.size, status.is_regular};
  return true;
}

}  // namespace

void SetFsError(FsError* error, const std::string& what, const std::string& path,
                const std::string& reason) {
  if (error == nullptr || !error->text.empty()) return;  // keep the first failure
  error->path = path;
  error->text = what + " " + path;
  if (!reason.empty()) error->text += ": " + reason;
}

bool AppendWithRuntime(const std::string& path, std::string_view text) {
  FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0) written = false;
  return written;
}

int DeleteFiles(FileSystem& fs, const std::string& path, FsError* error, NameMode mode) {
  if (path.empty()) {
    SetFsError(error, "nothing to delete: empty path", "", "");
    return 0;
  }
  const std::string stripped = StripTrailingSeparators(NativePath(path));
  const auto [dir, last] = SplitLastComponent(stripped);
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    const std::string folder = fs.Resolve(dir);
    if (IsRootPath(folder)) {
      SetFsError(error, "refusing to delete the contents of", folder, "");
      return 0;
    }
    std::vector<std::string> names;
    if (!fs.ListFolder(folder, &names, error)) return 0;
    bool ok = true;
    for (const std::string& name : names) {
      if (WildcardMatch(last, name)) ok = RemoveTree(fs, JoinPath(folder, name), error, 0) && ok;
    }
    return ok ? 1 : 0;
  }
  const std::string target = fs.Resolve(stripped);
  if (IsRootPath(target)) {
    SetFsError(error, "refusing to delete", target, "");
    return 0;
  }
  return RemoveTree(fs, target, error, 0) ? 1 : 0;
}

int CreateDirectoryTree(FileSystem& fs, const std::string& path, FsError* error) {
  if (path.empty()) {
    SetFsError(error, "cannot create folder: empty path", "", "");
    return 0;
  }
  const std::string target = StripTrailingSeparators(fs.Resolve(path));
  const FileStatus status = fs.Stat(target);
  if (status.exists) {
    if (status.is_directory) {
      Fail(error, "folder exists already:", target, FsReason::kExists);
    } else {
      Fail(error, "a file is in the way:", target, FsReason::kNotFolder);
    }
    return 0;
  }
  // Create each missing level from the top down; a root exists or does not,
  // it is never created.
  for (size_t pos = RootLength(target);;) {
    const size_t slash = target.find_first_of(kPathSeparators, pos);
    const std::string prefix = target.substr(0, slash);
    if (!prefix.empty()) {
      FsError failed;
      // What exists already (a folder, or a file the next level then meets) stays.
      if (!fs.MakeFolder(prefix, &failed) && !fs.Stat(prefix, FollowLinks::kNo).exists) {
        if (error != nullptr && error->text.empty()) *error = failed;
        return 0;
      }
    }
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  if (!fs.Stat(target).is_directory) {
    Fail(error, "cannot create folder", target, FsReason::kNotFolder);
    return 0;
  }
  return 1;
}

int CopyFiles(FileSystem& fs, const std::string& source, const std::string& destination,
              FsError* error, NameMode mode) {
  if (source.empty() || destination.empty()) {
    SetFsError(error, "cannot copy: empty path", source.empty() ? destination : source, "");
    return 0;
  }
  const std::string stripped = StripTrailingSeparators(NativePath(source));
  const auto [dir, last] = SplitLastComponent(stripped);
  const std::string dest = StripTrailingSeparators(fs.Resolve(destination));
  TreeCopier copier(fs, error);
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    const std::string folder = fs.Resolve(dir);
    if (!fs.Stat(folder).is_directory) {
      Fail(error, "no such folder:", folder, FsReason::kNotFound);
      return 0;
    }
    if (!EnsureFolder(fs, dest, error)) return 0;
    copier.NoteDestination(dest);
    const bool copied = copier.CopyContents(folder, dest, &last, 0);
    return copier.Finish() && copied ? 1 : 0;
  }
  const std::string from = fs.Resolve(stripped);
  const FileStatus from_status = fs.Stat(from);
  if (!from_status.exists) {
    SetFsError(error, "cannot copy", from, from_status.reason);
    return 0;
  }
  if (!from_status.is_directory) {
    const FileStatus dest_status = fs.Stat(dest);
    if (dest_status.exists && !dest_status.is_directory) {
      const bool copied = copier.CopyFileEntry(from, from_status, dest);  // file onto a named file
      return copier.Finish() && copied ? 1 : 0;
    }
  }
  if (!EnsureFolder(fs, dest, error)) return 0;
  copier.NoteDestination(dest);
  FolderIndex index(fs, dest);
  const bool copied = copier.CopyEntry(from, dest, index, SplitLastComponent(from).second, 0);
  return copier.Finish() && copied ? 1 : 0;
}

int CopyFilesChecked(FileSystem& fs, const std::string& source, const std::string& destination,
                     int /*extra_flags*/, int verify, FsError* error, NameMode mode) {
  if (CopyFiles(fs, source, destination, error, mode) == 1) return 1;
  if (verify != 1) return 0;
  const std::string stripped = StripTrailingSeparators(NativePath(source));
  const auto [dir, last] = SplitLastComponent(stripped);
  if (mode == NameMode::kLiteral || !HasWildcard(last) || destination.empty()) return 0;
  std::string dest = NativePath(destination);
  if (!IsPathSeparator(dest.back())) dest += kPathSeparator;
  return CompareTree(fs, JoinPath(dir, ""), dest);
}

int CompareTree(FileSystem& fs, const std::string& source_dir, const std::string& destination_dir,
                TreeCounters* counters) {
  TreeCounters local;
  bool readable = true;
  CompareLevel(fs, source_dir, destination_dir, &local, 0, &readable);
  if (counters != nullptr) {
    counters->files_seen += local.files_seen;
    counters->files_matched += local.files_matched;
    counters->directories_seen += local.directories_seen;
    counters->directories_matched += local.directories_matched;
  }
  if (!readable) return 0;
  return local.files_seen == local.files_matched &&
                 local.directories_seen == local.directories_matched
             ? 1
             : 0;
}

bool FileMatches(FileSystem& fs, const std::string& directory, const std::string& name,
                 const DirEntry& source_entry) {
  const std::string resolved = fs.Resolve(directory);
  DirEntry entry = source_entry;
  entry.name = name;
  return EntryMatches(fs, resolved, NamesOf(fs, resolved), entry);
}

bool FindFiles(FileSystem& fs, const std::string& pattern_path, std::vector<DirEntry>* entries,
               FsError* error) {
  entries->clear();
  const auto [dir, last] = SplitLastComponent(NativePath(pattern_path));
  if (last.empty()) {
    Fail(error, "no file name in search", pattern_path, FsReason::kInvalidName);
    return false;
  }
  const std::string folder = fs.Resolve(dir);
  std::vector<std::string> names;
  if (!fs.ListFolder(folder, &names, error)) return false;
  DirEntry entry;
  if (!HasWildcard(last)) {
    // Only the entry Windows would find: the exact spelling first, else the
    // first match ignoring case.
    const std::string* found = nullptr;
    for (const std::string& name : names) {
      if (name == last) {
        found = &name;
        break;
      }
      if (found == nullptr && EqualsIgnoreCase(name, last)) found = &name;
    }
    if (found != nullptr && Describe(fs, folder, *found, &entry)) entries->push_back(entry);
    return true;
  }
  for (const std::string& name : names) {
    if (WildcardMatch(last, name) && Describe(fs, folder, name, &entry)) entries->push_back(entry);
  }
  return true;
}

bool PathExists(FileSystem& fs, const std::string& path) {
  return !path.empty() && fs.Stat(fs.Resolve(path)).exists;
}

bool IsDirectory(FileSystem& fs, const std::string& path) {
  return !path.empty() && fs.Stat(fs.Resolve(path)).is_directory;
}

bool IsRegularFile(FileSystem& fs, const std::string& path) {
  return !path.empty() && fs.Stat(fs.Resolve(path)).is_regular;
}

bool DeleteSingleFile(FileSystem& fs, const std::string& path, FsError* error) {
  const std::string target = fs.Resolve(path);
  const FileStatus status = fs.Stat(target, FollowLinks::kNo);
  if (!status.exists) {
    SetFsError(error, "cannot delete", target, status.reason);
    return false;
  }
  if (status.is_directory) {
    Fail(error, "cannot delete a folder as a file:", target, FsReason::kIsFolder);
    return false;
  }
  return fs.RemoveFile(target, error);
}

bool SetReadOnly(FileSystem& fs, const std::string& path, bool read_only, FsError* error) {
  return fs.SetReadOnlyFlag(fs.Resolve(path), read_only, error);
}

bool IsReadOnly(FileSystem& fs, const std::string& path) {
  return !path.empty() && fs.Stat(fs.Resolve(path)).read_only;
}

}  // namespace kestrin
