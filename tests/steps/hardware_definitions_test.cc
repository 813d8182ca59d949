// The hardware definitions step: definition files, the module registry and
// the libraries of the EXE folder; the result codes; hostile names. The
// overwrite rule: OverwriteTest (driver libraries).
#include <sys/stat.h>

#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

struct tResultCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> bundle;  // "/" ending: a folder
  int result;
  Strings lines;    // as ExpectLines takes them
  Strings present;  // sandbox paths that must exist afterwards
  Strings absent;   // and those that must not
};

const std::string kDef = "[MODULE]\nName=x\n";
const std::string kCopiedA = "copied ini file for hardware A.INI";
const std::string kListedA = "registered hardware A.INI as module1 in hardware.ini";

// clang-format off
const tResultCase kResultCases[] = {
    {"NoDefinitionFile", {{"MODULES/readme.txt", "x"}, {"MODULES/DIR.INI/", ""}, {"EXE/x.dll", "x"}}, 2,
     {}, {}, {"Ini/MODULES/DIR.INI", "Ini/MODULES/readme.txt", "Program/x.dll"}},
    // In any letter case, and the files after it are left alone.
    {"ModulesIniStopsTheStep",
     {{"MODULES/A.INI", kDef}, {"MODULES/modules.ini", "[Modules]\nCount=9\n"}, {"MODULES/z.INI", kDef}},
     1, {kCopiedA, kListedA}, {"Ini/MODULES/A.INI"}, {"Ini/MODULES/z.INI"}},
    {"HostileLibraryName",
     {{"MODULES/A.INI", "[MODULE]\nPCodeDll32=..\\..\\secret.txt\nHConfigDll32=x86\\pc.dll\n"},
      {"EXE/x86/pc.dll", "pc"}, {"secret.txt", "bundle secret"}}, 1,
     {kCopiedA, kListedA, "ERROR: library ..\\..\\secret.txt named by A.INI refused: ",
      "copied {B}/EXE/x86/pc.dll to {P}"},
     {"Program/pc.dll"}, {"Program/secret.txt"}},
    {"HostileDefinitionNames",
     {{"MODULES/.INI", kDef}, {"MODULES/..INI", kDef}, {"MODULES/a=b.INI", kDef},
      {"MODULES/readme.txt", "not a definition"}}, 1,
     {"ERROR: hardware definition file ..INI refused: ", "ERROR: hardware definition file .INI refused: ",
      "ERROR: hardware definition file a=b.INI refused: "},
     {}, {"Ini/MODULES/.INI", "Ini/MODULES/..INI", "Ini/MODULES/readme.txt", "Ini/MODULES/a=b.INI",
          "Ini/readme.txt", "Ini/MODULES/MODULES/readme.txt"}},
};
// clang-format on

class HardwareResultTest : public StepTest, public ::testing::WithParamInterface<tResultCase> {};

TEST_P(HardwareResultTest, CountsFilesIntoTheResult) {
  const tResultCase& c = GetParam();
  for (const auto& [path, content] : c.bundle) BundleFile(path, content);
  const std::string registry_before = ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI"));
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), c.result);
  ExpectLines(c.lines);
  for (const std::string& path : c.present) EXPECT_TRUE(fs::exists(Korvane(path))) << path;
  for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(Korvane(path))) << path;
  if (c.result == 2) {
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI")), registry_before);
  }
}

KESTRIN_CASES(HardwareResultTest, ::testing::ValuesIn(kResultCases));

// A module registry that cannot be written: the file is still installed and
// the failure reported.
TEST_F(StepTest, ARegistryThatCannotBeWrittenIsReported) {
  BundleFile("MODULES/A.INI", "[MODULE]\n");
  ASSERT_EQ(chmod(Korvane("Ini/MODULES/MODULES.INI").c_str(), 0444), 0);
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);
  ExpectLines({kCopiedA, "ERROR registering hardware A.INI in hardware.ini"});
  EXPECT_EQ(IniFile(sandbox_.ini_dir + "MODULES/MODULES.INI").GetString("Modules", "Count"), "0");
}

}  // namespace
}  // namespace kestrin::testing
