// What `kestrin --help` and `kestrin --version` print.
#ifndef KESTRIN_APP_PROGRAM_INFO_H_
#define KESTRIN_APP_PROGRAM_INFO_H_

#include <optional>
#include <string>
#include <vector>

namespace kestrin {

// The text to print for an argument list (without the program name) that is
// exactly one "--help", "-h" or "--version"; nothing for any other list,
// which is an ordinary command line: there "--help" is a bundle argument
// like any other word, as the switches leave it.
std::optional<std::string> ProgramInfoText(const std::vector<std::string>& args);

// The platform's parts of the usage: where Kestrin finds Korvane, and why it
// refuses to start (program_info_posix.cc, program_info_win32.cc).
extern const char kUsagePlaces[];
extern const char kUsageRefusal[];

}  // namespace kestrin

#endif  // KESTRIN_APP_PROGRAM_INFO_H_
