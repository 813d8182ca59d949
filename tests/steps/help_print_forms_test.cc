// The help-pages and print-forms steps: the OEM folders, the question before
// an existing one is overwritten, the obsolete pages, the help tree in the
// registry store and hostile HELP.INI files.
#include "steps/help_print_forms.h"

#include <map>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

std::string Question(const std::string& what) {
  return "The driver bundle wants to overwrite the existing " + what + " directories of OEM 42, "
         "that was previously installed.\nDo you allow this ?";
}

class HelpStepTest : public StepTest {
 protected:
  // Two pages, one in a subfolder, registered as nodes.
  void HelpBundle(const std::string& extra_ini = "") {
    BundleFile("HELP/HELP.INI",
               "[Helpnodes]\r\nintro.htm=FX Intro\r\nsub\\wiring.htm=FX Wiring\r\n" + extra_ini);
    BundleFile("HELP/intro.htm", "intro v2");
    BundleFile("HELP/sub/wiring.htm", "wiring v2");
  }
};

// An existing OEM folder of help pages and one of print forms, whoever
// installed them: interactive asks (whatever /f says), silent obeys /f. No
// installation record is consulted. Print forms are found whether or not
// BundleTempDir ends with a separator.
struct tExistingCase {
  const char* name;
  bool silent, force;
  std::vector<bool> answers;  // help, then print forms
  int result;
};
class ExistingFolderTest : public HelpStepTest,
                           public ::testing::WithParamInterface<tExistingCase> {};

TEST_P(ExistingFolderTest, AsksOrObeysForce) {
  const tExistingCase& c = GetParam();
  // Only values atoi reads as non-zero delete; a missing page is reported.
  HelpBundle("[DeleteBefore]\r\nold.htm= 1\r\nzero.htm=0\r\nneg.htm=-1\r\nplus.htm=+0x\r\nmissing.htm=1\r\n");
  BundleFile("PRINTFORMS/IOLIST.FRM", "form v2");
  BundleFile("PRINTFORMS/more/PAGE.FRM", "page");
  KorvaneFile("Data/WebHelp/42/intro.htm", "intro v1");
  for (const char* page : {"old.htm", "zero.htm", "neg.htm", "plus.htm"})
    KorvaneFile(std::string("Data/WebHelp/42/") + page, "obsolete");
  KorvaneFile("Ini/Printforms/42/IOLIST.FRM", "form v1");
  ctx_.InstallationRecord->RecordInstall("$SAMPLES\\intro.htm", 42);  // no influence
  Mode(c.silent, c.force, c.answers);
  EXPECT_EQ(InstallHelpPages(ctx_), c.result);
  ctx_.BundleTempDir += "/";
  EXPECT_EQ(InstallPrintForms(ctx_), c.result);
  EXPECT_EQ(ctx_.questions, (c.silent ? Strings{} : Strings{Question("help"), Question("print forms")}));
  // The obsolete pages go even when the copy is then declined.
  EXPECT_EQ(ctx_.reported, (std::vector<tReported>{{"ERROR: missing.htm could not be deleted", true},
                                                   {"neg.htm deleted.", true}, {"old.htm deleted.", true}}));
  for (const char* page : {"old.htm", "zero.htm", "neg.htm", "plus.htm"})
    EXPECT_EQ(fs::exists(Korvane(std::string("Data/WebHelp/42/") + page)), page[0] > 'o') << page;  // plus, zero
  const bool copied = c.result == 0;
  EXPECT_EQ(ReadFileOrDie(Korvane("Data/WebHelp/42/intro.htm")), copied ? "intro v2" : "intro v1");
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), copied ? std::optional<std::string>("2") : std::nullopt);
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/Printforms/42/IOLIST.FRM")), copied ? "form v2" : "form v1");
  EXPECT_EQ(fs::exists(Korvane("Ini/Printforms/42/more/PAGE.FRM")), copied);
}

KESTRIN_CASES(ExistingFolderTest,
              ::testing::Values(tExistingCase{"SilentWithoutForce", true, false, {}, 3},
                                tExistingCase{"InteractiveYes", false, false, {true, true}, 0},
                                tExistingCase{"InteractiveNo", false, true, {false, false}, 3}));

// A second installation registers nothing twice (paths compared ignoring
// case), and keys above the count are overwritten; a full tree takes no
// more pages (and a count that high costs nothing).
TEST_F(HelpStepTest, HelpTreeNumbersOnFromTheCount) {
  const std::string dest = sandbox_.data_dir + "/WebHelp/42/";
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"COUNT", "2"}, {"PATH1", "/other/a.htm"}, {"PATH2", dest + "INTRO.HTM"},
           {"PATH3", dest + "sub/wiring.htm"}, {"NODENAME3", "stale"}})
    SetSetting("BRWTREECTRL\\HELPFILE_" + key, value);
  HelpBundle();
  Mode(true, true);
  EXPECT_EQ(InstallHelpPages(ctx_), 0);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), "3");
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_NODENAME2"), std::nullopt);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_NODENAME3"), "FX Wiring");
  SetSetting("BRWTREECTRL\\HELPFILE_COUNT", "2147483647");
  ctx_.OemId = 43;  // pages not registered yet
  EXPECT_EQ(InstallHelpPages(ctx_), 0);
  ExpectLines({"ERROR: the help tree holds 2147483647 pages "});
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), "2147483647");
}

// Hostile or damaged HELP.INI: nothing is deleted, copied or registered.
TEST_F(HelpStepTest, RefusesAHostileDescriptionAsAWhole) {
  KorvaneFile("Data/WebHelp/victim.htm", "keep");
  KorvaneFile("Data/WebHelp/42/old.htm", "keep");
  BundleFile("HELP/intro.htm", "x");
  Mode(true, true);
  for (const char* ini : {"[DeleteBefore]\nold.htm=1\n..\\victim.htm=1\n", "[Helpnodes]\nintro.htm=\n",
                          "[DeleteBefore]\nold.htm=1\n[Helpnodes]\na/../../x.htm=X\n"}) {
    BundleFile("HELP/HELP.INI", ini);
    ctx_.reported.clear();
    EXPECT_EQ(InstallHelpPages(ctx_), 1) << ini;
    ASSERT_FALSE(ctx_.reported.empty()) << ini;
    EXPECT_TRUE(ctx_.reported[0].text.starts_with("ERROR: HELP.INI [")) << ctx_.reported[0].text;
    EXPECT_TRUE(ctx_.reported[0].log);
    for (const char* kept : {"Data/WebHelp/victim.htm", "Data/WebHelp/42/old.htm"})
      EXPECT_EQ(ReadFileOrDie(Korvane(kept)), "keep") << kept;
    EXPECT_FALSE(fs::exists(Korvane("Data/WebHelp/42/intro.htm")));
    EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), std::nullopt);
  }
}

// A copy that fails: 1, no node, the file system's reason with the path.
TEST_F(HelpStepTest, FailedCopies) {
  HelpBundle();
  BundleFile("PRINTFORMS/IOLIST.FRM", "form");
  KorvaneFile("Data/WebHelp/42", "a file where the folder belongs");
  KorvaneFile("Ini/Printforms/42/IOLIST.FRM/x", "a folder where the file belongs");
  Mode(true, true);
  EXPECT_EQ(InstallHelpPages(ctx_), 1);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), std::nullopt);
  ASSERT_EQ(ctx_.reported.size(), 1u);
  EXPECT_NE(ctx_.reported[0].text.find(sandbox_.data_dir + "/WebHelp/42"), std::string::npos);
  EXPECT_EQ(InstallPrintForms(ctx_), 1);
}

}  // namespace
}  // namespace kestrin::testing
