// Runs a piece of a test in a child process with a time limit, for calls
// that could wait forever (a FIFO opened for reading, a blocked lock).
#ifndef KESTRIN_TESTS_SUPPORT_CHILD_H_
#define KESTRIN_TESTS_SUPPORT_CHILD_H_

#include <functional>

namespace kestrin::testing {

inline constexpr int kChildTimedOut = -1;

// The exit status of `body` run in a child process (128 when it died by a
// signal), or kChildTimedOut when it has not ended after `seconds`; it is
// killed then.
int InChild(const std::function<int()>& body, int seconds = 60);

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_CHILD_H_
