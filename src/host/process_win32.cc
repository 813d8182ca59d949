// Starting programs with CreateProcessA, the command line passed as built.
#include <cstdlib>

#include "host/path_resolve.h"
#include "host/process.h"
#include "host/process_platform.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

namespace process_platform {

const char kSearchListSeparator = ';';
const char* const kFolderEnds = "\\:";  // after WinPath

std::string ApplicationDir(const ProcessOptions& options) {
  if (!options.application_dir.empty()) return WinPath(options.application_dir);
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return {};
  std::string path(buffer, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NativeProgramName(std::string written) { return WinPath(std::move(written)); }

std::string ExistingFile(const std::string& candidate) {
  if (candidate.empty()) return {};
  const DWORD attributes = GetFileAttributesW(LongPath(candidate).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  return candidate;
}

}  // namespace process_platform

std::optional<std::string> OwnCommandLineArguments() {
  const char* line = GetCommandLineA();
  if (line == nullptr) return std::string();
  std::string_view text(line);
  // The program name ends at the closing quote, or at the first blank when
  // it is not quoted (the rule of the C runtime for argv[0]).
  size_t end = 0;
  if (!text.empty() && text.front() == '"') {
    end = text.find('"', 1);
    end = end == std::string_view::npos ? text.size() : end + 1;
  } else {
    while (end < text.size() && !IsBlank(text[end])) ++end;
  }
  while (end < text.size() && IsBlank(text[end])) ++end;
  return std::string(text.substr(end));
}

ProcessResult RunProcess(std::string_view command_line, const ProcessOptions& options) {
  ProcessResult result;
  result.program = FindProgram(command_line, options, &result.error);
  if (result.program.empty()) return result;
  // CreateProcess takes no "\\?\" form: a program found deeper than
  // MAX_PATH cannot be started.
  if (result.program.size() >= MAX_PATH) {
    result.error = "cannot start " + result.program + ": " + BeyondMaxPath("starts a program from");
    return result;
  }

  // CreateProcessA may write into the command line: give it a copy.
  std::string line(command_line);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // A quoted program is passed by name as well, so that the program found
  // above is the one that runs.
  const bool quoted = command_line.front() == '"';
  if (!CreateProcessA(quoted ? result.program.c_str() : nullptr, line.data(), nullptr, nullptr,
                      TRUE, 0, nullptr, nullptr, &startup, &process)) {
    result.error = "cannot start " + result.program + ": " + Win32ErrorText(GetLastError());
    return result;
  }
  CloseHandle(process.hThread);
  result.started = true;
  if (options.on_started) options.on_started(result);
  if (options.wait) {
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code)) {
      result.exit_code = static_cast<int>(code);
    } else {
      result.error = "lost track of the child: " + Win32ErrorText(GetLastError());
    }
  }
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace kestrin
