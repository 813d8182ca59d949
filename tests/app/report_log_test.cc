// AddInfo, WriteLog, LogTrace and ResetInfoList against a real log file.
#include <gtest/gtest.h>

#include "app/progress_dlg.h"
#include "app/scripted_ui.h"
#include "app/test_korvane.h"
#include "bundle/report_sink.h"

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = hour,
  t.tm_min = minute, t.tm_sec = second;
  return t;
}

TEST(ReportTest, LogLinesAndLevels) {
  EXPECT_EQ(FormatLogLine(Time(2026, 3, 7, 9, 5, 59), "text"), "20260307 09.05 -> text\n");
  EXPECT_EQ(FormatLogLine(Time(1999, 12, 31, 23, 59, 0), "a\nb"), "19991231 23.59 -> a\nb\n");
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  ScriptedUi ui;
  std::tm now = Time(2026, 12, 6, 14, 7, 31);
  {
    CProgressDlg silent({}, true, false, false, "", ui);
    silent.SetClock([&] { return now; });
    for (const auto& [text, level, log] : std::vector<std::tuple<std::string, int, bool>>{
             {"first", 1, true}, {"not logged", 1, false}, {"trace", 5, true},
             {"two", 2, true}, {"zero", 0, true}, {"", 1, true}})
      silent.AddInfo(text, level, log);
    EXPECT_TRUE(LogTrace("one", 1));
    EXPECT_FALSE(LogTrace("two", 2));
    silent.AddInfoF("Driver bundle description: %s", std::string(1000, 'x').c_str());  // never cut
    silent.ResetInfoList(true);
  }
  EXPECT_TRUE(ui.calls().empty()) << "silent mode touched the window";
  EXPECT_FALSE(WriteLog("no context"));
  now = Time(2027, 1, 2, 3, 4, 5);
  CProgressDlg dlg({}, false, false, false, "", ui);
  dlg.SetClock([&] { return now; });
  dlg.AddInfo("shown and logged", 1, true);
  dlg.AddInfo("shown only", 1, false);
  dlg.AddInfo("trace", 5, true);
  Report("from the cabinet code", kReportLevel, true);
  Report("cabinet trace", kCabinetTraceLevel, false);
  EXPECT_EQ(ui.lines(), (Lines{"shown and logged", "shown only", "from the cabinet code"}));
  EXPECT_EQ(ReadFileOrDie(korvane.log()),
            "20261206 14.07 -> first\n20261206 14.07 -> zero\n20261206 14.07 -> \n"
            "20261206 14.07 -> one\n20261206 14.07 -> Driver bundle description: " +
                std::string(1000, 'x') +
                "\n20270102 03.04 -> shown and logged\n20270102 03.04 -> from the cabinet code\n");
  dlg.ResetInfoList(true);  // the prompt is shown, never logged
  EXPECT_EQ(ui.lines(), (Lines{"Please select a driver cabinet file you wish to install."}));
  dlg.ResetInfoList(false);
  EXPECT_TRUE(ui.lines().empty());
  EXPECT_EQ(LogTexts(korvane.log()).size(), 7u);
}

// Without an OEMCAB folder lines are still shown, and logging never creates it.
TEST(ReportTest, MissingOemCabFolderIsNeverCreated) {
  tKorvaneOptions options;
  options.oemcab = false;
  TestKorvane korvane(options);
  korvane.ApplyEnvironment();
  ScriptedUi ui;
  CProgressDlg dlg({}, false, false, false, "", ui);
  EXPECT_EQ(dlg.OemCabDir, korvane.oemcab().string());
  EXPECT_EQ(dlg.BinDir, korvane.product_dir().string());
  dlg.AddInfo("still shown", 1, true);
  EXPECT_EQ(ui.lines(), (Lines{"still shown"}));
  EXPECT_FALSE(fs::exists(korvane.oemcab()));
  EXPECT_EQ(CProgressDlg({}, true, true, true, "/opt/bin dir", ui).BinDir, "/opt/bin dir");
}

}  // namespace
}  // namespace kestrin
