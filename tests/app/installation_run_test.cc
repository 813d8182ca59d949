// The installation run and bundle preparation, driven through the scripted
// user interface with a step table of recording steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/install_steps.h"
#include "app/messages.h"
#include "app/progress_dlg.h"
#include "app/scripted_ui.h"
#include "app/test_korvane.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::Append;
using testing::CompletionLines;
using testing::HwIni;
using testing::LogTexts;
using testing::MakeCabinet;
using testing::PreparedLines;
using testing::TestKorvane;
using testing::tKorvaneOptions;
using Lines = std::vector<std::string>;

const std::string kSeparator(90, '-');
const char kRunErrors[] =
    "There were errors during the installation process. You may re-run the installation again.";

// What the recording steps saw and what they answer.
struct tStepCall {
  std::string step;
  bool recover;
  std::string bundle;
};
std::vector<tStepCall> g_step_calls;
std::map<std::string, int> g_step_results;

template <const char* kName>
int RecordingStep(CProgressDlg& dlg, bool recover) {
  g_step_calls.push_back({kName, recover, dlg.CurrentBundle});
  return g_step_results[kName];
}

constexpr char kHardware[] = "hardware";
constexpr char kConnections[] = "connections";
constexpr char kPrintForms[] = "print forms";
constexpr char kPost[] = "post";

// Four rows shaped like real ones: a step whose failure is logged and counts,
// one whose failure is shown but never logged, one whose failure does not
// count for the summary, and a boolean step.
const std::vector<tInstallStep> kTestSteps = {
    {kHardware, 25, RecordingStep<kHardware>, 0, " *** H done ***", {{1, "H failed", true}}, 1},
    {kConnections, 75, RecordingStep<kConnections>, 0, " *** C done ***",
     {{1, "C failed, list only", false}}, 1},
    {kPrintForms, 45, RecordingStep<kPrintForms>, 0, " *** F done ***", {{1, "F failed", true}},
     kNoSummaryResult},
    {kPost, 97, RecordingStep<kPost>, 1, " *** P done ***", {}, 0},
};
const Lines kAllStepsDone = {" *** H done ***", " *** C done ***", " *** F done ***",
                             " *** P done ***"};

class InstallationRunTest : public ::testing::Test {
 protected:
  InstallationRunTest() : korvane_(Options()) {}
  virtual tKorvaneOptions Options() { return {}; }

  void SetUp() override {
    korvane_.ApplyEnvironment();
    g_step_calls.clear();
    g_step_results = {{kHardware, 0}, {kConnections, 0}, {kPrintForms, 0}, {kPost, 1}};
  }

  // A bundle in the test Korvane's bundle folder with hw.ini and one module.
  std::string Bundle(const std::string& name, const std::string& minimum = "",
                     const std::string& extra = "") {
    fs::path cab = korvane_.root() / "bundles" / name;
    MakeCabinet(cab, {{"hw.ini", HwIni("Bundle " + name, "Vendor", "42", "1.0", minimum, extra)},
                      {"MODULES/M.INI", "[MODULE]\n"}});
    return cab.string();
  }
  Lines DirectoryLines() {
    Lines prepared = Prepared("x");
    return Lines(prepared.begin(), prepared.begin() + 2);
  }
  Lines Prepared(const std::string& name, const std::string& minimum = "") {
    return PreparedLines(korvane_, "Bundle " + name, "Vendor", 42, "1.0", 2, minimum);
  }

  std::unique_ptr<CProgressDlg> Context(bool silent, bool recover = false) {
    auto dlg = std::make_unique<CProgressDlg>(StringList{}, silent, false, recover, "", ui_);
    dlg->SetStepTable(kTestSteps);
    return dlg;
  }

  TestKorvane korvane_;
  ScriptedUi ui_;
};

TEST_F(InstallationRunTest, TwoBundlesInteractiveAreSeparatedAndNumbered) {
  std::string a = Bundle("a.cab");
  std::string b = Bundle("b.cab");
  ui_.SetSelection({a, b});
  auto dlg = Context(false);
  dlg->RunInstallation();

  Lines expected = {"Kestrin - Installation Process:", ""};
  for (const auto& [number, name] : {std::pair{1, "a.cab"}, std::pair{2, "b.cab"}}) {
    Append(&expected, {kSeparator, "Now installing bundle " + std::to_string(number) + ": " + name,
                       kSeparator});
    Append(&expected, Prepared(name));
    Append(&expected, kAllStepsDone);
    Append(&expected, CompletionLines());
  }
  EXPECT_EQ(ui_.lines(), expected);
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  EXPECT_EQ(ui_.progress(), (std::vector<int>{5, 15, 25, 75, 45, 97, 100, 5, 15, 25, 75, 45, 97,
                                              100}));
  // Both archived beside the log, both temporary directories gone.
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "a.cab"));
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "b.cab"));
  EXPECT_FALSE(fs::exists(korvane_.temp_root() / "a.cab"));
  EXPECT_FALSE(fs::exists(korvane_.temp_root() / "b.cab"));
  // The run ends with the selection cleared and only "Exit" enabled.
  EXPECT_EQ(ui_.calls().back().kind, "EnableExit");
  EXPECT_TRUE(ui_.exit_enabled());
  EXPECT_FALSE(ui_.install_enabled());
  EXPECT_TRUE(ui_.SelectedBundlePaths().empty());
  EXPECT_EQ(g_step_calls.size(), 8u);
}

TEST_F(InstallationRunTest, OneBundleHasNoSeparatorAndButtonsAreDisabledDuringTheRun) {
  ui_.SetSelection({Bundle("one.cab")});
  auto dlg = Context(false);
  dlg->RunInstallation();
  Lines expected = {"Kestrin - Installation Process:", ""};
  Append(&expected, Prepared("one.cab"));
  Append(&expected, kAllStepsDone);
  Append(&expected, CompletionLines());
  EXPECT_EQ(ui_.lines(), expected);
  // Range and buttons are set before the first report of the bundle.
  Lines before;
  int lines_seen = 0;
  for (const auto& call : ui_.calls()) {
    if (call.kind == "AddLine" && ++lines_seen == 3) break;
    before.push_back(call.kind);
  }
  EXPECT_EQ(before, (Lines{"SelectedBundlePaths", "AddLine", "AddLine", "SetProgressRange",
                           "EnableInstall", "EnableExit", "SetProgressPos", "Redraw"}));
}

TEST_F(InstallationRunTest, StepResultsSelectTheirLinesAndTheSummary) {
  g_step_results = {{kHardware, 1}, {kConnections, 1}, {kPrintForms, 1}, {kPost, 0}};
  ui_.SetSelection({Bundle("x.cab")});
  auto dlg = Context(false);
  dlg->RunInstallation();
  Lines tail = {"H failed", "C failed, list only", "F failed"};
  Append(&tail, CompletionLines());
  tail.push_back(kRunErrors);
  Lines shown(ui_.lines().end() - static_cast<long>(tail.size()), ui_.lines().end());
  EXPECT_EQ(shown, tail);
  Lines logged = LogTexts(korvane_.log());
  EXPECT_EQ(std::count(logged.begin(), logged.end(), "C failed, list only"), 0);
  EXPECT_EQ(logged.back(), kRunErrors);
}

TEST_F(InstallationRunTest, FailureOutsideTheSummaryGivesNoSummaryLine) {
  g_step_results[kPrintForms] = 1;
  g_step_results[kHardware] = 7;  // a result without a line: nothing reported
  ui_.SetSelection({Bundle("x.cab")});
  auto dlg = Context(false);
  dlg->RunInstallation();
  Lines tail = {" *** C done ***", "F failed", " *** P done ***"};
  Append(&tail, CompletionLines());
  Lines shown(ui_.lines().end() - static_cast<long>(tail.size()), ui_.lines().end());
  EXPECT_EQ(shown, tail);
}

TEST_F(InstallationRunTest, RestartRequestShowsLineAndMessageBox) {
  ui_.SetSelection({Bundle("r.cab", "", "REQUIRE_RESTART=1\n")});
  auto dlg = Context(false);
  dlg->RunInstallation();
  EXPECT_EQ(ui_.informs(), (Lines{msg::kRequiresRestart}));
  Lines tail = {" *** P done ***", msg::kRequiresRestart};
  Append(&tail, CompletionLines());
  Lines shown(ui_.lines().end() - static_cast<long>(tail.size()), ui_.lines().end());
  EXPECT_EQ(shown, tail);
}

TEST_F(InstallationRunTest, RestartValueOtherThanOneAndSilentModeShowNothing) {
  ui_.SetSelection({Bundle("r2.cab", "", "REQUIRE_RESTART=2\n")});
  {
    auto dlg = Context(false);
    dlg->RunInstallation();
  }
  EXPECT_TRUE(ui_.informs().empty());
  CProgressDlg silent({Bundle("r1.cab", "", "REQUIRE_RESTART=1\n")}, true, false, false, "", ui_);
  silent.SetStepTable(kTestSteps);
  size_t calls = ui_.calls().size();
  silent.RunInstallation();
  EXPECT_EQ(ui_.calls().size(), calls) << "silent mode touched the window";
  Lines logged = LogTexts(korvane_.log());
  EXPECT_EQ(std::count(logged.begin(), logged.end(), msg::kRequiresRestart), 0);
}

TEST_F(InstallationRunTest, RecoverSwitchIsClearedAfterTheFirstPreparedBundle) {
  std::string refused = Bundle("old.cab", "9.0");
  std::string first = Bundle("first.cab");
  std::string second = Bundle("second.cab");
  ui_.SetSingleSelection(true);
  ui_.SetSelection({refused, first, second});
  auto dlg = Context(false, /*recover=*/true);
  dlg->RunInstallation();
  EXPECT_FALSE(dlg->RecoverTemplates);
  EXPECT_FALSE(ui_.single_selection());
  // Several bundles: the steps never get the recovery flag.
  for (const tStepCall& call : g_step_calls) EXPECT_FALSE(call.recover) << call.bundle;
  // Cleared once, right after the first bundle that was installed.
  int clears = 0;
  size_t clear_at = 0;
  size_t first_done_at = 0;
  int completions = 0;
  for (size_t i = 0; i < ui_.calls().size(); ++i) {
    const auto& call = ui_.calls()[i];
    if (call.kind == "SetSingleSelection" && call.a == 0) {
      ++clears;
      clear_at = i;
    }
    if (call.kind == "AddLine" && call.text == msg::kCompleted && ++completions == 1) {
      first_done_at = i;
    }
  }
  EXPECT_EQ(clears, 1);
  EXPECT_GT(clear_at, first_done_at);
  EXPECT_EQ(completions, 2);
}

TEST_F(InstallationRunTest, RefusedBundleKeepsTheRecoverSwitch) {
  ui_.SetSelection({Bundle("old.cab", "9.0")});
  auto dlg = Context(false, /*recover=*/true);
  dlg->RunInstallation();
  EXPECT_TRUE(dlg->RecoverTemplates);
  EXPECT_TRUE(g_step_calls.empty());
  EXPECT_EQ(ui_.progress(), (std::vector<int>{5, 15, 100}));
  // Only the gate's error line, no summary line; the unpacked bundle stays.
  Lines expected = {"Kestrin - Installation Process:", ""};
  Append(&expected, Prepared("old.cab", "9.0"));
  expected.push_back("ERROR: Installed Korvane version (6.1) older than specified minimum version (9.0)");
  EXPECT_EQ(ui_.lines(), expected);
  EXPECT_TRUE(fs::exists(korvane_.temp_root() / "old.cab" / "hw.ini"));
}

struct tRecoveryCase {
  const char* name;
  bool recover_switch;
  std::string bundle_recovery;  // RECOVERY in [TEMPLATES], "" for none
  int bundles;
  bool expected;
};

class RecoveryFlagTest : public InstallationRunTest,
                         public ::testing::WithParamInterface<tRecoveryCase> {};

TEST_P(RecoveryFlagTest, StepsGetTheRunsRecoveryFlag) {
  const tRecoveryCase& c = GetParam();
  std::string extra =
      c.bundle_recovery.empty() ? "" : "[TEMPLATES]\nRECOVERY=" + c.bundle_recovery + "\n";
  StringList selection;
  for (int i = 0; i < c.bundles; ++i) {
    std::string name = "b";
    name += std::to_string(i);
    selection.push_back(Bundle(name + ".cab", "", extra));
  }
  ui_.SetSelection(selection);
  auto dlg = Context(false, c.recover_switch);
  dlg->RunInstallation();
  ASSERT_EQ(g_step_calls.size(), kTestSteps.size() * static_cast<size_t>(c.bundles));
  for (const tStepCall& call : g_step_calls) EXPECT_EQ(call.recover, c.expected) << call.step;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecoveryFlagTest,
    ::testing::Values(tRecoveryCase{"NoneAsked", false, "", 1, false},
                      tRecoveryCase{"SwitchOneBundle", true, "", 1, true},
                      tRecoveryCase{"BundleAsks", false, "1", 1, true},
                      tRecoveryCase{"BundleValueTwoIsNo", false, "2", 1, false},
                      tRecoveryCase{"SwitchTwoBundles", true, "", 2, false},
                      tRecoveryCase{"BundleAsksTwoBundles", false, "1", 2, false}),
    [](const ::testing::TestParamInfo<tRecoveryCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(InstallationRunTest, UnpreparableBundlesGetTheSummaryLineAndTheRunGoesOn) {
  fs::path junk = korvane_.root() / "bundles" / "junk.cab";
  fs::create_directories(junk.parent_path());
  testing::WriteFileOrDie(junk, "this is not a cabinet");
  std::string good = Bundle("good.cab");
  ui_.SetSelection({"", junk.string(), good});
  auto dlg = Context(false);
  dlg->RunInstallation();

  Lines expected = {"Kestrin - Installation Process:", ""};
  Lines directories = DirectoryLines();
  // An empty path: no separator, only the directory lines.
  Append(&expected, directories);
  expected.push_back(kRunErrors);
  Append(&expected, {kSeparator, "Now installing bundle 2: junk.cab", kSeparator});
  Append(&expected, directories);
  Append(&expected, {"ERROR: Could not extract driver bundle file", kRunErrors});
  Append(&expected, {kSeparator, "Now installing bundle 3: good.cab", kSeparator});
  Append(&expected, Prepared("good.cab"));
  Append(&expected, kAllStepsDone);
  Append(&expected, CompletionLines());
  EXPECT_EQ(ui_.lines(), expected);
  EXPECT_TRUE(fs::is_directory(korvane_.temp_root() / "junk.cab"));
}

TEST_F(InstallationRunTest, TemporaryDirectoryThatCannotBeCreatedIsReported) {
  fs::create_directories(korvane_.user_data() / "Brantel");
  testing::WriteFileOrDie(korvane_.user_data() / "Brantel" / "Temp", "a file in the way");
  ui_.SetSelection({Bundle("t.cab")});
  auto dlg = Context(false);
  dlg->RunInstallation();
  Lines expected = {"Kestrin - Installation Process:", ""};
  Lines directories = DirectoryLines();
  Append(&expected, directories);
  Append(&expected, {"ERROR: Could not create temp directory " +
                         (korvane_.temp_root() / "t.cab").string(),
                     kRunErrors});
  EXPECT_EQ(ui_.lines(), expected);
}

TEST_F(InstallationRunTest, EmptySelectionKeepsTheSchedule) {
  auto dlg = Context(false);
  dlg->ScheduledBundles = {Bundle("kept.cab")};
  dlg->RunInstallation();
  EXPECT_EQ(g_step_calls.size(), kTestSteps.size());
  ASSERT_FALSE(g_step_calls.empty());
  EXPECT_EQ(g_step_calls[0].bundle, dlg->ScheduledBundles[0]);
}

TEST_F(InstallationRunTest, PreparationSetsThePerBundleValues) {
  auto dlg = Context(true);
  dlg->CurrentBundle = Bundle("vals.cab", "", "[TEMPLATES]\nRECOVERY=1\n");
  ASSERT_EQ(dlg->PrepareBundle(), 0);
  EXPECT_EQ(dlg->ProductDir, korvane_.product_dir().string());
  EXPECT_EQ(dlg->ProductIniDir, korvane_.ini_path_value());
  EXPECT_EQ(dlg->BundleFileName, "vals.cab");
  EXPECT_EQ(dlg->BundleTempDir, (korvane_.temp_root() / "vals.cab").string());
  EXPECT_EQ(dlg->OemId, 42);
  EXPECT_TRUE(dlg->BundleRecoverTemplates);
  ASSERT_NE(dlg->InstallationRecord, nullptr);
  EXPECT_EQ(dlg->InstallationRecord->path(), korvane_.ini_path_value() + "instlog.ini");
  EXPECT_TRUE(fs::exists(korvane_.temp_root() / "vals.cab" / "MODULES" / "M.INI"));
}

struct tGateCase {
  const char* name;
  std::string installed;  // "" : no version in the registry
  std::string minimum;
  int expected;
};

class VersionGateTest : public ::testing::TestWithParam<tGateCase> {};

TEST_P(VersionGateTest, RefusesOnlyWhenInstalledIsOlder) {
  const tGateCase& c = GetParam();
  tKorvaneOptions options;
  options.version = c.installed;
  TestKorvane korvane(options);
  korvane.ApplyEnvironment();
  fs::path cab = korvane.root() / "g.cab";
  MakeCabinet(cab, {{"hw.ini", HwIni("G", "Vendor", "", "2.0", c.minimum)}});
  SilentUi ui;
  CProgressDlg dlg({}, true, false, false, "", ui);
  dlg.CurrentBundle = cab.string();
  EXPECT_EQ(dlg.PrepareBundle(), c.expected);
  Lines expected = PreparedLines(korvane, "G", "Vendor", 0, "2.0", 1, c.minimum);
  if (c.expected == 2) {
    expected.push_back("ERROR: Installed Korvane version (" + c.installed +
                       ") older than specified minimum version (" + c.minimum + ")");
  }
  EXPECT_EQ(LogTexts(korvane.log()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionGateTest,
    ::testing::Values(tGateCase{"Older", "6.1", "6.2", 2}, tGateCase{"Same", "6.1", "6.1", 0},
                      tGateCase{"Newer", "6.10", "6.9", 0},
                      tGateCase{"NoMinimum", "6.1", "", 0},
                      tGateCase{"MalformedMinimumFails", "6.1", "6.x", 2},
                      tGateCase{"NoInstalledVersionPasses", "", "99.0", 0},
                      tGateCase{"VersionTooLongPasses", "6.1.0.12345678901234", "99", 0}),
    [](const ::testing::TestParamInfo<tGateCase>& info) { return std::string(info.param.name); });

TEST_F(InstallationRunTest, EmptyBundlePathReturnsOneAfterTheDirectoryLines) {
  auto dlg = Context(true);
  EXPECT_EQ(dlg->PrepareBundle(), 1);
  Lines directories = DirectoryLines();
  EXPECT_EQ(LogTexts(korvane_.log()), directories);
}

}  // namespace
}  // namespace kestrin
