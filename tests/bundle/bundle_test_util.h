// Helpers of the bundle tests: running programs (kestrin-cab among them) and
// reading the trees they leave. Cabinets come from support/cab_builder.h.
#ifndef KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
#define KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/cab_builder.h"
#include "support/temp_dir.h"

extern char** environ;

namespace kestrin::testing {

namespace fs = std::filesystem;
using FileSet = std::map<std::string, std::string>;
using kestrin::cab::testing::CabBuilder;
using kestrin::cab::testing::Payload;
using kestrin::cab::testing::StoredCabinet;

struct RunResult {
  int exit_code = -1;  // -1: did not start; 128 + n: killed by signal n
  std::string out, err;
};

// Runs argv[0] (looked up in PATH) in the folder `cwd`.
inline RunResult RunProgram(std::vector<std::string> argv, const std::string& cwd = ".") {
  ScopedTempDir capture;
  argv.insert(argv.begin(),
              {"sh", "-c", "o=$1; cd \"$2\" && shift 2 && exec \"$@\" >\"$o/out\" 2>\"$o/err\"",
               "sh", capture.path().string(), cwd});
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  RunResult result;
  pid_t pid;
  int status = 0;
  if (posix_spawnp(&pid, "sh", nullptr, nullptr, args.data(), environ) == 0 &&
      waitpid(pid, &status, 0) == pid) {
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  result.out = ReadFileOrDie(capture.path() / "out");
  result.err = ReadFileOrDie(capture.path() / "err");
  return result;
}

inline RunResult Cab(std::vector<std::string> args, const std::string& cwd = ".") {
  args.insert(args.begin(), (BinaryDir() / "kestrin-cab").string());
  return RunProgram(args, cwd);
}

inline bool HaveProgram(const std::string& name) {
  return RunProgram({"sh", "-c", "command -v " + name}).exit_code == 0;
}

// stderr is lines of the form "FILE: what went wrong (code N)", at least one.
inline bool CleanErrors(const std::string& err) {
  size_t at = 0;
  for (size_t end; (end = err.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = err.substr(at, end - at);
    const size_t colon = line.find(": "), code = line.rfind(" (code ");
    if (colon == 0 || colon == std::string::npos || code == std::string::npos ||
        code <= colon + 2 || line.size() < code + 9 || line.back() != ')' ||
        line.find_first_not_of("0123456789", code + 7) != line.size() - 1) {
      return false;
    }
  }
  return at > 0 && at == err.size();
}

// Every file below `root` (relative path -> contents); symlinks as "<symlink>".
inline FileSet ReadTree(const fs::path& root) {
  FileSet files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink())
      files[rel] = "<symlink>";
    else if (it->is_regular_file())
      files[rel] = ReadFileOrDie(it->path());
  }
  return files;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
