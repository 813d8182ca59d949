// The bundle operations: temporary folder, unpacking, hw.ini description,
// folder scans. Bundles are made with gcab in the test.
#include "bundle/bundle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "bundle/cab_builder.h"
#include "bundle/test_util.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadTree;
using testing::RunProgram;
using testing::ScopedTempDir;
using testing::WriteFileOrDie;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Points the per-user folder at a fresh temporary folder for one test.
class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    had_xdg_ = old != nullptr;
    if (had_xdg_) old_xdg_ = old;
    setenv("XDG_DATA_HOME", appdata_.path().c_str(), 1);
    if (!testing::HaveProgram("gcab")) GTEST_SKIP() << "gcab is not installed";
  }
  void TearDown() override {
    if (had_xdg_) setenv("XDG_DATA_HOME", old_xdg_.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
  }

  // A bundle packed with gcab (MSZIP) from name -> content.
  std::string MakeBundle(const fs::path& cab, const std::map<std::string, std::string>& files) {
    const fs::path src = work_.path() / ("src_" + cab.filename().string());
    std::vector<std::string> argv{"gcab", "-c", "-z", cab.string()};
    for (const auto& [name, data] : files) {
      fs::create_directories((src / name).parent_path());
      WriteFileOrDie(src / name, data);
      argv.push_back(name);
    }
    fs::create_directories(cab.parent_path());
    const auto r = RunProgram(argv, src.string());
    EXPECT_EQ(0, r.exit_code) << r.err;
    return cab.string();
  }

  fs::path Temp(const std::string& name) const { return appdata_.path() / "Brantel" / "Temp" / name; }

  ScopedTempDir appdata_;
  ScopedTempDir work_;
  bool had_xdg_ = false;
  std::string old_xdg_;
};

const char kHwIni[] =
    "[OEMDriverDisk]\r\n"
    "DESCRIPTION=FX-200 drivers\r\n"
    "OEMNAME=\"Fenwick Controls\"\r\n"
    "OEMID=42\r\n"
    "VERSION=2.1.0\r\n"
    "MINIMUM_VERSION=5.3\r\n";

TEST_F(BundleTest, TempDirIsBelowTheUserFolderNamedAfterTheBundleFile) {
  EXPECT_EQ(Temp("DRV.CAB").string(), BundleTempDirPath("/some/where/DRV.CAB"));
  EXPECT_EQ(Temp("drv.cab").string(), BundleTempDirPath("drv.cab"));
  setenv("XDG_DATA_HOME", (appdata_.path().string() + "/").c_str(), 1);
  EXPECT_EQ(Temp("x.cab").string(), BundleTempDirPath("/a/x.cab"));
  unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(std::string(home) + "/.local/share/Brantel/Temp/x.cab", BundleTempDirPath("/a/x.cab"));
  }
}

TEST_F(BundleTest, MakeBundleTempDirCreatesKeepsAndMakesWritable) {
  tBundleTempDir temp = MakeBundleTempDir("/nowhere/DRV.CAB");
  EXPECT_TRUE(temp.exists);
  EXPECT_EQ(Temp("DRV.CAB").string(), temp.path);
  EXPECT_TRUE(fs::is_directory(temp.path));
  WriteFileOrDie(fs::path(temp.path) / "left.txt", "left");
  chmod(temp.path.c_str(), 0555);
  temp = MakeBundleTempDir("/elsewhere/DRV.CAB");  // same name, same folder
  EXPECT_TRUE(temp.exists);
  EXPECT_EQ("left", testing::ReadFileOrDie(fs::path(temp.path) / "left.txt"));
  struct stat st;
  ASSERT_EQ(0, stat(temp.path.c_str(), &st));
  EXPECT_TRUE(st.st_mode & S_IWUSR);
  EXPECT_FALSE(MakeBundleTempDir("/some/folder/").exists);
  EXPECT_FALSE(MakeBundleTempDir("..").exists);
  // A per-user folder that is not absolute: nothing below the current folder.
  setenv("XDG_DATA_HOME", "relative/share", 1);
  EXPECT_FALSE(MakeBundleTempDir("/x/DRV.CAB").exists);
  EXPECT_FALSE(fs::exists("relative"));
  // A per-user folder that cannot be made.
  WriteFileOrDie(work_.path() / "file", "");
  setenv("XDG_DATA_HOME", (work_.path() / "file").c_str(), 1);
  EXPECT_FALSE(MakeBundleTempDir("/x/DRV.CAB").exists);
}

TEST_F(BundleTest, ExtractsWholeBundleOrOnlyItsHwIni) {
  const std::string cab = MakeBundle(work_.path() / "in" / "Fx200.cab", {
      {"HW.INI", kHwIni},
      {"MODULES/FX200.INI", "[Module]\r\n"},
      {"HELP/fx200.htm", testing::MakePayload(70000, 0, 1)},
  });
  const std::string only = work_.Sub("only");
  EXPECT_EQ(1, ExtractHwIni(cab, only));
  EXPECT_EQ((std::map<std::string, std::string>{{"HW.INI", kHwIni}}), ReadTree(only));
  const std::string all = work_.Sub("all");
  EXPECT_EQ(3, ExtractCabinetFile(cab, all));
  auto tree = ReadTree(all);
  EXPECT_EQ(3u, tree.size());
  EXPECT_EQ("[Module]\r\n", tree["MODULES/FX200.INI"]);

  const std::string plain = MakeBundle(work_.path() / "in" / "plain.cab", {{"readme.txt", "no description"}});
  WriteFileOrDie(work_.path() / "in" / "junk.cab", std::string(64, 'j'));
  struct Case {
    std::string cab;
    int whole;
    int hw_ini;
  } cases[] = {
      {plain, 1, 0},                          // no hw.ini
      {work_.Sub("in/missing.cab"), 0, 0},    // cannot be opened
      {work_.Sub("in/junk.cab"), -1, -2},     // not a cabinet: listing / copy fails
      {Upper(cab), 3, 1},                     // upper-cased path still finds it
  };
  for (const Case& c : cases) {
    ScopedTempDir out;
    EXPECT_EQ(c.whole, ExtractCabinetFile(c.cab, out.Sub("w"))) << c.cab;
    EXPECT_EQ(c.hw_ini, ExtractHwIni(c.cab, out.Sub("h"))) << c.cab;
  }
}

TEST_F(BundleTest, ReadBundleInfoFillsEveryField) {
  const std::string cab = MakeBundle(work_.path() / "Fx200.cab", {{"hw.ini", kHwIni}, {"x.txt", "x"}});
  tCabFileInfo info;
  ASSERT_TRUE(ReadBundleInfo(cab, &info));
  EXPECT_EQ("Fx200.cab", info.FileName);
  EXPECT_EQ("FX-200 drivers", info.Description);
  EXPECT_EQ("Fenwick Controls", info.OemName);
  EXPECT_EQ("2.1.0", info.Version);
  EXPECT_EQ(cab, info.BundlePath);
  EXPECT_EQ("42", info.OemIdText);
  EXPECT_EQ(42, info.OemId);
  EXPECT_EQ("5.3", info.MinimumVersion);
  // Only hw.ini was unpacked, into the bundle's temporary folder, and left there.
  EXPECT_EQ((std::map<std::string, std::string>{{"hw.ini", kHwIni}}), ReadTree(Temp("Fx200.cab")));
  EXPECT_TRUE(CheckBundle(cab));

  const std::string bare = MakeBundle(work_.path() / "bare.cab", {{"Hw.Ini", "[OEMDriverDisk]\r\nOEMNAME=Bare\r\n"}});
  tCabFileInfo bare_info;
  ASSERT_TRUE(ReadBundleInfo(bare, &bare_info));
  EXPECT_EQ("Bare", bare_info.OemName);
  EXPECT_EQ(0, bare_info.OemId);
  EXPECT_EQ("", bare_info.OemIdText);
  EXPECT_EQ("", bare_info.Description);
  EXPECT_EQ("", bare_info.MinimumVersion);

  const std::string none = MakeBundle(work_.path() / "none.cab", {{"readme.txt", "r"}});
  tCabFileInfo untouched;
  untouched.OemName = "keep";
  EXPECT_FALSE(ReadBundleInfo(none, &untouched));
  EXPECT_FALSE(ReadBundleInfo("", &untouched));
  EXPECT_FALSE(ReadBundleInfo(work_.Sub("missing.cab"), &untouched));
  EXPECT_EQ("keep", untouched.OemName);
  EXPECT_FALSE(CheckBundle(none));
  EXPECT_FALSE(CheckBundle(""));
}

TEST_F(BundleTest, ScanFindsUsableBundlesOfAnyLetterCase) {
  const fs::path dir = work_.path() / "Bundles";
  MakeBundle(dir / "drv.cab", {{"hw.ini", kHwIni}});
  MakeBundle(dir / "B.CAB", {{"HW.INI", kHwIni}});
  MakeBundle(dir / "x.Cab", {{"other.txt", "no hw.ini"}});
  WriteFileOrDie(dir / "notes.txt", "");
  MakeBundle(dir / "long.cabinet", {{"hw.ini", kHwIni}});
  std::vector<std::string> found{"/ALREADY/THERE.CAB"};
  EXPECT_EQ(2, ScanBundleDirectory(dir.string(), &found));
  const std::string upper_dir = Upper(dir.string());
  EXPECT_EQ((std::vector<std::string>{"/ALREADY/THERE.CAB", upper_dir + "/B.CAB", upper_dir + "/DRV.CAB"}), found);
  EXPECT_TRUE(fs::exists(Temp("DRV.CAB") / "hw.ini"));
  EXPECT_TRUE(fs::exists(Temp("B.CAB") / "HW.INI"));
  EXPECT_EQ(0, ScanBundleDirectory("", &found));
  EXPECT_EQ(0, ScanBundleDirectory(work_.Sub("missing"), &found));
  EXPECT_EQ(3u, found.size());

  // The paths found work as bundle paths.
  tCabFileInfo info;
  EXPECT_TRUE(ReadBundleInfo(found[2], &info));
  EXPECT_EQ("DRV.CAB", info.FileName);
  EXPECT_EQ(upper_dir + "/DRV.CAB", info.BundlePath);
}

TEST_F(BundleTest, DirectoryHasBundleAndCleansUpAfterItself) {
  const fs::path good = work_.path() / "good";
  MakeBundle(good / "a.cab", {{"readme", "no"}});
  MakeBundle(good / "c.CAB", {{"hw.ini", kHwIni}});
  MakeBundle(good / "d.cab", {{"hw.ini", kHwIni}});
  EXPECT_TRUE(DirectoryHasBundle(good.string()));
  EXPECT_TRUE(fs::exists(Temp("A.CAB")));    // an earlier failed candidate stays
  EXPECT_FALSE(fs::exists(Temp("C.CAB")));   // the last one tried is removed
  EXPECT_FALSE(fs::exists(Temp("D.CAB")));   // never reached

  const fs::path bad = work_.path() / "bad";
  MakeBundle(bad / "only.cab", {{"readme", "no"}});
  EXPECT_FALSE(DirectoryHasBundle(bad.string()));
  EXPECT_FALSE(fs::exists(Temp("ONLY.CAB")));
  EXPECT_FALSE(DirectoryHasBundle(work_.Sub("empty-or-missing")));
  EXPECT_FALSE(DirectoryHasBundle(""));
}

}  // namespace
}  // namespace kestrin
