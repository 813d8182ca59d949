#ifndef KESTRIN_CTL_CTL_COMMAND_H_
#define KESTRIN_CTL_CTL_COMMAND_H_

// The commands of kestrinctl. Each command lives in a file of its own and
// defines one CtlCommand; kestrinctl.cc lists them and dispatches.

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ctl/exit_codes.h"

namespace kestrin::ctl {

struct CtlOutput {
  std::FILE* out = stdout;  // results (text or --json)
  std::FILE* err = stderr;  // errors and progress, one line each
};

struct CtlCommand {
  const char* name;
  const char* synopsis;  // the arguments after the name, for the usage lines
  const char* summary;   // one line for kestrinctl --help
  const char* help;      // what `kestrinctl NAME --help` prints after the usage line
  // Runs the command on the arguments after its name (--help is answered
  // before run is called).
  CtlExit (*run)(const std::vector<std::string>& args, CtlOutput& io);
};

// The command line of one command, taken apart: switches without a value,
// options with one ("--oem 7" or "--oem=7") and the operands in order.
struct ParsedArgs {
  std::set<std::string> switches;
  std::map<std::string, std::string> options;
  std::vector<std::string> operands;
};

// Parses `args` for `command`, which knows the switches and options named.
// "--" ends the options. On an unknown option or a missing value, writes
// "kestrinctl COMMAND: ..." to io.err and returns false.
bool ParseArgs(const char* command, const std::vector<std::string>& args,
               const std::set<std::string>& switches, const std::set<std::string>& options,
               ParsedArgs* parsed, CtlOutput& io);

// Every command, in the order of kestrinctl --help.
const std::vector<const CtlCommand*>& CtlCommands();

// kestrinctl with `args` (without the program name): the exit status.
int RunKestrinctl(const std::vector<std::string>& args, CtlOutput io);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_CTL_COMMAND_H_
