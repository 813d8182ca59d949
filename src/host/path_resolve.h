// Case-insensitive path lookup on a case-sensitive file system.
//
// Kestrin works with paths that come from a Windows world: upper-cased
// command-line arguments, cabinet names in any letter case, folder names from
// an "hw.ini". These helpers find the entry that Windows would have found.
#ifndef KESTRIN_HOST_PATH_RESOLVE_H_
#define KESTRIN_HOST_PATH_RESOLVE_H_

#include <string>
#include <string_view>

namespace kestrin {

// The separator the steps use to join the folders they are given with names,
// and whether a character ends a folder name ("/" is one on Windows too).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
inline constexpr bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
// "C:\..." or "\\server\share\...".
inline constexpr bool IsAbsolutePath(std::string_view path) {
  const bool letter = !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return (path.size() >= 3 && letter && path[1] == ':' && IsPathSeparator(path[2])) ||
         (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]));
}
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
inline constexpr bool IsPathSeparator(char c) { return c == '/'; }
inline constexpr bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }
#endif

// ASCII-only case-insensitive comparison (bytes >= 0x80 compare exactly).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// text with A-Z turned into a-z; other bytes unchanged.
std::string AsciiLower(std::string_view text);

// Resolves `path` component by component: in each folder an entry of exactly
// that name wins; otherwise the entry whose name matches ignoring ASCII case,
// and among several such entries the first in byte order. Once a component
// has no match at all, it and every later component keep the given spelling,
// so the result also names where a new file or folder should be created
// (no "DRV.CAB" beside an existing "drv.cab"). "." and ".." are kept as they
// are. Separators are "/"; runs of them collapse to one, a trailing one is
// kept. An empty path stays empty.
std::string ResolvePath(std::string_view path);

// Whether a single name matches a file-search pattern the way a Windows
// directory search matches it: "*" any run of characters, "?" one character
// other than a dot, or nothing at the end of the name or before a dot;
// letters compared ignoring ASCII case. A pattern ending in ".*" also matches
// the name without that extension ("*.*" matches "README", "abc.*" matches
// "abc"); a pattern ending in a single "." matches only names without a dot
// ("*." matches "README", not "a.txt"). Windows also tries 8.3 short names;
// there are none here, so "*.cab" does not match "x.cabinet".
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Whether `name` holds a "*" or "?".
bool HasWildcard(std::string_view name);

}  // namespace kestrin

#endif  // KESTRIN_HOST_PATH_RESOLVE_H_
