// Paths of the steps that copy bundle folders into Korvane folders.
#ifndef KESTRIN_STEPS_STEP_PATHS_H_
#define KESTRIN_STEPS_STEP_PATHS_H_

#include <string>
#include <string_view>

namespace kestrin {

// `dir` (with or without its trailing separator) followed by "/" and `name`.
std::string JoinPath(std::string_view dir, std::string_view name);

// A bundle folder below BundleTempDir ("<temp>/HELP/"), ending with "/".
std::string BundleFolder(const std::string& bundle_temp_dir, std::string_view folder);

// A file or folder name that a bundle's description gives for a place
// inside a destination folder, as a relative native path. Refused (with the
// reason) are names that could leave the folder (absolute, drive letters,
// ".." components, see host/safe_path.h) and names no file system here can
// hold or no real bundle gives (a component of more than 255 bytes, more
// than 259 characters in all).
bool NameInsideFolder(std::string_view name, std::string* relative, std::string* reason);

// A number text read the way atoi reads it: leading blanks, a sign, then
// digits up to the first other character; true when that number is not 0.
// Values too large for an int count as not 0.
bool NumberIsNotZero(std::string_view text);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_STEP_PATHS_H_
