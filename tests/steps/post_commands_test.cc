// The post-commands step with real child processes: placeholders in any
// letter case, the rest of the line lowered, the wait for each command in
// file order, and commands that cannot start (a missing program, a line
// without "=", a script that may not be run).
#include <sys/stat.h>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

TEST_F(StepTest, PostCommandsRunEachToItsEnd) {
  // Appends its second argument to the file its first names; "slow" sleeps
  // first, so a step that did not wait would find the lines out of order.
  const fs::path bin = dir_.path() / "Bin Dir";
  for (const char* name : {"mark.sh", "plain.sh"})
    Put(bin / name, "#!/bin/sh\n[ \"$2\" = slow ] && sleep 1\nprintf '%s\\n' \"$2\" >> \"$1\"\nexit 3\n");
  chmod((bin / "mark.sh").c_str(), 0755);  // plain.sh cannot be run
  ctx_.BinDir = bin.string();
  BundleFile("hw.ini", "[POST_COMMANDS]\n1=\"$BinDir/Mark.SH\" \"$AppDataDir/out.txt\" slow\n"
                       "1=$BinDir/nothere.exe /S\nno command\n1=\"$BinDir/plain.sh\" x\n"
                       "2=\"$BINDIR/mark.sh\" \"$appdatadir/OUT.txt\" Second\n");
  EXPECT_FALSE(RunPostCommands(ctx_));
  EXPECT_EQ(ReadFileOrDie(fs::path(sandbox_.data_dir) / "out.txt"), "slow\nsecond\n");
  const std::string run = "Execute command '\"{P}/mark.sh\" \"{D}/out.txt\" ";
  const std::string failed = "ERROR: Execution of post command failed: '";
  std::vector<tReported> expected;
  for (const std::string& line : Expand({run + "slow'.", failed + "{P}/nothere.exe /s'", failed + "'",
                                         failed + "\"{P}/plain.sh\" x'", run + "second'."}))
    expected.push_back({line, true});
  EXPECT_EQ(ctx_.reported, expected);
}

}  // namespace
}  // namespace kestrin::testing
