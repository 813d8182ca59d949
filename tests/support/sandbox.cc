#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <system_error>

#include "support/child.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

}  // namespace

// The layout make-sandbox makes, below the folder with symbolic links
// resolved as the script resolves them.
Sandbox MakeSandbox(const std::filesystem::path& dir, const std::vector<std::string>& options) {
  std::vector<std::string> argv = {(SourceDir() / "scripts/make-sandbox").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(dir.string());
  const RunResult run = RunProgram(argv);
  EXPECT_EQ(run.exit_code, 0) << "make-sandbox failed: " << run.err;
  std::error_code ec;
  const std::string root = std::filesystem::canonical(dir, ec).string();
  return {root, root + "/registry.reg", root + "/Program", root + "/home", root + "/Ini/", root + "/Data"};
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(name), old_(GetEnv(name)) {
  SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

}  // namespace kestrin::testing
