// The post-commands step with real child processes: placeholders, lowering,
// the wait for each command, and commands that cannot start.
#include <sys/stat.h>

#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

// Appends its second argument to the file its first names; "slow" as the
// second argument sleeps first, so a step that did not wait would find the
// file without that line, or the lines out of order.
const char kMarkScript[] =
    "#!/bin/sh\n"
    "[ \"$2\" = slow ] && sleep 1\n"
    "printf '%s\\n' \"$2\" >> \"$1\"\n"
    "exit 3\n";

struct tPostCase {
  const char* name;
  std::string section;  // lines of [POST_COMMANDS]
  bool result;
  std::string marker;                 // content of Data/out.txt afterwards
  std::vector<std::string> reported;  // as Expand takes them
};

const std::string kRun = "\"{P}/mark.sh\" \"{D}/out.txt\"";

const std::string kFailed = "ERROR: Execution of post command failed: ";

// clang-format off
const tPostCase kPostCases[] = {
    {"WaitsForEachInFileOrder", "1=\"$BinDir/Mark.SH\" \"$AppDataDir/out.txt\" slow\n"
     "1=\"$BINDIR/mark.sh\" \"$appdatadir/OUT.txt\" Second\n", true, "slow\nsecond\n",
     {"Execute command '" + kRun + " slow'.", "Execute command '" + kRun + " second'."}},
    {"PlaceholdersAnyCaseRestLowered", "x = \"$bInDiR/MARK.sh\" \"$APPdataDIR/out.txt\" Hello=World\n",
     true, "hello=world\n", {"Execute command '" + kRun + " hello=world'."}},
    {"MissingProgramOthersStillRun",
     "1=$BinDir/nothere.exe /S\n2=\"$BinDir/mark.sh\" \"$AppDataDir/out.txt\" after\n", false, "after\n",
     {kFailed + "'{P}/nothere.exe /s'", "Execute command '" + kRun + " after'."}},
    {"LineWithoutEqualsIsAnEmptyCommand", "just text\n", false, "", {kFailed + "''"}},
    {"NotExecutable", "1=\"$BinDir/plain.sh\" x\n", false, "", {kFailed + "'\"{P}/plain.sh\" x'"}},
};
// clang-format on


class PostCommandsTest : public StepTest, public ::testing::WithParamInterface<tPostCase> {};

TEST_P(PostCommandsTest, RunsEachCommandToItsEnd) {
  const tPostCase& c = GetParam();
  const fs::path bin = dir_.path() / "Bin Dir";
  fs::create_directories(bin);
  ctx_.BinDir = bin.string();
  for (const auto& [name, mode] : {std::pair{"mark.sh", 0755}, {"plain.sh", 0644}}) {
    WriteFileOrDie(bin / name, kMarkScript);
    chmod((bin / name).c_str(), mode);
  }
  BundleFile("hw.ini", "[POST_COMMANDS]\n" + c.section);

  EXPECT_EQ(RunPostCommands(ctx_), c.result);

  const fs::path marker = fs::path(sandbox_.data_dir) / "out.txt";
  EXPECT_EQ(fs::exists(marker) ? ReadFileOrDie(marker) : "", c.marker);
  std::vector<tReported> expected;
  for (const std::string& line : Expand(c.reported)) expected.push_back({line, true});
  EXPECT_EQ(ctx_.reported, expected);
}

KESTRIN_CASES(PostCommandsTest, ::testing::ValuesIn(kPostCases));

}  // namespace
}  // namespace kestrin::testing
