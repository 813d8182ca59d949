// Starting programs from a Windows-style command line.
//
// The command line keeps its Windows form: the program is found the way
// CreateProcessA finds it and the arguments are split the way the child's
// C runtime (msvcrt) splits them; the child then runs with posix_spawn.
#ifndef KESTRIN_HOST_PROCESS_H_
#define KESTRIN_HOST_PROCESS_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// Splits a command line into argv as msvcrt does: blanks and tabs separate;
// a run of n backslashes before a '"' gives n/2 backslashes, and for odd n a
// literal '"'; otherwise '"' toggles quoting, and inside quotes '""' gives
// one '"' and stays quoted; backslashes elsewhere are literal; an unclosed
// quote runs to the end. argv[0] starts at the first character (leading
// blanks give an empty argv[0]); the result always holds argv[0].
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// The command line this process was started with, as the system hands it
// over, less the program name and the blanks after it: on Windows the text
// of GetCommandLineA; elsewhere there is none (the caller rebuilds it from
// argv).
std::optional<std::string> OwnCommandLineArguments();

struct ProcessResult;

struct ProcessOptions {
  // Wait for the child to end (its exit code is then known). Without it
  // the child is left running and reaped at a later start.
  bool wait = true;
  // Where a program named without any folder is looked for first, before
  // the current directory and PATH; empty: the folder of the running
  // executable, as on Windows.
  std::string application_dir;
  // Called once the child runs, before the wait (the result then holds
  // `started` and `program`), so a caller can report what runs while it runs.
  std::function<void(const ProcessResult&)> on_started;
};

// Finds the program a command line starts, as CreateProcessA does: a first
// token in quotes names the program up to the closing quote (no closing
// quote: nothing found); otherwise the shortest blank-separated prefix of
// the line that names an existing file. Each candidate is tried as written
// and, when its last component has no extension, with ".exe" added.
// "\" counts as a separator and every candidate is looked up ignoring
// letter case. A candidate without any folder is looked for in
// `application_dir`, the current directory and the PATH folders, in that
// order. Result: the program's native path, or empty with `reason` set.
std::string FindProgram(std::string_view command_line, const ProcessOptions& options,
                        std::string* reason);

struct ProcessResult {
  bool started = false;  // false: "could not start" (see error)
  std::string program;   // the program found (empty if none)
  std::string error;     // why it could not start: "program not found: ...", the system's reason
  // When waited for: the exit status, or 128 + the signal number that ended
  // the child (then `signaled` is set).
  int exit_code = -1;
  bool signaled = false;
};

// Starts the command line (and waits, as `options` says). The child gets the
// split arguments, this process's environment, current directory and
// standard streams.
ProcessResult RunProcess(std::string_view command_line, const ProcessOptions& options = {});

}  // namespace kestrin

#endif  // KESTRIN_HOST_PROCESS_H_
