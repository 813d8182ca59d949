// The file system on Win32. Names are found ignoring case by the system
// itself; a file is replaced by copying it beside its target and moving it
// over (write-through), read-only targets included. Every call takes its
// path through LongPath (the wide calls, "\\?\" beyond MAX_PATH), so a
// bundle folder or a Korvane may lie at any depth.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

void SetError(FsError* error, const std::string& what, const std::string& path, DWORD code) {
  SetFsError(error, what, path, code != ERROR_SUCCESS ? Win32ErrorText(code) : std::string());
}

bool ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return true;
  }
  return SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// The full path in one letter case: equal for two spellings of one entry.
std::string Identity(const std::string& path) {
  const std::wstring wide = WideText(WinPath(path));
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  const DWORD m = n > 0 ? GetFullPathNameW(wide.c_str(), n, full.data(), nullptr) : 0;
  std::string text = m > 0 && m < n ? NarrowText(full.c_str()) : path;
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class Win32FileSystem : public FileSystem {
 public:
  // The system finds names ignoring case itself; the last component takes
  // the spelling it has on disk, as the shell's copy names what it copies.
  std::string Resolve(std::string_view path) override {
    std::string native = ResolvePath(path);
    const std::string stripped = StripTrailingSeparators(native);
    const std::string name = SplitLastComponent(stripped).second;
    if (name.empty() || name == "." || name == ".." || HasWildcard(name)) return native;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(LongPath(stripped).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return native;
    FindClose(find);
    const std::string found = NarrowText(data.cFileName);
    if (!EqualsIgnoreCase(found, name)) return native;  // a short 8.3 name
    return native.replace(stripped.size() - name.size(), name.size(), found);
  }

  FileStatus Stat(const std::string& path, FollowLinks follow) override {
    FileStatus status;
    const std::string native = WinPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() ||
        !GetFileAttributesExW(LongPath(native).c_str(), GetFileExInfoStandard, &data)) {
      status.reason = Win32ErrorText(path.empty() ? ERROR_PATH_NOT_FOUND : GetLastError());
      return status;
    }
    const DWORD attributes = data.dwFileAttributes;
    status.exists = true;
    status.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.is_regular = !status.is_directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    status.is_link = follow == FollowLinks::kNo && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.identity = Identity(native);
    return status;
  }

  bool ListFolder(const std::string& dir, std::vector<std::string>* names,
                  FsError* error) override {
    names->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(LongPath(JoinPath(dir, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      // An empty folder finds nothing, not even itself.
      const DWORD code = GetLastError();
      const DWORD attributes = GetFileAttributesW(LongPath(dir).c_str());
      if (code == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
      }
      SetError(error, "cannot read folder", dir, code);
      return false;
    }
    do {
      const std::string name = NarrowText(data.cFileName);
      if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names->begin(), names->end());
    return true;
  }

  bool MakeFolder(const std::string& path, FsError* error) override {
    if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return true;
    SetError(error, "cannot create folder", path, GetLastError());
    return false;
  }

  bool RemoveFolder(const std::string& path, FsError* error) override {
    const std::wstring native = LongPath(path);
    ClearReadOnly(native);
    if (RemoveDirectoryW(native.c_str())) return true;
    SetError(error, "cannot delete folder", path, GetLastError());
    return false;
  }

  // As the shell's delete without confirmation: read-only files too.
  bool RemoveFile(const std::string& path, FsError* error) override {
    const std::wstring native = LongPath(path);
    ClearReadOnly(native);
    if (DeleteFileW(native.c_str())) return true;
    SetError(error, "cannot delete", path, GetLastError());
    return false;
  }

  // CopyFileA keeps the source's attributes and time stamps; the copy goes
  // beside the target under a name of its own and is moved over it.
  bool CopyRegularFile(const std::string& source, const std::string& target,
                       FsError* error) override {
    const auto [dir, name] = SplitLastComponent(WinPath(target));
    const std::wstring native = LongPath(target), from = LongPath(source);
    std::wstring temp;
    for (unsigned attempt = 0;; ++attempt) {
      std::string temp_name = TemporaryCopyPrefix(name);
      temp_name.append(std::to_string(GetCurrentProcessId()));
      temp_name.append("-").append(std::to_string(attempt));
      temp = LongPath(JoinPath(dir, temp_name));
      if (CopyFileW(from.c_str(), temp.c_str(), TRUE)) break;
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_EXISTS || attempt > 100) {
        SetError(error, "cannot copy " + source + " to", target, code);
        return false;
      }
    }
    ClearReadOnly(temp);
    ClearReadOnly(native);
    if (!MoveFileExW(temp.c_str(), native.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = GetLastError();
      DeleteFileW(temp.c_str());
      SetError(error, "cannot replace", target, code);
      return false;
    }
    const DWORD source_attributes = GetFileAttributesW(from.c_str());
    if (source_attributes != INVALID_FILE_ATTRIBUTES &&
        (source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(native.c_str(),
                         GetFileAttributesW(native.c_str()) | FILE_ATTRIBUTE_READONLY);
    }
    return true;
  }

  // Every copy is in place (and written through) when CopyFile returns.
  bool FinishCopies(FsError*) override { return true; }

  bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) override {
    const std::wstring target = LongPath(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      SetError(error, "cannot change attributes of", WinPath(path), GetLastError());
      return false;
    }
    DWORD wanted =
        read_only ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (wanted != attributes && !SetFileAttributesW(target.c_str(), wanted)) {
      SetError(error, "cannot change attributes of", WinPath(path), GetLastError());
      return false;
    }
    return true;
  }

  // The runtime's text mode, as AppendWithRuntime, on the wide path.
  bool AppendText(const std::string& path, std::string_view text) override {
    FILE* file = _wfopen(LongPath(path).c_str(), L"a");
    if (file == nullptr) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0) written = false;
    return written;
  }
};

}  // namespace

std::string TemporaryCopyPrefix(const std::string& target_name) { return "." + target_name + ".tmp-"; }

std::string FsReasonText(FsReason reason) {
  switch (reason) {
    case FsReason::kNone:
      return std::string();
    case FsReason::kNotFound:
      return Win32ErrorText(ERROR_PATH_NOT_FOUND);
    case FsReason::kExists:
      return Win32ErrorText(ERROR_ALREADY_EXISTS);
    case FsReason::kNotFolder:
      return Win32ErrorText(ERROR_DIRECTORY);
    case FsReason::kIsFolder:
      return Win32ErrorText(ERROR_DIRECTORY);
    case FsReason::kLoop:
      return Win32ErrorText(ERROR_CANT_RESOLVE_FILENAME);
    case FsReason::kInvalidName:
      return Win32ErrorText(ERROR_INVALID_NAME);
  }
  return std::string();
}

FileSystem& SystemFileSystem() {
  static Win32FileSystem fs;
  return fs;
}

}  // namespace kestrin
