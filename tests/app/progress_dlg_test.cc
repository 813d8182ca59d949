// The progress dialog's context without a window: the report and its log, and
// the installation run through the scripted user interface, with recording
// steps and with the real step table.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "app/install_steps.h"
#include "app/progress_dlg.h"
#include "app/system_host.h"
#include "app/test_korvane.h"
#include "bundle/report_sink.h"
#include "support/scripted_ui.h"

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT

TEST(ReportTest, LogLinesAndLevels) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  ScriptedUi ui;
  std::tm now{};  // 2027-01-02 03:04
  now.tm_year = 127, now.tm_mon = 0, now.tm_mday = 2, now.tm_hour = 3, now.tm_min = 4;
  {
    CProgressDlg silent(SystemHost(), {}, true, false, false, "", ui);
    silent.SetClock([&] { return now; });
    for (const auto& [text, level, log] : std::vector<std::tuple<std::string, int, bool>>{
             {"first", 1, true}, {"not logged", 1, false}, {"trace", 5, true},
             {"two", 2, true}, {"zero", 0, true}, {"", 1, true}})
      silent.AddInfo(text, level, log);
    EXPECT_EQ(std::pair(LogTrace("one", 1), LogTrace("two", 2)), std::pair(true, false));
    silent.AddInfoF("Driver bundle description: %s", std::string(1000, 'x').c_str());  // never cut
    silent.ResetInfoList(true);
  }
  EXPECT_TRUE(ui.calls().empty()) << "silent mode touched the window";
  EXPECT_EQ(CProgressDlg(SystemHost(), {}, true, true, true, "/opt/bin dir", ui).BinDir, "/opt/bin dir");
  EXPECT_FALSE(WriteLog("no context"));
  CProgressDlg dlg(SystemHost(), {}, false, false, false, "", ui);
  dlg.SetClock([&] { return now; });
  for (const auto& [text, level, log] : {std::tuple{"shown and logged", 1, true},
                                         {"shown only", 1, false}, {"trace", 5, true}})
    dlg.AddInfo(text, level, log);
  Report("from the cabinet code", 1, true);
  EXPECT_EQ(ui.lines(), (Lines{"shown and logged", "shown only", "from the cabinet code"}));
  EXPECT_EQ(ReadFileOrDie(korvane.log()),
            "20270102 03.04 -> first\n20270102 03.04 -> zero\n20270102 03.04 -> \n"
            "20270102 03.04 -> one\n20270102 03.04 -> Driver bundle description: " +
                std::string(1000, 'x') +
                "\n20270102 03.04 -> shown and logged\n20270102 03.04 -> from the cabinet code\n");
}

const std::string kSeparator(90, '-');
const char kRunErrors[] =
    "There were errors during the installation process. You may re-run the installation again.";
const char kRestart[] = "The installed driver bundle requires a restart of Korvane.";

std::vector<std::pair<bool, std::string>> g_calls;  // the recover flag, the bundle
std::map<std::string, int> g_results;

template <const char* kName>
int RecordingStep(StepContext& context, bool recover) {
  g_calls.push_back({recover, static_cast<CProgressDlg&>(context).CurrentBundle});
  return g_results[kName];
}
constexpr char kH[] = "H", kC[] = "C", kF[] = "F", kP[] = "P";

// Rows shaped like the real ones: a failure that is logged and counts, one
// shown but never logged, one outside the summary, and a boolean step.
const std::vector<tInstallStep> kSteps = {
    {kH, 25, RecordingStep<kH>, 0, " *** H done ***", {{1, "H failed", true}}, 1},
    {kC, 75, RecordingStep<kC>, 0, " *** C done ***", {{1, "C failed, list only", false}}, 1},
    {kF, 45, RecordingStep<kF>, 0, " *** F done ***", {{1, "F failed", true}}, kNoSummaryResult},
    {kP, 97, RecordingStep<kP>, 1, " *** P done ***", {}, 0},
};
const Lines kAllDone = {" *** H done ***", " *** C done ***", " *** F done ***", " *** P done ***"};
const Lines kHeader = {"Kestrin - Installation Process:", ""};

class InstallationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    korvane_.ApplyEnvironment();
    g_calls.clear();
    g_results = {{kH, 0}, {kC, 0}, {kF, 0}, {kP, 1}};
  }
  std::string B(const std::string& name, const std::string& minimum = "",
                const std::string& extra = "") {
    return Bundle(korvane_, "bundles/" + name, minimum, extra);
  }
  Lines Prepared(const std::string& name) { return PreparedLines(korvane_, "Desc " + name); }
  // Runs the selection interactively; returns the recover switch afterwards.
  bool Run(const StringList& selection, bool recover = false) {
    ui_.SetSelection(selection);
    CProgressDlg dlg(SystemHost(), StringList{}, false, false, recover, "", ui_);
    dlg.SetStepTable(kSteps);
    dlg.RunInstallation();
    return dlg.RecoverTemplates;
  }
  Lines Tail(long n) const { return Lines(ui_.lines().end() - n, ui_.lines().end()); }

  TestKorvane korvane_;
  ScriptedUi ui_;
};

TEST_F(InstallationRunTest, TwoBundlesAreSeparatedNumberedAndLogged) {
  Run({B("a.cab"), B("b.cab")});
  Lines expected = kHeader;
  for (const std::string numbered : {"1: a.cab", "2: b.cab"})
    expected = Cat({expected, {kSeparator, "Now installing bundle " + numbered, kSeparator},
                    Prepared(numbered.substr(3)), kAllDone, kCompletionLines});
  EXPECT_EQ(ui_.lines(), expected);
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(InstallationRunTest, RestartRequestShowsLineAndMessageBoxUnlessSilent) {
  Run({B("r.cab", "", "REQUIRE_RESTART=1\n")});
  EXPECT_EQ(Tail(5), Cat({{" *** P done ***", kRestart}, kCompletionLines}));
  CProgressDlg silent(SystemHost(), {B("r1.cab", "", "REQUIRE_RESTART=1\n")}, true, false, false, "", ui_);
  silent.SetStepTable(kSteps);
  const size_t calls = ui_.calls().size();
  silent.RunInstallation();
  EXPECT_EQ(ui_.calls().size(), calls) << "silent mode touched the window";
  EXPECT_EQ(std::ranges::count(LogTexts(korvane_.log()), kRestart), 1);
}

// The steps' recover flag in a run of one bundle: the switch, or RECOVERY=1
// in [TEMPLATES]. A prepared bundle clears the switch; one refused by the
// version gate keeps it. Without an installed version any minimum passes (the
// comparison itself: the e2e silent runs and the version tests).
TEST_F(InstallationRunTest, StepsGetTheRunsRecoveryFlag) {
  // The switch, RECOVERY ("" for none), how many bundles; the flag.
  const std::tuple<bool, std::string, int, bool> cases[] = {
      {true, "", 1, true}, {false, "1", 1, true}, {false, "2", 1, false}, {false, "1", 2, false},
      {true, "", 2, false}};
  int n = 0;
  for (const auto& [recover_switch, recovery, bundles, expected] : cases) {
    StringList selection;
    for (int i = 0; i < bundles; ++i)
      selection.push_back(B(std::to_string(++n) + ".cab", "",
                            recovery.empty() ? "" : "[TEMPLATES]\nRECOVERY=" + recovery + "\n"));
    g_calls.clear();
    EXPECT_FALSE(Run(selection, recover_switch)) << n;
    ASSERT_EQ(g_calls.size(), kSteps.size() * bundles);
    for (const auto& call : g_calls) EXPECT_EQ(call.first, expected) << n;
  }
  EXPECT_TRUE(Run({B("old.cab", "9.0")}, true));
  TestKorvane versionless({.version = ""});
  versionless.ApplyEnvironment();
  EXPECT_FALSE(Run({Bundle(versionless, "g.cab", "99.0")}, true));
}

TEST_F(InstallationRunTest, UnpreparableBundlesGetTheSummaryLineAndTheRunGoesOn) {
  WriteFileOrDie(korvane_.root() / "junk.cab", "this is not a cabinet");
  Run({"", (korvane_.root() / "junk.cab").string(), B("good.cab")});
  const Lines prepared = Prepared("x"), dirs(prepared.begin(), prepared.begin() + 2);
  EXPECT_EQ(ui_.lines(),
            Cat({kHeader, dirs, {kRunErrors}, {kSeparator, "Now installing bundle 2: junk.cab"},
                 {kSeparator}, dirs, {"ERROR: Could not extract driver bundle file", kRunErrors},
                 {kSeparator, "Now installing bundle 3: good.cab", kSeparator},
                 Prepared("good.cab"), kAllDone, kCompletionLines}));
  fs::remove_all(korvane_.temp_root());
  WriteFileOrDie(korvane_.temp_root(), "a file in the way");
  Run({B("t.cab")});
  EXPECT_EQ(Tail(6), Cat({kHeader, dirs, {"ERROR: Could not create temp directory " +
                                                (korvane_.temp_root() / "t.cab").string(),
                                            kRunErrors}}));
}

// The real step table, each step made to fail by a bundle and a Korvane
// built for it: the step's own lines and the line the run picks for its
// result, whether the result calls for the summary line, and the bar after
// every step. A line starting with "~" is shown but not logged; one ending
// with a blank goes on with a reason.
struct tStepFailure {
  const char* name;
  cab::testing::NamedContents files;  // besides hw.ini
  std::string hw_ini;                 // sections added to hw.ini
  std::string in_the_way;             // made below the sandbox: a file, or with "/" a folder
  std::vector<bool> answers;
  Lines lines;  // of all steps
  bool summary;
};

const std::string kDrv = " *** Driver installation finished ***",
                  kPost = " *** Execution of post commands finished ***",
                  kRegistryLocked = "registry.reg.lock/", kSettings = "SOFTWARE\\Brantel\\Korvane\\Settings\\";
// The lines of a bundle whose other steps have nothing to do.
Lines Mid(const Lines& step) { return Cat({{kDrv}, step, {kPost}}); }

// clang-format off
const tStepFailure kStepFailures[] = {
    {"HardwareDefinitions", {{"MODULES/a=b.INI", ""}}, "", "", {},
     {"ERROR: hardware definition file a=b.INI refused: ", kDrv, kPost}, true},
    {"DriverLibraries", {}, "[DRIVERS]\n../x.so\n", "", {}, {"ERROR: driver dll name ../x.so refused: ", kPost}, true},
    {"HelpPages", {{"HELP/HELP.INI", "[Helpnodes]\n../x.htm=X\n"}}, "", "", {},
     Mid({"ERROR: HELP.INI [Helpnodes] names ../x.htm, which ", "ERROR copying help libraries"}), true},
    {"PrintForms", {{"PRINTFORMS/a.frm", "f"}}, "", "Ini/Printforms", {}, Mid({"ERROR: ", "ERROR copying print forms"}), false},
    {"Samples", {{"SAMPLES/S/s.kvp", "s"}}, "", "Data/SAMPLES", {}, Mid({"ERROR: ", "ERROR copying samples directory"}), true},
    {"NoLibrary", {{"LIB/readme.txt", "r"}}, "", "", {}, Mid({"ERROR - No library exists in LIB folder of *.cab-file."}), true},
    {"NotAllLibraries", {{"LIB/A/a.lib", "a"}, {"LIB/B/b.lib", "b"}}, "", "Ini/LIB/B/", {false},
     Mid({"Lib directory successfully copied: A", "User decided not to copy lib: B",
          "NOT ALL of the existing libs where copied."}), false},
    {"NoneOfTheLibraries", {{"LIB/B/b.lib", "b"}}, "", "Ini/LIB/B/", {false},
     Mid({"User decided not to copy lib: B", "NONE of the existing libs where copied."}), false},
    {"Templates", {{"TEMPLATES/T/t.kvp", "t"}}, "", "Ini/TEMPLATES/T", {}, Mid({"ERROR: ", "ERROR copying template subfolder: T"}), true},
    {"Connections", {}, "[CONNECTIONS]\nCOUNT=1\n", "", {},
     Mid({"~Could not set connection: .", "~ERROR while setting connections."}), true},
    {"OpcPane", {{"MODULES/A.INI", "[ENABLE_OPC_PANE]\nACTIVE=1\n"}}, "", kRegistryLocked, {},
     {"copied ini file for hardware A.INI", "registered hardware A.INI as module1 in hardware.ini",
      " *** Hardware installation finished ***", kDrv,
      "ERROR while setting registry key: " + kSettings + "BRWTREECTRL\\OPCPANEENABLED", kPost}, true},
    {"RegistrySettings", {}, "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=" + std::string(256, 'k') + "\n", "", {},
     Mid({"~ERROR while setting registry key: " + kSettings + std::string(256, 'k')}), false},
    {"CustomTools", {}, "[CUST-TOOLS]\nFILE1=a.exe\n", "", {}, Mid({"Missing title entry for custom tool: a.exe."}), false},
    {"TcpTimeout", {}, "[TCPIP]\nTIMEOUT=5\n", kRegistryLocked, {}, Mid({}), false},
    {"VisibleExtensions", {}, "[VISIBLE_EXTENSIONS]\nEXT=.a\n", kRegistryLocked, {}, Mid({}), true},
    {"PostCommands", {}, "[POST_COMMANDS]\n1=nothere.exe\n", "", {},
     {kDrv, "ERROR: Execution of post command failed: 'nothere.exe'"}, true},
};
// clang-format on

class RealStepTableTest : public InstallationRunTest, public ::testing::WithParamInterface<tStepFailure> {};

TEST_P(RealStepTableTest, EachFailureHasItsLineAndCountsAsTheRunSays) {
  const tStepFailure& c = GetParam();
  const fs::path cab = korvane_.root() / "x.cab", way = korvane_.root() / "korvane" / c.in_the_way;
  cab::testing::NamedContents files = c.files;
  files.emplace_back("hw.ini", HwIni("Desc x.cab", "42", "", c.hw_ini));
  PackWithGcab(cab.string(), files);
  if (c.in_the_way.ends_with('/')) fs::create_directories(way);
  else if (!c.in_the_way.empty()) WriteFileOrDie(way, "in the way");
  ui_.SetSelection({cab.string()});
  ui_.ScriptAnswers(c.answers);
  CProgressDlg dlg(SystemHost(), StringList{}, false, false, false, "", ui_);
  dlg.RunInstallation();

  Lines shown, logged;
  for (std::string line : c.lines) {
    const bool list_only = line.starts_with('~');
    if (list_only) line.erase(0, 1);
    shown.push_back(line);
    if (!list_only) logged.push_back(line);
  }
  const Lines tail = Cat({kCompletionLines, c.summary ? Lines{kRunErrors} : Lines{}});
  const Lines head = Cat({kHeader, PreparedLines(korvane_, "Desc x.cab", 42, static_cast<int>(files.size()))});
  for (const auto& [lines, want] : {std::pair{ui_.lines(), Cat({head, shown, tail})},
                                    std::pair{LogTexts(korvane_.log()), Cat({head, logged, tail})}}) {
    ASSERT_EQ(lines.size(), want.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
      const bool prefix = !want[i].empty() && want[i].back() == ' ';
      EXPECT_TRUE(prefix ? lines[i].starts_with(want[i]) && lines[i].size() > want[i].size() : lines[i] == want[i])
          << lines[i] << "\nwanted: " << want[i];
    }
  }
  EXPECT_EQ(ui_.progress(), (std::vector<int>{5, 15, 25, 30, 40, 45, 50, 65, 70, 75, 79, 82, 85, 90, 93, 97, 100}));
  EXPECT_EQ(ui_.unanswered(), 0);
}

KESTRIN_CASES(RealStepTableTest, ::testing::ValuesIn(kStepFailures));

TEST_F(InstallationRunTest, ScheduleSortsTheCommandLineIntoDirectoriesAndFiles) {
  const std::string a = B("dir/a.Cab"), outside = B("other/c.cab"), b = B("dir/b.cab"),
                    dir = fs::path(a).parent_path(),
                    dot_cab_folder = fs::path(B("x.cab.d/inner.cab")).parent_path();  // not a file
  SilentUi silent;
  CProgressDlg dlg(SystemHost(), {outside, dir, a, a, dot_cab_folder}, true, false, false, "", silent);
  ASSERT_TRUE(dlg.ScheduleCommandLine());
  const StringList dirs = {Upper(dir)}, bundles = {Upper(a), Upper(b), Upper(outside)};
  EXPECT_EQ(std::tie(dlg.BundleDirectories, dlg.CommandLineDirectories, dlg.AvailableBundles,
                     dlg.CommandLineBundles),
            std::tie(dirs, dirs, bundles, bundles));
  EXPECT_FALSE(CProgressDlg(SystemHost(), {"/no/a.cab"}, true, false, false, "", silent).ScheduleCommandLine());
}

// The archive copy and the removal of the temporary folder touch the one
// bundle named, never the bundles or temporary folders its name would match
// as a pattern.
TEST_F(InstallationRunTest, WildcardBundleNamesAreTakenLiterally) {
  B("wx.cab");
  fs::create_directories(korvane_.temp_root() / "WZ.CAB");
  WriteFileOrDie(korvane_.temp_root() / "WZ.CAB" / "hw.ini", "[OEMDriverDisk]\n");
  Run({B("w*.cab")});
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(korvane_.oemcab()))
    names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"TargetDriverInstall.log", "w*.cab"}));
  EXPECT_TRUE(fs::exists(korvane_.temp_root() / "WZ.CAB" / "hw.ini"));
  EXPECT_FALSE(fs::exists(korvane_.temp_root() / "w*.cab"));
  EXPECT_EQ(Tail(3), kCompletionLines);
}

}  // namespace
}  // namespace kestrin
