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
#include "host/process_platform.h"

extern char** environ;

namespace kestrin {
namespace {

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

}  // namespace

namespace process_platform {

const char kSearchListSeparator = ':';
const char* const kFolderEnds = "/";

std::string ApplicationDir(const ProcessOptions& options) {
  if (!options.application_dir.empty()) return options.application_dir;
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string NativeProgramName(std::string written) {
  for (char& c : written) {
    if (c == '\\') c = '/';
  }
  return written;
}

// "\" is taken as a separator and letter case is ignored.
std::string ExistingFile(const std::string& candidate) {
  if (candidate.empty()) return {};
  const std::string resolved = ResolvePath(candidate);
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return {};
  return resolved;
}

}  // namespace process_platform

std::optional<std::string> OwnCommandLineArguments() { return std::nullopt; }

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
