// The steps that write Korvane settings into the registry store: the OPC
// pane, the bundle's registry settings, the TCP/IP timeout and the visible
// extensions. The plain write of each: StepsRunTest.
#include <map>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

const std::string kExtKey = "VISIBLEEXTENSIONS]\n", kExtensions = kExtKey + "@=\".pro;.poe\"";
const std::string kExt = "BRWTREECTRL\\VISIBLEEXTENSIONS", kOpc = "BRWTREECTRL\\OPCPANEENABLED";
const std::string kExtA = "[VISIBLE_EXTENSIONS]\nEXT=.a\n", kActive = "[ENABLE_OPC_PANE]\nACTIVE=1\n";
const std::string k300(300, 'v'), kLong256(256, 'k');
const std::string kSettingsKey = "SOFTWARE\\Brantel\\Korvane\\Settings\\";

struct tSettingCase {
  const char* name;
  int (*step)(StepContext&);
  std::map<std::string, std::string> files;  // bundle files; "Ini/...": sandbox files
  int result;
  std::map<std::string, std::string> settings;  // afterwards; "-": none; no settings: store untouched
  std::string extensions = kExtensions;         // the extension key in the store
  std::vector<tReported> reported = {};
};

// clang-format off
const tSettingCase kCases[] = {
    {"MisspeltSectionComesFirst", SetRegistrySettings, {{"hw.ini", "[REGISTY_SETTING]\nCOUNT=1\nPATH1=Vendor\\A\n"
     "VALUE1=first\n[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Vendor\\B\nVALUE1=second\n"}}, 0,
     {{"Vendor\\A", "first"}, {"Vendor\\B", "-"}}},
    {"CorrectSpellingWhenTheMisspeltCountIsZero", SetRegistrySettings, {{"hw.ini", "[REGISTY_SETTING]\nCOUNT=0\n"
     "PATH1=Vendor\\A\nVALUE1=no\n[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Vendor\\Two\nVALUE1=\"two\"\n"}}, 0,
     {{"Vendor\\Two", "two"}, {"Vendor\\A", "-"}}},
    {"NoCountAnywhere", SetRegistrySettings, {{"hw.ini", "[REGISTRY_SETTING]\nPATH1=A\nVALUE1=x\n"}}, 2, {}},
    // The error line goes to the information list only; the others are written.
    {"FailingKeyInTheMiddleAndAValueCutTo259", SetRegistrySettings, {{"hw.ini", "[REGISTRY_SETTING]\nCOUNT=3\n"
     "PATH1=Vendor\\One\nVALUE1=" + k300 + "\nPATH2=Vendor\\" + kLong256 + "\nVALUE2=2\nPATH3=Vendor\\Three\n"
     "VALUE3=3\n"}}, 1, {{"Vendor\\One", k300.substr(0, 259)}, {"Vendor\\Three", "3"}}, kExtensions,
     {{"ERROR while setting registry key: " + kSettingsKey + "Vendor\\" + kLong256, false}}},
    // Indices past the section's own keys all write the empty default value
    // of the settings key; the huge count must not take long.
    {"HugeCountEndsQuickly", SetRegistrySettings, {{"hw.ini", "[REGISTRY_SETTING]\nCOUNT=2147483647\nPATH1=A\n"
     "VALUE1=a\nPATH3=C\nVALUE3=c\n"}}, 0, {{"A", "a"}, {"C", "c"}, {"", ""}}},
    {"TimeoutAbsent", SetTcpTimeout, {{"hw.ini", "[TCPIP]\n"}}, 2, {}},
    {"TimeoutZero", SetTcpTimeout, {{"hw.ini", "[TCPIP]\nTIMEOUT=0\n"}}, 0, {{"Online\\TcpDriverTimeout_ms", "0"}}},
    {"TrailingSemicolonNotDoubled", AddVisibleExtensions, {{"hw.ini", "[VISIBLE_EXTENSIONS]\nEXT=.lib\n"}}, 0,
     {{kExt, ".pro;.poe;.lib"}}, kExtKey + "@=\".pro;.poe;\""},
    {"ExistingCaseKeptEmptyPartsSkipped", AddVisibleExtensions, {{"hw.ini", "[VISIBLE_EXTENSIONS]\nEXT=.pro;;.x;\n"}},
     0, {{kExt, ".PRO;.x"}}, kExtKey + "@=\".PRO\""},
    {"MissingKeyNotCreated", AddVisibleExtensions, {{"hw.ini", kExtA}}, 2, {}, "OTHER]\n"},
    {"NotAString", AddVisibleExtensions, {{"hw.ini", kExtA}}, 1, {}, kExtKey + "@=dword:00000001"},
    {"ListTooLongToRead", AddVisibleExtensions, {{"hw.ini", kExtA}}, 1, {}, kExtKey + "@=\"" + std::string(260, 'p') + "\""},
    {"NoExtensions", AddVisibleExtensions, {{"hw.ini", "[VISIBLE_EXTENSIONS]\nEXT=\n"}}, 2, {}},
    // The OPC pane: the installed copies of the bundle's definitions decide.
    {"OpcWithoutDefinitionFiles", EnableOpcPane, {{"Ini/MODULES/A.INI", kActive}}, 2, {}},
    {"OpcInstalledCopyDecides", EnableOpcPane, {{"MODULES/A.INI", kActive}, {"Ini/MODULES/A.INI", "[MODULE]\n"}}, 2, {}},
    {"OpcOneOfSeveral", EnableOpcPane, {{"MODULES/A.INI", ""}, {"MODULES/B.INI", ""}, {"MODULES/C.INI", ""},
     {"Ini/MODULES/A.INI", "[ENABLE_OPC_PANE]\nACTIVE=0\n"}, {"Ini/MODULES/B.INI", kActive}}, 0, {{kOpc, "1"}}},
};
// clang-format on

class SettingsStepTest : public StepTest, public ::testing::WithParamInterface<tSettingCase> {
 protected:
  std::string Store() const { return ReadFileOrDie(sandbox_.registry); }
};

TEST_P(SettingsStepTest, WritesTheSettingsOrLeavesTheStore) {
  const tSettingCase& c = GetParam();
  for (const auto& [path, content] : c.files)
    path.starts_with("Ini/") ? KorvaneFile(path, content) : BundleFile(path, content);
  std::string store = Store();
  const size_t at = store.find(kExtensions);
  ASSERT_NE(at, std::string::npos) << store;
  WriteFileOrDie(sandbox_.registry, store.replace(at, kExtensions.size(), c.extensions));
  const std::string before = Store();
  EXPECT_EQ(c.step(ctx_), c.result);
  EXPECT_EQ(ctx_.reported, c.reported);
  if (c.settings.empty()) {
    EXPECT_EQ(Store(), before);
  }
  for (const auto& [name, value] : c.settings) EXPECT_EQ(Setting(name).value_or("-"), value) << name;
}

KESTRIN_CASES(SettingsStepTest, ::testing::ValuesIn(kCases));

// A store that cannot be parsed is a failure, never read as a missing key,
// and none of the steps touches it.
TEST_F(StepTest, UnparsableStoreFailsAndStaysAsItIs) {
  const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X\n";
  WriteFileOrDie(sandbox_.registry, broken);
  BundleFile("hw.ini", kExtA + "[TCPIP]\nTIMEOUT=10\n[REGISTRY_SETTING]\nCOUNT=1\nPATH1=A\nVALUE1=a\n");
  EXPECT_EQ(AddVisibleExtensions(ctx_), 1);
  EXPECT_EQ(SetTcpTimeout(ctx_), 1);
  EXPECT_EQ(SetRegistrySettings(ctx_), 1);
  EXPECT_EQ(ReadFileOrDie(sandbox_.registry), broken);
}

}  // namespace
}  // namespace kestrin::testing
