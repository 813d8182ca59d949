// The kestrin program run against a test Korvane: the log it writes line by
// line, what it leaves on disk, and when it refuses to start (each reason
// for a refusal and its message: tests/host/product_env_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "app/test_korvane.h"
#include "bundle/bundle_test_util.h"

namespace kestrin::testing {
namespace {

// Runs kestrin with `args` and the environment of this process, `env`
// ("NAME=value") set and never a display.
RunResult RunKestrin(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> argv = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(KESTRIN_PROGRAM);
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

// Every entry below `root` with its size and modification time.
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

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

const char kNoCabs[] = "Error: No Cab-files in command-line.";

struct tRunCase {
  const char* name;
  std::vector<std::string> args;  // "@x" is the path <root>/x
  bool oemcab;                    // the test Korvane has its OEMCAB folder
  Lines log;  // "#header", "#header-f", "#ok NAME", "#gate NAME" expand; other lines as they are
};

const tRunCase kRunCases[] = {
    {"NoBundleArgument", {"/s"}, true, {"#header", kNoCabs}},
    {"OneBundleWithForce", {"/s", "/f", "@in/abc.cab"}, true, {"#header-f", "#ok abc.cab"}},
    {"DirectoryInstallsItsUsableBundlesInNameOrder",
     {"/s", "@dir"},
     true,
     {"#header", "#ok a.cab", "#ok b.cab"}},
    {"VersionGateRefusesThenOneInstalls",
     {"/s", "@in/new.cab", "@in/good.cab"},
     true,
     {"#header", "#gate new.cab", "#ok good.cab"}},
    {"NotACabinetOrMissing", {"/s", "@in/fake.cab", "@nowhere.cab"}, true, {"#header", kNoCabs}},
    {"CabinetWithoutHwIniLeftOut",
     {"/s", "@in/nohw.cab", "@in/good.cab"},
     true,
     {"#header", "#ok good.cab"}},
    {"BlanksAndBinDir",
     {"/i=/opt/some dir", "/s", "@my bundles/drv one.cab"},
     true,
     {"#header", "#ok drv one.cab"}},
    // The archive copy creates OEMCAB: logging starts after the header.
    {"NoOemCabDir", {"/s", "@in/abc.cab"}, false, {"#ok abc.cab"}},
};

void PrintTo(const tRunCase& c, std::ostream* os) { *os << c.name; }

class SilentRunTest : public ::testing::TestWithParam<tRunCase> {};

TEST_P(SilentRunTest, WritesTheLogLineByLine) {
  const tRunCase& c = GetParam();
  tKorvaneOptions options;
  options.oemcab = c.oemcab;
  TestKorvane korvane(options);
  for (const char* name :
       {"in/abc.cab", "dir/b.cab", "dir/a.cab", "in/good.cab", "my bundles/drv one.cab"}) {
    Bundle(korvane, name, name == std::string("in/good.cab") ? "6.1" : "");
  }
  Bundle(korvane, "in/new.cab", "6.2");
  WriteFileOrDie(korvane.root() / "dir/junk.cab", "not a cabinet");
  WriteFileOrDie(korvane.root() / "dir/readme.txt", "hello");
  WriteFileOrDie(korvane.root() / "in/fake.cab", "MSCF but not really");
  PackWithGcab((korvane.root() / "in/nohw.cab").string(), {{"MODULES/X.INI", "[MODULE]\n"}});
  std::vector<std::string> args;
  for (const std::string& a : c.args)
    args.push_back(a[0] == '@' ? (korvane.root() / a.substr(1)).string() : a);
  const RunResult result = RunKestrin(args, korvane.Environment());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out + result.err, "");
  Lines expected;
  for (const std::string& line : c.log) {
    const std::string name = line.substr(line.find(' ') + 1);
    const std::string minimum = name == "good.cab" ? "6.1" : name == "new.cab" ? "6.2" : "";
    if (line.rfind("#header", 0) == 0) {
      expected =
          Cat({expected,
               {"Kestrin - Silent Mode - Installation Process:",
                line == "#header-f" ? "Mode: Force-Overwrite!" : "Mode: No-Force-Overwrite!", ""}});
    } else if (line.rfind("#ok ", 0) == 0) {
      expected =
          Cat({expected, PreparedLines(korvane, "Desc " + name, 42, 2, minimum), kCompletionLines});
      EXPECT_TRUE(fs::exists(korvane.oemcab() / name) || fs::exists(korvane.oemcab() / Upper(name)))
          << name;
      EXPECT_FALSE(fs::exists(korvane.temp_root() / Upper(name))) << name;
    } else if (line.rfind("#gate ", 0) == 0) {
      expected = Cat(
          {expected,
           PreparedLines(korvane, "Desc " + name, 42, 2, minimum),
           {"ERROR: Installed Korvane version (6.1) older than specified minimum version (6.2)"}});
      EXPECT_TRUE(fs::exists(korvane.temp_root() / "NEW.CAB" /
                             "hw.ini"));  // the refused bundle's files stay
    } else {
      expected.push_back(line);
    }
  }
  EXPECT_EQ(LogTexts(korvane.log()), expected);
  EXPECT_EQ(fs::exists(korvane.oemcab()), !expected.empty());
  EXPECT_FALSE(fs::exists(korvane.oemcab() / "fake.cab") ||
               fs::exists(korvane.oemcab() / "junk.cab"));
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentRunTest, ::testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

const std::string kStore = "Windows Registry Editor Version 5.00\n\n";
const std::string kKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\";
const std::string kDataDir = kKey + "ProgramDataDir]\n@=\"/tmp/data/\"\n";

struct tRefuseCase {
  const char* name;
  std::string store;              // registry store text; "" keeps the test Korvane's
  std::vector<std::string> args;  // "@" is a good bundle
  int exit_status;
  std::string mentions;  // a text the one stderr line must hold
};

const tRefuseCase kRefuseCases[] = {
    {"NoKorvaneInStore", kStore + kDataDir, {"/s", "@"}, 2, "KESTRIN_REGISTRY"},
    {"UnparsableStore", kStore + "[HKEY_LOCAL_MACHINE\\SOFTWARE\nnot a store\n", {"/s", "@"}, 2,
     "registry.reg"},
    {"DoubleQuoteInAnArgument", "", {"/s", "bad\"name.cab"}, 2, "bad\"name.cab"},
    {"InteractiveWithoutAWindow", "", {}, 1, "/s"},
};

void PrintTo(const tRefuseCase& c, std::ostream* os) { *os << c.name; }

class RefuseToStartTest : public ::testing::TestWithParam<tRefuseCase> {};

TEST_P(RefuseToStartTest, ExitsWithOneLineAndWritesNothing) {
  const tRefuseCase& c = GetParam();
  TestKorvane korvane;
  if (!c.store.empty()) WriteFileOrDie(korvane.registry(), c.store);
  const std::string cab = Bundle(korvane, "in/x.cab");
  const auto before = Snapshot(korvane.root());
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(a == "@" ? cab : a);
  const RunResult result = RunKestrin(args, korvane.Environment());
  EXPECT_EQ(result.exit_code, c.exit_status);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
  EXPECT_EQ(Snapshot(korvane.root()), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefuseToStartTest, ::testing::ValuesIn(kRefuseCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrin::testing
