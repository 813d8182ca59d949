#include "e2e/run_kestrin.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "support/temp_dir.h"

extern char** environ;

namespace kestrin::testing {

tRunResult RunKestrin(const std::vector<std::string>& args, const std::vector<std::string>& env,
                      const std::vector<std::string>& unset) {
  tRunResult result;
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const std::string& assignment : env) {
    size_t eq = assignment.find('=');
    vars[assignment.substr(0, eq)] = assignment.substr(eq + 1);
  }
  for (const std::string& name : unset) vars.erase(name);
  vars.erase("DISPLAY");
  vars.erase("WAYLAND_DISPLAY");

  std::vector<std::string> env_strings;
  for (const auto& [name, value] : vars) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string program = KESTRIN_PROGRAM;
  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  ScopedTempDir capture;
  std::string out_path = capture.Sub("stdout");
  std::string err_path = capture.Sub("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) break;
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  result.out = ReadFileOrDie(out_path);
  result.err = ReadFileOrDie(err_path);
  return result;
}

}  // namespace kestrin::testing
