// The hardware definitions step against a sandbox Korvane: definition files,
// the module registry, global definition files and the libraries of the
// EXE folder; the result codes; hostile names. The overwrite rule:
// OverwriteTest (driver libraries).
#include <sys/stat.h>

#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

class HardwareTest : public StepTest {
 protected:
  std::string Ini(const std::string& relative) const {
    return ReadFileOrDie(Korvane("Ini/MODULES/" + relative));
  }
};

struct tResultCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> bundle;  // bundle files ("/" ending: folder)
  std::vector<std::pair<std::string, std::string>> korvane;  // sandbox files, "" content: folder
  int result;
  std::vector<std::string> lines;     // as ExpectLines takes them
  std::vector<std::string> present;   // sandbox paths that must exist afterwards
  std::vector<std::string> absent;    // sandbox paths that must not
};

const std::string kDef = "[MODULE]\nName=x\n";
const std::string kLong(300, 'L');
const std::string kCopiedA = "copied ini file for hardware A.INI";
const std::string kListedA = "registered hardware A.INI as module1 in hardware.ini";

// clang-format off
const tResultCase kResultCases[] = {
    {"NoModulesFolder", {{"EXE/x.dll", "x"}}, {}, 2, {}, {}, {"Program/x.dll"}},
    {"NoDefinitionFile", {{"MODULES/readme.txt", "x"}, {"MODULES/DIR.INI/", ""}}, {}, 2, {}, {},
     {"Ini/MODULES/DIR.INI", "Ini/MODULES/readme.txt"}},
    {"ModulesIniStopsTheStep",
     {{"MODULES/A.INI", kDef}, {"MODULES/MODULES.INI", "[Modules]\nCount=9\n"}, {"MODULES/Z.INI", kDef}},
     {}, 1, {kCopiedA, kListedA}, {"Ini/MODULES/A.INI"}, {"Ini/MODULES/Z.INI"}},
    {"LowerCaseModulesIniStopsToo", {{"MODULES/modules.ini", "x"}, {"MODULES/z.INI", kDef}}, {}, 1,
     {}, {}, {"Ini/MODULES/z.INI"}},
    // A folder in the way of A.INI, recorded for OEM 42 below.
    {"FailedCopyKeepsTheResult", {{"MODULES/A.INI", kDef}, {"MODULES/B.INI", kDef}},
     {{"Ini/MODULES/A.INI/", ""}}, 0,
     {"copied ini file for hardware B.INI", "registered hardware B.INI as module1 in hardware.ini"},
     {}, {}},
    {"ListedModuleInAnotherCaseIsNotListedAgain", {{"MODULES/A.INI", kDef}},
     {{"Ini/MODULES/MODULES.INI", "[Modules]\nCount=1\nModule1=a\na=a.ini\n"}}, 0, {kCopiedA},
     {"Ini/MODULES/A.INI"}, {}},
    {"MissingOrEmptyLibrariesAreLeftOut",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=gone.dll\nHConfigDll32=\n"}}, {}, 0,
     {kCopiedA, kListedA}, {}, {"Program/gone.dll"}},
    {"LibraryInASubfolderOfExeAndASecondModule",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=x86\\pc.dll\n"}, {"EXE/x86/pc.dll", "pc"},
      {"MODULES/b.ini", kDef}}, {}, 0,
     {kCopiedA, kListedA, "copied {B}/EXE/x86/pc.dll to {P}", "copied ini file for hardware b.ini",
      "registered hardware b.ini as module2 in hardware.ini"},
     {"Program/pc.dll", "Ini/MODULES/b.ini"}, {}},
    {"HostileLibraryNames",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=..\\..\\secret.txt\nHConfigDll32=" + kLong + "\n"},
      {"secret.txt", "bundle secret"}}, {}, 1,
     {kCopiedA, kListedA, "ERROR: library ..\\..\\secret.txt named by A.INI refused: ",
      "ERROR: library " + kLong + " named by A.INI refused: "},
     {}, {"Program/secret.txt"}},
    {"HostileDefinitionNames",
     {{"MODULES/.INI", kDef}, {"MODULES/..INI", kDef}, {"MODULES/a=b.INI", kDef},
      {"MODULES/readme.txt", "not a definition"}}, {}, 1,
     {"ERROR: hardware definition file ..INI refused: ",
      "ERROR: hardware definition file .INI refused: ",
      "ERROR: hardware definition file a=b.INI refused: "},
     {}, {"Ini/MODULES/.INI", "Ini/MODULES/..INI", "Ini/MODULES/readme.txt", "Ini/MODULES/a=b.INI",
          "Ini/readme.txt", "Ini/MODULES/MODULES/readme.txt"}},
};
// clang-format on


class HardwareResultTest : public HardwareTest,
                           public ::testing::WithParamInterface<tResultCase> {};

TEST_P(HardwareResultTest, CountsFilesIntoTheResult) {
  const tResultCase& c = GetParam();
  for (const auto& [path, content] : c.bundle)
    path.back() == '/' ? (void)fs::create_directories(bundle_ / path) : BundleFile(path, content);
  for (const auto& [path, content] : c.korvane)
    path.back() == '/' ? (void)fs::create_directories(Korvane(path)) : KorvaneFile(path, content);
  ctx_.InstallationRecord->RecordInstall("$MODULES\\A.INI", 42);
  const std::string registry_before = ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI"));
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), c.result);
  ExpectLines(c.lines);
  for (const std::string& path : c.present) EXPECT_TRUE(fs::exists(Korvane(path))) << path;
  for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(Korvane(path))) << path;
  EXPECT_TRUE(ctx_.questions.empty());
  if (c.result == 2) {
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI")), registry_before);
  }
}

KESTRIN_CASES(HardwareResultTest, ::testing::ValuesIn(kResultCases));

// The module registry cannot be written: the file is still installed and the
// failure reported.
TEST_F(HardwareTest, ARegistryThatCannotBeWrittenIsReported) {
  BundleFile("MODULES/A.INI", "[MODULE]\n");
  ASSERT_EQ(chmod(Korvane("Ini/MODULES/MODULES.INI").c_str(), 0444), 0);
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);
  EXPECT_EQ(ctx_.Lines(), (std::vector<std::string>{"copied ini file for hardware A.INI",
                                                    "ERROR registering hardware A.INI in hardware.ini"}));
  EXPECT_EQ(IniFile(sandbox_.ini_dir + "MODULES/MODULES.INI").GetString("Modules", "Count"), "0");
}

}  // namespace
}  // namespace kestrin::testing
