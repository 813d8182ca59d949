#include "support/child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/temp_dir.h"

namespace kestrin::testing {

// `text` in single quotes for the shell.
static std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int InChild(const std::function<int()>& body, int seconds) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd) {
  ScopedTempDir capture;
  std::string command = "cd " + Quoted(cwd) + " && exec";
  for (const std::string& a : argv) command += " " + Quoted(a);
  const int status = std::system((command + " >" + Quoted(capture.Sub("out")) + " 2>" +
                                  Quoted(capture.Sub("err"))).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          ReadFileOrDie(capture.path() / "out"), ReadFileOrDie(capture.path() / "err")};
}

bool HaveProgram(const std::string& name) {
  return RunProgram({"sh", "-c", "command -v " + name}).exit_code == 0;
}

}  // namespace kestrin::testing
