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

}  // namespace kestrin

#endif  // KESTRIN_APP_PROGRAM_INFO_H_
