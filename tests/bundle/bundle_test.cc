// The bundle operations: unpacking, the hw.ini description, folder scans.
#include "bundle/bundle.h"

#include <gtest/gtest.h>

#include "bundle/bundle_test_util.h"

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT

const char kHwIni[] =
    "[OEMDriverDisk]\r\nDESCRIPTION=FX-200 drivers\r\nOEMNAME=\"Fenwick Controls\"\r\n"
    "OEMID=42\r\nVERSION=2.1.0\r\nMINIMUM_VERSION=5.3\r\n";

class BundleTest : public BundleFolderTest {
 protected:
  std::string Bundle(const fs::path& cab, const cab::testing::NamedContents& files) {
    fs::create_directories(cab.parent_path());
    WriteFileOrDie(cab, StoredCabinet(files));
    return cab.string();
  }
};

TEST_F(BundleTest, ExtractsWholeBundleOrOnlyItsHwIniInAnyLetterCase) {
  const std::string cab = Bundle(
      work_.path() / "in" / "Fx200.cab",
      {{"MODULES\\FX200.INI", "[Module]\r\n"}, {"Hw.Ini", kHwIni}, {"HELP\\fx.htm", "<h/>"}});
  WriteFileOrDie(work_.path() / "in" / "junk.cab", std::string(64, 'j'));
  const struct {
    std::string cab;
    int whole, hw_ini;
  } cases[] = {
      {cab, 3, 1},
      {Upper(cab), 3, 1},                   // the path in other letter case still finds it
      {work_.Sub("in/missing.cab"), 0, 0},  // cannot be opened
      {work_.Sub("in/junk.cab"), -1, -2},   // not a cabinet: listing / copy fails
  };
  for (const auto& c : cases) {
    ScopedTempDir out;
    EXPECT_EQ(c.whole, ExtractCabinetFile(c.cab, out.Sub("w"))) << c.cab;
    EXPECT_EQ(c.hw_ini, ExtractHwIni(host_, c.cab, out.Sub("h"))) << c.cab;
    if (c.hw_ini == 1) { EXPECT_EQ((FileSet{{"Hw.Ini", kHwIni}}), ReadTree(out.Sub("h"))); }
    if (c.whole == 3) { EXPECT_EQ("[Module]\r\n", ReadFileOrDie(out.path() / "w/MODULES/FX200.INI")); }
  }
  EXPECT_EQ(-2, ExtractCabinetFile(cab, work_.Sub("in/junk.cab")));  // target is a file
}

TEST_F(BundleTest, ReadBundleInfoFillsEveryFieldOrNothing) {
  const std::string cab = Bundle(work_.path() / "Fx200.cab", {{"x.txt", "x"}, {"HW.INI", kHwIni}});
  using Fields = std::vector<std::string>;
  const auto fields = [](const tCabFileInfo& i) {
    return Fields{i.FileName,  i.Description, i.OemName,  i.Version, i.BundlePath, i.OemIdText,
                  std::to_string(i.OemId), i.MinimumVersion};
  };
  tCabFileInfo info;
  ASSERT_TRUE(ReadBundleInfo(host_, cab, &info));
  EXPECT_EQ(fields(info),
            (Fields{"Fx200.cab", "FX-200 drivers", "Fenwick Controls", "2.1.0", cab, "42", "42", "5.3"}));
  // Only hw.ini was unpacked, into the bundle's temporary folder, and left there.
  EXPECT_EQ((FileSet{{"HW.INI", kHwIni}}), ReadTree(Temp("Fx200.cab")));
  EXPECT_TRUE(CheckBundle(host_, cab));
  const std::string bare =
      Bundle(work_.path() / "bare.cab", {{"hw.ini", "[OEMDriverDisk]\r\nOEMNAME=Bare\r\n"}});
  ASSERT_TRUE(ReadBundleInfo(host_, bare, &info));
  EXPECT_EQ(fields(info), (Fields{"bare.cab", "", "Bare", "", bare, "", "0", ""}));

  const std::string none = Bundle(work_.path() / "none.cab", {{"readme.txt", "r"}});
  tCabFileInfo untouched;
  untouched.OemName = "keep";
  for (const std::string& path : {none, std::string(), work_.Sub("missing.cab")}) {
    EXPECT_FALSE(ReadBundleInfo(host_, path, &untouched)) << path;
    EXPECT_FALSE(CheckBundle(host_, path)) << path;
  }
  EXPECT_EQ("keep", untouched.OemName);
}

TEST_F(BundleTest, ScanFindsUsableBundlesOfAnyLetterCase) {
  const fs::path dir = work_.path() / "Bundles";
  Bundle(dir / "drv.cab", {{"hw.ini", kHwIni}});
  Bundle(dir / "B.CAB", {{"HW.INI", kHwIni}});
  Bundle(dir / "x.Cab", {{"other.txt", "no hw.ini"}});
  Bundle(dir / "long.cabinet", {{"hw.ini", kHwIni}});
  WriteFileOrDie(dir / "notes.txt", "");
  std::vector<std::string> found{"/ALREADY/THERE.CAB"};
  EXPECT_EQ(2, ScanBundleDirectory(host_, dir.string(), &found));
  const std::string upper = Upper(dir.string());
  EXPECT_EQ((std::vector<std::string>{"/ALREADY/THERE.CAB", upper + "/B.CAB", upper + "/DRV.CAB"}),
            found);
  EXPECT_TRUE(fs::exists(Temp("DRV.CAB") / "hw.ini"));
  EXPECT_EQ(0, ScanBundleDirectory(host_, "", &found));
  EXPECT_EQ(0, ScanBundleDirectory(host_, work_.Sub("missing"), &found));
  tCabFileInfo info;  // the paths found work as bundle paths
  EXPECT_TRUE(ReadBundleInfo(host_, found.at(2), &info));
  EXPECT_EQ("DRV.CAB", info.FileName);
  EXPECT_EQ(upper + "/DRV.CAB", info.BundlePath);
  EXPECT_TRUE(DirectoryHasBundle(host_, dir.string()));
  EXPECT_FALSE(DirectoryHasBundle(host_, work_.Sub("missing")));
}

}  // namespace
}  // namespace kestrin
