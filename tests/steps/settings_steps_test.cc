// The settings and programs steps: the OPC pane, the bundle's registry
// settings, the TCP/IP timeout and the visible extensions in the registry
// (the plain write of each: StepsRunTest); the custom tools merged into
// CUSTTOOL.INI; the post commands as started.
#include <map>

#include "host/file_system.h"
#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

const std::string kExtKey = "VISIBLEEXTENSIONS]\n", kExtensions = kExtKey + "@=\".pro;.poe\"";
const std::string kExt = "BRWTREECTRL\\VISIBLEEXTENSIONS", kOpc = "BRWTREECTRL\\OPCPANEENABLED";
const std::string kExtA = "[VISIBLE_EXTENSIONS]\nEXT=.a\n", kActive = "[ENABLE_OPC_PANE]\nACTIVE=1\n";
const std::string k300(300, 'v'), kLong256(256, 'k');
// 300 copyright signs in Windows-1252, 300 e-acutes in UTF-8.
const std::string kLatin300(300, '\xA9');
std::string Repeat(const std::string& text, int n) { return n == 0 ? "" : text + Repeat(text, n - 1); }
const std::string kUtf8300 = Repeat("\xC3\xA9", 300);

struct tSettingCase {
  const char* name;
  StepResult (*step)(StepContext&);
  std::map<std::string, std::string> files;  // bundle files; "Ini/...": Korvane files
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
     {{"ERROR while setting registry key: SOFTWARE\\Brantel\\Korvane\\Settings\\Vendor\\" + kLong256, false}}},
    // A valid UTF-8 value is cut after 259 characters, any other after 259 bytes.
    {"CutAfter259CharactersOrBytes", SetRegistrySettings, {{"hw.ini", "[REGISTRY_SETTING]\nCOUNT=2\nPATH1=A\nVALUE1=" +
     kLatin300 + "\nPATH2=B\nVALUE2=" + kUtf8300 + "\n"}}, 0, {{"A", kLatin300.substr(0, 259)}, {"B", kUtf8300.substr(0, 518)}}},
    // Indices without keys all write the empty default value of the settings
    // key; a huge count, even with a key at its very end, must not take long.
    {"HugeCountEndsQuickly", SetRegistrySettings, {{"hw.ini", "[REGISTRY_SETTING]\nCOUNT=2147483647\nPATH1=A\n"
     "VALUE1=a\nPATH3=C\nVALUE3=c\nPATH2147483647=Z\n"}}, 0, {{"A", "a"}, {"C", "c"}, {"Z", ""}, {"", ""}}},
    {"TimeoutAbsent", SetTcpTimeout, {{"hw.ini", "[TCPIP]\n"}}, 2, {}},
    {"TimeoutZero", SetTcpTimeout, {{"hw.ini", "[TCPIP]\nTIMEOUT=0\n"}}, 0, {{"Online\\TcpDriverTimeout_ms", "0"}}},
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
  std::string Store() const { return fake_.registry.Text(); }
};

TEST_P(SettingsStepTest, WritesTheSettingsOrLeavesTheStore) {
  const tSettingCase& c = GetParam();
  for (const auto& [path, content] : c.files)
    path.starts_with("Ini/") ? KorvaneFile(path, content) : BundleFile(path, content);
  std::string store = Store();
  const size_t at = store.find(kExtensions);
  ASSERT_NE(at, std::string::npos) << store;
  fake_.registry.SetText(store.replace(at, kExtensions.size(), c.extensions));
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
  const std::string before = fake_.registry.Text();
  fake_.registry.broken = "registry store line 2: no closing bracket";
  BundleFile("hw.ini", kExtA + "[TCPIP]\nTIMEOUT=10\n[REGISTRY_SETTING]\nCOUNT=1\nPATH1=A\nVALUE1=a\n");
  EXPECT_EQ(AddVisibleExtensions(ctx_), 1);
  EXPECT_EQ(SetTcpTimeout(ctx_), 1);
  EXPECT_EQ(SetRegistrySettings(ctx_), 1);
  EXPECT_EQ(fake_.registry.Text(), before);
}

// The custom tools: renumbering, tools already there, missing titles,
// recovery, the silent-mode rules and a list that cannot be written.
struct tToolCase {
  const char* name;
  std::string list;     // CUSTTOOL.INI before the step; "-": no folder for it
  std::string section;  // the lines of the bundle's [CUST-TOOLS]; "-": no section
  bool silent, force;
  std::vector<bool> answers;  // one per question
  int result;
  std::string after;  // CUSTTOOL.INI's [CUST-TOOLS] afterwards, "key=value" lines
  Strings reported;   // as ExpectLines takes them
};

// A new tool's six keys as the step writes them.
std::string Tool(int n, const std::string& file, const std::string& title) {
  const std::string i = std::to_string(n);
  return "FILE" + i + "=" + file + "\nTitle" + i + "=" + title + "\nArguments" + i + "=\nCmdShow" + i +
         "=\nInitDir" + i + "=\nQueryArguments" + i + "=\n";
}

const std::string kTool5Keys = "FILE5=C:\\t\\x.exe\nTitle5=X tool\nArguments5=old\nInitDir5=C:\\t\n";
const std::string kTool5 = "[CUST-TOOLS]\n" + kTool5Keys;
const std::string kBundleX = "FILE1=C:\\t\\x.exe\nTitle1=X tool\nArguments1=new\nCmdShow1=3\n";
const std::string kRewritten5 =
    "FILE5=C:\\t\\x.exe\nTitle5=X tool\nArguments5=new\nInitDir5=\nCmdShow5=3\nQueryArguments5=\n";

// clang-format off
const tToolCase kToolCases[] = {
    {"AscendingBundleIndex", "", "FILE10=ten.exe\nTitle10=Ten\nFILE2=two.exe\nTitle2=Two\nFILE1=one.exe\nTitle1=One\n", true,
     false, {}, 0, Tool(1, "one.exe", "One") + Tool(2, "two.exe", "Two") + Tool(3, "ten.exe", "Ten"),
     {"Custom tool added: one.exe.", "Custom tool added: two.exe.", "Custom tool added: ten.exe."}},
    {"AlreadyThereYesRewritesAllKeys", kTool5, kBundleX, false, false, {true}, 0, kRewritten5,
     {"User decided to overwrite custom tool: C:\\t\\x.exe."}},
    {"AlreadyThereNoKeepsIt", kTool5, kBundleX, false, false, {false}, 1, kTool5Keys,
     {"User decided not to overwrite custom tool: C:\\t\\x.exe."}},
    {"AlreadyThereSilentForcedRewrites", kTool5, kBundleX, true, true, {}, 0, kRewritten5,
     {"Silent Mode overwrites custom tool: C:\\t\\x.exe."}},
    {"MissingTitleOthersStillWritten", "", "FILE1=a.exe\nFILE2=b.exe\nTitle2=B\n", true, false, {}, 1,
     Tool(1, "b.exe", "B"), {"Missing title entry for custom tool: a.exe.", "Custom tool added: b.exe."}},
    {"RecoveryClearsTheList", "[CUST-TOOLS]\nFILE9=old.exe\nTitle9=Old\n[Other]\nk=v\n", "RECOVERY=1\nFILE1=a.exe\nTitle1=A\n",
     true, false, {}, 0, Tool(1, "a.exe", "A"),
     {"Custom tool recovery: All old entries deleted before adding the new ones.", "Custom tool added: a.exe."}},
    {"RecoveryMustBeExactlyOne", "[CUST-TOOLS]\nFILE9=old.exe\nTitle9=Old\n", "RECOVERY=01\n", false, false, {}, 0,
     "FILE9=old.exe\nTitle9=Old\n", {}},
    {"NoSection", "", "-", false, false, {}, 2, "", {}},
    // The list's highest index leaves no room.
    {"NoIndexLeft", "[CUST-TOOLS]\nFILE2147483647=z.exe\nTitle2147483647=Z\n", "FILE1=a.exe\nTitle1=A\n", true, false, {},
     1, "FILE2147483647=z.exe\nTitle2147483647=Z\n", {"ERROR: no free custom tool index for: a.exe."}},
    // Nothing appears anywhere else.
    {"ToolListFolderMissing", "-", "FILE1=a.exe\nTitle1=A\n", false, false, {}, 1, "", {"ERROR writing custom tool a.exe: "}},
};
// clang-format on

class CustomToolsTest : public StepTest, public ::testing::WithParamInterface<tToolCase> {};

TEST_P(CustomToolsTest, MergesIntoTheToolList) {
  const tToolCase& c = GetParam();
  if (c.list == "-") DeleteFiles(fake_.files, Korvane("Ini/System"));
  else KorvaneFile("Ini/System/CUSTTOOL.INI", c.list);
  BundleFile("hw.ini", "[OEMDriverDisk]\nOEMID=42\n" + (c.section == "-" ? "" : "[CUST-TOOLS]\n" + c.section) +
                           "[Other]\nFILE3=q.exe\n");
  Mode(c.silent, c.force, c.answers);
  EXPECT_EQ(InstallCustomTools(ctx_), c.result);
  const IniFile list(fake_.ini, std::string(FakeHost::kIniDir) + "System/CUSTTOOL.INI");
  std::string after;
  for (const std::string& key : list.GetKeyNames("CUST-TOOLS")) after += key + "=" + list.GetString("CUST-TOOLS", key) + "\n";
  EXPECT_EQ(after, c.after);
  ExpectLines(c.reported);
  for (const tReported& line : ctx_.reported) EXPECT_TRUE(line.log) << line.text;
  EXPECT_EQ(ctx_.questions, Strings(c.answers.size(), "This custom tool entry already exisits in Korvane:\n"
                                                      "FILE: C:\\t\\x.exe | TITLE: X tool\nDo you want to overwrite it?"));
  EXPECT_EQ(list.GetString("Other", "k"), c.list.find("[Other]") != std::string::npos ? "v" : "");
  EXPECT_EQ(Exists(Korvane("Ini/System")), c.list != "-");
}

KESTRIN_CASES(CustomToolsTest, ::testing::ValuesIn(kToolCases));

// The post commands: placeholders in any letter case, the rest of the line
// lowered, each waited for in file order, a program named without a folder
// looked for in the program folder first, and commands that cannot start
// (a missing program, a line without "=").
TEST_F(StepTest, PostCommandsRunEachToItsEnd) {
  ctx_.BinDir = "/Bin Dir";
  BundleFile("hw.ini", "[POST_COMMANDS]\n1=\"$BinDir/Mark.SH\" \"$AppDataDir/out.txt\" slow\n"
                       "1=$BinDir/nothere.exe /S\nno command\n"
                       "2=\"$BINDIR/mark.sh\" \"$appdatadir/OUT.txt\" Second\n3=Prog.sh \"$AppDataDir/out.txt\" 3\n");
  fake_.processes.missing = {"/Bin Dir/nothere.exe"};
  EXPECT_FALSE(RunPostCommands(ctx_));
  const std::string run = "\"{P}/mark.sh\" \"{D}/out.txt\" ";
  EXPECT_EQ(fake_.processes.started, Expand({run + "slow", run + "second", "prog.sh \"{D}/out.txt\" 3"}));
  EXPECT_EQ(fake_.processes.application_dirs, Strings(5, ctx_.ProductDir));
  const std::string failed = "ERROR: Execution of post command failed: '";
  std::vector<tReported> expected;
  for (const std::string& line : Expand({"Execute command '" + run + "slow'.", failed + "{P}/nothere.exe /s'",
                                         failed + "'", "Execute command '" + run + "second'.",
                                         "Execute command 'prog.sh \"{D}/out.txt\" 3'."}))
    expected.push_back({line, true});
  EXPECT_EQ(ctx_.reported, expected);
}

}  // namespace
}  // namespace kestrin::testing
