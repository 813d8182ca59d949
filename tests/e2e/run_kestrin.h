// Runs the built kestrin program as a user would, with a controlled
// environment, and captures what it prints.
#ifndef KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
#define KESTRIN_TESTS_E2E_RUN_KESTRIN_H_

#include <string>
#include <vector>

#include "app/test_korvane.h"
#include "support/child.h"

namespace kestrin::testing {

// Runs kestrin with `args` and empty standard input; the environment is this
// process's with `env` ("NAME=value") set and no display unless `env` names
// one. Standard output goes to `stdout_file` when one is given.
inline RunResult RunKestrin(const std::vector<std::string>& args,
                            const std::vector<std::string>& env,
                            const std::string& stdout_file = "") {
  // The shell's $0 names the file standard output goes to.
  const bool to_file = !stdout_file.empty();
  std::vector<std::string> argv = {"sh", "-c", to_file ? "exec \"$@\" </dev/null >\"$0\"" : "exec \"$@\" </dev/null",
                                   to_file ? stdout_file : "sh", "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(KESTRIN_PROGRAM);
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

// Runs kestrin /s with `args` against `korvane`, which it must do silently;
// the log it wrote.
inline Lines RunSilent(const TestKorvane& korvane, std::vector<std::string> args,
                       const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), "/s");
  std::vector<std::string> all = korvane.Environment();
  all.insert(all.end(), env.begin(), env.end());
  const RunResult result = RunKestrin(args, all);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out + result.err, "");
  return LogTexts(korvane.log());
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
