// The raw command line: switches, /i=, quoting; and the line rebuilt from argv.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrin {
namespace {

using Strings = std::vector<std::string>;

TEST(CommandLineTest, ParsesSwitchesAndBundles) {
  // The line; which of "s", "f", "r" are set; the /i= folder; the bundles.
  const struct { std::string line; const char* switches; std::string bin_dir; Strings bundles; }
      cases[] = {
      {"", "", "", {}}, {"/S /F /R", "sfr", "", {}},
      {"/s\t/f\ta.cab", "sf", "", {"a.cab"}},
      {"a.cab /s b.cab /s /F c.cab", "sf", "", {"a.cab", "b.cab", "c.cab"}},
      {"/s1 /ff /r= /x", "", "", {"/s1", "/ff", "/r=", "/x"}},  // unknown switches are bundles
      {"/i=\"/opt/my bin\" /s x.cab", "s", "/opt/my bin", {"x.cab"}},
      {"/I=/opt/bin", "", "/opt/bin", {}}, {"/i= a.cab", "", "", {"a.cab"}},
      {"/s \"/home/ann/my bundles/drv one.cab\" b.cab", "s", "",
       {"/home/ann/my bundles/drv one.cab", "b.cab"}},
      {"/i=\"x y\"z /s", "s", "x y", {}},  // the character after a closing quote is dropped
      {"/s \"a b /f c", "s", "", {"a b /f c"}},  // unclosed: to the end
      {"a.cab \"", "", "", {"a.cab"}}, {"ab\"cd ef\"", "", "", {"ab\"cd", "ef\""}},
      {"\"/s\"", "", "", {"/s"}},
  };
  for (const auto& c : cases) {
    tCommandLineSwitches switches;
    Strings bundles;
    EXPECT_EQ(static_cast<int>(c.bundles.size()), ParseCommandLine(c.line, &switches, &bundles))
        << c.line;
    std::string set = std::string(switches.SilentMode ? "s" : "") +
                      (switches.ForceOverwrite ? "f" : "") + (switches.RecoverTemplates ? "r" : "");
    EXPECT_EQ(c.switches, set) << c.line;
    EXPECT_EQ(c.bin_dir, switches.BinDir) << c.line;
    EXPECT_EQ(c.bundles, bundles) << c.line;
  }
}

TEST(CommandLineTest, RebuildsTheLineFromArgv) {
  const std::pair<Strings, std::string> cases[] = {
      {{}, ""}, {{"/s", "/f", "a.cab"}, "/s /f a.cab"},
      {{"/s", "/my bundles/a.cab"}, "/s \"/my bundles/a.cab\""},
      {{"/i=/opt/my bin", "/s"}, "/i=\"/opt/my bin\" /s"},
      {{"", "/s", "", "a.cab", ""}, "/s a.cab"}, {{"/s x"}, "\"/s x\""},
      {{"/t/tab\there.cab"}, "\"/t/tab\there.cab\""},
  };
  for (const auto& [args, expected] : cases) {
    std::string line, error;
    EXPECT_TRUE(RebuildCommandLine(args, &line, &error)) << error;
    EXPECT_EQ(expected, line);
  }
}

}  // namespace
}  // namespace kestrin
