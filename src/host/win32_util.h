// Helpers shared by the Win32 back ends (the *_win32.cc files of this folder
// and of src/bundle); nothing else includes this header.
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

// The ANSI code page's text as UTF-16, and back (Kestrin's texts are narrow).
inline std::wstring WideText(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}
inline std::string NarrowText(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string narrow(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), n, nullptr, nullptr);
  narrow.resize(n - 1);
  return narrow;
}

// The longest path the plain forms of the file calls take: a folder to be
// created must leave room for an 8.3 name (MAX_PATH - 12), and the C
// runtime and the other calls stop at MAX_PATH - 1.
inline constexpr size_t kPlainPathLimit = MAX_PATH - 12;

// A path as the wide file calls (CreateFileW, FindFirstFileW, CopyFileW,
// _wopen, ...) are given it: WinPath, and a path too long for the plain
// form in the "\\?\" form ("\\?\UNC\server\share\..." for a share),
// which reaches any depth. That form is taken literally, so the path is
// made full first ("." and ".." resolved against the current folder, runs
// of separators collapsed, as the plain form would have read it).
inline std::wstring LongPath(const std::string& path) {
  std::wstring wide = WideText(WinPath(path));
  if (wide.size() < kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0 ||
      wide.rfind(L"\\\\.\\", 0) == 0) {
    return wide;
  }
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return wide;
  full.resize(m);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// Why a path of MAX_PATH characters or more is refused by a call that
// takes no "\\?\" form: "the path is longer than 259 characters, more than
// Windows <does>".
inline std::string BeyondMaxPath(const char* does) {
  return "the path is longer than " + std::to_string(MAX_PATH - 1) +
         " characters, more than Windows " + does;
}

// Whether a Win32 error means that a file or one of its folders is missing.
inline bool IsMissingError(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH;
}

}  // namespace kestrin

#endif  // KESTRIN_HOST_WIN32_UTIL_H_
