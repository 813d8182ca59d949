#include <windows.h>

#include "host/journal_file.h"
#include "host/win32_util.h"

namespace kestrin {

bool JournalFile::Open(const std::string& path, std::string* error) {
  Close();
  HANDLE file = CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = "cannot open " + path + ": " + Win32ErrorText(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool JournalFile::Append(std::string_view text) {
  if (handle_ == -1) return false;
  const char* data = text.data();
  size_t size = text.size();
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 1u << 30 ? 1u << 30 : static_cast<DWORD>(size);
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool JournalFile::Sync() {
  return handle_ != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) != 0;
}

void JournalFile::Close() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool KeepFileContent(const std::string& source, const std::string& copy, std::string* error) {
  if (CreateHardLinkW(LongPath(copy).c_str(), LongPath(source).c_str(), nullptr)) return true;
  if (CopyFileW(LongPath(source).c_str(), LongPath(copy).c_str(), TRUE)) return true;
  if (error != nullptr) {
    *error = "cannot keep a copy of " + source + ": " + Win32ErrorText(GetLastError());
  }
  return false;
}

bool CopiesWaitForFinish() { return false; }

}  // namespace kestrin
