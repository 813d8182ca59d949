// Helpers shared by the Win32 back end of this folder (the *_win32.cc files);
// nothing outside them includes this header.
#ifndef KESTRIN_HOST_WIN32_UTIL_H_
#define KESTRIN_HOST_WIN32_UTIL_H_

#include <windows.h>

#include <string>

namespace kestrin {

// The system's text for a Win32 error code, without the trailing line break.
inline std::string Win32ErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n > 0 && buffer != nullptr ? std::string(buffer, n) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

// A path as the Win32 calls are given it: "/" written as "\".
inline std::string WinPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Whether a Win32 error means that a file or one of its folders is missing.
inline bool IsMissingError(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH;
}

}  // namespace kestrin

#endif  // KESTRIN_HOST_WIN32_UTIL_H_
