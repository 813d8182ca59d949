// The custom-tools step: renumbering into CUSTTOOL.INI, tools already there,
// missing titles, recovery, the silent-mode rules and a list that cannot
// be written.
#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

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
    {"SameFileOtherTitleIsANewTool", kTool5, "FILE1=C:\\t\\x.exe\nTitle1=X tool 2\n", false, false, {}, 0,
     kTool5Keys + Tool(6, "C:\\t\\x.exe", "X tool 2"), {"Custom tool added: C:\\t\\x.exe."}},
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
  if (c.list == "-") fs::remove_all(Korvane("Ini/System"));
  else KorvaneFile("Ini/System/CUSTTOOL.INI", c.list);
  BundleFile("hw.ini", "[OEMDriverDisk]\nOEMID=42\n" + (c.section == "-" ? "" : "[CUST-TOOLS]\n" + c.section) +
                           "[Other]\nFILE3=q.exe\n");
  Mode(c.silent, c.force, c.answers);
  EXPECT_EQ(InstallCustomTools(ctx_), c.result);
  const IniFile list(sandbox_.ini_dir + "System/CUSTTOOL.INI");
  std::string after;
  for (const std::string& key : list.GetKeyNames("CUST-TOOLS")) after += key + "=" + list.GetString("CUST-TOOLS", key) + "\n";
  EXPECT_EQ(after, c.after);
  ExpectLines(c.reported);
  for (const tReported& line : ctx_.reported) EXPECT_TRUE(line.log) << line.text;
  EXPECT_EQ(ctx_.questions, Strings(c.answers.size(), "This custom tool entry already exisits in Korvane:\n"
                                                      "FILE: C:\\t\\x.exe | TITLE: X tool\nDo you want to overwrite it?"));
  EXPECT_EQ(list.GetString("Other", "k"), c.list.find("[Other]") != std::string::npos ? "v" : "");
  EXPECT_EQ(fs::exists(Korvane("Ini/System")), c.list != "-");
}

KESTRIN_CASES(CustomToolsTest, ::testing::ValuesIn(kToolCases));

}  // namespace
}  // namespace kestrin::testing
