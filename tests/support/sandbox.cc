#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

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

// The variables that point Kestrin at a sandbox, and the fields that hold them.
const std::pair<const char*, std::string Sandbox::*> kVariables[] = {
    {"KESTRIN_REGISTRY", &Sandbox::registry},
    {"KESTRIN_PRODUCT_DIR", &Sandbox::product_dir},
    {"XDG_DATA_HOME", &Sandbox::data_home}};

}  // namespace

Sandbox MakeSandbox(const std::filesystem::path& dir, const std::vector<std::string>& options) {
  std::vector<std::string> argv = {(SourceDir() / "scripts/make-sandbox").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(dir.string());
  const RunResult run = RunProgram(argv);
  EXPECT_EQ(run.exit_code, 0) << "make-sandbox failed: " << run.err;
  Sandbox sandbox;
  // Lines "export NAME=value", the value %q-quoted with backslashes.
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    for (const auto& [name, field] : kVariables) {
      const std::string start = std::string("export ") + name + "=";
      if (line.rfind(start, 0) != 0) continue;
      for (size_t i = start.size(); i < line.size(); ++i)
        sandbox.*field += line[i] == '\\' && i + 1 < line.size() ? line[++i] : line[i];
    }
  }
  EXPECT_FALSE(sandbox.registry.empty() || sandbox.product_dir.empty() || sandbox.data_home.empty())
      << "unexpected output of make-sandbox:\n" << run.out;
  sandbox.dir = std::filesystem::path(sandbox.registry).parent_path().string();
  sandbox.ini_dir = sandbox.dir + "/Ini/";
  sandbox.data_dir = sandbox.dir + "/Data";
  return sandbox;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(name), old_(GetEnv(name)) {
  SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

}  // namespace kestrin::testing
