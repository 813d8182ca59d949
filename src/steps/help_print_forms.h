// The help tree of Korvane: help pages registered as numbered keys below
// the settings subkey (HELPFILE_COUNT, HELPFILE_PATH<i>, HELPFILE_NODENAME<i>).
#ifndef KESTRIN_STEPS_HELP_PRINT_FORMS_H_
#define KESTRIN_STEPS_HELP_PRINT_FORMS_H_

#include <string>
#include <vector>

#include "host/host.h"

namespace kestrin {

// Key names below the settings subkey; the numbered ones get the number
// appended in decimal.
inline constexpr const char* kHelpCountKey = "BRWTREECTRL\\HELPFILE_COUNT";
inline constexpr const char* kHelpPathKey = "BRWTREECTRL\\HELPFILE_PATH";
inline constexpr const char* kHelpNodeNameKey = "BRWTREECTRL\\HELPFILE_NODENAME";

// The registered help pages as the help tree sees them: the count n (0 when
// missing or negative) and the paths of pages 1 to n that are set (a page
// without its key reads as the empty text and matches no path).
struct tHelpTree {
  int count = 0;
  std::vector<std::string> paths;
};
tHelpTree ReadHelpTree(Host& host);

// Whether one of the registered help pages 1 to n has `path`, compared
// without regard to letter case.
bool IsHelpPathRegistered(Host& host, const std::string& path);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_HELP_PRINT_FORMS_H_
