// Turning a file name taken from a bundle into a path that stays inside its
// destination folder.
#ifndef KESTRIN_HOST_SAFE_PATH_H_
#define KESTRIN_HOST_SAFE_PATH_H_

#include <string>
#include <string_view>

namespace kestrin {

// Maps a name from a bundle ("\" or "/" as separators) to a native relative
// path (kPathSeparator between its parts, no leading or trailing one). Refused, with a
// reason, are names that could leave the destination folder or that Windows
// could not have created as a file there:
//   - empty names, and names that are only separators and "." components;
//   - absolute names ("\x", "/x", "\\server\share");
//   - any ":" (a drive letter "C:x", or a Windows stream name "a:b");
//   - a ".." component, and any component made of dots and blanks only
//     other than "." (Windows strips trailing dots and blanks, so ".. "
//     and "..." could mean ".." there);
//   - the characters < > " | ? * and control characters (NUL included).
// Accepted names are normalised the way Windows would store them: "."
// components and doubled separators are dropped, and trailing dots and
// blanks of each component are removed ("a.txt." becomes "a.txt", "b " becomes
// "b"); leading blanks stay.
bool SafeRelativePath(std::string_view name, std::string* relative, std::string* reason = nullptr);

}  // namespace kestrin

#endif  // KESTRIN_HOST_SAFE_PATH_H_
