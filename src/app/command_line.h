// The Windows-style raw command line: rebuilding it from argv, and parsing it
// into the switches and bundle arguments of a run.
#ifndef KESTRIN_APP_COMMAND_LINE_H_
#define KESTRIN_APP_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace kestrin {

// What the switches of the command line set.
struct tCommandLineSwitches {
  bool SilentMode = false;        // "/s"
  bool ForceOverwrite = false;    // "/f"
  bool RecoverTemplates = false;  // "/r"
  std::string BinDir;             // "/i=DIR"
};

// Joins the arguments (without the program name) into the text Windows would
// hand to the program: arguments holding a blank or a tab are quoted, an
// argument starting with "/i=" (any case) keeps that prefix outside the
// quotes, empty arguments are dropped. An argument holding a double quote
// cannot be written that way: then the result is false and *error says which.
bool RebuildCommandLine(const std::vector<std::string>& args, std::string* command_line,
                        std::string* error);

// Parses the raw command line: sets the switches in *switches and appends the
// bundle arguments, in order, to *bundles. Returns the number appended.
// Switches compare ignoring case; any other token is a bundle argument. A
// value that starts with a double quote runs to the next double quote (blanks
// included) and the character right after the closing quote is skipped; an
// unclosed quote runs to the end of the text. An empty quoted value adds no
// bundle argument.
int ParseCommandLine(const std::string& command_line, tCommandLineSwitches* switches,
                     std::vector<std::string>* bundles);

}  // namespace kestrin

#endif  // KESTRIN_APP_COMMAND_LINE_H_
