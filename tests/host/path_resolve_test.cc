#include "host/path_resolve.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

using testing::ScopedTempDir;
using testing::WriteFileOrDie;

TEST(WildcardMatchTest, WindowsSemantics) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*.cab", "drv.cab", true},
      {"*.cab", "DRV.CAB", true},
      {"*.CAB", "drv.Cab", true},
      {"*.cab", "drv.cabx", false},
      {"*.cab", "cab", false},
      {"*.cab", ".cab", true},
      {"*.cab", "a.b.cab", true},
      {"*.INI", "hw.ini", true},
      {"*.INI", "hw.ini.bak", false},
      {"*.*", "README", true},
      {"*.*", "a.b", true},
      {"*.*", ".hidden", true},
      {"*", "anything.at.all", true},
      {"abc.*", "abc", true},
      {"abc.*", "ABC.txt", true},
      {"abc.*", "abcd", false},
      {"*.", "README", true},
      {"*.", "a.txt", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "a.c", false},
      {"a?", "a", true},  // "?" may match nothing at the end
      {"a?.txt", "a.txt", true},
      {"a??.txt", "ab.txt", true},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*b", "bbb", true},
      {"\xc4*", "\xc4rger", true},
      {"\xc4*", "\xe4rger", false},  // only ASCII letters fold
      {"exact", "exact", true},
      {"exact", "EXACT", true},
      {"exact", "exactly", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

TEST(ResolvePathTest, FindsEntriesIgnoringCase) {
  ScopedTempDir temp;
  const std::string root = temp.path().string();
  std::filesystem::create_directories(temp.path() / "home" / "ann" / "bundles");
  WriteFileOrDie(temp.path() / "home" / "ann" / "bundles" / "drv.cab", "x");

  // The root itself exists as given; below it everything is upper-cased.
  EXPECT_EQ(ResolvePath(root + "/HOME/ANN/BUNDLES"), root + "/home/ann/bundles");
  EXPECT_EQ(ResolvePath(root + "/HOME/ANN/BUNDLES/DRV.CAB"), root + "/home/ann/bundles/drv.cab");
  EXPECT_EQ(ResolvePath(root + "/Home/Ann/Bundles/"), root + "/home/ann/bundles/");
  EXPECT_EQ(ResolvePath(root + "//home///ann/bundles"), root + "/home/ann/bundles");
  // A missing component and everything after it keep the given spelling.
  EXPECT_EQ(ResolvePath(root + "/HOME/ANN/NEW/SUB.CAB"), root + "/home/ann/NEW/SUB.CAB");
  EXPECT_EQ(ResolvePath(root + "/HOME/./ANN/../ANN"), root + "/home/./ann/../ann");
  EXPECT_EQ(ResolvePath(""), "");
  EXPECT_EQ(ResolvePath("/"), "/");
}

TEST(ResolvePathTest, ExactMatchWinsThenFirstInByteOrder) {
  ScopedTempDir temp;
  const std::string root = temp.path().string();
  for (const char* name : {"data.ini", "DATA.INI", "Data.ini"}) {
    WriteFileOrDie(temp.path() / name, name);
  }
  EXPECT_EQ(ResolvePath(root + "/data.ini"), root + "/data.ini");
  EXPECT_EQ(ResolvePath(root + "/Data.ini"), root + "/Data.ini");
  EXPECT_EQ(ResolvePath(root + "/DATA.INI"), root + "/DATA.INI");
  // No exact match: "DATA.INI" < "Data.ini" < "data.ini" in byte order.
  EXPECT_EQ(ResolvePath(root + "/data.INI"), root + "/DATA.INI");
  EXPECT_EQ(ResolvePath(root + "/dAtA.iNi"), root + "/DATA.INI");
}

TEST(ResolvePathTest, RelativePathsAndUnreadableFolders) {
  ScopedTempDir temp;
  std::filesystem::create_directories(temp.path() / "Sub" / "inner");
  const std::string old_dir = std::filesystem::current_path().string();
  std::filesystem::current_path(temp.path());
  EXPECT_EQ(ResolvePath("SUB/INNER"), "Sub/inner");
  EXPECT_EQ(ResolvePath("./sub"), "./Sub");
  std::filesystem::current_path(old_dir);

  if (geteuid() != 0) {  // root reads any folder
    chmod((temp.path() / "Sub").c_str(), 0300);
    EXPECT_EQ(ResolvePath(temp.Sub("Sub/INNER")), temp.Sub("Sub/INNER"));
    chmod((temp.path() / "Sub").c_str(), 0700);
  }
}

}  // namespace
}  // namespace kestrin
