// Paths and numbers of the steps that copy bundle folders into Korvane folders.
#ifndef KESTRIN_STEPS_STEP_PATHS_H_
#define KESTRIN_STEPS_STEP_PATHS_H_

#include <string>
#include <string_view>

#include "steps/step_context.h"

namespace kestrin {

// A bundle folder below BundleTempDir ("<temp>/HELP/"), ending with the separator.
std::string BundleFolder(const StepContext& context, std::string_view folder);
// The bundle's description file, "<temp>/hw.ini".
std::string DescriptionFile(const StepContext& context);

// A file or folder name that a bundle's description gives for a place
// inside a destination folder, as a relative native path. Refused (with the
// reason) are names that could leave the folder (absolute, drive letters,
// ".." components, see host/safe_path.h) and names no file system here can
// hold or no real bundle gives (a component of more than 255 bytes, more
// than 259 characters in all).
bool NameInsideFolder(std::string_view name, std::string* relative, std::string* reason);

// The registry key of a registry setting: the settings subkey followed by
// `name`, runs of "\" folded into one.
std::string FoldedSettingsKey(Host& host, std::string_view name);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_STEP_PATHS_H_
