// Runs the built kestrin program as a user would, with a controlled
// environment, and captures what it prints.
#ifndef KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
#define KESTRIN_TESTS_E2E_RUN_KESTRIN_H_

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace kestrin::testing {

struct tRunResult {
  int exit_status = -1;
  std::string out, err;
};

// Runs kestrin with `args`; the environment is this process's with `env`
// ("NAME=value") set and no display unless `env` names one.
// Standard output goes to `stdout_file` when one is given (then `out` stays
// empty).
inline tRunResult RunKestrin(std::vector<std::string> args, const std::vector<std::string>& env,
                             const std::string& stdout_file = "") {
  std::map<std::string, std::string> vars;
  auto assign = [&](const std::string& a) {
    vars[a.substr(0, a.find('='))] = a.substr(a.find('=') + 1);
  };
  for (char** e = environ; *e != nullptr; ++e) assign(*e);
  vars.erase("DISPLAY"), vars.erase("WAYLAND_DISPLAY");
  for (const std::string& a : env) assign(a);
  std::vector<std::string> env_strings;
  for (const auto& [name, value] : vars) env_strings.push_back(name + "=" + value);
  args.insert(args.begin(), KESTRIN_PROGRAM);
  std::vector<char*> argv, envp;
  for (std::string& s : args) argv.push_back(s.data());
  for (std::string& s : env_strings) envp.push_back(s.data());
  argv.push_back(nullptr), envp.push_back(nullptr);
  ScopedTempDir capture;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(
      &actions, 1, stdout_file.empty() ? capture.Sub("out").c_str() : stdout_file.c_str(),
      O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, capture.Sub("err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  tRunResult result;
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0 &&
      waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (stdout_file.empty()) result.out = ReadFileOrDie(capture.path() / "out");
  result.err = ReadFileOrDie(capture.path() / "err");
  return result;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
