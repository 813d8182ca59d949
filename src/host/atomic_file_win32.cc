#include <cstdlib>

#include "host/atomic_file.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileResult Fail(FileError error, const char* what, const std::string& path, DWORD code) {
  FileResult result;
  result.error = error;
  result.message = std::string(what) + " " + path + ": " + Win32ErrorText(code);
  return result;
}

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  void reset(HANDLE h) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

// The sidecar "<file>.lock", locked exclusively with LockFileEx for the
// object's lifetime (closing the handle releases it).
class SidecarLock {
 public:
  DWORD Acquire(const std::string& lock_path) {
    file_.reset(CreateFileW(LongPath(lock_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.valid()) return GetLastError();
    OVERLAPPED at{};
    if (!LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) return GetLastError();
    return ERROR_SUCCESS;
  }

 private:
  Handle file_;
};

void PauseForTests() {
  const char* marker = std::getenv(kPauseBeforeRenameVariable);
  if (marker == nullptr || *marker == '\0') return;
  Handle h(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  Sleep(60000);
}

}  // namespace

StagedFile::~StagedFile() {
  if (handle_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    DeleteFileW(LongPath(temp_).c_str());
  }
}

FileResult StagedFile::Open(const std::string& path) {
  target_ = WinPath(path);
  const std::string dir = DirName(target_);
  std::string prefix(1, '.');
  prefix.append(BaseName(target_)).append(".tmp-");
  for (unsigned attempt = 0;; ++attempt) {
    temp_ = dir + "\\" + prefix + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
    const HANDLE h = CreateFileW(LongPath(temp_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      return {};
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS || attempt > 100) {
      return Fail(FileError::kWriteFailed, "cannot create a temporary file beside", target_, code);
    }
  }
}

FileResult StagedFile::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes + done, chunk, &written, nullptr) ||
        written == 0) {
      DWORD code = GetLastError();
      if (code == ERROR_SUCCESS) code = ERROR_WRITE_FAULT;
      return Fail(FileError::kWriteFailed, "cannot write", target_, code);
    }
    done += written;
  }
  return {};
}

FileResult StagedFile::Commit() {
  Handle file(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  DWORD code = ERROR_SUCCESS;
  if (!FlushFileBuffers(file.get())) code = GetLastError();
  file.reset(INVALID_HANDLE_VALUE);
  if (code != ERROR_SUCCESS) {
    DeleteFileW(LongPath(temp_).c_str());
    return Fail(FileError::kWriteFailed, "cannot write", target_, code);
  }
  const DWORD attributes = GetFileAttributesW(LongPath(target_).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesW(LongPath(temp_).c_str(),
                       attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  PauseForTests();
  if (!MoveFileExW(LongPath(temp_).c_str(), LongPath(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    code = GetLastError();
    DeleteFileW(LongPath(temp_).c_str());
    return Fail(FileError::kWriteFailed, "cannot replace", target_, code);
  }
  return {};
}

// Windows programs see no symbolic links in the paths Kestrin writes.
std::string ResolveWriteTarget(const std::string& path) { return WinPath(path); }

FileResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  const std::string native = WinPath(path);
  const DWORD attributes = GetFileAttributesW(LongPath(native).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Fail(FileError::kUnreadable, "cannot read", path, ERROR_ACCESS_DENIED);
  }
  Handle file(CreateFileW(LongPath(native).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = GetLastError();
    if (IsMissingError(code)) return Fail(FileError::kMissing, "cannot find", path, code);
    return Fail(FileError::kUnreadable, "cannot read", path, code);
  }
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      const DWORD code = GetLastError();
      content.clear();
      return Fail(FileError::kUnreadable, "cannot read", path, code);
    }
    if (n == 0) break;
    content.append(buffer, n);
  }
  return {};
}

FileResult UpdateFileLocked(const std::string& path,
                            const std::function<EditAction(std::string& content, bool exists)>& edit) {
  const std::string target = ResolveWriteTarget(path);
  SidecarLock lock;
  if (const DWORD code = lock.Acquire(target + ".lock"); code != ERROR_SUCCESS) {
    if (IsMissingError(code)) return Fail(FileError::kFolderMissing, "cannot write", target, code);
    if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT) {
      return Fail(FileError::kReadOnly, "cannot lock", target + ".lock", code);
    }
    return Fail(FileError::kWriteFailed, "cannot lock", target + ".lock", code);
  }
  std::string content;
  FileResult read = ReadWholeFile(target, content);
  if (!read.ok() && read.error != FileError::kMissing) return read;
  const bool exists = read.ok();
  if (edit(content, exists) == EditAction::kKeep) return {};
  if (exists) {
    const DWORD attributes = GetFileAttributesW(LongPath(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return Fail(FileError::kWriteFailed, "cannot examine", target, GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Fail(FileError::kReadOnly, "cannot write", target, ERROR_ACCESS_DENIED);
    }
  }
  StagedFile file;
  FileResult result = file.Open(target);
  if (result.ok()) result = file.Write(content.data(), content.size());
  if (result.ok()) result = file.Commit();
  return result;
}

// NTFS journals its folder entries itself.
bool SyncFolder(const std::string&) { return true; }

// The rename is written through to disk by MoveFileEx itself: no folder
// waits for a flush.
void DeferFolderFlushes() {}
bool FlushDeferredFolders() { return true; }

FileResult WriteFileAtomically(const std::string& path, const std::string& content) {
  return UpdateFileLocked(path, [&](std::string& current, bool) {
    current = content;
    return EditAction::kWrite;
  });
}

}  // namespace kestrin
