#include <algorithm>
#include <utility>

#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

void SetError(FsError* error, const std::string& what, const std::string& path, DWORD code) {
  if (error == nullptr || !error->text.empty()) return;  // keep the first failure
  error->path = path;
  error->text = what + " " + path;
  if (code != ERROR_SUCCESS) error->text += ": " + Win32ErrorText(code);
}

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back()) && path[path.size() - 2] != ':') {
    path.pop_back();
  }
  return path;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (IsPathSeparator(dir.back())) return dir + name;
  return dir + "\\" + name;
}

// Splits "a\b\c" into "a\b" and "c"; "c" gives "." and "c"; "C:\c" gives "C:\".
std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return {".", path};
  if (slash == 0 || (slash == 2 && path[1] == ':')) {
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
  }
  return {path.substr(0, slash), path.substr(slash + 1)};
}

bool IsRoot(const std::string& path) {
  return path == "\\" || (path.size() <= 3 && path.size() >= 2 && path[1] == ':');
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(WinPath(path).c_str()); }

bool IsDir(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t EntrySize(const WIN32_FIND_DATAA& data) {
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The entries of a folder, "." and ".." left out, sorted by name in byte order.
bool ListFolder(const std::string& dir, std::vector<WIN32_FIND_DATAA>* entries, DWORD* code) {
  entries->clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(WinPath(Join(dir, "*")).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    *code = GetLastError();
    return *code == ERROR_FILE_NOT_FOUND && IsDir(Attributes(dir));
  }
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") entries->push_back(data);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(entries->begin(), entries->end(), [](const auto& a, const auto& b) {
    return std::string_view(a.cFileName) < std::string_view(b.cFileName);
  });
  return true;
}

bool ClearReadOnly(const std::string& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return true;
  }
  return SetFileAttributesA(WinPath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// Removes a file or a folder with everything in it; read-only entries too,
// as the shell's delete without confirmation does.
bool RemoveTree(const std::string& path, FsError* error, int depth) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetError(error, "cannot delete", path, GetLastError());
    return false;
  }
  ClearReadOnly(path, attributes);
  const bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!IsDir(attributes)) {
    if (!DeleteFileA(WinPath(path).c_str())) {
      SetError(error, "cannot delete", path, GetLastError());
      return false;
    }
    return true;
  }
  bool ok = true;
  if (!is_link) {
    if (depth >= kMaxTreeDepth) {
      SetError(error, "folder tree too deep:", path, ERROR_CANT_RESOLVE_FILENAME);
      return false;
    }
    std::vector<WIN32_FIND_DATAA> entries;
    DWORD code = ERROR_SUCCESS;
    if (!ListFolder(path, &entries, &code)) {
      SetError(error, "cannot read folder", path, code);
      return false;
    }
    for (const auto& entry : entries) ok = RemoveTree(Join(path, entry.cFileName), error, depth + 1) && ok;
  }
  if (ok && !RemoveDirectoryA(WinPath(path).c_str())) {
    SetError(error, "cannot delete folder", path, GetLastError());
    return false;
  }
  return ok;
}

bool SamePath(const std::string& a, const std::string& b) {
  char full_a[MAX_PATH * 4];
  char full_b[MAX_PATH * 4];
  if (GetFullPathNameA(WinPath(a).c_str(), sizeof full_a, full_a, nullptr) == 0 ||
      GetFullPathNameA(WinPath(b).c_str(), sizeof full_b, full_b, nullptr) == 0) {
    return false;
  }
  return EqualsIgnoreCase(full_a, full_b);
}

// Copies one file onto `target` through a temporary file beside it and a
// rename, so the old file stays whole until the new one is complete. The
// copy keeps the source's attributes and time stamps (CopyFileA).
bool CopyOneFile(const std::string& source, const std::string& target, FsError* error) {
  if (SamePath(source, target)) return true;
  const std::string native = WinPath(target);
  const auto [dir, name] = SplitLast(native);
  std::string temp;
  for (unsigned attempt = 0;; ++attempt) {
    std::string temp_name(1, '.');
    temp_name.append(name).append(".tmp-").append(std::to_string(GetCurrentProcessId()));
    temp_name.append("-").append(std::to_string(attempt));
    temp = Join(dir, temp_name);
    if (CopyFileA(WinPath(source).c_str(), temp.c_str(), TRUE)) break;
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS || attempt > 100) {
      SetError(error, "cannot copy " + source + " to", target, code);
      return false;
    }
  }
  ClearReadOnly(temp, GetFileAttributesA(temp.c_str()));
  ClearReadOnly(native, GetFileAttributesA(native.c_str()));
  if (!MoveFileExA(temp.c_str(), native.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileA(temp.c_str());
    SetError(error, "cannot replace", target, code);
    return false;
  }
  const DWORD source_attributes = Attributes(source);
  if (source_attributes != INVALID_FILE_ATTRIBUTES &&
      (source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(native.c_str(), GetFileAttributesA(native.c_str()) | FILE_ATTRIBUTE_READONLY);
  }
  return true;
}

bool EnsureFolder(const std::string& dir, FsError* error) {
  if (IsDir(Attributes(dir))) return true;
  return CreateDirectoryTree(dir, error) == 1;
}

bool CopyEntry(const std::string& from, const std::string& to_dir, const std::string& name,
               FsError* error, int depth);

// Copies the entries of `from` that match `pattern` (all when null) into `to`.
bool CopyContents(const std::string& from, const std::string& to, const std::string* pattern,
                  FsError* error, int depth) {
  std::vector<WIN32_FIND_DATAA> entries;
  DWORD code = ERROR_SUCCESS;
  if (!ListFolder(from, &entries, &code)) {
    SetError(error, "cannot read folder", from, code);
    return false;
  }
  bool ok = true;
  for (const auto& entry : entries) {
    if (pattern != nullptr && !WildcardMatch(*pattern, entry.cFileName)) continue;
    ok = CopyEntry(Join(from, entry.cFileName), to, entry.cFileName, error, depth) && ok;
  }
  return ok;
}

bool CopyEntry(const std::string& from, const std::string& to_dir, const std::string& name,
               FsError* error, int depth) {
  const std::string to = Join(to_dir, name);
  if (!IsDir(Attributes(from))) return CopyOneFile(from, to, error);
  if (depth >= kMaxTreeDepth) {
    SetError(error, "folder tree too deep:", from, ERROR_CANT_RESOLVE_FILENAME);
    return false;
  }
  if (SamePath(from, to)) return true;
  if (!EnsureFolder(to, error)) return false;
  return CopyContents(from, to, nullptr, error, depth + 1);
}

}  // namespace

int DeleteFiles(const std::string& path, FsError* error, NameMode mode) {
  if (path.empty()) {
    SetError(error, "nothing to delete: empty path", "", ERROR_SUCCESS);
    return 0;
  }
  const std::string stripped = StripTrailingSeparators(WinPath(path));
  const auto [dir, last] = SplitLast(stripped);
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    if (IsRoot(dir)) {
      SetError(error, "refusing to delete the contents of", dir, ERROR_SUCCESS);
      return 0;
    }
    std::vector<WIN32_FIND_DATAA> entries;
    DWORD code = ERROR_SUCCESS;
    if (!ListFolder(dir, &entries, &code)) {
      SetError(error, "cannot read folder", dir, code);
      return 0;
    }
    bool ok = true;
    for (const auto& entry : entries) {
      if (WildcardMatch(last, entry.cFileName)) ok = RemoveTree(Join(dir, entry.cFileName), error, 0) && ok;
    }
    return ok ? 1 : 0;
  }
  if (IsRoot(stripped)) {
    SetError(error, "refusing to delete", stripped, ERROR_SUCCESS);
    return 0;
  }
  return RemoveTree(stripped, error, 0) ? 1 : 0;
}

int CreateDirectoryTree(const std::string& path, FsError* error) {
  if (path.empty()) {
    SetError(error, "cannot create folder: empty path", "", ERROR_SUCCESS);
    return 0;
  }
  const std::string target = StripTrailingSeparators(WinPath(path));
  const DWORD attributes = Attributes(target);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetError(error, IsDir(attributes) ? "folder exists already:" : "a file is in the way:", target,
             IsDir(attributes) ? ERROR_ALREADY_EXISTS : ERROR_DIRECTORY);
    return 0;
  }
  // Create each missing level from the top down (a drive or share root
  // exists or does not; it is never created).
  size_t pos = 0;
  if (target.size() >= 2 && target[1] == ':') pos = 3;
  if (target.rfind("\\\\", 0) == 0) {
    pos = target.find('\\', 2);
    pos = pos == std::string::npos ? target.size() : target.find('\\', pos + 1);
  }
  while (pos != std::string::npos && pos <= target.size()) {
    const size_t slash = target.find('\\', pos);
    const std::string prefix = target.substr(0, slash);
    if (!prefix.empty() && !IsDir(Attributes(prefix)) && !CreateDirectoryA(prefix.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      SetError(error, "cannot create folder", prefix, GetLastError());
      return 0;
    }
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  if (!IsDir(Attributes(target))) {
    SetError(error, "cannot create folder", target, ERROR_DIRECTORY);
    return 0;
  }
  return 1;
}

int CopyFiles(const std::string& source, const std::string& destination, FsError* error,
              NameMode mode) {
  if (source.empty() || destination.empty()) {
    SetError(error, "cannot copy: empty path", source.empty() ? destination : source, ERROR_SUCCESS);
    return 0;
  }
  const std::string stripped = StripTrailingSeparators(WinPath(source));
  const auto [dir, last] = SplitLast(stripped);
  const std::string dest = StripTrailingSeparators(WinPath(destination));
  if (mode == NameMode::kPattern && HasWildcard(last)) {
    if (!IsDir(Attributes(dir))) {
      SetError(error, "no such folder:", dir, ERROR_PATH_NOT_FOUND);
      return 0;
    }
    if (!EnsureFolder(dest, error)) return 0;
    return CopyContents(dir, dest, &last, error, 0) ? 1 : 0;
  }
  const DWORD source_attributes = Attributes(stripped);
  if (source_attributes == INVALID_FILE_ATTRIBUTES) {
    SetError(error, "cannot copy", stripped, GetLastError());
    return 0;
  }
  const DWORD dest_attributes = Attributes(dest);
  if (!IsDir(source_attributes) && dest_attributes != INVALID_FILE_ATTRIBUTES && !IsDir(dest_attributes)) {
    return CopyOneFile(stripped, dest, error) ? 1 : 0;  // file onto a named file
  }
  if (!EnsureFolder(dest, error)) return 0;
  return CopyEntry(stripped, dest, last, error, 0) ? 1 : 0;
}

int CopyFilesChecked(const std::string& source, const std::string& destination,
                     int /*extra_flags*/, int verify, FsError* error, NameMode mode) {
  if (CopyFiles(source, destination, error, mode) == 1) return 1;
  if (verify != 1) return 0;
  const std::string stripped = StripTrailingSeparators(WinPath(source));
  const auto [dir, last] = SplitLast(stripped);
  if (mode == NameMode::kLiteral || !HasWildcard(last) || destination.empty()) return 0;
  std::string dest = WinPath(destination);
  if (dest.back() != '\\') dest += '\\';
  return CompareTree(Join(dir, ""), dest);
}

bool FileMatches(const std::string& directory, const std::string& name,
                 const DirEntry& source_entry) {
  if (HasWildcard(name)) return false;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(WinPath(Join(directory, name)).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  // The name must be spelt exactly so: another letter case is no match.
  if (name != data.cFileName) return false;
  const bool is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_dir != source_entry.is_directory) return false;
  return is_dir || EntrySize(data) == source_entry.size;
}

bool FindFiles(const std::string& pattern_path, std::vector<DirEntry>* entries, FsError* error) {
  entries->clear();
  const auto [dir, last] = SplitLast(WinPath(pattern_path));
  if (last.empty()) {
    SetError(error, "no file name in search", pattern_path, ERROR_INVALID_NAME);
    return false;
  }
  std::vector<WIN32_FIND_DATAA> found;
  DWORD code = ERROR_SUCCESS;
  if (!ListFolder(dir, &found, &code)) {
    SetError(error, "cannot read folder", dir, code);
    return false;
  }
  const bool pattern = HasWildcard(last);
  const WIN32_FIND_DATAA* first_match = nullptr;
  for (const auto& data : found) {
    if (pattern ? !WildcardMatch(last, data.cFileName) : !EqualsIgnoreCase(last, data.cFileName)) {
      continue;
    }
    if (!pattern) {
      // Only the entry Windows would find: the exact spelling first, else
      // the first match ignoring case.
      if (first_match == nullptr || last == data.cFileName) first_match = &data;
      continue;
    }
    const bool is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(DirEntry{data.cFileName, is_dir, is_dir ? 0 : EntrySize(data), !is_dir});
  }
  if (first_match != nullptr) {
    const bool is_dir = (first_match->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(
        DirEntry{first_match->cFileName, is_dir, is_dir ? 0 : EntrySize(*first_match), !is_dir});
  }
  return true;
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) { return IsDir(Attributes(path)); }

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !IsDir(attributes) &&
         (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool DeleteSingleFile(const std::string& path, FsError* error) {
  const std::string target = WinPath(path);
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetError(error, "cannot delete", target, GetLastError());
    return false;
  }
  if (IsDir(attributes)) {
    SetError(error, "cannot delete a folder as a file:", target, ERROR_DIRECTORY);
    return false;
  }
  ClearReadOnly(target, attributes);
  if (!DeleteFileA(target.c_str())) {
    SetError(error, "cannot delete", target, GetLastError());
    return false;
  }
  return true;
}

bool SetReadOnly(const std::string& path, bool read_only, FsError* error) {
  const std::string target = WinPath(path);
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetError(error, "cannot change attributes of", target, GetLastError());
    return false;
  }
  DWORD wanted = read_only ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  if (wanted != attributes && !SetFileAttributesA(target.c_str(), wanted)) {
    SetError(error, "cannot change attributes of", target, GetLastError());
    return false;
  }
  return true;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace kestrin
