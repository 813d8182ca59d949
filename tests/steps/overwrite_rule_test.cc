// The overwrite rule as every file step applies it.
#include "steps/overwrite_rule.h"

#include "steps/step_fixture.h"

namespace kestrin::testing {
namespace {

struct tRuleCase {
  const char* name;
  int recorded_oem;  // -1: no record entry
  bool silent;
  bool force;
  std::vector<bool> answers;
  bool overwrite;
  int questions;
};

class OverwriteRuleTest : public StepTest, public ::testing::WithParamInterface<tRuleCase> {};

TEST_P(OverwriteRuleTest, DecidesAndAsksOnlyWhenAllowed) {
  const tRuleCase& c = GetParam();
  if (c.recorded_oem >= 0) ctx_.InstallationRecord->RecordInstall("$MODULES\\A.INI", c.recorded_oem);
  ctx_.SilentMode = c.silent;
  ctx_.ForceOverwrite = c.force;
  ctx_.answers.assign(c.answers.begin(), c.answers.end());
  EXPECT_EQ(MayOverwrite(ctx_, "$MODULES\\A.INI", "overwrite A.INI?"), c.overwrite);
  EXPECT_EQ(static_cast<int>(ctx_.questions.size()), c.questions);
  EXPECT_TRUE(ctx_.reported.empty());  // a skip writes no line
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OverwriteRuleTest,
    ::testing::Values(tRuleCase{"SameOemNoQuestion", 42, false, false, {}, true, 0},
                      tRuleCase{"NoRecordAsksYes", -1, false, false, {true}, true, 1},
                      tRuleCase{"OtherOemAsksNo", 7, false, false, {false}, false, 1},
                      tRuleCase{"SilentSkips", 7, true, false, {}, false, 0},
                      tRuleCase{"SilentForced", 7, true, true, {}, true, 0},
                      tRuleCase{"ForceIgnoredInteractive", 7, false, true, {false}, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A bundle of OEM 0 overwrites an item that has no record without asking.
TEST_F(StepTest, OemZeroOverwritesUnrecordedItems) {
  ctx_.OemId = 0;
  EXPECT_TRUE(MayOverwrite(ctx_, "$SAMPLES\\S", "?"));
  EXPECT_TRUE(ctx_.questions.empty());
}

}  // namespace
}  // namespace kestrin::testing
