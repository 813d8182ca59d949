// What Korvane keeps about installations: the installation record (time
// stamps, newest entry) and the module registry MODULES.INI; and the product
// environment, with the refusal to start without a Korvane (over sandboxes
// laid out by scripts/make-sandbox).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/ini_file.h"
#include "host/install_record.h"
#include "host/module_registry.h"
#include "host/product_env.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "support/fake_host.h"
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
using testing::ScopedTempDir;
using testing::WriteFileOrDie;
using testing::FakeHost;

FileTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  FileTime t = 0;
  EXPECT_TRUE(SystemTimeToFileTime(year, month, day, hour, minute, second, &t));
  return t;
}

TEST(InstallRecordTest, TimeStamps) {
  EXPECT_EQ(At(1601, 1, 1, 0, 0), 0u);
  EXPECT_EQ(At(1970, 1, 1, 0, 0), 116444736000000000u);
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2024, 3, 5, 7, 9, 59) + 9'999'999), "2024-03-05-07-09");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2024, 3, 5, 7, 9, 59) + 10'000'000), "2024-03-05-07-10");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2000, 2, 29, 23, 59)), "2000-02-29-23-59");
  const int bad[][6] = {{2024, 13, 1, 0, 0, 0}, {2023, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0},
                        {2024, 4, 31, 0, 0, 0}, {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 60, 0},
                        {1600, 12, 31, 0, 0, 0}, {2024, 1, -1, 0, 0, 0}, {2024, 1, 32, 0, 0, 0}};
  for (const auto& b : bad) {
    FileTime t = 0;
    EXPECT_FALSE(SystemTimeToFileTime(b[0], b[1], b[2], b[3], b[4], b[5], &t)) << b[0] << "-" << b[1] << "-" << b[2];
  }
}

TEST(InstallRecordTest, NewestEntryByTime) {
  const struct {
    const char* name;
    const char* section;  // lines of the item's section
    const char* latest;
    int oem_id;
  } cases[] = {
      {"seconds make it newer", "2024-05-01-10-30=1\n2024-05-01-10-30-01=2\n", "2", 2},
      {"seconds, other order", "2024-05-01-10-30-01=2\n2024-05-01-10-30=1\n", "2", 2},
      {"four numbers beside a valid one", "2030-05-01-10=5\n2020-01-01-00-00=6\n", "6", 6},
      {"digits then semicolon", "2024-05-01-10-30=12;extra\n", "12;extra", 12},
      {"value begins with a letter", "2024-05-01-10-30=x12\n", "x12", 0},
      {"value with blanks and sign", "2024-05-01-10-30=  -3 \n", "-3", -3},
      {"older entry written later loses", "2024-06-01-00-00=7\n2023-01-01-00-00=8\n", "7", 7},
      {"invalid date ignored", "2024-13-01-00-00=9\n2024-01-01-00-00=3\n", "3", 3},
      {"only an invalid date", "2024-02-30-00-00=9\n", "", 0},
      {"equal times: first in key order", "2024-01-01-10-00-00=4\n2024-01-01-10-00=5\n", "5", 5},
      {"compared as times, not texts", "2024-1-2-3-4=1\n2024-01-01-23-59=2\n", "1", 1},
      {"the very first instant never wins", "1601-01-01-00-00=4\n", "", 0},
      {"junk keys", "abc=1\n2024=2\n=3\n", "", 0},
  };
  for (const auto& c : cases) {
    ScopedTempDir temp;
    WriteFileOrDie(temp.path() / "instlog.ini", std::string("[Other]\n2099-01-01-00-00=99\n[$MODULES\\A.INI]\n") +
                                                    c.section + "[Later]\n2099-01-01-00-00=98\n");
    const InstallRecord record(SystemIniFiles(), temp.Sub("instlog.ini"));
    EXPECT_EQ(record.GetLatestEntry("$MODULES\\A.INI"), c.latest) << c.name;
    EXPECT_EQ(record.GetLatestOemId("$modules\\a.ini"), c.oem_id) << c.name;
  }
}

TEST(InstallRecordTest, RecordsRoundTripInTheFileFoundIgnoringCase) {
  ScopedTempDir temp;
  const InstallRecord record(SystemIniFiles(), temp.Sub("instlog.ini"));
  EXPECT_EQ(record.GetLatestOemId("drv.dll"), 0);  // no file yet
  record.RecordInstall("drv.dll", 7, At(2024, 1, 1, 8, 0));
  record.RecordInstall("drv.dll", 9, At(2024, 1, 2, 8, 0));
  record.RecordInstall(std::string(kSamplesRecordPrefix) + "Demo", 4, At(2024, 1, 1, 8, 0));
  record.RecordInstall("drv.dll", 11, At(2024, 1, 2, 8, 0, 30));  // the same minute: one key
  EXPECT_EQ(record.GetLatestOemId("drv.dll"), 11);
  EXPECT_EQ(record.GetLatestOemId("$SAMPLES\\Demo"), 4);
  EXPECT_EQ(ReadFileOrDie(temp.path() / "instlog.ini"),
            "[drv.dll]\r\n2024-01-01-08-00=7\r\n2024-01-02-08-00=11\r\n[$SAMPLES\\Demo]\r\n2024-01-01-08-00=4\r\n");
  fs::rename(temp.path() / "instlog.ini", temp.path() / "INSTLOG.INI");
  EXPECT_EQ(record.GetLatestOemId("DRV.DLL"), 11);
  record.RecordInstall("y.dll", 6, At(2024, 1, 1, 0, 0));
  EXPECT_FALSE(fs::exists(temp.path() / "instlog.ini"));
  EXPECT_EQ(record.GetLatestOemId("y.dll"), 6);
}

class ModuleRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(temp_.path() / "MODULES"); }
  std::string Path() const { return temp_.Sub("MODULES/MODULES.INI"); }
  std::string Value(const char* key) const { return IniFile(SystemIniFiles(), Path()).GetString("Modules", key); }
  ScopedTempDir temp_;
};

TEST_F(ModuleRegistryTest, LoadsNumberedModulesUpToCount) {
  WriteFileOrDie(Path(), "; Korvane hardware\n[Other]\nModule1=NOPE\n[modules]\nCOUNT=3\nmodule1=\"CPU 1\"\n"
                         "Module2=Io2\nModule3=AI8\ncpu 1=cpu1.ini\nIO2=IO2.INI\nModule4=Beyond\n");
  ModuleRegistry registry(SystemIniFiles(), Path());
  registry.Load();
  EXPECT_EQ(registry.modules(), (std::map<int, std::string>{{1, "CPU 1"}, {2, "Io2"}, {3, "AI8"}}));
  EXPECT_EQ(registry.entries().at("CPU 1"), "cpu1.ini");
  EXPECT_EQ(registry.entries().at("Io2"), "IO2.INI");
  EXPECT_TRUE(registry.Contains("io2"));
  // "Beyond" is past Count.
  for (const char* name : {"Beyond", "NOPE", "cpu"}) EXPECT_FALSE(registry.Contains(name)) << name;
}

// A damaged "Count": Register numbers from it as it stands (`number`, the
// key written and the Module1 kept), and numbers
// below the count without a key hold the empty name.
TEST_F(ModuleRegistryTest, TakesADamagedCountAsItStands) {
  const struct {
    const char* what;
    std::string section;
    bool holds_empty;
    int number;
    std::string numbered_key, kept_module1;
  } cases[] = {
      {"negative count", "Count=-3\nModule1=A\nA=A.INI\n", false, -2, "Module-2", "A"},
      {"count absent", "", false, 1, "Module1", "B"},
      {"count below the keys present", "Count=1\nModule1=A\nModule2=C\n", false, 2, "Module2", "A"},
      {"count past the highest key", "Count=3\nModule1=A\n", true, 0, "", ""},
      {"a gap below the count", "Count=3\nModule1=A\nModule3=C\n", true, 0, "", ""},
      {"a huge count", "Count=2000000000\nModule1=A\n", true, 0, "", ""},
      {"every number has its key", "Count=2\nModule1=A\nModule2=C\n", false, 0, "", ""},
      {"count below the keys", "Count=1\nModule1=A\nModule2=\n", false, 0, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileOrDie(Path(), "[Modules]\n" + c.section);
    ModuleRegistry registry(SystemIniFiles(), Path());
    registry.Load();
    EXPECT_EQ(registry.Contains(""), c.holds_empty);
    EXPECT_EQ(registry.entries().count(""), c.holds_empty ? 1u : 0u);
    if (c.numbered_key.empty()) {
      EXPECT_TRUE(registry.Contains("a"));
      continue;
    }
    EXPECT_EQ(registry.Register("B", "B.INI"), c.number);
    const std::string text = ReadFileOrDie(Path());
    EXPECT_NE(text.find(c.numbered_key + "=B\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Count=" + std::to_string(c.number) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Module1=" + c.kept_module1 + "\n"), std::string::npos) << text;
  }
}

TEST_F(ModuleRegistryTest, HugeCountsAndFailedWrites) {
  WriteFileOrDie(Path(), "[Modules]\nCount=2000000000\nModule1=A\nModule1999999999=G\n");
  ModuleRegistry registry(SystemIniFiles(), Path());
  const auto start = std::chrono::steady_clock::now();
  registry.Load();  // numbers without a key are not walked one by one (that takes minutes)
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(registry.modules().size(), 3u);  // 1, 1999999999 and one slot for the empty rest
  EXPECT_TRUE(registry.Contains("g"));
  EXPECT_EQ(registry.Register("H", "h.ini"), 2000000001);
  WriteFileOrDie(Path(), "[Modules]\nCount=2147483647\n");
  EXPECT_EQ(registry.Register("I", "i.ini"), -1);

  WriteFileOrDie(Path(), "[Modules]\nCount=1\nModule1=A\nA=a.ini\n");
  chmod(Path().c_str(), 0444);
  registry.Load();
  EXPECT_EQ(registry.Register("B", "b.ini"), -1);
  EXPECT_FALSE(registry.Contains("B"));
  EXPECT_EQ(Value("Count"), "1");
  ModuleRegistry nowhere(SystemIniFiles(), temp_.Sub("missing/MODULES.INI"));
  nowhere.Load();
  EXPECT_EQ(nowhere.Register("B", "b.ini"), -1);
}

// What is read of the registry, on the in-memory host; where the machine
// says the program and the per-user folders are, on this one.
TEST(ProductEnvTest, InstalledVersionFitsNineteenCharactersAndFoldersReadAsStored) {
  EXPECT_EQ(RemoveTrailingSeparator("/a/b/"), "/a/b");
  EXPECT_EQ(RemoveTrailingSeparator("/a/b//"), "/a/b/");  // one only
  EXPECT_EQ(RemoveTrailingSeparator(""), "");
  FakeHost fake;
  std::string version;
  EXPECT_EQ(GetInstalledVersion(fake.host, version), 1);
  EXPECT_EQ(version, "6.1");
  // A longer one is "not available".
  for (const auto& [stored, result] : std::vector<std::pair<std::string, int>>{
           {std::string(19, '9'), 1}, {std::string(20, '9'), 0}, {std::string(21, '9'), 0}, {"", 0}}) {
    fake.registry.Set(kInstalledVersionKey, stored);
    version = "unchanged";
    EXPECT_EQ(GetInstalledVersion(fake.host, version), result) << stored.size();
    if (result == 1) {
      EXPECT_EQ(version, stored);
    }
  }
  fake.registry.Set(SettingsKey(fake.host, "IniPath"), "/k/Ini");
  EXPECT_EQ(GetIniPath(fake.host), "/k/Ini");  // returned as stored, no separator added
  EXPECT_EQ(ConnectionFileDir(fake.host), "/korvane/Data/");
  {
    ScopedEnv product("KESTRIN_PRODUCT_DIR", "/opt/korvane/");
    EXPECT_EQ(SystemMachine().ProgramDir(), "/opt/korvane");
  }
  ScopedEnv product("KESTRIN_PRODUCT_DIR", std::nullopt);
  EXPECT_EQ(SystemMachine().ProgramDir(), fs::canonical("/proc/self/exe").parent_path().string());
  ScopedEnv data("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/ann");
  EXPECT_EQ(SystemMachine().PerUserDataDir(), "/home/ann/.local/share");
}

// Each refusal is one line naming the store (or folder) and the variable to set.
TEST(ProductEnvTest, RefusesToStartWithoutAKorvane) {
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
    ScopedTempDir dir;
    const Sandbox sb = MakeSandbox(dir.path() / "k", row.options);
    const ScopedSandboxEnv env(sb);
    if (row.ini_path) {
      ASSERT_TRUE(CRegistryKey(SystemRegistry(), RegistryRoot::kLocalMachine,
                               std::string(VqmGetRegistrySubKey()) + "IniPath")
                      .SetString(row.ini_path));
    }
    if (row.extra) testing::WriteFileOrDie(sb.registry, ReadFileOrDie(sb.registry) + row.extra);
    const std::string message = CheckStartConditions();
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Kestrin cannot start: ", 0), 0u) << message;
    EXPECT_NE(message.find(sb.registry), std::string::npos) << message;
    for (const std::string& part : row.expected) EXPECT_NE(message.find(part), std::string::npos) << message;
  }
  ScopedTempDir tmp;
  const Sandbox sb = MakeSandbox(tmp.path() / "k");
  const ScopedSandboxEnv env(sb);
  ScopedEnv data("XDG_DATA_HOME", "relative/share");  // the per-user folder must be absolute
  const std::string message = CheckStartConditions();
  EXPECT_NE(message.find("relative/share"), std::string::npos) << message;
  EXPECT_NE(message.find("XDG_DATA_HOME"), std::string::npos) << message;
}

}  // namespace
}  // namespace kestrin
