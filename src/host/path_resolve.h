// Case-insensitive path lookup on a case-sensitive file system.
//
// Kestrin works with paths that come from a Windows world: upper-cased
// command-line arguments, cabinet names in any letter case, folder names from
// an "hw.ini". These helpers find the entry that Windows would have found.
#ifndef KESTRIN_HOST_PATH_RESOLVE_H_
#define KESTRIN_HOST_PATH_RESOLVE_H_

#include <string>
#include <string_view>
#include <utility>

namespace kestrin {

// The native separator the code joins folders and names with, every
// character that ends a folder name ("/" is one on Windows too), and the
// forms of an absolute path ("/x"; on Windows "C:\x" or "\\server\share").
// Each platform's back end (path_resolve_posix.cc, path_resolve_win32.cc)
// defines them.
extern const char kPathSeparator;
extern const char* const kPathSeparators;
bool IsPathSeparator(char c);
bool IsAbsolutePath(std::string_view path);
// The length of the root at the start of `path`: "/" on POSIX; "C:\", "C:"
// "\\server\share\" or a leading "\" on Windows; 0 for a relative path.
size_t RootLength(std::string_view path);
// `path` with the native separator wherever it holds a separator.
std::string NativePath(std::string path);

// `dir` followed by a separator (unless it ends with one or is empty) and
// `name`.
std::string JoinPath(std::string_view dir, std::string_view name);
// `path` split into its folder and its last component: "a/b/c" gives "a/b"
// and "c", "c" gives "." and "c", and a root keeps its separator ("/c" gives
// "/", "C:\c" gives "C:\").
std::pair<std::string, std::string> SplitLastComponent(const std::string& path);
// `path` without trailing separators, its root left whole.
std::string StripTrailingSeparators(std::string path);
// The last component of `path` (the whole text when it holds no separator).
std::string FileNameOf(std::string_view path);

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
