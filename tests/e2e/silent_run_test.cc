// The kestrin program run against a test Korvane: the log it writes line by
// line, what it leaves on disk, what it prints for --help and --version, and
// when it refuses to start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <regex>

#include "app/test_korvane.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    lstat(entry.path().c_str(), &st);
    entries[fs::relative(entry.path(), root).string()] = std::to_string(st.st_size) + "@" +
                                                         std::to_string(st.st_mtim.tv_sec) + "." +
                                                         std::to_string(st.st_mtim.tv_nsec);
  }
  return entries;
}

const char kNoCabs[] = "Error: No Cab-files in command-line.";

struct tRunCase {
  const char* name;
  std::vector<std::string> args;  // "@x" is the path <root>/x
  bool oemcab;                    // the test Korvane has its OEMCAB folder
  Lines log;  // "#header", "#ok NAME", "#gate NAME" expand; other lines as they are
};

// Which arguments make bundles, directories in name order and unusable
// files: InstallationRunTest.ScheduleSortsTheCommandLineIntoDirectoriesAndFiles;
// arguments with blanks and /i=: CommandLineTest.RebuildsTheLineFromArgv.
const tRunCase kRunCases[] = {
    {"NoBundleArgument", {"/s"}, true, {"#header", kNoCabs}},
    // The cabinet without hw.ini is left out.
    {"VersionGateRefusesThenOneInstalls", {"/s", "@in/new.cab", "@in/nohw.cab", "@in/good.cab"},
     true, {"#header", "#gate new.cab", "#ok good.cab"}},
    // The archive copy creates OEMCAB: logging starts after the header.
    {"NoOemCabDir", {"/s", "@in/abc.cab"}, false, {"#ok abc.cab"}},
};

class SilentRunTest : public ::testing::TestWithParam<tRunCase> {};

TEST_P(SilentRunTest, WritesTheLogLineByLine) {
  const tRunCase& c = GetParam();
  tKorvaneOptions options;
  options.oemcab = c.oemcab;
  TestKorvane korvane(options);
  Bundle(korvane, "in/abc.cab");
  Bundle(korvane, "in/good.cab", "6.1");
  Bundle(korvane, "in/new.cab", "6.2");
  PackWithGcab((korvane.root() / "in/nohw.cab").string(), {{"MODULES/X.INI", "[MODULE]\n"}});
  std::vector<std::string> args;
  for (const std::string& a : c.args)
    args.push_back(a[0] == '@' ? (korvane.root() / a.substr(1)).string() : a);
  const tRunResult result = RunKestrin(args, korvane.Environment());
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  Lines expected;
  for (const std::string& line : c.log) {
    const std::string name = line.substr(line.find(' ') + 1);
    const std::string minimum = name == "good.cab" ? "6.1" : name == "new.cab" ? "6.2" : "";
    if (line == "#header") {
      expected = {"Kestrin - Silent Mode - Installation Process:", "Mode: No-Force-Overwrite!", ""};
    } else if (line.rfind("#ok ", 0) == 0) {
      expected = Cat({expected, PreparedLines(korvane, "Desc " + name, 42, 2, minimum),
                      {"copied ini file for hardware M.INI",
                       "registered hardware M.INI as module1 in hardware.ini",
                       " *** Hardware installation finished ***",
                       " *** Driver installation finished ***",
                       " *** Execution of post commands finished ***"},
                      kCompletionLines});
      EXPECT_TRUE(fs::exists(korvane.oemcab() / name) || fs::exists(korvane.oemcab() / Upper(name)))
          << name;
      EXPECT_FALSE(fs::exists(korvane.temp_root() / Upper(name))) << name;
    } else if (line.rfind("#gate ", 0) == 0) {
      expected = Cat({expected, PreparedLines(korvane, "Desc " + name, 42, 2, minimum),
                      {"ERROR: Installed Korvane version (6.1) older than specified minimum "
                       "version (6.2)"}});
      // The refused bundle's files stay.
      EXPECT_TRUE(fs::exists(korvane.temp_root() / "NEW.CAB" / "hw.ini"));
    } else {
      expected.push_back(line);
    }
  }
  EXPECT_EQ(LogTexts(korvane.log()), expected);
  EXPECT_EQ(fs::exists(korvane.oemcab()), !expected.empty());
}

KESTRIN_CASES(SilentRunTest, ::testing::ValuesIn(kRunCases));

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
    {"VersionAfterSilent", kBroken, {}, {"/s", "--version"}, 2, "", "registry.reg"},
    {"HelpInUpperCase", kBroken, {}, {"--HELP"}, 2, "", "registry.reg"},
    {"HelpWithATrailingBlank", kBroken, {}, {"--help "}, 2, "", "registry.reg"},
    {"SlashQuestionMark", kBroken, {}, {"/?"}, 2, "", "registry.reg"},
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
  const tRunResult result = RunKestrin(args, env);
  EXPECT_EQ(result.exit_status, c.exit_status);
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
  for (size_t start = 0, end; start < help.size(); start = end + 1) {
    end = help.find('\n', start);
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
  }
  const std::string version = RunKestrin({"--version"}, {}).out;
  EXPECT_TRUE(std::regex_match(version, std::regex("kestrin [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version;
}

TEST(ProgramInfoTest, AFailedWriteIsAnError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const char* arg : {"--help", "--version"}) {
    const tRunResult result = RunKestrin({arg}, {}, "/dev/full");
    EXPECT_EQ(result.exit_status, 2) << arg;
    EXPECT_NE(result.err.find("cannot write"), std::string::npos) << arg << ": " << result.err;
  }
}

}  // namespace
}  // namespace kestrin::testing
