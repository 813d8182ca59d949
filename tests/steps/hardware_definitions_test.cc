// The hardware definitions step against a sandbox Korvane: definition files,
// the module registry, global definition files and the libraries of the
// EXE folder; the overwrite rule; the result codes; hostile names.
#include <sys/stat.h>

#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

const char kQuestion[] =
    "The driver bundle wants to overwrite the existing hardware definition file A.INI, that was "
    "previously installed by another vendor.\nDo you allow this ?";

class HardwareTest : public StepTest {
 protected:
  // A definition file naming its two libraries ("" leaves a key out).
  void Definition(const std::string& file, const std::string& pcode = "",
                  const std::string& hconfig = "", const std::string& body = "Name=x\n") {
    std::string text = "[MODULE]\r\n" + body;
    if (!pcode.empty()) text += "PCodeDll32=" + pcode + "\n";
    if (!hconfig.empty()) text += "HConfigDll32=" + hconfig + "\n";
    BundleFile("MODULES/" + file, text);
  }
  IniSectionMap Registry() const {
    IniSectionMap map;
    IniFile(sandbox_.ini_dir + "MODULES/MODULES.INI").ReadSectionMap("Modules", map);
    return map;
  }
  std::string Ini(const std::string& relative) const {
    return ReadFileOrDie(Korvane("Ini/MODULES/" + relative));
  }
};

TEST_F(HardwareTest, FreshInstallCopiesRegistersAndRecords) {
  Definition("A.INI", "a_pc.dll", "a_hc.dll");
  BundleFile("MODULES/A/G1.INI", "global 1");
  BundleFile("MODULES/A/sub/G2.INI", "global 2");
  BundleFile("EXE/a_pc.dll", "pcode");
  BundleFile("EXE/a_hc.dll", "hconfig");
  BundleFile("MODULES/b.ini", "no MODULE section");
  BundleFile("MODULES/readme.txt", "not a definition");
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);
  EXPECT_EQ(ctx_.Lines(), Expand({"copied ini file for hardware A.INI",
                                  "registered hardware A.INI as module1 in hardware.ini",
                                  "copied global definition files for hardware A",
                                  "copied {B}/EXE/a_pc.dll to {P}",
                                  "copied {B}/EXE/a_hc.dll to {P}",
                                  "copied ini file for hardware b.ini",
                                  "registered hardware b.ini as module2 in hardware.ini"}));
  for (const tReported& line : ctx_.reported) EXPECT_TRUE(line.log) << line.text;
  EXPECT_EQ(Ini("A.INI"), ReadFileOrDie(bundle_ / "MODULES/A.INI"));
  EXPECT_EQ(Ini("A/G1.INI"), "global 1");
  EXPECT_EQ(Ini("A/sub/G2.INI"), "global 2");
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/a_pc.dll")), "pcode");
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/a_hc.dll")), "hconfig");
  EXPECT_FALSE(fs::exists(Korvane("Ini/MODULES/readme.txt")));
  EXPECT_EQ(Registry(), (IniSectionMap{{"Count", "2"},
                                       {"Module1", "A"},
                                       {"A", "A.INI"},
                                       {"Module2", "b"},
                                       {"b", "b.ini"}}));
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId("$MODULES\\A.INI"), 42);
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId("$MODULES\\b.ini"), 42);
  EXPECT_TRUE(ctx_.questions.empty());
}

class HardwareOverwriteTest : public HardwareTest,
                              public ::testing::WithParamInterface<tOverwriteCase> {};

TEST_P(HardwareOverwriteTest, AnotherVendorsFileNeedsConsent) {
  const tOverwriteCase& c = GetParam();
  Definition("A.INI", "a_pc.dll");
  BundleFile("EXE/a_pc.dll", "new library");
  BundleFile("MODULES/A/G.INI", "new global");
  KorvaneFile("Ini/MODULES/a.ini", "old definition");  // another letter case: the same file
  KorvaneFile("Ini/MODULES/A/G.INI", "old global");
  KorvaneFile("Program/a_pc.dll", "old library");
  ctx_.InstallationRecord->RecordInstall("$MODULES\\A.INI", c.recorded_oem);
  ctx_.answers.assign(c.answers.begin(), c.answers.end());
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);  // a skipped file counts
  EXPECT_EQ(ctx_.questions, c.answers.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{kQuestion});
  EXPECT_EQ(Ini("a.ini") == ReadFileOrDie(bundle_ / "MODULES/A.INI"), c.overwritten);
  EXPECT_FALSE(fs::exists(Korvane("Ini/MODULES/A.INI"))) << "a second spelling beside the first";
  EXPECT_EQ(Ini("A/G.INI"), c.overwritten ? "new global" : "old global");
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/a_pc.dll")),
            c.overwritten ? "new library" : "old library");
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId("$MODULES\\A.INI"),
            c.overwritten ? 42 : c.recorded_oem);
  EXPECT_EQ(ctx_.reported.empty(), !c.overwritten);  // a skip writes no line
}

INSTANTIATE_TEST_SUITE_P(Cases, HardwareOverwriteTest, ::testing::ValuesIn(kOverwriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct tResultCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> bundle;  // bundle files ("/" ending: folder)
  std::vector<std::pair<std::string, std::string>> korvane;  // sandbox files, "" content: folder
  int result;
  std::vector<std::string> lines;     // {B} bundle folder, {P} program folder
  std::vector<std::string> present;   // sandbox paths that must exist afterwards
  std::vector<std::string> absent;    // sandbox paths that must not
};

const std::string kDef = "[MODULE]\nName=x\n";
const std::string kLong(300, 'L');

const tResultCase kResultCases[] = {
    {"NoModulesFolder", {{"EXE/x.dll", "x"}}, {}, 2, {}, {}, {"Program/x.dll"}},
    {"NoDefinitionFile",
     {{"MODULES/readme.txt", "x"}, {"MODULES/DIR.INI/", ""}},
     {},
     2,
     {},
     {},
     {"Ini/MODULES/DIR.INI"}},
    {"ModulesIniStopsTheStep",
     {{"MODULES/A.INI", kDef}, {"MODULES/MODULES.INI", "[Modules]\nCount=9\n"}, {"MODULES/Z.INI", kDef}},
     {},
     1,
     {"copied ini file for hardware A.INI", "registered hardware A.INI as module1 in hardware.ini"},
     {"Ini/MODULES/A.INI"},
     {"Ini/MODULES/Z.INI"}},
    {"LowerCaseModulesIniStopsToo",
     {{"MODULES/modules.ini", "x"}, {"MODULES/z.INI", kDef}},
     {},
     1,
     {},
     {},
     {"Ini/MODULES/z.INI"}},
    {"FailedCopyKeepsTheResult",
     {{"MODULES/A.INI", kDef}, {"MODULES/B.INI", kDef}},
     {{"Ini/MODULES/A.INI/", ""}},  // a folder in the way, recorded for OEM 42 below
     0,
     {"copied ini file for hardware B.INI", "registered hardware B.INI as module1 in hardware.ini"},
     {},
     {}},
    {"ListedModuleInAnotherCaseIsNotListedAgain",
     {{"MODULES/A.INI", kDef}},
     {{"Ini/MODULES/MODULES.INI", "[Modules]\nCount=1\nModule1=a\na=a.ini\n"}},
     0,
     {"copied ini file for hardware A.INI"},
     {"Ini/MODULES/A.INI"},
     {}},
    {"MissingOrEmptyLibrariesAreLeftOut",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=gone.dll\nHConfigDll32=\n"}},
     {},
     0,
     {"copied ini file for hardware A.INI", "registered hardware A.INI as module1 in hardware.ini"},
     {},
     {"Program/gone.dll"}},
    {"LibraryInASubfolderOfExe",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=x86\\pc.dll\n"}, {"EXE/x86/pc.dll", "pc"}},
     {},
     0,
     {"copied ini file for hardware A.INI", "registered hardware A.INI as module1 in hardware.ini",
      "copied {B}/EXE/x86/pc.dll to {P}"},
     {"Program/pc.dll"},
     {}},
    {"HostileLibraryNames",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=..\\..\\secret.txt\nHConfigDll32=" + kLong + "\n"},
      {"secret.txt", "bundle secret"}},
     {},
     1,
     {"copied ini file for hardware A.INI", "registered hardware A.INI as module1 in hardware.ini",
      "ERROR: library ..\\..\\secret.txt named by A.INI refused: ",
      "ERROR: library " + kLong + " named by A.INI refused: "},
     {},
     {"Program/secret.txt"}},
    {"HostileDefinitionNames",
     {{"MODULES/.INI", kDef}, {"MODULES/..INI", kDef}, {"MODULES/a=b.INI", kDef},
      {"MODULES/readme.txt", "not a definition"}},
     {},
     1,
     {"ERROR: hardware definition file ..INI refused: ",
      "ERROR: hardware definition file .INI refused: ",
      "ERROR: hardware definition file a=b.INI refused: "},
     {},
     {"Ini/MODULES/.INI", "Ini/MODULES/..INI", "Ini/MODULES/readme.txt", "Ini/MODULES/a=b.INI",
      "Ini/readme.txt", "Ini/MODULES/MODULES/readme.txt"}},
};

void PrintTo(const tResultCase& c, std::ostream* os) { *os << c.name; }

class HardwareResultTest : public HardwareTest,
                           public ::testing::WithParamInterface<tResultCase> {};

TEST_P(HardwareResultTest, CountsFilesIntoTheResult) {
  const tResultCase& c = GetParam();
  for (const auto& [path, content] : c.bundle) {
    if (path.back() == '/') {
      fs::create_directories(bundle_ / path);
    } else {
      BundleFile(path, content);
    }
  }
  for (const auto& [path, content] : c.korvane) {
    if (path.back() == '/') {
      fs::create_directories(Korvane(path));
    } else {
      KorvaneFile(path, content);
    }
  }
  ctx_.InstallationRecord->RecordInstall("$MODULES\\A.INI", 42);
  const std::string registry_before = ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI"));
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), c.result);
  const std::vector<std::string> lines = ctx_.Lines(), expected = Expand(c.lines);
  ASSERT_EQ(lines.size(), expected.size()) << ::testing::PrintToString(lines);
  for (size_t i = 0; i < lines.size(); ++i) {
    // A refusal line ends with the reason, which the expectation leaves out.
    if (expected[i].back() == ' ') {
      EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
      EXPECT_GT(lines[i].size(), expected[i].size()) << lines[i];
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  for (const std::string& path : c.present) EXPECT_TRUE(fs::exists(Korvane(path))) << path;
  for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(Korvane(path))) << path;
  EXPECT_TRUE(ctx_.questions.empty());
  if (c.result == 2) {
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI")), registry_before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HardwareResultTest, ::testing::ValuesIn(kResultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The module registry cannot be written: the file is still installed and the
// failure reported.
TEST_F(HardwareTest, ARegistryThatCannotBeWrittenIsReported) {
  Definition("A.INI");
  ASSERT_EQ(chmod(Korvane("Ini/MODULES/MODULES.INI").c_str(), 0444), 0);
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);
  EXPECT_EQ(ctx_.Lines(), (std::vector<std::string>{"copied ini file for hardware A.INI",
                                                    "ERROR registering hardware A.INI in hardware.ini"}));
  EXPECT_EQ(Registry().at("Count"), "0");
}

}  // namespace
}  // namespace kestrin::testing
