#include "host/module_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::ScopedTempDir;
using testing::WriteFileOrDie;

class ModuleRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(temp_.path() / "MODULES"); }
  std::string Path() const { return temp_.Sub("MODULES/MODULES.INI"); }
  void Write(const std::string& content) { WriteFileOrDie(Path(), content); }
  // "Modules" entries as the file holds them now.
  std::string Value(const char* key) const { return IniFile(Path()).GetString("Modules", key); }

  ScopedTempDir temp_;
};

TEST_F(ModuleRegistryTest, EmptyRegistryGetsTheFirstModule) {
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_FALSE(registry.Contains("CPU1"));
  EXPECT_FALSE(registry.Contains(""));
  EXPECT_EQ(registry.Register("CPU1", "CPU1.INI"), 1);
  EXPECT_TRUE(registry.Contains("cpu1"));
  EXPECT_EQ(Value("Module1"), "CPU1");
  EXPECT_EQ(Value("CPU1"), "CPU1.INI");
  EXPECT_EQ(Value("Count"), "1");
  EXPECT_EQ(registry.Register("IO2", "io2.ini"), 2);
  EXPECT_EQ(ReadFileOrDie(Path()),
            "[Modules]\r\nModule1=CPU1\r\nCPU1=CPU1.INI\r\nCount=2\r\nModule2=IO2\r\nIO2=io2.ini\r\n");

  ModuleRegistry reloaded(Path());
  reloaded.Load();
  EXPECT_EQ(reloaded.modules(), (std::map<int, std::string>{{1, "CPU1"}, {2, "IO2"}}));
  EXPECT_EQ(reloaded.entries().at("IO2"), "io2.ini");
  EXPECT_EQ(reloaded.entries().at("Count"), "2");
}

TEST_F(ModuleRegistryTest, LoadsNumberedModulesIgnoringCaseOnLookup) {
  Write("; Korvane hardware\n[Other]\nModule1=NOPE\n[modules]\nCOUNT=3\nmodule1=\"CPU 1\"\nModule2=Io2\n"
        "Module3=AI8\ncpu 1=cpu1.ini\nIO2=IO2.INI\nAI8=ai8.ini\nModule4=Beyond\n");
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_EQ(registry.modules(), (std::map<int, std::string>{{1, "CPU 1"}, {2, "Io2"}, {3, "AI8"}}));
  EXPECT_EQ(registry.entries().at("CPU 1"), "cpu1.ini");
  EXPECT_EQ(registry.entries().at("Io2"), "IO2.INI");
  EXPECT_TRUE(registry.Contains("cpu 1"));
  EXPECT_TRUE(registry.Contains("IO2"));
  EXPECT_TRUE(registry.Contains("ai8"));
  EXPECT_FALSE(registry.Contains("Beyond"));  // past Count
  EXPECT_FALSE(registry.Contains("NOPE"));
  EXPECT_FALSE(registry.Contains("cpu"));
}

TEST_F(ModuleRegistryTest, CountBelowTheNumberedKeysOverwritesTheNext) {
  Write("[Modules]\nCount=1\nModule1=A\nModule2=B\nA=a.ini\nB=b.ini\n");
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_TRUE(registry.Contains("A"));
  EXPECT_FALSE(registry.Contains("B"));
  EXPECT_EQ(registry.Register("C", "c.ini"), 2);
  EXPECT_EQ(Value("Module2"), "C");
  EXPECT_EQ(Value("Count"), "2");
  EXPECT_EQ(Value("B"), "b.ini");  // left as it was
}

TEST_F(ModuleRegistryTest, CountAbsentStartsAtOne) {
  Write("[Modules]\nModule1=Old\nOld=old.ini\n");
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_FALSE(registry.Contains("Old"));
  EXPECT_EQ(registry.Register("New", "new.ini"), 1);
  EXPECT_EQ(Value("Module1"), "New");
  EXPECT_EQ(Value("Count"), "1");
}

TEST_F(ModuleRegistryTest, RegisterReadsCountFromTheFileNow) {
  ModuleRegistry first(Path());
  ModuleRegistry second(Path());
  first.Load();
  second.Load();
  EXPECT_EQ(first.Register("A", "a.ini"), 1);
  EXPECT_EQ(second.Register("B", "b.ini"), 2);
  EXPECT_FALSE(first.Contains("B"));  // not reloaded
}

TEST_F(ModuleRegistryTest, HugeCountLoadsQuickly) {
  Write("[Modules]\nCount=2000000000\nModule1=A\nModule7=G\n");
  ModuleRegistry registry(Path());
  const auto start = std::chrono::steady_clock::now();
  registry.Load();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(registry.Contains("g"));
  EXPECT_EQ(registry.modules().size(), 7u);
  EXPECT_EQ(registry.Register("H", "h.ini"), 2000000001);
  Write("[Modules]\nCount=2147483647\n");
  EXPECT_EQ(registry.Register("I", "i.ini"), -1);
}

TEST_F(ModuleRegistryTest, FailedWritesGiveMinusOne) {
  Write("[Modules]\nCount=1\nModule1=A\nA=a.ini\n");
  chmod(Path().c_str(), 0444);
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_EQ(registry.Register("B", "b.ini"), -1);
  EXPECT_FALSE(registry.Contains("B"));
  chmod(Path().c_str(), 0644);
  EXPECT_EQ(Value("Count"), "1");
  EXPECT_EQ(Value("Module2"), "");

  ModuleRegistry nowhere(temp_.Sub("missing/MODULES.INI"));
  nowhere.Load();
  EXPECT_EQ(nowhere.Register("B", "b.ini"), -1);
}

TEST_F(ModuleRegistryTest, FileInAnotherCaseIsUsed) {
  fs::create_directories(temp_.path() / "modules");
  fs::remove(temp_.path() / "MODULES");
  WriteFileOrDie(temp_.path() / "modules" / "modules.ini", "[Modules]\nCount=1\nModule1=A\n");
  ModuleRegistry registry(Path());
  registry.Load();
  EXPECT_TRUE(registry.Contains("a"));
  EXPECT_EQ(registry.Register("B", "b.ini"), 2);
  EXPECT_FALSE(fs::exists(temp_.path() / "MODULES"));  // no second registry beside it
  EXPECT_EQ(IniFile(temp_.Sub("modules/modules.ini")).GetString("Modules", "Count"), "2");
}

}  // namespace
}  // namespace kestrin
