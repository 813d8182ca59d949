#include <windows.h>

#include "host/file_lock.h"
#include "host/win32_util.h"

namespace kestrin {

// The file is opened for deletion on close: Windows removes it when the last
// handle (the holder's and any waiter's) is closed, so there is nothing to
// check after the lock is taken.
FileLock::Outcome FileLock::Take(const std::string& path, bool wait, std::string* error,
                                 unsigned long* system_error) {
  Release();
  auto fail = [&](DWORD code) {
    if (error != nullptr) *error = "cannot lock " + path + ": " + Win32ErrorText(code);
    if (system_error != nullptr) *system_error = code;
    return Outcome::kFailed;
  };
  HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(GetLastError());
  OVERLAPPED at{};
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Outcome::kBusy;
    return fail(code);
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  path_ = path;
  return Outcome::kHeld;
}

void FileLock::Release() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace kestrin
