// The hardware definitions step: definition files, the module registry and
// the libraries of the EXE folder; the result codes; hostile names. The
// overwrite rule: OverwriteTest (driver libraries).
#include <sys/stat.h>

#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

const std::string kCopiedA = "copied ini file for hardware A.INI";

TEST_F(StepTest, HardwareWithoutDefinitionFiles) {
  BundleFile("MODULES/readme.txt", "x");
  BundleFile("MODULES/DIR.INI/");
  BundleFile("EXE/x.dll", "x");
  const std::string registry = ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI"));
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 2);
  EXPECT_TRUE(ctx_.reported.empty());
  for (const char* path : {"Ini/MODULES/DIR.INI", "Ini/MODULES/readme.txt", "Program/x.dll"})
    EXPECT_FALSE(fs::exists(Korvane(path))) << path;
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/MODULES/MODULES.INI")), registry);
}

// Definition and library names that could leave their folder or break the
// module registry are refused; the bundle's module registry (in any letter
// case) is never installed and stops the step.
TEST_F(StepTest, HardwareRefusesHostileNamesAndStopsAtTheModuleRegistry) {
  for (const char* name : {".INI", "..INI", "a=b.INI", "z.INI"}) BundleFile(std::string("MODULES/") + name, "[MODULE]\n");
  BundleFile("MODULES/A.INI", "[MODULE]\nPCodeDll32=..\\..\\secret.txt\nHConfigDll32=x86\\pc.dll\n");
  BundleFile("MODULES/modules.ini", "[Modules]\nCount=9\n");
  BundleFile("MODULES/readme.txt", "not a definition");
  BundleFile("EXE/x86/pc.dll", "pc");
  BundleFile("secret.txt", "bundle secret");
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 1);
  const std::string refused = "ERROR: hardware definition file ";
  ExpectLines({refused + "..INI refused: ", refused + ".INI refused: ", kCopiedA,
               "registered hardware A.INI as module1 in hardware.ini",
               "ERROR: library ..\\..\\secret.txt named by A.INI refused: ", "copied {B}/EXE/x86/pc.dll to {P}",
               refused + "a=b.INI refused: "});
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/pc.dll")), "pc");
  for (const char* path : {"Ini/MODULES/z.INI", "Program/secret.txt", "Ini/MODULES/.INI", "Ini/MODULES/..INI",
                           "Ini/MODULES/a=b.INI", "Ini/MODULES/readme.txt", "Ini/readme.txt", "Ini/MODULES/MODULES/readme.txt"})
    EXPECT_FALSE(fs::exists(Korvane(path))) << path;
}

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
