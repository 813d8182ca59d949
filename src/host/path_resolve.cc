#include "host/path_resolve.h"

#include <algorithm>

namespace kestrin {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Plain glob match of "*" and "?" ignoring ASCII case, with the DOS rule
// that a "?" may also match nothing at the end of the name or before a dot.
bool GlobMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t star_p = std::string_view::npos, star_n = 0;
  while (n < name.size() || p < pattern.size()) {
    if (p < pattern.size()) {
      const char pc = pattern[p];
      if (pc == '*') {
        star_p = p++;
        star_n = n;
        continue;
      }
      if (pc == '?') {
        if (n < name.size() && name[n] != '.') {
          ++p;
          ++n;
          continue;
        }
        if (n == name.size() || name[n] == '.') {
          ++p;  // matches nothing here
          continue;
        }
      } else if (n < name.size() && LowerAscii(pc) == LowerAscii(name[n])) {
        ++p;
        ++n;
        continue;
      }
    }
    if (star_p != std::string_view::npos && star_n < name.size()) {
      p = star_p + 1;
      n = ++star_n;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool HasWildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
    // "x.*": a name with any extension, or with none at all.
    return GlobMatch(pattern, name) || GlobMatch(pattern.substr(0, pattern.size() - 2), name);
  }
  if (!pattern.empty() && pattern.back() == '.') {
    // "x.": only names without an extension.
    return name.find('.') == std::string_view::npos &&
           GlobMatch(pattern.substr(0, pattern.size() - 1), name);
  }
  return GlobMatch(pattern, name);
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && !IsPathSeparator(path.back())) path += kPathSeparator;
  path += name;
  return path;
}

std::pair<std::string, std::string> SplitLastComponent(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return {".", path};
  if (slash < RootLength(path)) return {path.substr(0, slash + 1), path.substr(slash + 1)};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

std::string StripTrailingSeparators(std::string path) {
  const size_t root = std::max<size_t>(RootLength(path), 1);
  while (path.size() > root && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

std::string FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace kestrin
