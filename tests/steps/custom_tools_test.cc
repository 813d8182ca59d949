// The custom-tools step: renumbering into CUSTTOOL.INI, tools already there,
// missing titles, recovery, and the silent-mode rules.
#include <sstream>

#include "host/ini_file.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

struct tToolCase {
  const char* name;
  std::string list;     // CUSTTOOL.INI before the step
  std::string section;  // the lines of the bundle's [CUST-TOOLS]; "-": no section
  bool silent;
  bool force;
  std::vector<bool> answers;
  int result;
  std::string after;  // CUSTTOOL.INI's [CUST-TOOLS] afterwards, "key=value" lines
  std::vector<std::string> reported;
  int questions;
};

const std::string kTool5 =
    "[CUST-TOOLS]\nFILE5=C:\\t\\x.exe\nTitle5=X tool\nArguments5=old\nInitDir5=C:\\t\n";
const std::string kBundleX = "FILE1=C:\\t\\x.exe\nTitle1=X tool\nArguments1=new\nCmdShow1=3\n";
const std::string kRewritten5 =
    "FILE5=C:\\t\\x.exe\nTitle5=X tool\nArguments5=new\nInitDir5=\nCmdShow5=3\n"
    "QueryArguments5=\n";
std::string Empty(const std::string& names) {  // "Arguments1 CmdShow1" -> "Arguments1=\n..."
  std::istringstream in(names);
  std::string out;
  for (std::string name; in >> name;) out += name + "=\n";
  return out;
}
const std::string kNoExtras1 = Empty("Arguments1 CmdShow1 InitDir1 QueryArguments1");
const std::string kNoExtras2 = Empty("Arguments2 CmdShow2 InitDir2 QueryArguments2");
const std::string kTool5Keys = kTool5.substr(kTool5.find('\n') + 1);

// clang-format off
const tToolCase kToolCases[] = {
    {"AscendingBundleIndex", "",
     "FILE10=ten.exe\nTitle10=Ten\nFILE2=two.exe\nTitle2=Two\nFILE1=one.exe\nTitle1=One\n",
     true, false, {}, 0,
     "FILE1=one.exe\nTitle1=One\n" + kNoExtras1 + "FILE2=two.exe\nTitle2=Two\n" + kNoExtras2 +
         "FILE3=ten.exe\nTitle3=Ten\n" + Empty("Arguments3 CmdShow3 InitDir3 QueryArguments3"),
     {"Custom tool added: one.exe.", "Custom tool added: two.exe.", "Custom tool added: ten.exe."}, 0},
    {"AlreadyThereYesRewritesAllKeys", kTool5, kBundleX, false, false, {true}, 0, kRewritten5,
     {"User decided to overwrite custom tool: C:\\t\\x.exe."}, 1},
    {"AlreadyThereNoKeepsIt", kTool5, kBundleX, false, false, {false}, 1, kTool5Keys,
     {"User decided not to overwrite custom tool: C:\\t\\x.exe."}, 1},
    {"AlreadyThereSilentForcedRewrites", kTool5, kBundleX, true, true, {}, 0, kRewritten5,
     {"Silent Mode overwrites custom tool: C:\\t\\x.exe."}, 0},
    {"SameFileOtherTitleIsANewTool", kTool5, "FILE1=C:\\t\\x.exe\nTitle1=X tool 2\n", false, false, {}, 0,
     kTool5Keys + "FILE6=C:\\t\\x.exe\nTitle6=X tool 2\n" +
         Empty("Arguments6 CmdShow6 InitDir6 QueryArguments6"),
     {"Custom tool added: C:\\t\\x.exe."}, 0},
    {"NamesakeWithoutTitleIsDroppedQuietly", "[CUST-TOOLS]\nFILE4=x.exe\n", "FILE1=x.exe\nTitle1=X\n",
     false, false, {}, 1, "FILE4=x.exe\n", {}, 0},
    {"MissingTitleOthersStillWritten", "", "FILE1=a.exe\nFILE2=b.exe\nTitle2=B\n", true, false, {}, 1,
     "FILE1=b.exe\nTitle1=B\n" + kNoExtras1,
     {"Missing title entry for custom tool: a.exe.", "Custom tool added: b.exe."}, 0},
    {"RecoveryClearsTheList", "[CUST-TOOLS]\nFILE9=old.exe\nTitle9=Old\n[Other]\nk=v\n",
     "RECOVERY=1\nFILE1=a.exe\nTitle1=A\nFILE2=b.exe\nTitle2=B\n", true, false, {}, 0,
     "FILE1=a.exe\nTitle1=A\n" + kNoExtras1 + "FILE2=b.exe\nTitle2=B\n" + kNoExtras2,
     {"Custom tool recovery: All old entries deleted before adding the new ones.",
      "Custom tool added: a.exe.", "Custom tool added: b.exe."}, 0},
    {"RecoveryMustBeExactlyOne", "[CUST-TOOLS]\nFILE9=old.exe\nTitle9=Old\n", "RECOVERY=01\n",
     false, false, {}, 0, "FILE9=old.exe\nTitle9=Old\n", {}, 0},
    {"EmptySection", "[CUST-TOOLS]\nFILE1=a.exe\nTitle1=A\n", "", false, false, {}, 2,
     "FILE1=a.exe\nTitle1=A\n", {}, 0},
    {"NoSection", "", "-", false, false, {}, 2, "", {}, 0},
    // The list's highest index leaves no room; a bundle index too large for
    // an int is read as the largest one.
    {"NoIndexLeft", "[CUST-TOOLS]\nFILE2147483647=z.exe\nTitle2147483647=Z\n", "FILE1=a.exe\nTitle1=A\n",
     true, false, {}, 1, "FILE2147483647=z.exe\nTitle2147483647=Z\n",
     {"ERROR: no free custom tool index for: a.exe."}, 0},
    {"HugeBundleIndex", "", "FILE99999999999=a.exe\nTitle99999999999=A\n", true, false, {}, 1, "", {}, 0},
};
// clang-format on


class CustomToolsTest : public StepTest, public ::testing::WithParamInterface<tToolCase> {
 protected:
  IniFile List() const { return IniFile(sandbox_.ini_dir + "System/CUSTTOOL.INI"); }
};

TEST_P(CustomToolsTest, MergesIntoTheToolList) {
  const tToolCase& c = GetParam();
  KorvaneFile("Ini/System/CUSTTOOL.INI", c.list);
  BundleFile("hw.ini", "[OEMDriverDisk]\nOEMID=42\n" +
                           (c.section == "-" ? "" : "[CUST-TOOLS]\n" + c.section) +
                           "[Other]\nFILE3=q.exe\n");
  Mode(c.silent, c.force, c.answers);

  EXPECT_EQ(InstallCustomTools(ctx_), c.result);

  std::string after;
  for (const std::string& key : List().GetKeyNames("CUST-TOOLS"))
    after += key + "=" + List().GetString("CUST-TOOLS", key) + "\n";
  EXPECT_EQ(after, c.after);
  EXPECT_EQ(ctx_.Lines(), c.reported);
  for (const tReported& line : ctx_.reported) EXPECT_TRUE(line.log) << line.text;
  EXPECT_EQ(ctx_.questions,
            std::vector<std::string>(c.questions, "This custom tool entry already exisits in "
                                                  "Korvane:\nFILE: C:\\t\\x.exe | TITLE: X tool\n"
                                                  "Do you want to overwrite it?"));
  if (c.list.find("[Other]") != std::string::npos) {
    EXPECT_EQ(List().GetString("Other", "k"), "v") << "other sections stay";
  }
}

KESTRIN_CASES(CustomToolsTest, ::testing::ValuesIn(kToolCases));

// Without its folder the list cannot be written: the tool is reported as
// not written and nothing appears anywhere else.
TEST_F(StepTest, ToolListFolderMissing) {
  fs::remove_all(Korvane("Ini/System"));
  BundleFile("hw.ini", "[CUST-TOOLS]\nFILE1=a.exe\nTitle1=A\n");
  EXPECT_EQ(InstallCustomTools(ctx_), 1);
  ASSERT_EQ(ctx_.reported.size(), 1u);
  EXPECT_EQ(ctx_.reported[0].text.rfind("ERROR writing custom tool a.exe: ", 0), 0u)
      << ctx_.reported[0].text;
  EXPECT_FALSE(fs::exists(Korvane("Ini/System")));
}

}  // namespace
}  // namespace kestrin::testing
