// Child processes for tests: a piece of a test run in a fork with a time
// limit, for calls that could wait forever (a FIFO opened for reading, a
// blocked lock), and programs run through the shell with their output kept.
#ifndef KESTRIN_TESTS_SUPPORT_CHILD_H_
#define KESTRIN_TESTS_SUPPORT_CHILD_H_

#include <functional>
#include <string>
#include <vector>

namespace kestrin::testing {

// The exit status of `body` run in a child process (128 when it died by a
// signal), or -1 when it has not ended after `seconds`; it is killed then.
int InChild(const std::function<int()>& body, int seconds = 60);

struct RunResult {
  int exit_code = -1;  // 128 + n: killed by signal n
  std::string out, err;
};

// Runs argv[0] (looked up in PATH) in the folder `cwd`.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = ".");
bool HaveProgram(const std::string& name);

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_CHILD_H_
