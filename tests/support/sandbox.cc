#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

// Single-quotes text for the shell.
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Undoes the script's %q quoting for the backslash escapes it uses on paths.
std::string ShellUnquote(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

}  // namespace

Sandbox MakeSandbox(const std::filesystem::path& dir, const std::vector<std::string>& options) {
  std::string command = ShellQuote((SourceDir() / "scripts/make-sandbox").string());
  for (const std::string& option : options) command.append(" ").append(ShellQuote(option));
  command.append(" ").append(ShellQuote(dir.string()));
  Sandbox sandbox;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return sandbox;
  }
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << " failed";
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(pos, end - pos);
    pos = end + 1;
    const std::string prefix = "export ";
    const size_t eq = line.find('=');
    if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) continue;
    const std::string name = line.substr(prefix.size(), eq - prefix.size());
    const std::string value = ShellUnquote(line.substr(eq + 1));
    if (name == "KESTRIN_REGISTRY") sandbox.registry = value;
    if (name == "KESTRIN_PRODUCT_DIR") sandbox.product_dir = value;
    if (name == "XDG_DATA_HOME") sandbox.data_home = value;
  }
  EXPECT_FALSE(sandbox.registry.empty() || sandbox.product_dir.empty() || sandbox.data_home.empty())
      << "unexpected output of " << command << ":\n" << output;
  const size_t slash = sandbox.registry.rfind('/');
  sandbox.dir = slash == std::string::npos ? std::string() : sandbox.registry.substr(0, slash);
  sandbox.ini_dir = sandbox.dir + "/Ini/";
  sandbox.data_dir = sandbox.dir + "/Data";
  return sandbox;
}

ScopedSandboxEnv::ScopedSandboxEnv(const Sandbox& sandbox) {
  const std::pair<const char*, const std::string*> values[] = {
      {"KESTRIN_REGISTRY", &sandbox.registry},
      {"KESTRIN_PRODUCT_DIR", &sandbox.product_dir},
      {"XDG_DATA_HOME", &sandbox.data_home}};
  for (const auto& [name, value] : values) {
    saved_[name] = GetEnv(name);
    SetEnv(name, *value);
  }
}

ScopedSandboxEnv::~ScopedSandboxEnv() {
  for (const auto& [name, value] : saved_) SetEnv(name, value);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(name), old_(GetEnv(name)) {
  SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

}  // namespace kestrin::testing
