// Runs the built kestrin program as a user would, with a controlled
// environment, and captures what it prints.
#ifndef KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
#define KESTRIN_TESTS_E2E_RUN_KESTRIN_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

struct tRunResult {
  int exit_status = -1;
  std::string out, err;
};

// Runs kestrin with `args`; the environment is this process's with `env`
// ("NAME=value") set and no display unless `env` names one. Standard input
// is empty; standard output goes to `stdout_file` when one is given (then
// `out` stays empty).
inline tRunResult RunKestrin(std::vector<std::string> args, const std::vector<std::string>& env,
                             const std::string& stdout_file = "") {
  ScopedTempDir capture;
  const std::string out = stdout_file.empty() ? capture.Sub("out") : stdout_file;
  const std::string err = capture.Sub("err");
  args.insert(args.begin(), KESTRIN_PROGRAM);
  tRunResult result;
  // The limit only keeps a hanging program from blocking the suite.
  result.exit_status = InChild([&] {
    unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY");
    for (const std::string& a : env) {
      setenv(a.substr(0, a.find('=')).c_str(), a.substr(a.find('=') + 1).c_str(), 1);
    }
    const int files[] = {open("/dev/null", O_RDONLY),
                         open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                         open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int fd = 0; fd < 3; ++fd) dup2(files[fd], fd);
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    return 127;
  }, 3600);
  if (stdout_file.empty()) result.out = ReadFileOrDie(out);
  result.err = ReadFileOrDie(err);
  return result;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
