// Product environment and settings module over a sandbox laid out by
// scripts/make-sandbox, and the refusal to start without a Korvane.
#include "host/product_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/ini_file.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::MakeSandbox;
using testing::ReadFileOrDie;
using testing::Sandbox;
using testing::ScopedEnv;
using testing::ScopedSandboxEnv;

bool SetSetting(const char* name, const std::string& value) {
  return CRegistryKey(RegistryRoot::kLocalMachine, std::string(VqmGetRegistrySubKey()) + name).SetString(value);
}

class ProductEnvTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir tmp_;
};

// The folders read from a sandbox are what every app, step and end-to-end
// test runs on; here the installed version's limit.
TEST_F(ProductEnvTest, InstalledVersionFitsNineteenCharacters) {
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  std::string version;
  EXPECT_EQ(GetInstalledVersion(version), 1);
  EXPECT_EQ(version, "6.1");
  // A longer one is "not available".
  for (const auto& [stored, result] : std::vector<std::pair<std::string, int>>{
           {std::string(19, '9'), 1}, {std::string(20, '9'), 0}, {std::string(21, '9'), 0}, {"", 0}}) {
    ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, kInstalledVersionKey).SetString(stored));
    version = "unchanged";
    EXPECT_EQ(GetInstalledVersion(version), result) << stored.size();
    if (result == 1) {
      EXPECT_EQ(version, stored);
    }
  }
}

TEST_F(ProductEnvTest, DirectoryValuesAndSeparators) {
  EXPECT_EQ(RemoveTrailingSeparator("/a/b/"), "/a/b");
  EXPECT_EQ(RemoveTrailingSeparator("/a/b//"), "/a/b/");  // one only
  EXPECT_EQ(RemoveTrailingSeparator(""), "");
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  ASSERT_TRUE(SetSetting("IniPath", "/k/Ini"));
  EXPECT_EQ(GetIniPath(), "/k/Ini");  // returned as stored, no separator added
  {
    ScopedEnv product("KESTRIN_PRODUCT_DIR", "/opt/korvane/");
    EXPECT_EQ(GetProductDir(), "/opt/korvane");
  }
  ScopedEnv product("KESTRIN_PRODUCT_DIR", std::nullopt);
  EXPECT_EQ(GetProductDir(), fs::canonical("/proc/self/exe").parent_path().string());
  ScopedEnv data("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/ann");
  EXPECT_EQ(PerUserDataDir(), "/home/ann/.local/share");
}

// Each refusal is one line naming the store (or folder) and the variable to set.
TEST_F(ProductEnvTest, RefusesToStartWithoutAKorvane) {
  const struct {
    std::vector<std::string> options;
    const char* ini_path;  // IniPath to store, or nullptr
    const char* extra;     // text appended to the store, or nullptr
    std::vector<std::string> expected;
  } rows[] = {
      {{"--without", "registry"}, nullptr, nullptr, {"registry.reg", "does not exist", "KESTRIN_REGISTRY"}},
      {{"--without", "ini-path"}, nullptr, nullptr, {"registry.reg", "IniPath", "KESTRIN_REGISTRY"}},
      {{"--without", "data-dir"}, nullptr, nullptr, {"ProgramDataDir", "KESTRIN_REGISTRY"}},
      {{}, "Ini/", nullptr, {"IniPath is \"Ini/\", not an absolute path", "KESTRIN_REGISTRY"}},
      {{}, nullptr, "\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n", {"registry.reg line ", "[-KEY]", "KESTRIN_REGISTRY"}},
  };
  for (const auto& row : rows) {
    testing::ScopedTempDir dir;
    const Sandbox sb = MakeSandbox(dir.path() / "k", row.options);
    const ScopedSandboxEnv env(sb);
    if (row.ini_path) {
      ASSERT_TRUE(SetSetting("IniPath", row.ini_path));
    }
    if (row.extra) testing::WriteFileOrDie(sb.registry, ReadFileOrDie(sb.registry) + row.extra);
    const std::string message = CheckStartConditions();
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Kestrin cannot start: ", 0), 0u) << message;
    EXPECT_NE(message.find(sb.registry), std::string::npos) << message;
    for (const std::string& part : row.expected) EXPECT_NE(message.find(part), std::string::npos) << message;
  }
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  ScopedEnv data("XDG_DATA_HOME", "relative/share");  // the per-user folder must be absolute
  const std::string message = CheckStartConditions();
  EXPECT_NE(message.find("relative/share"), std::string::npos) << message;
  EXPECT_NE(message.find("XDG_DATA_HOME"), std::string::npos) << message;
}

}  // namespace
}  // namespace kestrin
