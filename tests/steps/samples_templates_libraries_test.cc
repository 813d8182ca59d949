// The samples, libraries and templates steps: subfolders copied one by one,
// the questions (of samples: OverwriteTest), the counting behind the
// library results and the recovery of the template folder.
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

// A folder that cannot take a sample: reported, result 1, not recorded; the
// next sample is still copied.
TEST_F(StepTest, AFailedSampleIsReportedAndNotRecorded) {
  BundleFile("SAMPLES/A/a.kvp", "a");
  BundleFile("SAMPLES/B/b.kvp", "b");
  KorvaneFile("Data/SAMPLES/A", "a file in the way");
  ctx_.OemId = 0;  // overwrites unrecorded items without asking
  EXPECT_EQ(InstallSamples(ctx_), 1);
  ExpectLines({"ERROR: ", "ERROR copying samples directory", " *** Samples directory successfully copied ***"});
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestEntry("$SAMPLES\\A"), "");
  EXPECT_EQ(ReadFileOrDie(Korvane("Data/SAMPLES/B/b.kvp")), "b");
}

// Both libraries exist: interactive mode asks for each, whatever /f says;
// one declined gives 3. Silent mode: StepsRunTest.
TEST_F(StepTest, LibrariesAskForEachExistingOne) {
  BundleFile("LIB/LibA/a.lib", "a v2");
  BundleFile("LIB/LibB/b.lib", "b v2");
  KorvaneFile("Ini/LIB/LibA/a.lib", "a v1");
  KorvaneFile("Ini/LIB/LibB/b.lib", "b v1");
  ctx_.InstallationRecord->RecordInstall("$SAMPLES\\LibA", 42);  // no influence
  Mode(false, true, {true, false});
  EXPECT_EQ(InstallLibraries(ctx_), 3);
  ExpectLines({"Lib directory successfully copied: LibA", "User decided not to copy lib: LibB"});
  const std::string ask = "The driver bundle wants to overwrite the existing lib directory ",
                    by = ", that was previously installed.\nDo you allow this ?";
  EXPECT_EQ(ctx_.questions, (Strings{ask + "LibA" + by, ask + "LibB" + by}));
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/LIB/LibA/a.lib")), "a v2");
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/LIB/LibB/b.lib")), "b v1");
}

// Results 1 (no subfolder, dot folders not counted) and 4 when the copy
// fails.
TEST_F(StepTest, LibrariesWithoutLibraries) {
  BundleFile("LIB/readme.txt");
  BundleFile("LIB/.hidden/x.lib");
  EXPECT_EQ(InstallLibraries(ctx_), 1);
  EXPECT_TRUE(ctx_.reported.empty());
  BundleFile("LIB/Lib/x.lib", "x");
  KorvaneFile("Ini/LIB/Lib/x.lib/in-the-way");
  Mode(true, true);
  EXPECT_EQ(InstallLibraries(ctx_), 4);
  ASSERT_FALSE(ctx_.reported.empty());
  EXPECT_EQ(ctx_.reported.back().text, "ERROR copying lib directory: Lib");
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

// A failed subfolder: result 1, reported, and the rest is still copied.
TEST_F(StepTest, TemplatesFailures) {
  BundleFile("TEMPLATES/A/a.kvp", "a");
  BundleFile("TEMPLATES/B/b.kvp", "b");
  KorvaneFile("Ini/TEMPLATES/A/a.kvp/in-the-way");
  EXPECT_EQ(InstallTemplates(ctx_, false), 1);
  ExpectLines({"ERROR: ", "ERROR copying template subfolder: A", "Template subfolder successfully copied: B"});
}

}  // namespace
}  // namespace kestrin::testing
