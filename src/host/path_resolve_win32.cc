#include <utility>

#include "host/path_resolve.h"
#include "host/win32_util.h"

namespace kestrin {

const char kPathSeparator = '\\';
const char* const kPathSeparators = "\\/";

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolutePath(std::string_view path) {
  const bool letter =
      !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return (path.size() >= 3 && letter && path[1] == ':' && IsPathSeparator(path[2])) ||
         (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]));
}

size_t RootLength(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':')
    return path.size() >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // "\\server\share\": the server and the share belong to the root.
    size_t end = path.find_first_of(kPathSeparators, 2);
    if (end != std::string_view::npos) end = path.find_first_of(kPathSeparators, end + 1);
    return end == std::string_view::npos ? path.size() : end + 1;
  }
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

std::string NativePath(std::string path) { return WinPath(std::move(path)); }

// The Windows file system finds names ignoring case itself.
std::string ResolvePath(std::string_view path) { return NativePath(std::string(path)); }

}  // namespace kestrin
