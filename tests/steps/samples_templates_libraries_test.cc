// The samples, libraries and templates steps against a sandbox Korvane:
// subfolders copied one by one, the overwrite questions (of samples:
// OverwriteTest), the counting behind the library results and the
// recovery of the template folder.
#include <algorithm>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

using Strings = std::vector<std::string>;


const char kSampleCopied[] = " *** Samples directory successfully copied ***";

TEST_F(StepTest, SamplesResults) {
  BundleFile("SAMPLES/only-a-file.txt");
  EXPECT_EQ(InstallSamples(ctx_), 0);
  EXPECT_TRUE(ctx_.reported.empty());
  // A folder that cannot take the sample: reported, result 1, not recorded;
  // the next sample is still copied.
  BundleFile("SAMPLES/A/a.kvp", "a");
  BundleFile("SAMPLES/B/b.kvp", "b");
  KorvaneFile("Data/SAMPLES/A", "a file in the way");
  ctx_.OemId = 0;  // overwrites unrecorded items without asking
  EXPECT_EQ(InstallSamples(ctx_), 1);
  const Strings lines = ctx_.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "ERROR copying samples directory");
  EXPECT_EQ(lines[2], kSampleCopied);
  EXPECT_EQ(ctx_.InstallationRecord->GetLatestEntry("$SAMPLES\\A"), "");
  EXPECT_EQ(ReadFileOrDie(Korvane("Data/SAMPLES/B/b.kvp")), "b");
}


// Bundle libraries LibA and LibB (and a dot folder that never counts);
// `existing` of them are in Korvane already.
struct tLibCase {
  const char* name;
  Strings existing;
  bool silent, force;
  std::vector<bool> answers;
  int result;
  Strings lines;
};
class LibrariesTest : public StepTest, public ::testing::WithParamInterface<tLibCase> {};

TEST_P(LibrariesTest, CountsFoundAndCopied) {
  const tLibCase& c = GetParam();
  BundleFile("LIB/LibA/a.lib", "a v2");
  BundleFile("LIB/LibB/b.lib", "b v2");
  BundleFile("LIB/.git/config", "never");
  BundleFile("LIB/notes.txt", "never");
  for (const std::string& lib : c.existing) KorvaneFile("Ini/LIB/" + lib + "/old.lib", "v1");
  ctx_.InstallationRecord->RecordInstall("$SAMPLES\\LibA", 42);  // no influence
  Mode(c.silent, c.force, c.answers);
  EXPECT_EQ(InstallLibraries(ctx_), c.result);
  EXPECT_EQ(ctx_.Lines(), c.lines);
  EXPECT_EQ(ctx_.questions,
            Strings(c.answers.size(), "The driver bundle wants to overwrite the existing lib "
                                      "directory LibA, that was previously installed.\nDo you "
                                      "allow this ?"));
  for (const char* lib : {"LibA", "LibB"}) {
    const bool copied = std::count(c.lines.begin(), c.lines.end(),
                                   std::string("Lib directory successfully copied: ") + lib) == 1;
    EXPECT_EQ(fs::exists(Korvane(std::string("Ini/LIB/") + lib + "/" + (lib[3] == 'A' ? "a" : "b") + ".lib")), copied)
        << lib;
  }
  EXPECT_FALSE(fs::exists(Korvane("Ini/LIB/.git")));
  EXPECT_FALSE(fs::exists(Korvane("Ini/LIB/notes.txt")));
}

const char kCopiedA[] = "Lib directory successfully copied: LibA";
const char kCopiedB[] = "Lib directory successfully copied: LibB";

KESTRIN_CASES(LibrariesTest, ::testing::Values(
    tLibCase{"SilentSkipsOne", {"LibA"}, true, false, {}, 3,
             {"No overwriting was set with silent-mode for copying lib: LibA", kCopiedB}},
    tLibCase{"InteractiveYes", {"LibA"}, false, false, {true}, 0, {kCopiedA, kCopiedB}},
    tLibCase{"InteractiveNo", {"LibA"}, false, true, {false}, 3,
             {"User decided not to copy lib: LibA", kCopiedB}}));

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


struct tTemplateCase {
  const char* name;
  bool recover, silent;
  std::vector<bool> answers;
  bool emptied;  // the old template folder content was deleted
};
class TemplatesTest : public StepTest, public ::testing::WithParamInterface<tTemplateCase> {};

TEST_P(TemplatesTest, CopiesFoldersAndFilesAfterOptionalRecovery) {
  const tTemplateCase& c = GetParam();
  BundleFile("TEMPLATES/Standard/Standard.kvp", "std v2");
  BundleFile("TEMPLATES/Standard/lib/x.txt", "x");
  BundleFile("TEMPLATES/top.kvt", "top");
  BundleFile("TEMPLATES/.cache", "never");
  KorvaneFile("Ini/TEMPLATES/Standard/Standard.kvp", "std v1");
  KorvaneFile("Ini/TEMPLATES/Old/old.kvp", "old");
  KorvaneFile("Ini/TEMPLATES/loose.kvt", "loose");
  Mode(c.silent, false, c.answers);
  EXPECT_EQ(InstallTemplates(ctx_, c.recover), 0);

  Strings lines = {"Template subfolder successfully copied: Standard"};
  if (c.emptied) lines.insert(lines.begin(), " *** Template folder content deleted ***");
  EXPECT_EQ(ctx_.Lines(), lines);
  EXPECT_EQ(ctx_.questions, Strings(c.answers.size(), "The driver bundle wants to recover the "
                                                      "existing template folder.\nDo you allow "
                                                      "this ?"));
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/TEMPLATES/Standard/Standard.kvp")), "std v2");
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/TEMPLATES/Standard/lib/x.txt")), "x");
  EXPECT_EQ(ReadFileOrDie(Korvane("Ini/TEMPLATES/top.kvt")), "top");
  EXPECT_FALSE(fs::exists(Korvane("Ini/TEMPLATES/.cache")));
  EXPECT_EQ(fs::exists(Korvane("Ini/TEMPLATES/Old/old.kvp")), !c.emptied);
  EXPECT_EQ(fs::exists(Korvane("Ini/TEMPLATES/loose.kvt")), !c.emptied);
  EXPECT_TRUE(fs::is_directory(Korvane("Ini/TEMPLATES")));
  EXPECT_EQ(ctx_.TemplateTargetPath, sandbox_.ini_dir + "TEMPLATES/");
}

KESTRIN_CASES(TemplatesTest, ::testing::Values(
    tTemplateCase{"RecoverySilentNoQuestion", true, true, {}, true},
    tTemplateCase{"RecoveryInteractiveYes", true, false, {true}, true},
    tTemplateCase{"RecoveryInteractiveNo", true, false, {false}, false}));

// Result 1: a failed subfolder is reported and the rest is still copied; a
// failed file copy gives 1 without a line.
TEST_F(StepTest, TemplatesFailures) {
  BundleFile("TEMPLATES/A/a.kvp", "a");
  BundleFile("TEMPLATES/B/b.kvp", "b");
  KorvaneFile("Ini/TEMPLATES/A/a.kvp/in-the-way");
  EXPECT_EQ(InstallTemplates(ctx_, false), 1);
  const Strings lines = ctx_.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ERROR copying template subfolder: A");
  EXPECT_EQ(lines.back(), "Template subfolder successfully copied: B");

  fs::remove_all(bundle_ / "TEMPLATES");
  BundleFile("TEMPLATES/t.kvt", "t");
  KorvaneFile("Ini/TEMPLATES/t.kvt/in-the-way");
  ctx_.reported.clear();
  EXPECT_EQ(InstallTemplates(ctx_, false), 1);
  EXPECT_TRUE(ctx_.reported.empty());
}

}  // namespace
}  // namespace kestrin::testing
