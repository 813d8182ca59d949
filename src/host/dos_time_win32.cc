#include "host/dos_time.h"
#include "host/win32_util.h"

namespace kestrin {

bool SetModificationTime(const std::string& path, time_t t, FsError* error) {
  const std::string target = WinPath(path);
  // FILETIME counts 100 ns steps from 1601-01-01 UTC.
  const uint64_t ticks = (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull;
  FILETIME modified{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  HANDLE file = CreateFileA(target.c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &modified);
  const DWORD code = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok && error != nullptr && error->text.empty()) {
    error->path = target;
    error->text = "cannot set the time of " + target + ": " + Win32ErrorText(code);
  }
  return ok;
}

}  // namespace kestrin
