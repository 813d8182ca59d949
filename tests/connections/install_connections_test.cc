// The connections step: what it reads from hw.ini, what it reports, its
// pauses, and the file-backed Telvor it uses by default.
#include <filesystem>

#include "connections/file_server.h"
#include "steps/connections.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

namespace fs = std::filesystem;

using Calls = std::vector<std::string>;

// Connection sections A, B and C (whose values section is missing), and one
// without each required key.
const std::string kSections =
    "[A]\nDRIVERNAME=FX200 Ethernet\nDRIVERID=1234-56\nTIMEOUT=3000\nVALUES=A_Values\n"
    "[A_Values]\nRack=2\n[B]\nDRIVERNAME=FX200 Serial\nDRIVERID=7-42\nTIMEOUT=0\n"
    "[C]\nDRIVERNAME=FX200 Serial\nDRIVERID=1234-57\nTIMEOUT=100\nVALUES=Missing\n"
    "[NoTimeout]\nDRIVERNAME=X\nDRIVERID=1234-56\n[NoId]\nDRIVERNAME=X\nTIMEOUT=1\n"
    "[NoDriver]\nDRIVERID=1234-56\nTIMEOUT=1\n";

struct tStepCase {
  const char* name;
  std::string connections;  // body of [CONNECTIONS]
  bool silent;
  int result;
  Calls created, lines;  // connections created on the server ("|": a pause); reported lines
  bool logged;           // whether those lines reach the log
};

const std::string kThree = "COUNT=3\nCONNECTION1=A\nCONNECTION2=B\nCONNECTION3=C\n";

// clang-format off
const tStepCase kStepCases[] = {
    {"CountMissing", "CONNECTION1=A\n", false, 2, {}, {}, false},
    {"CountNegative", "COUNT=-3\nCONNECTION1=A\n", false, 0, {}, {}, false},
    {"ThreeWithPausesBetween", kThree, false, 0, {"A", "|", "B", "|", "C"}, {}, false},
    // A number without a key fails like a missing name, without a pause.
    {"RequiredKeyMissingOthersGoOn",
     "count=5\nconnection1=NoTimeout\nconnection3=NoId\nconnection4=NoDriver\nconnection5=B\n",
     false, 1, {"|", "|", "|", "B"},
     {"Could not set connection: NoTimeout.", "Could not set connection: .",
      "Could not set connection: NoId.", "Could not set connection: NoDriver."}, false},
    {"SilentFailureReportsNothing", "COUNT=2\nCONNECTION1=NoTimeout\nCONNECTION2=A\n", true, 1,
     {"|", "A"}, {}, false},
    // Every number up to a huge count is tried; each run of numbers without
    // a key costs one line and no pause.
    {"HugeCountTriesEveryNumber", "COUNT=2147483647\nCONNECTION1=A\nConnection3=B\nCONNECTION03=C\n",
     false, 1, {"A", "|", "B"}, {"Could not set connection: .", "Could not set connection: ."}, false},
};
// clang-format on

class InstallConnectionsTest : public StepTest {
 protected:
  void HwIni(const std::string& connections, const std::string& sections = kSections) {
    BundleFile("hw.ini", "[OEMDriverDisk]\nOEMID=42\n[CONNECTIONS]\n" + connections + sections);
  }
  StepResult Install() {
    fake_.machine.on_sleep = [this](int ms) { telvor_.calls.push_back(ms == 1000 ? "|" : "?"); };
    return InstallConnections(ctx_);
  }
  // The connections created on the server, and the pauses as "|".
  Calls Created() const {
    Calls created;
    for (const std::string& call : telvor_.calls) {
      if (call == "|") created.push_back(call);
      if (call.starts_with("server.12 ")) created.push_back(call.substr(10));
    }
    return created;
  }

  RecordingTelvor& telvor_ = fake_.telvor;
};

class StepCaseTest : public InstallConnectionsTest,
                     public ::testing::WithParamInterface<tStepCase> {};

TEST_P(StepCaseTest, AddsEachConnectionAndReports) {
  const tStepCase& c = GetParam();
  HwIni(c.connections);
  ctx_.SilentMode = c.silent;
  EXPECT_EQ(Install(), c.result);
  EXPECT_EQ(Created(), c.created);
  EXPECT_EQ(ctx_.Lines(), c.lines);
  for (const tReported& line : ctx_.reported) EXPECT_EQ(line.log, c.logged) << line.text;
}

KESTRIN_CASES(StepCaseTest, ::testing::ValuesIn(kStepCases));

// The file-backed server: without its folder it is not installed; a
// connection file it may not write fails every connection and stays as it
// was. Between the connections the step pauses for a second.
TEST_F(InstallConnectionsTest, FileServerNotInstalledOrReadOnlyFails) {
  ScopedTempDir data;
  const fs::path folder = data.path() / "Data", file = folder / "telvor.con";
  FileTelvorServerClass file_server([&] { return folder.string() + "/"; });
  Host host{fake_.files, fake_.ini, fake_.registry, fake_.processes, fake_.libraries,
            fake_.machine, fake_.bundles, file_server};
  TestStepContext context(host);
  context.BundleTempDir = bundle_;
  HwIni("COUNT=1\nCONNECTION1=A\n");
  EXPECT_EQ(InstallConnections(context), 1);
  EXPECT_FALSE(fs::exists(folder));

  fs::create_directories(folder);
  WriteFileOrDie(file, "[Old]\r\nComplete=1\r\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  HwIni(kThree);
  EXPECT_EQ(InstallConnections(context), 1);
  EXPECT_EQ(fake_.machine.sleeps, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(kestrin::testing::ReadFileOrDie(file), "[Old]\r\nComplete=1\r\n");
}

}  // namespace
}  // namespace kestrin::testing
