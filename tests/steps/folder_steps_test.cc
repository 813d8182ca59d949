// The steps that copy folders: help pages and print forms (the OEM folders,
// the question before an existing one is overwritten, the obsolete pages,
// the help tree in the registry store, hostile HELP.INI files); samples,
// libraries and templates (subfolders copied one by one, the questions (of
// samples: OverwriteTest), the counting behind the library results, the
// recovery of the template folder).
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
// installed them: interactive asks (whatever /f says), silent obeys /f; the
// copies run last. No installation record is consulted. Print forms are
// found whether or not BundleTempDir ends with a separator.
TEST_F(HelpStepTest, ExistingOemFoldersAskOrObeyForce) {
  // Only values atoi reads as non-zero delete; a missing page is reported.
  HelpBundle("[DeleteBefore]\r\nold.htm= 1\r\nzero.htm=0\r\nneg.htm=-1\r\nplus.htm=+0x\r\nmissing.htm=1\r\n");
  BundleFile("PRINTFORMS/IOLIST.FRM", "form v2");
  BundleFile("PRINTFORMS/more/PAGE.FRM", "page");
  ctx_.InstallationRecord->RecordInstall("$SAMPLES\\intro.htm", 42);  // no influence
  const struct {
    bool silent, force;
    std::vector<bool> answers;  // help, then print forms
    int result;
  } runs[] = {{true, false, {}, 3}, {false, true, {false, false}, 3}, {false, false, {true, true}, 0}};
  for (const auto& run : runs) {
    KorvaneFile("Data/WebHelp/42/intro.htm", "intro v1");
    for (const char* page : {"old.htm", "zero.htm", "neg.htm", "plus.htm"})
      KorvaneFile(std::string("Data/WebHelp/42/") + page, "obsolete");
    KorvaneFile("Ini/Printforms/42/IOLIST.FRM", "form v1");
    Mode(run.silent, run.force, run.answers);
    ctx_.reported.clear();
    ctx_.questions.clear();
    ctx_.BundleTempDir = bundle_;
    EXPECT_EQ(InstallHelpPages(ctx_), run.result);
    ctx_.BundleTempDir += "/";
    EXPECT_EQ(InstallPrintForms(ctx_), run.result);
    EXPECT_EQ(ctx_.questions, (run.silent ? Strings{} : Strings{Question("help"), Question("print forms")}));
    // The obsolete pages go even when the copy is then declined.
    EXPECT_EQ(ctx_.reported, (std::vector<tReported>{{"ERROR: missing.htm could not be deleted", true},
                                                     {"neg.htm deleted.", true}, {"old.htm deleted.", true}}));
    for (const char* page : {"old.htm", "zero.htm", "neg.htm", "plus.htm"})
      EXPECT_EQ(Exists(Korvane(std::string("Data/WebHelp/42/") + page)), page[0] > 'o') << page;  // plus, zero
    const bool copied = run.result == 0;
    EXPECT_EQ(ReadFileOrDie(Korvane("Data/WebHelp/42/intro.htm")), copied ? "intro v2" : "intro v1");
    EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), copied ? std::optional<std::string>("2") : std::nullopt);
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/Printforms/42/IOLIST.FRM")), copied ? "form v2" : "form v1");
    EXPECT_EQ(Exists(Korvane("Ini/Printforms/42/more/PAGE.FRM")), copied);
  }
}

// A second installation registers nothing twice (paths compared ignoring
// case), keys above the count are overwritten, and a page without a node
// name is registered with the empty name.
TEST_F(HelpStepTest, HelpTreeNumbersOnFromTheCount) {
  const std::string dest = std::string(FakeHost::kDataDir) + "/WebHelp/42/";
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"COUNT", "2"}, {"PATH1", "/other/a.htm"}, {"PATH2", dest + "INTRO.HTM"},
           {"PATH3", dest + "sub/wiring.htm"}, {"NODENAME3", "stale"}})
    SetSetting("BRWTREECTRL\\HELPFILE_" + key, value);
  HelpBundle("page.htm=\r\n");
  BundleFile("HELP/page.htm", "page");
  Mode(true, true);
  EXPECT_EQ(InstallHelpPages(ctx_), 0);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), "4");
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_NODENAME2"), std::nullopt);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_NODENAME3"), "");
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_PATH3"), dest + "page.htm");
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_NODENAME4"), "FX Wiring");
}

// A hostile HELP.INI: nothing is deleted, copied or registered.
TEST_F(HelpStepTest, RefusesAHostileDescriptionAsAWhole) {
  KorvaneFile("Data/WebHelp/42/old.htm", "keep");
  BundleFile("HELP/intro.htm", "x");
  Mode(true, true);
  for (const char* ini : {"[DeleteBefore]\nold.htm=1\n..\\victim.htm=1\n",
                          "[DeleteBefore]\nold.htm=1\n[Helpnodes]\na/../../x.htm=X\n"}) {
    BundleFile("HELP/HELP.INI", ini);
    ctx_.reported.clear();
    EXPECT_EQ(InstallHelpPages(ctx_), 1) << ini;
    ASSERT_FALSE(ctx_.reported.empty()) << ini;
    EXPECT_TRUE(ctx_.reported[0].text.starts_with("ERROR: HELP.INI [")) << ctx_.reported[0].text;
    EXPECT_TRUE(ctx_.reported[0].log);
    EXPECT_EQ(fake_.files.changes, Strings{}) << ini;
    EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), std::nullopt);
  }
}

// A file or folder in the way: the help pages and print forms fail with the
// file system's reason (no node registered); the first sample, library and
// template folder are reported and not recorded, the next one is copied.
TEST_F(HelpStepTest, FailedCopiesAreReportedAndTheNextFolderIsCopied) {
  HelpBundle();
  BundleFile("PRINTFORMS/IOLIST.FRM", "form");
  KorvaneFile("Data/WebHelp/42", "a file where the folder belongs");
  KorvaneFile("Ini/Printforms/42/IOLIST.FRM/x", "a folder where the file belongs");
  for (const char* step : {"SAMPLES", "LIB", "TEMPLATES"}) {
    BundleFile(std::string(step) + "/A/a.kvp", "a");
    BundleFile(std::string(step) + "/B/b.kvp", "b");
  }
  KorvaneFile("Data/SAMPLES/A", "a file in the way");
  KorvaneFile("Ini/LIB/A/a.kvp/in-the-way");
  KorvaneFile("Ini/TEMPLATES/A/a.kvp/in-the-way");
  Mode(true, true);
  EXPECT_EQ(InstallHelpPages(ctx_), 1);
  EXPECT_EQ(Setting("BRWTREECTRL\\HELPFILE_COUNT"), std::nullopt);
  ASSERT_EQ(ctx_.reported.size(), 1u);
  EXPECT_NE(ctx_.reported[0].text.find(std::string(FakeHost::kDataDir) + "/WebHelp/42"), std::string::npos);
  EXPECT_EQ(InstallPrintForms(ctx_), 1);
  ctx_.reported.clear();
  EXPECT_EQ(InstallSamples(ctx_), 1);
  ExpectLines({"ERROR: ", "ERROR copying samples directory", " *** Samples directory successfully copied ***"});
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestEntry("$SAMPLES\\A"), "");
  EXPECT_EQ(ReadFileOrDie(Korvane("Data/SAMPLES/B/b.kvp")), "b");
  ctx_.reported.clear();
  EXPECT_EQ(InstallLibraries(ctx_), 3);
  ExpectLines({"ERROR: ", "ERROR copying lib directory: A", "Lib directory successfully copied: B"});
  ctx_.reported.clear();
  EXPECT_EQ(InstallTemplates(ctx_, false), 1);
  ExpectLines({"ERROR: ", "ERROR copying template subfolder: A", "Template subfolder successfully copied: B"});
}

// Interactive mode asks for each library that exists, whatever /f says; one
// declined gives 3 and none at all 4 (silent mode: StepsRunTest). Loose
// files and dot folders are no libraries: 1.
TEST_F(StepTest, LibrariesAskForEachExistingOne) {
  BundleFile("LIB/readme.txt");
  BundleFile("LIB/.hidden/x.lib");
  EXPECT_EQ(InstallLibraries(ctx_), 1);
  BundleFile("LIB/LibA/a.lib", "a v2");
  BundleFile("LIB/LibB/b.lib", "b v2");
  KorvaneFile("Ini/LIB/LibA/a.lib", "a v1");
  KorvaneFile("Ini/LIB/LibB/b.lib", "b v1");
  ctx_.InstallationRecord->RecordInstall("$SAMPLES\\LibA", 42);  // no influence
  Mode(false, true, {true, false, false, false});
  EXPECT_EQ(InstallLibraries(ctx_), 3);
  EXPECT_EQ(InstallLibraries(ctx_), 4);
  ExpectLines({"Lib directory successfully copied: LibA", "User decided not to copy lib: LibB",
               "User decided not to copy lib: LibA", "User decided not to copy lib: LibB"});
  const std::string ask = "The driver bundle wants to overwrite the existing lib directory ",
                    by = ", that was previously installed.\nDo you allow this ?";
  EXPECT_EQ(ctx_.questions, (Strings{ask + "LibA" + by, ask + "LibB" + by, ask + "LibA" + by, ask + "LibB" + by}));
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/LIB/LibA/a.lib")), "a v2");
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/LIB/LibB/b.lib")), "b v1");
}

// Recovery empties the template folder first: silently, or after a Yes.
TEST_F(StepTest, TemplatesAreCopiedAfterOptionalRecovery) {
  BundleFile("TEMPLATES/Standard/lib/x.kvp", "std v2");
  BundleFile("TEMPLATES/top.kvt", "top");
  KorvaneFile("Ini/TEMPLATES/Standard/lib/x.kvp", "std v1");
  const std::string copied = "Template subfolder successfully copied: Standard";
  const struct {
    bool silent;
    std::vector<bool> answers;
    bool emptied;
  } runs[] = {{false, {false}, false}, {false, {true}, true}, {true, {}, true}};
  for (const auto& run : runs) {
    KorvaneFile("Ini/TEMPLATES/Old/old.kvp", "old");
    KorvaneFile("Ini/TEMPLATES/loose.kvt", "loose");
    Mode(run.silent, false, run.answers);
    ctx_.reported.clear();
    ctx_.questions.clear();
    EXPECT_EQ(InstallTemplates(ctx_, true), 0);
    EXPECT_EQ(ctx_.Lines(), (run.emptied ? Strings{" *** Template folder content deleted ***", copied} : Strings{copied}));
    EXPECT_EQ(ctx_.questions, Strings(run.answers.size(), "The driver bundle wants to recover the existing "
                                                          "template folder.\nDo you allow this ?"));
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/TEMPLATES/Standard/lib/x.kvp")), "std v2");
    EXPECT_EQ(ReadFileOrDie(Korvane("Ini/TEMPLATES/top.kvt")), "top");
    EXPECT_EQ(Exists(Korvane("Ini/TEMPLATES/Old/old.kvp")), !run.emptied);
    EXPECT_EQ(Exists(Korvane("Ini/TEMPLATES/loose.kvt")), !run.emptied);
  }
}

}  // namespace
}  // namespace kestrin::testing
