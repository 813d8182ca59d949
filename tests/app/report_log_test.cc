// AddInfo, WriteLog, LogTrace and ResetInfoList against a real log file.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/messages.h"
#include "app/progress_dlg.h"
#include "app/scripted_ui.h"
#include "app/test_korvane.h"

namespace kestrin {
namespace {

using testing::LogTexts;
using testing::ReadFileOrDie;
using testing::TestKorvane;
using testing::tKorvaneOptions;

std::tm FixedTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(FormatLogLine, StampHasNoSecondsAndPadsFields) {
  EXPECT_EQ(FormatLogLine(FixedTime(2026, 3, 7, 9, 5, 59), "text"), "20260307 09.05 -> text\n");
  EXPECT_EQ(FormatLogLine(FixedTime(1999, 12, 31, 23, 59, 0), ""), "19991231 23.59 -> \n");
  // Embedded line breaks are written as they are.
  EXPECT_EQ(FormatLogLine(FixedTime(2026, 1, 1, 0, 0, 0), "a\nb"), "20260101 00.00 -> a\nb\n");
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override { korvane_.ApplyEnvironment(); }

  std::unique_ptr<CProgressDlg> MakeContext(bool silent) {
    auto dlg = std::make_unique<CProgressDlg>(StringList{}, silent, false, false, "", ui_);
    dlg->SetClock([this] { return now_; });
    return dlg;
  }

  TestKorvane korvane_;
  ScriptedUi ui_;
  std::tm now_ = FixedTime(2026, 12, 6, 14, 7, 31);
};

TEST_F(ReportTest, ContextFormsOemCabDirFromIniPath) {
  auto dlg = MakeContext(true);
  EXPECT_EQ(dlg->OemCabDir, korvane_.oemcab().string());
  EXPECT_EQ(dlg->ProductIniDir, korvane_.ini_dir().string());
  EXPECT_EQ(dlg->ProgramDataDir, korvane_.data_dir().string());
  EXPECT_EQ(dlg->BinDir, korvane_.product_dir().string());
  EXPECT_EQ(CProgressDlg::Current(), dlg.get());
  dlg.reset();
  EXPECT_EQ(CProgressDlg::Current(), nullptr);
  EXPECT_FALSE(WriteLog("no context"));
}

TEST_F(ReportTest, BinDirSwitchWinsOverProductDir) {
  CProgressDlg dlg({"a.cab", "b"}, true, true, true, "/opt/bin dir", ui_);
  EXPECT_EQ(dlg.BinDir, "/opt/bin dir");
  EXPECT_EQ(dlg.CommandLinePaths, (StringList{"a.cab", "b"}));
  EXPECT_TRUE(dlg.SilentMode && dlg.ForceOverwrite && dlg.RecoverTemplates);
  EXPECT_FALSE(dlg.BundleRecoverTemplates);
}

TEST_F(ReportTest, SilentModeLogsLevelOneWithFlagOnly) {
  auto dlg = MakeContext(true);
  dlg->AddInfo("first", 1, true);
  dlg->AddInfo("not logged", 1, false);
  dlg->AddInfo("trace", 5, true);
  dlg->AddInfo("level two", 2, true);
  dlg->AddInfo("level zero", 0, true);
  dlg->AddInfo("", 1, true);
  dlg->ResetInfoList(true);
  EXPECT_EQ(ReadFileOrDie(korvane_.log()),
            "20261206 14.07 -> first\n20261206 14.07 -> level zero\n20261206 14.07 -> \n");
  EXPECT_TRUE(ui_.calls().empty()) << "silent mode must not touch the window";
}

TEST_F(ReportTest, InteractiveModeShowsAndLogs) {
  auto dlg = MakeContext(false);
  dlg->AddInfo("shown and logged", 1, true);
  dlg->AddInfo("shown only", 1, false);
  dlg->AddInfo("trace", 5, true);
  dlg->AddInfo("", 1, true);
  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{"shown and logged", "shown only", ""}));
  EXPECT_EQ(LogTexts(korvane_.log()), (std::vector<std::string>{"shown and logged", ""}));
}

TEST_F(ReportTest, ResetInfoListClearsAndPromptsWithoutLogging) {
  auto dlg = MakeContext(false);
  dlg->AddInfo("old", 1, false);
  dlg->ResetInfoList(true);
  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{msg::kSelectPrompt}));
  dlg->ResetInfoList(false);
  EXPECT_TRUE(ui_.lines().empty());
  EXPECT_FALSE(std::filesystem::exists(korvane_.log()));
}

TEST_F(ReportTest, LogIsAppendedAcrossContexts) {
  {
    auto dlg = MakeContext(true);
    dlg->AddInfo("run one", 1, true);
  }
  now_ = FixedTime(2027, 1, 2, 3, 4, 5);
  {
    auto dlg = MakeContext(true);
    dlg->AddInfo("run two", 1, true);
  }
  EXPECT_EQ(ReadFileOrDie(korvane_.log()),
            "20261206 14.07 -> run one\n20270102 03.04 -> run two\n");
}

TEST_F(ReportTest, FormattedLinesAreNeverCut) {
  auto dlg = MakeContext(true);
  std::string long_text(1000, 'x');
  dlg->AddInfoF("Driver bundle description: %s", long_text.c_str());
  dlg->AddInfoF("Manufacturer: %s (ID %d)", "V", -7);
  EXPECT_EQ(LogTexts(korvane_.log()), (std::vector<std::string>{
                                          "Driver bundle description: " + long_text,
                                          "Manufacturer: V (ID -7)"}));
}

TEST_F(ReportTest, LogTraceWritesOnlyUpToLevelOne) {
  auto dlg = MakeContext(true);
  EXPECT_TRUE(LogTrace("one", 1));
  EXPECT_TRUE(LogTrace("zero", 0));
  EXPECT_FALSE(LogTrace("two", 2));
  EXPECT_FALSE(LogTrace("five", 5));
  EXPECT_EQ(LogTexts(korvane_.log()), (std::vector<std::string>{"one", "zero"}));
}

TEST_F(ReportTest, BundleLayerReportsGoThroughAddInfo) {
  auto dlg = MakeContext(false);
  Report("from the cabinet code", kReportLevel, true);
  Report("cabinet trace", kCabinetTraceLevel, false);
  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{"from the cabinet code"}));
  dlg.reset();
  Report("after the context", kReportLevel, true);
  EXPECT_EQ(ui_.lines().size(), 1u);
}

TEST(ReportWithoutOemCab, LineIsLostButShownAndDirectoryNotCreated) {
  tKorvaneOptions options;
  options.oemcab = false;
  TestKorvane korvane(options);
  korvane.ApplyEnvironment();
  ScriptedUi ui;
  CProgressDlg dlg({}, false, false, false, "", ui);
  EXPECT_FALSE(WriteLog("lost"));
  dlg.AddInfo("still shown", 1, true);
  EXPECT_EQ(ui.lines(), (std::vector<std::string>{"still shown"}));
  EXPECT_FALSE(std::filesystem::exists(korvane.oemcab()));
}

TEST(ReportIniPathWithoutSlash, OemCabDirIsTheSame) {
  tKorvaneOptions options;
  options.ini_trailing_slash = false;
  TestKorvane korvane(options);
  korvane.ApplyEnvironment();
  SilentUi ui;
  CProgressDlg dlg({}, true, false, false, "", ui);
  EXPECT_EQ(dlg.OemCabDir, korvane.oemcab().string());
  EXPECT_TRUE(WriteLog("kept"));
  EXPECT_EQ(LogTexts(korvane.log()), (std::vector<std::string>{"kept"}));
}

}  // namespace
}  // namespace kestrin
