#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ctl/ctl_command.h"
#include "ctl/exit_codes.h"
#include "ctl/json_writer.h"
#include "ctl/run_ctl.h"

namespace kestrin::ctl {
namespace {

TEST(JsonWriterTest, PlacesCommasAndKeepsEveryByteAsValidJson) {
  JsonWriter json;
  json.BeginObject().Key("schema").Number(1).Key("items").BeginArray();
  json.BeginObject().Key("ok").Bool(true).EndObject();
  json.String("").Null().EndArray().Key("n").Number(-5).EndObject();
  EXPECT_EQ(json.text(), R"({"schema":1,"items":[{"ok":true},"",null],"n":-5})");

  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\r\n\t\x01\x7f", R"("\r\n\t\u0001)" "\x7f\""},
      {"\xc3\xa9", "\"\xc3\xa9\""},              // UTF-8 passes through
      {"\xa9", R"("\u00a9")"},                   // a Windows-1252 byte alone
      {"\xc3", R"("\u00c3")"},                   // a sequence cut short
      {"\xc0\xaf", R"("\u00c0\u00af")"},          // an overlong form
      {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"}, // a surrogate
      {"\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},  // past U+10FFFF
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonQuote(c.in), c.out) << c.in;
}

TEST(ExitCodesTest, TheEarlierOutcomeInThePrecedenceWins) {
  const size_t n = std::size(kPrecedence);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      EXPECT_EQ(Worse(kPrecedence[i], kPrecedence[j]), kPrecedence[std::min(i, j)]);
    }
  }
  for (CtlExit e : kPrecedence) {
    const int number = ExitNumber(e);
    EXPECT_TRUE(number == static_cast<int>(e) || (e == CtlExit::kRestartRequired && number < 256));
  }
}

TEST(KestrinctlTest, UsageErrorsAndHelp) {
  Captured none = RunCtl({});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage: kestrinctl COMMAND"), std::string::npos);
  Captured unknown = RunCtl({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "kestrinctl: unknown command \"frobnicate\" (kestrinctl --help lists them)\n");
  Captured help = RunCtl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, RunCtl({"help"}).out);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(RunCtl({"--version"}).out.rfind("kestrinctl ", 0), 0u);
}

TEST(KestrinctlTest, ParseArgsSplitsSwitchesOptionsAndOperands) {
  CtlOutput io{tmpfile(), tmpfile()};
  ParsedArgs parsed;
  ASSERT_TRUE(ParseArgs("x", {"a", "--json", "--oem", "7", "--bindir=/b", "-", "--", "--json"},
                        {"--json"}, {"--oem", "--bindir"}, &parsed, io));
  EXPECT_EQ(parsed.switches, std::set<std::string>{"--json"});
  EXPECT_EQ(parsed.options.at("--oem"), "7");
  EXPECT_EQ(parsed.options.at("--bindir"), "/b");
  EXPECT_EQ(parsed.operands, (std::vector<std::string>{"a", "-", "--json"}));
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--oem"}, {"--nope"}, {"--json=1"}}) {
    ParsedArgs ignored;
    EXPECT_FALSE(ParseArgs("x", bad, {"--json"}, {"--oem"}, &ignored, io)) << bad[0];
  }
  EXPECT_EQ(ReadAll(io.err),
            "kestrinctl x: --oem needs a value\n"
            "kestrinctl x: unknown option --nope (kestrinctl x --help)\n"
            "kestrinctl x: unknown option --json=1 (kestrinctl x --help)\n");
  fclose(io.out);
}

}  // namespace
}  // namespace kestrin::ctl
