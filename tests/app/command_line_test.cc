#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrin {
namespace {

struct ParseCase {
  const char* name;
  std::string line;
  bool silent;
  bool force;
  bool recover;
  std::string bin_dir;
  std::vector<std::string> bundles;
};

class ParseCommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, SetsSwitchesAndCollectsBundles) {
  const ParseCase& c = GetParam();
  tCommandLineSwitches switches;
  std::vector<std::string> bundles;
  int count = ParseCommandLine(c.line, &switches, &bundles);
  EXPECT_EQ(switches.SilentMode, c.silent);
  EXPECT_EQ(switches.ForceOverwrite, c.force);
  EXPECT_EQ(switches.RecoverTemplates, c.recover);
  EXPECT_EQ(switches.BinDir, c.bin_dir);
  EXPECT_EQ(bundles, c.bundles);
  EXPECT_EQ(count, static_cast<int>(c.bundles.size()));
}

const ParseCase kParseCases[] = {
    {"Empty", "", false, false, false, "", {}},
    {"OnlyBlanks", " \t  ", false, false, false, "", {}},
    {"LowerSwitches", "/s /f /r", true, true, true, "", {}},
    {"UpperSwitches", "/S /F /R", true, true, true, "", {}},
    {"TabsSeparate", "/s\t/f\ta.cab", true, true, false, "", {"a.cab"}},
    {"SwitchesAnywhereAndRepeated", "a.cab /s b.cab /s /F c.cab", true, true, false, "",
     {"a.cab", "b.cab", "c.cab"}},
    {"DuplicatesKept", "/s a.cab a.cab", true, false, false, "", {"a.cab", "a.cab"}},
    {"SwitchWithMoreCharactersIsBundle", "/s1 /ff /r= /x", false, false, false, "",
     {"/s1", "/ff", "/r=", "/x"}},
    {"BinDirUnquoted", "/i=/opt/korvane/bin /s x.cab", true, false, false, "/opt/korvane/bin",
     {"x.cab"}},
    {"BinDirUpperCasePrefix", "/I=/opt/bin", false, false, false, "/opt/bin", {}},
    {"BinDirQuotedWithBlank", "/i=\"/opt/my bin\" /s x.cab", true, false, false, "/opt/my bin",
     {"x.cab"}},
    {"BinDirQuotedWithTab", "/i=\"/opt/a\tb\" x.cab", false, false, false, "/opt/a\tb",
     {"x.cab"}},
    {"LaterBinDirReplaces", "/i=/one /i=/two", false, false, false, "/two", {}},
    {"BinDirEmpty", "/i= a.cab", false, false, false, "", {"a.cab"}},
    {"BinDirQuotedEmpty", "/i=\"\" a.cab", false, false, false, "", {"a.cab"}},
    {"BinDirUnclosedRunsToEnd", "/s /i=\"/opt/x y /f", true, false, false, "/opt/x y /f", {}},
    {"QuotedBundleWithBlanks", "/s \"/home/ann/my bundles/drv one.cab\" b.cab", true, false,
     false, "", {"/home/ann/my bundles/drv one.cab", "b.cab"}},
    {"UnquotedSplitAtBlanks", "/home/ann/my bundles/drv.cab", false, false, false, "",
     {"/home/ann/my", "bundles/drv.cab"}},
    {"CharacterAfterClosingQuoteDropped", "\"a b\"c d.cab", false, false, false, "",
     {"a b", "d.cab"}},
    {"CharacterAfterBinDirQuoteDropped", "/i=\"x y\"z /s", true, false, false, "x y", {}},
    {"TwoCharactersAfterQuoteSecondKept", "\"a b\"cd e", false, false, false, "",
     {"a b", "d", "e"}},
    {"QuotedAtEnd", "/s \"a b.cab\"", true, false, false, "", {"a b.cab"}},
    {"UnclosedQuoteRunsToEnd", "/s \"a b /f c", true, false, false, "", {"a b /f c"}},
    {"LoneQuoteAtEndAddsNothing", "a.cab \"", false, false, false, "", {"a.cab"}},
    {"EmptyQuotesAtEndAddNothing", "a.cab \"\"", false, false, false, "", {"a.cab"}},
    {"QuoteInsideTokenIsLiteral", "ab\"cd ef\"", false, false, false, "", {"ab\"cd", "ef\""}},
    {"QuotedSwitchIsBundle", "\"/s\"", false, false, false, "", {"/s"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ParseCommandLineTest, ::testing::ValuesIn(kParseCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) {
                           return std::string(info.param.name);
                         });

struct RebuildCase {
  const char* name;
  std::vector<std::string> args;
  std::string line;
};

class RebuildCommandLineTest : public ::testing::TestWithParam<RebuildCase> {};

TEST_P(RebuildCommandLineTest, QuotesLikeWindows) {
  const RebuildCase& c = GetParam();
  std::string line;
  std::string error;
  ASSERT_TRUE(RebuildCommandLine(c.args, &line, &error)) << error;
  EXPECT_EQ(line, c.line);
}

const RebuildCase kRebuildCases[] = {
    {"Nothing", {}, ""},
    {"Plain", {"/s", "/f", "a.cab"}, "/s /f a.cab"},
    {"BlankQuoted", {"/s", "/my bundles/a.cab"}, "/s \"/my bundles/a.cab\""},
    {"TabQuoted", {"a\tb.cab"}, "\"a\tb.cab\""},
    {"BinDirPrefixOutsideQuotes", {"/i=/opt/my bin", "/s"}, "/i=\"/opt/my bin\" /s"},
    {"BinDirUpperPrefix", {"/I=/a b"}, "/I=\"/a b\""},
    {"BinDirWithoutBlank", {"/i=/opt/bin"}, "/i=/opt/bin"},
    {"EmptyDropped", {"", "/s", "", "a.cab", ""}, "/s a.cab"},
    {"SwitchLookalikeWithBlankQuotedWhole", {"/s x"}, "\"/s x\""},
};

INSTANTIATE_TEST_SUITE_P(Cases, RebuildCommandLineTest, ::testing::ValuesIn(kRebuildCases),
                         [](const ::testing::TestParamInfo<RebuildCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(RebuildCommandLine, RefusesDoubleQuoteAndNamesTheArgument) {
  std::string line = "unchanged";
  std::string error;
  EXPECT_FALSE(RebuildCommandLine({"/s", "a\"b.cab"}, &line, &error));
  EXPECT_NE(error.find("a\"b.cab"), std::string::npos) << error;
  EXPECT_EQ(line, "unchanged");
}

// What main does: argv to raw line to parser must give back the arguments.
TEST(RebuildCommandLine, RoundTripsThroughTheParser) {
  const std::vector<std::string> args = {
      "/S", "/i=/opt/korvane dir/bin", "/tmp/my bundles/drv one.cab", "x.cab",
      "",   "/tmp/tab\there.cab",      "/f"};
  std::string line;
  std::string error;
  ASSERT_TRUE(RebuildCommandLine(args, &line, &error));
  tCommandLineSwitches switches;
  std::vector<std::string> bundles;
  ParseCommandLine(line, &switches, &bundles);
  EXPECT_TRUE(switches.SilentMode);
  EXPECT_TRUE(switches.ForceOverwrite);
  EXPECT_FALSE(switches.RecoverTemplates);
  EXPECT_EQ(switches.BinDir, "/opt/korvane dir/bin");
  EXPECT_EQ(bundles, (std::vector<std::string>{"/tmp/my bundles/drv one.cab", "x.cab",
                                               "/tmp/tab\there.cab"}));
}

}  // namespace
}  // namespace kestrin
