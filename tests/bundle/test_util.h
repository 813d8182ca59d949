// Helpers shared by the bundle tests: running programs, reading trees.
#ifndef KESTRIN_TESTS_BUNDLE_TEST_UTIL_H_
#define KESTRIN_TESTS_BUNDLE_TEST_UTIL_H_

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace kestrin::testing {

struct RunResult {
  int exit_code = -1;  // -1: did not start; 128 + n: killed by signal n
  std::string out;
  std::string err;
};

inline std::string SlurpFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs argv[0] (looked up in PATH) with the arguments, in `cwd` when given.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "") {
  static int counter = 0;
  const std::filesystem::path tmp = std::filesystem::temp_directory_path();
  const std::string tag = std::to_string(getpid()) + "_" + std::to_string(++counter);
  const std::string out_path = (tmp / ("kcab_out_" + tag)).string();
  const std::string err_path = (tmp / ("kcab_err_" + tag)).string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  RunResult result;
  pid_t pid;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = SlurpFile(out_path);
  result.err = SlurpFile(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}

// Whether `line` has the form "FILE: what went wrong (code N)".
inline bool IsErrorLine(const std::string& line) {
  const size_t colon = line.find(": ");
  const size_t code = line.rfind(" (code ");
  if (colon == std::string::npos || colon == 0 || code == std::string::npos || code <= colon + 2) return false;
  if (line.size() < code + 9 || line.back() != ')') return false;
  for (size_t i = code + 7; i + 1 < line.size(); ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}

inline std::string KestrinCab() { return (BinaryDir() / "kestrin-cab").string(); }

inline bool HaveProgram(const std::string& name) {
  return RunProgram({"sh", "-c", "command -v " + name}).exit_code == 0;
}

// Every regular file below `root`: relative path -> contents. Symbolic links
// are listed with the contents "<symlink>".
inline std::map<std::string, std::string> ReadTree(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!std::filesystem::exists(root, ec)) return files;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string rel = std::filesystem::relative(it->path(), root).string();
    if (it->is_symlink()) files[rel] = "<symlink>";
    else if (it->is_regular_file()) files[rel] = SlurpFile(it->path());
  }
  return files;
}

// Deterministic bytes: text-like, binary-like or random-like.
inline std::string MakePayload(size_t size, int kind, uint32_t seed) {
  std::string out;
  out.reserve(size);
  uint32_t x = seed * 2654435761u + 12345;
  static const char* kWords[] = {"cabinet ", "folder ", "driver ", "bundle ", "Korvane ",
                                 "module\n", "the ", "of ", "0x1F ", "install "};
  while (out.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    if (kind == 0) out += kWords[x % 10];
    else if (kind == 1) out.push_back(static_cast<char>((x >> 8) % 7 == 0 ? x : (x % 16)));
    else out.push_back(static_cast<char>(x >> 11));
  }
  out.resize(size);
  return out;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_BUNDLE_TEST_UTIL_H_
