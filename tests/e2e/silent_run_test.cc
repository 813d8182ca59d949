// The kestrin program, run in silent mode against a test Korvane: what it
// writes to the log, what it leaves on disk, and when it refuses to start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "app/test_korvane.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char kRunErrors[] =
    "There were errors during the installation process. You may re-run the installation again.";

Lines Header(bool force) {
  return {"Kestrin - Silent Mode - Installation Process:",
          force ? "Mode: Force-Overwrite!" : "Mode: No-Force-Overwrite!", ""};
}

// Every file and folder below `root` with its size and modification time.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    lstat(entry.path().c_str(), &st);
    entries[fs::relative(entry.path(), root).string()] =
        std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
        std::to_string(st.st_mtim.tv_nsec);
  }
  return entries;
}

class SilentRunTest : public ::testing::Test {
 protected:
  // A bundle with hw.ini and two more files below the Korvane's test root.
  std::string Bundle(const std::string& relative, const std::string& minimum = "",
                     const std::string& oem_id = "7") {
    fs::path cab = korvane_.root() / relative;
    MakeCabinet(cab, {{"hw.ini", HwIni("Desc " + cab.filename().string(), "Fennick Automation",
                                       oem_id, "2.3.1", minimum)},
                      {"MODULES/FX200.INI", "[MODULE]\nName=FX-200\n"},
                      {"HELP/fx200.htm", "<html></html>\n"}});
    return cab.string();
  }
  Lines Prepared(const std::string& file_name, const std::string& minimum = "", int oem_id = 7) {
    return PreparedLines(korvane_, "Desc " + file_name, "Fennick Automation", oem_id, "2.3.1", 3,
                         minimum);
  }
  tRunResult Run(const Lines& args) { return RunKestrin(args, korvane_.Environment()); }
  void ExpectQuietSuccess(const tRunResult& result) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }

  TestKorvane korvane_;
};

TEST_F(SilentRunTest, NoBundleArgument) {
  tRunResult result = Run({"/s"});
  ExpectQuietSuccess(result);
  Lines expected = Header(false);
  expected.push_back("Error: No Cab-files in command-line.");
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(SilentRunTest, OneBundleWithForce) {
  std::string cab = Bundle("in/abc.cab");
  tRunResult result = Run({"/s", "/f", cab});
  ExpectQuietSuccess(result);
  Lines expected = Header(true);
  Append(&expected, Prepared("abc.cab"));
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  // Archived beside the log; the temporary directory (named as the
  // upper-cased command line spells the file) is gone.
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "abc.cab"));
  EXPECT_TRUE(fs::is_directory(korvane_.temp_root()));
  EXPECT_TRUE(fs::is_empty(korvane_.temp_root()));
}

TEST_F(SilentRunTest, SwitchesInUpperCaseAndAfterTheBundle) {
  std::string cab = Bundle("in/abc.cab");
  ExpectQuietSuccess(Run({cab, "/S"}));
  Lines expected = Header(false);
  Append(&expected, Prepared("abc.cab"));
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(SilentRunTest, TwoBundlesInCommandLineOrder) {
  std::string second = Bundle("in/zeta.cab");
  std::string first = Bundle("other dir/alpha.cab");
  ExpectQuietSuccess(Run({"/s", second, first}));
  Lines expected = Header(false);
  for (const char* name : {"zeta.cab", "alpha.cab"}) {
    Append(&expected, Prepared(name));
    Append(&expected, CompletionLines());
  }
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "zeta.cab"));
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "alpha.cab"));
}

TEST_F(SilentRunTest, DirectoryArgumentInstallsItsUsableBundles) {
  Bundle("dir/b.cab");
  Bundle("dir/a.cab");
  WriteFileOrDie(korvane_.root() / "dir" / "junk.cab", "not a cabinet");
  WriteFileOrDie(korvane_.root() / "dir" / "readme.txt", "hello");
  ExpectQuietSuccess(Run({"/s", (korvane_.root() / "dir").string()}));
  Lines expected = Header(false);
  // In name order; junk.cab and readme.txt are left out.
  for (const char* name : {"a.cab", "b.cab"}) {
    Append(&expected, Prepared(name));
    Append(&expected, CompletionLines());
  }
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  // Scanned bundles are full upper-case paths: archived and unpacked under
  // those names.
  EXPECT_TRUE(fs::exists(korvane_.oemcab() / "A.CAB") || fs::exists(korvane_.oemcab() / "a.cab"));
  EXPECT_FALSE(fs::exists(korvane_.oemcab() / "junk.cab"));
}

TEST_F(SilentRunTest, BundleRefusedByTheVersionGateThenOneThatInstalls) {
  std::string refused = Bundle("in/new.cab", "6.2");
  std::string good = Bundle("in/good.cab", "6.1");
  ExpectQuietSuccess(Run({"/s", refused, good}));
  Lines expected = Header(false);
  Append(&expected, Prepared("new.cab", "6.2"));
  expected.push_back(
      "ERROR: Installed Korvane version (6.1) older than specified minimum version (6.2)");
  Append(&expected, Prepared("good.cab", "6.1"));
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  // The refused bundle's unpacked files stay; the installed one's are gone.
  EXPECT_TRUE(fs::exists(korvane_.temp_root() / "NEW.CAB" / "hw.ini"));
  EXPECT_FALSE(fs::exists(korvane_.temp_root() / "GOOD.CAB"));
}

TEST_F(SilentRunTest, FileThatIsNotACabinetIsNotScheduled) {
  fs::create_directories(korvane_.root() / "in");
  WriteFileOrDie(korvane_.root() / "in" / "fake.cab", "MSCF but not really");
  ExpectQuietSuccess(Run({"/s", (korvane_.root() / "in" / "fake.cab").string()}));
  Lines expected = Header(false);
  expected.push_back("Error: No Cab-files in command-line.");
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
  EXPECT_FALSE(fs::exists(korvane_.oemcab() / "fake.cab"));
}

TEST_F(SilentRunTest, CabinetWithoutHwIniIsNotScheduledButOthersAre) {
  fs::path nohw = korvane_.root() / "in" / "nohw.cab";
  MakeCabinet(nohw, {{"MODULES/X.INI", "[MODULE]\n"}});
  std::string good = Bundle("in/good.cab");
  ExpectQuietSuccess(Run({"/s", nohw.string(), good}));
  Lines expected = Header(false);
  Append(&expected, Prepared("good.cab"));
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(SilentRunTest, MissingBundleFileIsNotScheduled) {
  ExpectQuietSuccess(Run({"/s", (korvane_.root() / "nowhere.cab").string()}));
  Lines expected = Header(false);
  expected.push_back("Error: No Cab-files in command-line.");
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(SilentRunTest, ArgumentWithBlanksAndBinDirSwitch) {
  std::string cab = Bundle("my bundles/drv one.cab");
  ExpectQuietSuccess(Run({"/i=/opt/some dir", "/s", cab}));
  Lines expected = Header(false);
  Append(&expected, Prepared("drv one.cab"));
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST_F(SilentRunTest, LogIsAppendedAcrossRuns) {
  ExpectQuietSuccess(Run({"/s"}));
  ExpectQuietSuccess(Run({"/s", "/f"}));
  Lines expected = Header(false);
  expected.push_back("Error: No Cab-files in command-line.");
  Append(&expected, Header(true));
  expected.push_back("Error: No Cab-files in command-line.");
  EXPECT_EQ(LogTexts(korvane_.log()), expected);
}

TEST(SilentRunWithoutOemCab, HeaderLinesAreLostLaterLinesKept) {
  tKorvaneOptions options;
  options.oemcab = false;
  TestKorvane korvane(options);
  fs::path cab = korvane.root() / "in" / "x.cab";
  MakeCabinet(cab, {{"hw.ini", HwIni("X", "Vendor", "3", "1.0", "")}});
  tRunResult result = RunKestrin({"/s", cab.string()}, korvane.Environment());
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  // The archive copy creates OEMCAB, so logging starts after the header.
  Lines expected = PreparedLines(korvane, "X", "Vendor", 3, "1.0", 1, "");
  Append(&expected, CompletionLines());
  EXPECT_EQ(LogTexts(korvane.log()), expected);
}

TEST(SilentRunWithoutOemCab, NothingToInstallWritesNothing) {
  tKorvaneOptions options;
  options.oemcab = false;
  TestKorvane korvane(options);
  tRunResult result = RunKestrin({"/s"}, korvane.Environment());
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_FALSE(fs::exists(korvane.oemcab()));
}

// Refuse-to-start cases: exit 2, one line on stderr, nothing written.
struct tRefuseCase {
  const char* name;
  std::string store;               // registry store text; "" keeps the test Korvane's
  std::vector<std::string> env;    // extra assignments
  std::vector<std::string> unset;  // variables removed
  std::string mentions;            // a text the message must hold
};

class RefuseToStartTest : public ::testing::TestWithParam<tRefuseCase> {};

TEST_P(RefuseToStartTest, ExitsTwoWithOneLineAndWritesNothing) {
  const tRefuseCase& c = GetParam();
  TestKorvane korvane;
  if (!c.store.empty()) WriteFileOrDie(korvane.registry(), c.store);
  fs::path cab = korvane.root() / "in" / "x.cab";
  MakeCabinet(cab, {{"hw.ini", HwIni("X", "Vendor", "3", "1.0", "")}});
  auto before = Snapshot(korvane.root());
  std::vector<std::string> env = korvane.Environment();
  env.insert(env.end(), c.env.begin(), c.env.end());
  for (const char* mode : {"/s", "/f"}) {
    tRunResult result = RunKestrin({mode, cab.string()}, env, c.unset);
    EXPECT_EQ(result.exit_status, 2) << mode;
    EXPECT_EQ(result.out, "");
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
    EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
  }
  EXPECT_EQ(Snapshot(korvane.root()), before);
}

const char kNoIniPathStore[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\ProgramDataDir]\n"
    "@=\"/tmp/data/\"\n";
const char kRelativeIniPathStore[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\IniPath]\n@=\"Ini/\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\ProgramDataDir]\n"
    "@=\"/tmp/data/\"\n";
const char kBrokenStore[] =
    "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\nthis is not a store\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefuseToStartTest,
    ::testing::Values(
        tRefuseCase{"NoKorvaneInStore", kNoIniPathStore, {}, {}, "KESTRIN_REGISTRY"},
        tRefuseCase{"RelativeIniPath", kRelativeIniPathStore, {}, {}, "KESTRIN_REGISTRY"},
        tRefuseCase{"UnparsableStore", kBrokenStore, {}, {}, "registry.reg"},
        tRefuseCase{"MissingStore", "", {"KESTRIN_REGISTRY=/nonexistent/registry.reg"}, {},
                    "KESTRIN_REGISTRY"},
        tRefuseCase{"RelativePerUserFolder", "", {"XDG_DATA_HOME=relative/share"}, {},
                    "XDG_DATA_HOME"}),
    [](const ::testing::TestParamInfo<tRefuseCase>& info) {
      return std::string(info.param.name);
    });

TEST(CommandLine, DoubleQuoteInAnArgumentIsRefused) {
  TestKorvane korvane;
  auto before = Snapshot(korvane.root());
  tRunResult result = RunKestrin({"/s", "bad\"name.cab"}, korvane.Environment());
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find("bad\"name.cab"), std::string::npos) << result.err;
  EXPECT_EQ(Snapshot(korvane.root()), before);
}

TEST(CommandLine, InteractiveModeWithoutAWindowSaysSoAndWritesNothing) {
  TestKorvane korvane;
  auto before = Snapshot(korvane.root());
  tRunResult result = RunKestrin({}, korvane.Environment());
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("/s"), std::string::npos) << result.err;
  EXPECT_EQ(Snapshot(korvane.root()), before);
}

}  // namespace
}  // namespace kestrin::testing
