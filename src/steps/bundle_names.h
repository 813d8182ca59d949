// Names a bundle hands to the file steps (a library named in a definition
// file, an entry of a section of "hw.ini"), checked before they become paths.
#ifndef KESTRIN_STEPS_BUNDLE_NAMES_H_
#define KESTRIN_STEPS_BUNDLE_NAMES_H_

#include <string>
#include <string_view>

namespace kestrin {

// No Windows path is longer than this; a longer name cannot come from a
// real bundle.
inline constexpr size_t kMaxBundleNameLength = 259;

// The name as a relative native path that stays below the folder it is
// joined to, or false with the reason (absolute, drive letter, "..",
// characters no file name holds, empty, too long).
bool CheckBundleName(std::string_view name, std::string* relative, std::string* reason);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_BUNDLE_NAMES_H_
