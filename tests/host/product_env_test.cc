// Product environment, settings module, the refusal to start, and the sandbox
// that scripts/make-sandbox lays out.
#include "host/product_env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

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

std::string SettingsKey(const char* name) { return std::string(VqmGetRegistrySubKey()) + name; }

class ProductEnvTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir tmp_;
};

TEST_F(ProductEnvTest, SandboxLayoutAndExports) {
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const std::string dir = fs::canonical(tmp_.path() / "k").string();
  EXPECT_EQ(sb.registry, dir + "/registry.reg");
  EXPECT_EQ(sb.product_dir, dir + "/Program");
  EXPECT_EQ(sb.data_home, dir + "/home");
  for (const char* folder : {"Program", "Ini/MODULES", "Ini/System", "Ini/OEMCAB", "Ini/TEMPLATES",
                             "Ini/LIB", "Data", "home"}) {
    EXPECT_TRUE(fs::is_directory(fs::path(dir) / folder)) << folder;
  }
  EXPECT_EQ(ReadFileOrDie(dir + "/Ini/System/CUSTTOOL.INI"), "");
  const IniFile modules(dir + "/Ini/MODULES/MODULES.INI");
  EXPECT_EQ(modules.GetInt("Modules", "Count", true), 0);

  const ScopedSandboxEnv env(sb);
  EXPECT_EQ(GetIniPath(), dir + "/Ini/");
  EXPECT_EQ(GetProgramDataDir(), dir + "/Data/");
  EXPECT_EQ(GetProductDir(), dir + "/Program");
  EXPECT_EQ(PerUserDataDir(), dir + "/home");
  std::string version;
  EXPECT_EQ(GetInstalledVersion(version), 1);
  EXPECT_EQ(version, "6.1");
  EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, SettingsKey("BRWTREECTRL\\VISIBLEEXTENSIONS"))
                .GetString(""),
            ".pro;.poe");
  EXPECT_EQ(MakeOemCabDir(GetIniPath()), dir + "/Ini/OEMCAB");
  EXPECT_EQ(CheckStartConditions(), "");
  // The settings module: a stable subkey text and the data folder for the connection file.
  EXPECT_EQ(VqmGetRegistrySubKey(), VqmGetRegistrySubKey());
  EXPECT_STREQ(VqmGetRegistrySubKey(), "SOFTWARE\\Brantel\\Korvane\\Settings\\");
  EXPECT_EQ(VqmGetGlobalProjectSettings_set(640)->connection_dir, dir + "/Data/");
  EXPECT_EQ(ConnectionFileDir(), dir + "/Data/");
}

TEST_F(ProductEnvTest, SandboxPiecesCanBeLeftOut) {
  const Sandbox sb = MakeSandbox(tmp_.path() / "k", {"--without", "oemcab", "--without", "version",
                                                     "--without=custtool"});
  EXPECT_FALSE(fs::exists(sb.dir + "/Ini/OEMCAB"));
  EXPECT_FALSE(fs::exists(sb.dir + "/Ini/System/CUSTTOOL.INI"));
  EXPECT_TRUE(fs::exists(sb.dir + "/Ini/System"));
  const ScopedSandboxEnv env(sb);
  std::string version;
  EXPECT_EQ(GetInstalledVersion(version), 0);
  EXPECT_EQ(CheckStartConditions(), "");  // a missing version does not stop a run
}

TEST_F(ProductEnvTest, InstalledVersionFitsNineteenCharacters) {
  const struct {
    std::string stored;
    int result;
  } rows[] = {{"6.1", 1}, {std::string(19, '9'), 1}, {std::string(20, '9'), 0},
              {std::string(21, '9'), 0}, {"", 0}};
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  for (const auto& row : rows) {
    ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, kInstalledVersionKey).SetString(row.stored));
    std::string version = "unchanged";
    EXPECT_EQ(GetInstalledVersion(version), row.result) << row.stored.size();
    if (row.result == 1) {
      EXPECT_EQ(version, row.stored);
    }
  }
}

TEST_F(ProductEnvTest, DirectoryValuesAndSeparators) {
  EXPECT_EQ(RemoveTrailingSeparator("/a/b/"), "/a/b");
  EXPECT_EQ(RemoveTrailingSeparator("/a/b//"), "/a/b/");  // one only
  EXPECT_EQ(RemoveTrailingSeparator("/a/b"), "/a/b");
  EXPECT_EQ(RemoveTrailingSeparator(""), "");
  EXPECT_EQ(MakeOemCabDir("/k/Ini/"), "/k/Ini/OEMCAB");
  EXPECT_EQ(MakeOemCabDir("/k/Ini"), "/k/Ini/OEMCAB");
  EXPECT_EQ(MakeBinDir("", "/k/Program"), "/k/Program");
  EXPECT_EQ(MakeBinDir("/opt/bin", "/k/Program"), "/opt/bin");

  // IniPath stored without its separator is returned unchanged.
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, SettingsKey("IniPath")).SetString("/k/Ini"));
  EXPECT_EQ(GetIniPath(), "/k/Ini");
  EXPECT_EQ(GetIniPath() + "MODULES", "/k/IniMODULES");

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

// Each refusal names the store (or folder) and the variable to set.
TEST_F(ProductEnvTest, RefusesToStartWithoutAKorvane) {
  struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* setting;  // IniPath or ProgramDataDir value to store, or nullptr
    const char* extra;    // text appended to the store, or nullptr
    std::vector<std::string> expected;  // parts of the message
  };
  const Row rows[] = {
      {"no store", {"--without", "registry"}, nullptr, nullptr, {"registry.reg", "does not exist", "KESTRIN_REGISTRY"}},
      {"no IniPath", {"--without", "ini-path"}, nullptr, nullptr, {"registry.reg", "IniPath", "KESTRIN_REGISTRY"}},
      {"no ProgramDataDir", {"--without", "data-dir"}, nullptr, nullptr, {"ProgramDataDir", "KESTRIN_REGISTRY"}},
      {"relative IniPath", {}, "Ini/", nullptr, {"IniPath is \"Ini/\", not an absolute path", "KESTRIN_REGISTRY"}},
      {"unparsable", {}, nullptr, "\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n", {"registry.reg line ", "[-KEY]", "KESTRIN_REGISTRY"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScopedTempDir dir;
    const Sandbox sb = MakeSandbox(dir.path() / "k", row.options);
    const ScopedSandboxEnv env(sb);
    if (row.setting) {
      ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, SettingsKey("IniPath")).SetString(row.setting));
    }
    if (row.extra) {
      const std::string before = ReadFileOrDie(sb.registry);
      testing::WriteFileOrDie(sb.registry, before + row.extra);
    }
    const std::string message = CheckStartConditions();
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Kestrin cannot start: ", 0), 0u) << message;
    for (const std::string& part : row.expected) {
      EXPECT_NE(message.find(part), std::string::npos) << part << " in: " << message;
    }
    EXPECT_NE(message.find(sb.registry), std::string::npos) << message;
  }
  // The per-user folder must be absolute.
  const Sandbox sb = MakeSandbox(tmp_.path() / "k");
  const ScopedSandboxEnv env(sb);
  ScopedEnv data("XDG_DATA_HOME", "relative/share");
  const std::string message = CheckStartConditions();
  EXPECT_NE(message.find("relative/share"), std::string::npos) << message;
  EXPECT_NE(message.find("XDG_DATA_HOME"), std::string::npos) << message;
}

}  // namespace
}  // namespace kestrin
