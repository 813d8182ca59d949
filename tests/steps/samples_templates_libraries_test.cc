// The samples, libraries and templates steps: subfolders copied one by one,
// the questions (of samples: OverwriteTest), the counting behind the
// library results and the recovery of the template folder.
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

// A folder or file in the way of the first sample, library and template
// folder: each is reported and not recorded, the next one is still copied.
TEST_F(StepTest, FailedCopiesAreReportedAndTheNextFolderIsCopied) {
  for (const char* step : {"SAMPLES", "LIB", "TEMPLATES"}) {
    BundleFile(std::string(step) + "/A/a.kvp", "a");
    BundleFile(std::string(step) + "/B/b.kvp", "b");
  }
  KorvaneFile("Data/SAMPLES/A", "a file in the way");
  KorvaneFile("Ini/LIB/A/a.kvp/in-the-way");
  KorvaneFile("Ini/TEMPLATES/A/a.kvp/in-the-way");
  Mode(true, true);
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
    EXPECT_EQ(fs::exists(Korvane("Ini/TEMPLATES/Old/old.kvp")), !run.emptied);
    EXPECT_EQ(fs::exists(Korvane("Ini/TEMPLATES/loose.kvt")), !run.emptied);
  }
}

}  // namespace
}  // namespace kestrin::testing
