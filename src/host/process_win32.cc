// Starting programs with CreateProcessA, the command line passed as built.
#include <cstdlib>

#include "host/path_resolve.h"
#include "host/process.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ExecutableDir() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return {};
  std::string path(buffer, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ExistingFile(const std::string& candidate) {
  if (candidate.empty()) return {};
  const DWORD attributes = GetFileAttributesA(candidate.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  return candidate;
}

// Tries `name` as written and, without an extension, with ".exe" added; a
// name without a folder is looked for in the application folder, the
// current folder and the PATH folders.
std::string LookUp(const std::string& written, const ProcessOptions& options) {
  const std::string name = WinPath(written);
  if (name.empty() || name.back() == '\\') return {};
  const size_t slash = name.find_last_of("\\:");
  const bool has_extension =
      name.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
  std::vector<std::string> forms{name};
  if (!has_extension) forms.push_back(name + ".exe");
  std::vector<std::string> folders;
  if (slash == std::string::npos) {
    folders.push_back(options.application_dir.empty() ? ExecutableDir() : WinPath(options.application_dir));
    folders.push_back(".");
    if (const char* path = std::getenv("PATH")) {
      std::string_view rest(path);
      while (!rest.empty()) {
        const size_t semicolon = rest.find(';');
        const std::string_view folder = rest.substr(0, semicolon);
        if (!folder.empty()) folders.emplace_back(folder);
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
      }
    }
  } else {
    folders.emplace_back();
  }
  for (const std::string& folder : folders) {
    for (const std::string& form : forms) {
      std::string found = ExistingFile(folder.empty() ? form : folder + "\\" + form);
      if (!found.empty()) return found;
    }
  }
  return {};
}

}  // namespace

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

std::string FindProgram(std::string_view line, const ProcessOptions& options, std::string* reason) {
  auto fail = [&](std::string text) {
    if (reason != nullptr) *reason = std::move(text);
    return std::string();
  };
  if (line.empty()) return fail("empty command line");
  if (line.front() == '"') {
    const size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return fail("program not found: unclosed quote");
    const std::string name(line.substr(1, close - 1));
    std::string found = LookUp(name, options);
    return found.empty() ? fail("program not found: " + name) : found;
  }
  for (size_t end = 0; end <= line.size(); ++end) {
    if (end < line.size() && !IsBlank(line[end])) continue;
    if (end > 0 && end < line.size() && IsBlank(line[end - 1])) continue;
    if (end == 0) return fail("program not found: the command line starts with a blank");
    std::string found = LookUp(std::string(line.substr(0, end)), options);
    if (!found.empty()) return found;
  }
  const size_t blank = line.find_first_of(" \t");
  return fail("program not found: " + std::string(line.substr(0, blank)));
}

ProcessResult RunProcess(std::string_view command_line, const ProcessOptions& options) {
  ProcessResult result;
  result.program = FindProgram(command_line, options, &result.error);
  if (result.program.empty()) return result;

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
