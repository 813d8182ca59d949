#include "host/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/path_resolve.h"

extern char** environ;

namespace kestrin {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Children started without waiting; reaped at the next start so that they
// do not linger as zombies.
std::vector<pid_t>& DetachedChildren() {
  static std::vector<pid_t> children;
  return children;
}

void ReapDetachedChildren() {
  auto& children = DetachedChildren();
  for (size_t i = 0; i < children.size();) {
    int status = 0;
    const pid_t r = waitpid(children[i], &status, WNOHANG);
    if (r == children[i] || (r < 0 && errno == ECHILD)) {
      children[i] = children.back();
      children.pop_back();
    } else {
      ++i;
    }
  }
}

std::string ExecutableDir() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

// The native path of an existing non-folder `candidate` ("\" taken as a
// separator, letter case ignored), or empty.
std::string ExistingFile(const std::string& candidate) {
  if (candidate.empty()) return {};
  const std::string resolved = ResolvePath(candidate);
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return {};
  return resolved;
}

// Tries `name` as written and, without an extension, with ".exe" added;
// a name without a folder is looked for in the search folders.
std::string LookUp(std::string name, const ProcessOptions& options) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.empty() || name.back() == '/') return {};
  const size_t slash = name.rfind('/');
  const bool has_extension = name.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
  std::vector<std::string> forms{name};
  if (!has_extension) forms.push_back(name + ".exe");

  std::vector<std::string> folders;
  if (slash == std::string::npos) {
    folders.push_back(options.application_dir.empty() ? ExecutableDir() : options.application_dir);
    folders.push_back(".");
    if (const char* path = std::getenv("PATH")) {
      std::string_view rest(path);
      while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        if (!folder.empty()) folders.emplace_back(folder);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
    }
  } else {
    folders.emplace_back();
  }
  for (const std::string& folder : folders) {
    for (const std::string& form : forms) {
      std::string found = ExistingFile(folder.empty() ? form : folder + "/" + form);
      if (!found.empty()) return found;
    }
  }
  return {};
}

}  // namespace

std::optional<std::string> OwnCommandLineArguments() { return std::nullopt; }

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

ProcessResult RunProcess(std::string_view command_line, const ProcessOptions& options) {
  ReapDetachedChildren();
  ProcessResult result;
  result.program = FindProgram(command_line, options, &result.error);
  if (result.program.empty()) return result;

  std::vector<std::string> args = SplitCommandLine(command_line);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int err = posix_spawn(&pid, result.program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (err != 0) {
    result.error = "cannot start " + result.program + ": " + std::strerror(err);
    return result;
  }
  result.started = true;
  if (options.on_started) options.on_started(result);
  if (!options.wait) {
    DetachedChildren().push_back(pid);
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.error = std::string("lost track of the child: ") + std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signaled = true;
    result.exit_code = 128 + WTERMSIG(status);
  }
  return result;
}

}  // namespace kestrin
