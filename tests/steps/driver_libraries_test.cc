// The hardware definitions and driver libraries steps: definition files,
// the module registry and the libraries of the EXE folder; driver copies and
// their registration (in-process or through regasm); the overwrite rule of
// these and the samples step; result codes; hostile names. The plain copy,
// registration and record of each: StepsRunTest.
#include <tuple>

#include "host/dotnet.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

class DriverTest : public StepTest {
 protected:
  void Drivers(const std::string& section) { BundleFile("hw.ini", "[DRIVERS]\n" + section); }
  std::string Program(const std::string& name) const { return fake_.machine.program_dir + "/" + name; }
};

// An item installed before, met interactively: who recorded it and the
// answers; the bundle's copy lands unless the answer is No. Silent mode:
// StepsRunTest.
struct tOverwriteCase {
  const char* name;
  int recorded_oem;
  std::vector<bool> answers;
};

// Another vendor's hardware definition (with its global file and library),
// driver library and sample folder: each step asks with the item's own
// question and record key, and all of the item follows the one decision.
class OverwriteTest : public DriverTest, public ::testing::WithParamInterface<tOverwriteCase> {};

TEST_P(OverwriteTest, AnotherVendorsItemNeedsConsent) {
  const tOverwriteCase& c = GetParam();
  const bool o = c.answers.empty() || c.answers[0];
  // Each file's place in Korvane (another letter case: the same file), in
  // the bundle, and its new and old content.
  const struct { std::string korvane, bundle, now, before; } files[] = {
      {"Ini/MODULES/a.ini", "MODULES/A.INI", "[MODULE]\r\nName=x\nPCodeDll32=a_pc.dll\n", "old definition"},
      {"Ini/MODULES/A/sub/G.INI", "MODULES/A/sub/G.INI", "new global", "old global"},
      {"Program/a_pc.dll", "EXE/a_pc.dll", "new library", "old library"},
      {"Program/OK.SO", "DRIVERS/ok.so", "new driver", "old library"},
      {"Data/SAMPLES/Blink/Blink.kvp", "SAMPLES/Blink/Blink.kvp", "blink v2", "blink v1"}};
  for (const auto& file : files) {
    BundleFile(file.bundle, file.now);
    KorvaneFile(file.korvane, file.before);
  }
  BundleFile("SAMPLES/Blink/sub/io.txt");
  BundleFile("SAMPLES/Count/Count.kvp", "count");
  Drivers("ok.so\n");
  FileTime earlier = 0;  // a past minute, so the steps' own entries are the newer ones
  ASSERT_TRUE(SystemTimeToFileTime(2020, 1, 2, 3, 4, 0, &earlier));
  const char* const items[] = {"$MODULES\\A.INI", "ok.so", "$SAMPLES\\Blink"};
  for (const char* item : items) ctx_.InstallationRecord->RecordInstall(item, c.recorded_oem, earlier);
  std::vector<bool> answers;  // the same answer for each step
  for (int step = 0; step < 3; ++step) answers.insert(answers.end(), c.answers.begin(), c.answers.end());
  Mode(false, false, answers);

  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 0);  // a skipped item counts
  EXPECT_EQ(ctx_.reported.empty(), !o);            // a skip writes no line
  ctx_.reported.clear();
  EXPECT_EQ(InstallDriverLibraries(ctx_), 0);
  EXPECT_EQ(ctx_.reported.size(), o ? 2u : 0u);
  ctx_.reported.clear();
  EXPECT_EQ(InstallSamples(ctx_), 0);
  const tReported copied = {" *** Samples directory successfully copied ***", true};
  EXPECT_EQ(ctx_.reported, std::vector<tReported>(o ? 2 : 1, copied));
  const std::string ask = "The driver bundle wants to overwrite the existing ",
                    by = ", that was previously installed by another vendor.\nDo you allow this ?";
  const Strings asked = {ask + "hardware definition file A.INI" + by, ask + "DLL ok.so" + by,
                         ask + "sample directory Blink" + by};
  EXPECT_EQ(ctx_.questions, c.answers.empty() ? Strings{} : asked);
  for (const auto& file : files)
    EXPECT_EQ(ReadFileOrDie(Korvane(file.korvane)), o ? file.now : file.before) << file.korvane;
  EXPECT_FALSE(Exists(Korvane("Ini/MODULES/A.INI")) || Exists(Korvane("Program/ok.so")))
      << "a second spelling beside the first";
  // A skipped library is not registered.
  EXPECT_EQ(fake_.libraries.calls, o ? Strings{"register " + Program("ok.so")} : Strings{});
  EXPECT_EQ(Exists(Korvane("Data/SAMPLES/Blink/sub/io.txt")), o);
  EXPECT_EQ(ReadFileOrDie(Korvane("Data/SAMPLES/Count/Count.kvp")), "count");
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId("$SAMPLES\\Count"), 42);
  for (const char* item : items)
    EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId(item), o ? 42 : c.recorded_oem) << item;
}

KESTRIN_CASES(OverwriteTest, ::testing::Values(tOverwriteCase{"SameOemNoQuestion", 42, {}},
                                               tOverwriteCase{"OtherOemYes", 7, {true}},
                                               tOverwriteCase{"OtherOemNo", 7, {false}}));

// Names that leave the folder (the full list: SafePathTest) or that no file
// system here holds fail the step and write nothing; 259 characters is the
// longest name a bundle can hold. A name with a folder part lands in the
// program folder itself, where it is looked for, deleted and registered. A
// folder in a library's place: "delete" clears it, else the copy fails and
// is reported. A library without a register entry fails its registration.
TEST_F(DriverTest, NamesOptionsAndFailures) {
  const std::string n255(255, 'n'), long_part(256, 'p'), long_name = "dddd/" + n255;
  Drivers("../evil.so\n" + long_part + "\n" + long_name + "\nddd\\" + n255 +
          "=noreg\nnone.so\ndd\\d.so=delete\ne.so\n");
  BundleFile("evil.so", "outside the DRIVERS folder");
  BundleFile("DRIVERS/ddd/" + n255, "longest");
  BundleFile("DRIVERS/" + long_name, "too long");
  BundleFile("DRIVERS/none.so", "without entry points");
  fake_.libraries.failing = {Program("none.so"), Program("e.so")};
  for (const auto& [name, source, installed] :
       {std::tuple{"dd\\d.so", "dd/d.so", "d.so"}, {"e.so", "e.so", "e.so"}}) {
    BundleFile(std::string("DRIVERS/") + source, "a driver");
    KorvaneFile(std::string("Program/") + installed + "/inside", "in the way");
    ctx_.InstallationRecord->RecordInstall(name, 42);
  }
  EXPECT_EQ(InstallDriverLibraries(ctx_), 1);
  const std::string refused = "ERROR: driver dll name ";
  ExpectLines({refused + "../evil.so refused: ", refused + long_part + " refused: ",
               refused + long_name + " refused: ", "copied driver dll ddd\\" + n255 + " to {P}",
               "copied driver dll none.so to {P}", "ERROR registering driver dll none.so",
               "copied driver dll dd\\d.so to {P}", "successfully registered driver dll dd\\d.so",
               "ERROR copying driver dll e.so", "ERROR registering driver dll e.so"});
  EXPECT_FALSE(Exists(Korvane("Program/evil.so")) || Exists(Korvane("evil.so")));
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/" + n255)), "longest");
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/d.so")), "a driver");
  EXPECT_FALSE(Exists(Korvane("Program/ddd")) || Exists(Korvane("Program/dd")));
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestOemId("ddd\\" + n255), 42);
}

// An assembly is registered by starting regasm of the framework (whose
// root the registry names) without waiting for it.
TEST_F(DriverTest, AssembliesAreRegisteredThroughRegasm) {
  fake_.libraries.loader_version = "2.0.50727";
  Drivers("asm.dll=RegAsm\n");
  BundleFile("DRIVERS/asm.dll", "an assembly");
  const std::string installed = Program("asm.dll");
  fake_.processes.missing = {"\\v2.0.50727"};  // no framework root: nothing to start
  for (const bool framework : {false, true}) {
    if (framework) {
      fake_.registry.store.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot",
                                     "/dotnet/");
    }
    ctx_.reported.clear();
    EXPECT_EQ(InstallDriverLibraries(ctx_), 0);
    EXPECT_EQ(ctx_.reported,
              (std::vector<tReported>{
                  {"copied driver dll asm.dll to " + fake_.machine.program_dir, true},
                  {"Registered Assembly " + installed + (framework ? " successfully." : " failed."), false},
                  {framework ? "successfully registered driver dll asm.dll"
                             : "ERROR registering driver dll asm.dll", true}}));
  }
  EXPECT_EQ(fake_.processes.started,
            Strings{"/dotnet/\\v2.0.50727\\regasm.exe /silent " + installed + " (no wait)"});
  EXPECT_TRUE(fake_.libraries.calls.empty());
}

// Nothing to do without definition files: no line, nothing changed.
TEST_F(StepTest, HardwareWithoutDefinitionFiles) {
  BundleFile("MODULES/readme.txt", "x");
  BundleFile("MODULES/DIR.INI/");
  BundleFile("EXE/x.dll", "x");
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 2);
  EXPECT_TRUE(ctx_.reported.empty());
  EXPECT_EQ(fake_.files.changes, Strings{});
}

// Definition and library names that could leave their folder or break the
// module registry are refused; the bundle's module registry (in any letter
// case) is never installed and stops the step. A module registry that
// cannot be written: the file is still installed and the failure reported.
TEST_F(StepTest, HardwareRefusesHostileNamesAndStopsAtTheModuleRegistry) {
  ASSERT_TRUE(SetReadOnly(fake_.files, Korvane("Ini/MODULES/MODULES.INI"), true));
  for (const char* name : {".INI", "..INI", "a=b.INI", "z.INI"}) BundleFile(std::string("MODULES/") + name, "[MODULE]\n");
  BundleFile("MODULES/A.INI", "[MODULE]\nPCodeDll32=..\\..\\secret.txt\nHConfigDll32=x86\\pc.dll\n");
  BundleFile("MODULES/modules.ini", "[Modules]\nCount=9\n");
  BundleFile("MODULES/readme.txt", "not a definition");
  BundleFile("EXE/x86/pc.dll", "pc");
  BundleFile("secret.txt", "bundle secret");
  EXPECT_EQ(InstallHardwareDefinitions(ctx_), 1);
  const std::string refused = "ERROR: hardware definition file ";
  ExpectLines({refused + "..INI refused: ", refused + ".INI refused: ", "copied ini file for hardware A.INI",
               "ERROR registering hardware A.INI in hardware.ini",
               "ERROR: library ..\\..\\secret.txt named by A.INI refused: ", "copied {B}/EXE/x86/pc.dll to {P}",
               refused + "a=b.INI refused: "});
  EXPECT_EQ(ReadFileOrDie(Korvane("Program/pc.dll")), "pc");
  EXPECT_EQ(IniFile(fake_.ini, Korvane("Ini/MODULES/MODULES.INI")).GetString("Modules", "Count"), "0");
  for (const char* path : {"Ini/MODULES/z.INI", "Program/secret.txt", "Ini/MODULES/.INI", "Ini/MODULES/..INI",
                           "Ini/MODULES/a=b.INI", "Ini/MODULES/readme.txt", "Ini/readme.txt", "Ini/MODULES/MODULES/readme.txt"})
    EXPECT_FALSE(Exists(Korvane(path))) << path;
}

}  // namespace
}  // namespace kestrin::testing
