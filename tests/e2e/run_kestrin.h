// Runs the kestrin program as a child process and collects what it did.
#ifndef KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
#define KESTRIN_TESTS_E2E_RUN_KESTRIN_H_

#include <string>
#include <vector>

namespace kestrin::testing {

struct tRunResult {
  int exit_status = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// Runs the program with `args` (without the program name). The environment
// is this process's, with each "NAME=value" of `env` set and each "NAME" of
// `unset` removed. Stdin is /dev/null; DISPLAY is always removed.
tRunResult RunKestrin(const std::vector<std::string>& args, const std::vector<std::string>& env,
                      const std::vector<std::string>& unset = {});

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_E2E_RUN_KESTRIN_H_
