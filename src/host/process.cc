#include "host/process.h"

#include <cstdlib>

#include "host/host.h"
#include "host/path_resolve.h"
#include "host/process_platform.h"

namespace kestrin {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Tries `written` as it stands and, without an extension, with ".exe"
// added; a name without a folder is looked for in the application folder,
// the current folder and the PATH folders, in that order.
std::string LookUp(const std::string& written, const ProcessOptions& options) {
  using namespace process_platform;
  const std::string name = NativeProgramName(written);
  if (name.empty() || IsPathSeparator(name.back())) return {};
  const size_t slash = name.find_last_of(kFolderEnds);
  const bool has_extension =
      name.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
  std::vector<std::string> forms{name};
  if (!has_extension) forms.push_back(name + ".exe");

  std::vector<std::string> folders;
  if (slash == std::string::npos) {
    folders.push_back(ApplicationDir(options));
    folders.push_back(".");
    if (const char* path = std::getenv("PATH")) {
      std::string_view rest(path);
      while (!rest.empty()) {
        const size_t end = rest.find(kSearchListSeparator);
        const std::string_view folder = rest.substr(0, end);
        if (!folder.empty()) folders.emplace_back(folder);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
      }
    }
  } else {
    folders.emplace_back();
  }
  for (const std::string& folder : folders) {
    for (const std::string& form : forms) {
      std::string found = ExistingFile(folder.empty() ? form : folder + kPathSeparator + form);
      if (!found.empty()) return found;
    }
  }
  return {};
}

}  // namespace

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
  // The shortest blank-separated prefix that names a file.
  for (size_t end = 0; end <= line.size(); ++end) {
    if (end < line.size() && !IsBlank(line[end])) continue;
    if (end > 0 && end < line.size() && IsBlank(line[end - 1])) continue;  // not the first blank of a run
    if (end == 0) return fail("program not found: the command line starts with a blank");
    std::string found = LookUp(std::string(line.substr(0, end)), options);
    if (!found.empty()) return found;
  }
  const size_t blank = line.find_first_of(" \t");
  return fail("program not found: " + std::string(line.substr(0, blank)));
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  bool first = true;
  for (;;) {
    if (!first) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i == line.size()) break;
    }
    first = false;
    std::string arg;
    bool quoted = false;
    while (i < line.size()) {
      const char c = line[i];
      if (c == '\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == '\\') {
          ++n;
          ++i;
        }
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';
            ++i;
          }
          // An even run leaves the quote to the code below.
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes: one quote, still quoted
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      if (IsBlank(c) && !quoted) break;
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
    if (i >= line.size()) break;
  }
  return args;
}

namespace {

class SystemProcessRunner : public Processes {
 public:
  ProcessResult Run(std::string_view command_line, const ProcessOptions& options) override {
    return RunProcess(command_line, options);
  }
};

}  // namespace

Processes& SystemProcesses() {
  static SystemProcessRunner processes;
  return processes;
}

}  // namespace kestrin
