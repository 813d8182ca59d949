// The kestrin program run against a test Korvane: the log it writes line by
// line, what it leaves on disk, what it prints for --help and --version, and
// when it refuses to start.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    entries[fs::relative(entry.path(), root).string()] =
        std::to_string(entry.is_regular_file() ? entry.file_size() : 0) + "@" +
        std::to_string(entry.last_write_time().time_since_epoch().count());
  return entries;
}

const Lines kHeader = {"Kestrin - Silent Mode - Installation Process:",
                       "Mode: No-Force-Overwrite!", ""};

// The lines of the bundle "in/<name>" installed, which is archived and
// leaves no temporary folder.
Lines Installed(const TestKorvane& korvane, const std::string& name,
                const std::string& minimum = "") {
  EXPECT_TRUE(fs::exists(korvane.oemcab() / name) || fs::exists(korvane.oemcab() / Upper(name)))
      << name;
  EXPECT_FALSE(fs::exists(korvane.temp_root() / Upper(name))) << name;
  return Cat({PreparedLines(korvane, "Desc " + name, 42, 2, minimum),
              {"copied ini file for hardware M.INI",
               "registered hardware M.INI as module1 in hardware.ini",
               " *** Hardware installation finished ***", " *** Driver installation finished ***",
               " *** Execution of post commands finished ***"},
              kCompletionLines});
}

// Which arguments make bundles, directories in name order and unusable
// files: InstallationRunTest.ScheduleSortsTheCommandLineIntoDirectoriesAndFiles;
// arguments with blanks and /i=: CommandLineTest.RebuildsTheLineFromArgv.
TEST(SilentRunTest, NoBundleArgument) {
  TestKorvane korvane;
  EXPECT_EQ(RunSilent(korvane, {}), Cat({kHeader, {"Error: No Cab-files in command-line."}}));
}

// The cabinet without hw.ini is left out; the refused bundle's files stay.
TEST(SilentRunTest, VersionGateRefusesThenOneInstalls) {
  TestKorvane korvane;
  const std::string nohw = (korvane.root() / "in/nohw.cab").string();
  PackWithGcab(nohw, {{"MODULES/X.INI", "[MODULE]\n"}});
  const Lines log = RunSilent(
      korvane, {Bundle(korvane, "in/new.cab", "6.2"), nohw, Bundle(korvane, "in/good.cab", "6.1")});
  EXPECT_EQ(log, Cat({kHeader, PreparedLines(korvane, "Desc new.cab", 42, 2, "6.2"),
                      {"ERROR: Installed Korvane version (6.1) older than specified minimum "
                       "version (6.2)"},
                      Installed(korvane, "good.cab", "6.1")}));
  EXPECT_TRUE(fs::exists(korvane.temp_root() / "NEW.CAB" / "hw.ini"));
}

// The archive copy creates OEMCAB: logging starts after the header.
TEST(SilentRunTest, NoOemCabDir) {
  TestKorvane korvane({.oemcab = false});
  const Lines log = RunSilent(korvane, {Bundle(korvane, "in/abc.cab")});
  EXPECT_EQ(log, Installed(korvane, "abc.cab"));
}

const std::string kStore = "Windows Registry Editor Version 5.00\n\n";
const std::string kBroken = kStore + "[HKEY_LOCAL_MACHINE\\SOFTWARE\nnot a store\n";
const std::string kDataDirOnly = kStore +
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\ProgramDataDir]\n@=\"/tmp/data/\"\n";

struct tStartCase {
  const char* name;
  std::string store;              // registry store text; "" keeps the test Korvane's
  std::vector<std::string> env;   // extra assignments
  std::vector<std::string> args;  // "@" is a good bundle
  int exit_status;
  std::string out;       // how standard output starts; "": nothing on it
  std::string mentions;  // a text the one stderr line holds; "": nothing on stderr
};

// With the unparsable store whatever reads it is refused with status 2, so a
// 0 shows that no store was read. Each reason for a refusal and its message:
// tests/host/product_env_test.cc.
const tStartCase kStartCases[] = {
    {"Help", kBroken, {}, {"--help"}, 0, "Usage: kestrin ", ""},
    {"ShortHelp", kBroken, {}, {"-h"}, 0, "Usage: kestrin ", ""},
    {"Version", kBroken, {}, {"--version"}, 0, "kestrin ", ""},
    // Any other argument list is an ordinary command line.
    {"HelpAmongSwitches", kBroken, {}, {"--help", "/s"}, 2, "", "registry.reg"},
    {"DoubleQuoteInAnArgument", "", {}, {"/s", "bad\"name.cab"}, 2, "", "bad\"name.cab"},
    {"InteractiveWithoutADisplay", "", {}, {}, 1, "", "kestrin /s"},
    {"InteractiveWithAnUnreachableDisplay", "", {"DISPLAY=:4711"}, {"@"}, 1, "", "\":4711\""},
    // A refusal comes before any display is tried.
    {"RefusedWithoutADisplay", kDataDirOnly, {}, {"@"}, 2, "", "KESTRIN_REGISTRY"},
};

class StartTest : public ::testing::TestWithParam<tStartCase> {};

TEST_P(StartTest, AnswersOrRefusesAndWritesNothing) {
  const tStartCase& c = GetParam();
  TestKorvane korvane;
  if (!c.store.empty()) WriteFileOrDie(korvane.registry(), c.store);
  const std::string cab = Bundle(korvane, "in/x.cab");
  const auto before = Snapshot(korvane.root());
  std::vector<std::string> env = korvane.Environment(), args;
  env.insert(env.end(), c.env.begin(), c.env.end());
  for (const std::string& a : c.args) args.push_back(a == "@" ? cab : a);
  const RunResult result = RunKestrin(args, env);
  EXPECT_EQ(result.exit_code, c.exit_status);
  EXPECT_EQ(result.out.substr(0, c.out.size()), c.out);
  EXPECT_EQ(result.out.empty(), c.out.empty()) << result.out;
  if (c.mentions.empty()) {
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
  EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
  EXPECT_EQ(Snapshot(korvane.root()), before);
}

KESTRIN_CASES(StartTest, ::testing::ValuesIn(kStartCases));

TEST(ProgramInfoTest, HelpNamesEverySwitchVariableFileAndStatus) {
  const std::string help = RunKestrin({"--help"}, {}).out;
  for (const char* word : {"/s ", "/f ", "/r ", "/i=DIR", "KESTRIN_REGISTRY", "KESTRIN_PRODUCT_DIR",
                           "XDG_DATA_HOME", "TargetDriverInstall.log", "instlog.ini", "  0  ",
                           "  1  ", "  2  "}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
  const std::string version = RunKestrin({"--version"}, {}).out;
  EXPECT_TRUE(std::regex_match(version, std::regex("kestrin [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version;
}

TEST(ProgramInfoTest, AFailedWriteIsAnError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const RunResult result = RunKestrin({"--help"}, {}, "/dev/full");
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace kestrin::testing
