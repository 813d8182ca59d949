// The steps that write Korvane settings into the registry store: the OPC
// pane, the bundle's registry settings, the TCP/IP timeout and the visible
// extensions.
#include <map>
#include <optional>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

const std::string kSettings = "SOFTWARE\\Brantel\\Korvane\\Settings\\";
const std::string kExtensionsLine = "@=\".pro;.poe\"";
const std::string kLong256(256, 'k');

class SettingsStepTest : public StepTest {
 protected:
  std::string Store() const { return ReadFileOrDie(sandbox_.registry); }
  void ReplaceInStore(const std::string& from, const std::string& to) {
    std::string store = Store();
    const size_t at = store.find(from);
    ASSERT_NE(at, std::string::npos) << store;
    WriteFileOrDie(sandbox_.registry, store.replace(at, from.size(), to));
  }
};


struct tRegistryCase {
  const char* name;
  std::string hw_ini;
  int result;
  std::map<std::string, std::string> written;  // setting -> value; empty: store untouched
  std::vector<tReported> reported;
};

const std::string k300(300, 'v');

// clang-format off
const tRegistryCase kRegistryCases[] = {
    {"MisspeltSectionComesFirst", "[REGISTY_SETTING]\nCOUNT=1\nPATH1=Vendor\\A\nVALUE1=first\n"
     "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Vendor\\B\nVALUE1=second\n", 0, {{"Vendor\\A", "first"}}, {}},
    {"CorrectSpellingWhenTheMisspeltCountIsZero",
     "[REGISTY_SETTING]\nCOUNT=0\nPATH1=Vendor\\A\nVALUE1=no\n[REGISTRY_SETTING]\nCOUNT=2\n"
     "path1=\\Vendor\\Lead\nvalue1=one\nPATH2=Vendor\\Two\nVALUE2=\"two\"\n",
     0, {{"Vendor\\Lead", "one"}, {"Vendor\\Two", "two"}}, {}},
    {"NoCountAnywhere", "[REGISTRY_SETTING]\nPATH1=Vendor\\A\nVALUE1=x\n", 2, {}, {}},
    {"NegativeCountIsNothingToDo", "[REGISTRY_SETTING]\nCOUNT=-3\nPATH1=A\nVALUE1=x\n", 0, {}, {}},
    {"ValueCutTo259", "[REGISTRY_SETTING]\nCOUNT=2\nPATH1=Long\nVALUE1=" + k300 + "\nPATH2=Exact\nVALUE2=" +
     std::string(259, 'e') + "\n", 0, {{"Long", k300.substr(0, 259)}, {"Exact", std::string(259, 'e')}}, {}},
    {"FailingKeyInTheMiddle", "[REGISTRY_SETTING]\nCOUNT=3\nPATH1=Vendor\\One\nVALUE1=1\nPATH2=Vendor\\" +
     kLong256 + "\nVALUE2=2\nPATH3=Vendor\\Three\nVALUE3=3\n", 1, {{"Vendor\\One", "1"}, {"Vendor\\Three", "3"}},
     {{"ERROR while setting registry key: " + kSettings + "Vendor\\" + kLong256, false}}},
    {"MissingPathWritesTheSettingsKey", "[REGISTRY_SETTING]\nCOUNT=1\nVALUE1=top\n", 0, {{"", "top"}}, {}},
    // Indices past the section's own keys all write the empty default value
    // of the settings key; the huge count must not take long.
    {"HugeCountEndsQuickly", "[REGISTRY_SETTING]\nCOUNT=2147483647\nPATH1=A\nVALUE1=a\nPATH3=C\nVALUE3=c\n",
     0, {{"A", "a"}, {"C", "c"}, {"", ""}}, {}},
};
// clang-format on


class RegistrySettingsTest : public SettingsStepTest,
                             public ::testing::WithParamInterface<tRegistryCase> {};

TEST_P(RegistrySettingsTest, WritesEachSettingBelowTheSettingsKey) {
  const tRegistryCase& c = GetParam();
  BundleFile("hw.ini", c.hw_ini);
  const std::string before = Store();
  for (const bool silent : {false, true}) {
    ctx_.SilentMode = silent;
    ctx_.reported.clear();
    EXPECT_EQ(SetRegistrySettings(ctx_), c.result);
    // The error line is for the information list only; the context drops it
    // in silent mode, so the step reports it the same way in both modes.
    EXPECT_EQ(ctx_.reported, c.reported);
  }
  if (c.written.empty()) {
    EXPECT_EQ(Store(), before);
  }
  for (const auto& [name, value] : c.written) EXPECT_EQ(Setting(name), value) << name;
  EXPECT_FALSE(Setting("Vendor\\B")) << "the second section was used";
}

KESTRIN_CASES(RegistrySettingsTest, ::testing::ValuesIn(kRegistryCases));


// The TCP/IP timeout (cases named "Timeout...") and the visible extensions:
// one value each, in the store or not. How hw.ini numbers are read: IniTest.
struct tValueCase {
  const char* name;
  std::string existing_line;  // replaces @=".pro;.poe"; "-" removes the key
  std::string hw_ini;
  int result;
  std::optional<std::string> stored;  // nothing: store untouched
};

const std::string kExtA = "[VISIBLE_EXTENSIONS]\nEXT=.a\n";

// clang-format off
const tValueCase kValueCases[] = {
    {"TimeoutAbsent", kExtensionsLine, "[TCPIP]\n", 2, std::nullopt},
    {"TimeoutNegative", kExtensionsLine, "[TCPIP]\nTIMEOUT=-5\n", 2, std::nullopt},
    {"TimeoutZero", kExtensionsLine, "[TCPIP]\nTIMEOUT=0\n", 0, "0"},
    {"TimeoutMilliseconds", kExtensionsLine, "[tcpip]\ntimeout = 5000\n", 0, "5000"},
    {"TrailingSemicolonNotDoubled", "@=\".pro;.poe;\"", "[VISIBLE_EXTENSIONS]\nEXT=.lib\n", 0, ".pro;.poe;.lib"},
    {"AllPresentGetsASemicolon", kExtensionsLine, "[VISIBLE_EXTENSIONS]\nEXT=.PRO;.poe\n", 0, ".pro;.poe;"},
    {"ExistingCaseKept", "@=\".PRO\"", "[VISIBLE_EXTENSIONS]\nEXT=.pro;.x\n", 0, ".PRO;.x"},
    {"EmptyList", "@=\"\"", kExtA, 0, ";.a"},
    {"EmptyPartsSkipped", kExtensionsLine, "[VISIBLE_EXTENSIONS]\nEXT=;.a;;.b;\n", 0, ".pro;.poe;.a;.b"},
    {"RepeatsInTheBundleKept", kExtensionsLine, "[VISIBLE_EXTENSIONS]\nEXT=.x;.X\n", 0, ".pro;.poe;.x;.x"},
    {"MissingKeyNotCreated", "-", kExtA, 2, std::nullopt},
    {"KeyWithoutDefaultValue", "\"Other\"=\"x\"", kExtA, 1, std::nullopt},
    {"NotAString", "@=dword:00000001", kExtA, 1, std::nullopt},
    {"LongestReadableList", "@=\"" + std::string(259, 'p') + "\"", kExtA, 0, std::string(259, 'p') + ";.a"},
    {"ListTooLongToRead", "@=\"" + std::string(260, 'p') + "\"", kExtA, 1, std::nullopt},
    {"NoExtensions", kExtensionsLine, "[VISIBLE_EXTENSIONS]\nEXT=\n", 2, std::nullopt},
};
// clang-format on


class SettingValueTest : public SettingsStepTest, public ::testing::WithParamInterface<tValueCase> {};

TEST_P(SettingValueTest, WritesTheValueOrLeavesTheStore) {
  const tValueCase& c = GetParam();
  const bool timeout = std::string_view(c.name).starts_with("Timeout");
  const std::string key = "[HKEY_LOCAL_MACHINE\\" + kSettings + "BRWTREECTRL\\VISIBLEEXTENSIONS]\n";
  if (c.existing_line == "-") ReplaceInStore(key + kExtensionsLine, "");
  else ReplaceInStore(kExtensionsLine, c.existing_line);
  BundleFile("hw.ini", c.hw_ini);
  const std::string before = Store();
  EXPECT_EQ(timeout ? SetTcpTimeout(ctx_) : AddVisibleExtensions(ctx_), c.result);
  if (c.stored) {
    EXPECT_EQ(Setting(timeout ? "Online\\TcpDriverTimeout_ms" : "BRWTREECTRL\\VISIBLEEXTENSIONS"),
              c.stored);
  } else {
    EXPECT_EQ(Store(), before);
  }
  EXPECT_TRUE(ctx_.reported.empty());
}

KESTRIN_CASES(SettingValueTest, ::testing::ValuesIn(kValueCases));

// A store that cannot be parsed is a failure, never read as a missing key,
// and neither step touches it.
TEST_F(SettingsStepTest, UnparsableStoreFailsAndStaysAsItIs) {
  const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X\n";
  WriteFileOrDie(sandbox_.registry, broken);
  BundleFile("hw.ini",
             "[VISIBLE_EXTENSIONS]\nEXT=.a\n[TCPIP]\nTIMEOUT=10\n"
             "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=A\nVALUE1=a\n");
  EXPECT_EQ(AddVisibleExtensions(ctx_), 1);
  EXPECT_EQ(SetTcpTimeout(ctx_), 1);
  EXPECT_EQ(SetRegistrySettings(ctx_), 1);
  EXPECT_EQ(Store(), broken);
}


struct tOpcCase {
  const char* name;
  std::map<std::string, std::string> bundle;     // MODULES/<name> -> content
  std::map<std::string, std::string> installed;  // Ini/MODULES/<name> -> content
  int result;
};

const std::string kActive = "[ENABLE_OPC_PANE]\nACTIVE=1\n";

// clang-format off
const tOpcCase kOpcCases[] = {
    {"NoDefinitionFiles", {}, {}, 2},
    {"OnlyAFolderNamedLikeOne", {{"D.INI/x.txt", ""}}, {{"D.INI", kActive}}, 2},
    {"InstalledCopyDecidesOverTheBundle", {{"A.INI", kActive}}, {{"A.INI", "[MODULE]\n"}}, 2},
    {"LeadingZeroIsNotOne", {{"A.INI", ""}}, {{"A.INI", "[ENABLE_OPC_PANE]\nACTIVE=01\n"}}, 2},
    {"QuotedOneAndCaseOfNames", {{"a.ini", ""}}, {{"A.INI", "[enable_opc_pane]\nactive = \"1\"\n"}}, 0},
    {"OneOfSeveral", {{"A.INI", ""}, {"B.INI", ""}, {"C.INI", ""}},
     {{"A.INI", "[ENABLE_OPC_PANE]\nACTIVE=0\n"}, {"B.INI", kActive}}, 0},
};
// clang-format on


class OpcPaneTest : public SettingsStepTest, public ::testing::WithParamInterface<tOpcCase> {};

TEST_P(OpcPaneTest, EnablesThePaneWhenAnInstalledDefinitionAsks) {
  const tOpcCase& c = GetParam();
  for (const auto& [name, content] : c.bundle) BundleFile("MODULES/" + name, content);
  for (const auto& [name, content] : c.installed) KorvaneFile("Ini/MODULES/" + name, content);
  const std::string before = Store();
  EXPECT_EQ(EnableOpcPane(ctx_), c.result);
  if (c.result == 0) {
    EXPECT_EQ(Setting("BRWTREECTRL\\OPCPANEENABLED"), "1");
  } else {
    EXPECT_EQ(Store(), before);
  }
  EXPECT_TRUE(ctx_.reported.empty());
}

KESTRIN_CASES(OpcPaneTest, ::testing::ValuesIn(kOpcCases));

}  // namespace
}  // namespace kestrin::testing
