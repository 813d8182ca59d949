// Sorting the command line into bundle directories and bundle files.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/progress_dlg.h"
#include "app/test_korvane.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::HwIni;
using testing::MakeCabinet;
using testing::TestKorvane;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

class ScheduleCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { korvane_.ApplyEnvironment(); }
  std::string Bundle(const std::string& relative) {
    fs::path cab = korvane_.root() / relative;
    MakeCabinet(cab, {{"hw.ini", HwIni("D", "V", "1", "1.0", "")}});
    return cab.string();
  }
  bool Schedule(const StringList& arguments) {
    dlg_ = std::make_unique<CProgressDlg>(arguments, true, false, false, "", ui_);
    return dlg_->ScheduleCommandLine();
  }

  TestKorvane korvane_;
  SilentUi ui_;
  std::unique_ptr<CProgressDlg> dlg_;
};

TEST_F(ScheduleCommandLineTest, FilesAreUpperCasedInCommandLineOrder) {
  std::string b = Bundle("in/b.cab");
  std::string a = Bundle("in/a.Cab");
  ASSERT_TRUE(Schedule({b, a}));
  EXPECT_EQ(dlg_->AvailableBundles, (StringList{Upper(b), Upper(a)}));
  EXPECT_EQ(dlg_->CommandLineBundles, dlg_->AvailableBundles);
  EXPECT_TRUE(dlg_->BundleDirectories.empty());
  EXPECT_TRUE(dlg_->CommandLineDirectories.empty());
}

TEST_F(ScheduleCommandLineTest, DirectoryIsScannedAndNamedFilesAreNotAddedTwice) {
  std::string a = Bundle("dir/a.cab");
  Bundle("dir/b.cab");
  std::string outside = Bundle("other/c.cab");
  std::string dir = (korvane_.root() / "dir").string();
  ASSERT_TRUE(Schedule({outside, dir, a, a}));
  EXPECT_EQ(dlg_->BundleDirectories, (StringList{Upper(dir)}));
  EXPECT_EQ(dlg_->CommandLineDirectories, dlg_->BundleDirectories);
  // Scanned bundles first (name order), then the named files not yet listed.
  EXPECT_EQ(dlg_->AvailableBundles,
            (StringList{Upper(dir) + "/A.CAB", Upper(dir) + "/B.CAB", Upper(outside)}));
}

TEST_F(ScheduleCommandLineTest, DirectoryNameHoldingCabIsACandidateFileNotADirectory) {
  Bundle("x.cab.d/inner.cab");
  std::string dir = (korvane_.root() / "x.cab.d").string();
  EXPECT_FALSE(Schedule({dir}));
  EXPECT_TRUE(dlg_->BundleDirectories.empty());
  EXPECT_TRUE(dlg_->AvailableBundles.empty());
}

TEST_F(ScheduleCommandLineTest, OnlyUsableBundlesAreScheduled) {
  fs::create_directories(korvane_.root() / "in");
  testing::WriteFileOrDie(korvane_.root() / "in" / "text.cab", "plain text");
  MakeCabinet(korvane_.root() / "in" / "nohw.cab", {{"README.TXT", "no description\n"}});
  std::string good = Bundle("in/HW-upper.cab");
  EXPECT_TRUE(Schedule({(korvane_.root() / "in" / "text.cab").string(),
                        (korvane_.root() / "in" / "nohw.cab").string(), "not-a-bundle.txt",
                        good, "/no/such/dir/x.cab"}));
  EXPECT_EQ(dlg_->AvailableBundles, (StringList{Upper(good)}));
}

TEST_F(ScheduleCommandLineTest, NothingUsableLeavesTheCommandLineListsAlone) {
  EXPECT_FALSE(Schedule({"/no/such/a.cab"}));
  EXPECT_TRUE(dlg_->AvailableBundles.empty());
  EXPECT_TRUE(dlg_->CommandLineBundles.empty());
}

TEST_F(ScheduleCommandLineTest, SilentRunPutsTheCommandLineBundlesInFrontOfTheSchedule) {
  std::string a = Bundle("in/a.cab");
  dlg_ = std::make_unique<CProgressDlg>(StringList{a}, true, false, false, "", ui_);
  std::string kept = Bundle("in/kept.cab");
  dlg_->ScheduledBundles = {kept};
  dlg_->SetStepTable({});
  dlg_->RunInstallation();
  EXPECT_EQ(dlg_->ScheduledBundles, (StringList{Upper(a), kept}));
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "a.cab"));
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "kept.cab"));
}

}  // namespace
}  // namespace kestrin
