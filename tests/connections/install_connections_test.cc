// The connections step: what it reads from hw.ini, what it reports, its
// pauses, and the file-backed Telvor it uses by default.
#include <chrono>

#include "connections/file_server.h"
#include "connections/recording_telvor.h"
#include "host/ini_file.h"
#include "steps/connections.h"
#include "steps/step_fixture.h"
#include "steps/steps.h"

namespace kestrin::testing {
namespace {

using Calls = std::vector<std::string>;

// Connection sections A, B and C and a properties section for A.
const std::string kSections =
    "[A]\nDRIVERNAME=FX200 Ethernet\nDRIVERID=1234-56\nTIMEOUT=3000\nCOMMENT=Hall 1\n"
    "VALUES=A_Values\n"
    "[A_Values]\nIpAddress=192.168.0.10\nComputerName=plc-a\nRack=2\n"
    "[B]\nDRIVERNAME=FX200 Serial\nDRIVERID=7-42\nTIMEOUT=0\n"
    "[C]\nDRIVERNAME=FX200 Serial\nDRIVERID=1234-57\nTIMEOUT=100\nVALUES=Missing\n"
    "[NoTimeout]\nDRIVERNAME=X\nDRIVERID=1234-56\n";

struct tStepCase {
  const char* name;
  std::string connections;  // body of [CONNECTIONS]; "-" for no section
  bool silent;
  int result;
  Calls created;  // connection names created on the server, "|" for a pause
  Calls lines;    // reported lines
  bool logged;    // whether those lines reach the log
};

std::string TooMany(const std::string& count) {
  return "ERROR: hw.ini asks for " + count +
         " connections in section CONNECTIONS; at most 100 are installed.";
}
const std::string kThree = "COUNT=3\nCONNECTION1=A\nCONNECTION2=B\nCONNECTION3=C\n";

// clang-format off
const tStepCase kStepCases[] = {
    {"NoSection", "-", false, 2, {}, {}, false},
    {"CountMissing", "CONNECTION1=A\n", false, 2, {}, {}, false},
    {"CountNotANumber", "COUNT=abc\nCONNECTION1=A\n", false, 2, {}, {}, false},
    {"CountNegative", "COUNT=-3\nCONNECTION1=A\n", false, 0, {}, {}, false},
    {"One", "COUNT=1\nCONNECTION1=A\n", false, 0, {"A"}, {}, false},
    {"ThreeWithPausesBetween", kThree, false, 0, {"A", "|", "B", "|", "C"}, {}, false},
    {"SecondNameMissing", "COUNT=2\nCONNECTION1=A\n", false, 1, {"A", "|"},
     {"Could not set connection: ."}, false},
    {"RequiredKeyMissingOthersGoOn",
     "count=3\nconnection1=NoTimeout\nconnection2=Unknown\nconnection3=B\n", false, 1,
     {"|", "|", "B"}, {"Could not set connection: NoTimeout.", "Could not set connection: Unknown."},
     false},
    {"SilentFailureReportsNothing", "COUNT=2\nCONNECTION1=NoTimeout\nCONNECTION2=A\n", true, 1,
     {"|", "A"}, {}, false},
    {"HugeCountRefused", "COUNT=2147483647\nCONNECTION1=A\n", true, 1, {},
     {TooMany("2147483647")}, true},
    {"CountOverTheLimitRefused", "COUNT=101\nCONNECTION1=A\n", false, 1, {},
     {TooMany("101")}, true},
    {"CountWrapsLikeTheProfileCall", "COUNT=4294967297\nCONNECTION1=A\n", false, 0, {"A"}, {}, false},
};
// clang-format on


class InstallConnectionsTest : public StepTest {
 protected:
  void HwIni(const std::string& connections, const std::string& sections = kSections) {
    BundleFile("hw.ini", "[OEMDriverDisk]\nOEMID=42\n" +
                             (connections == "-" ? "" : "[CONNECTIONS]\n" + connections) +
                             sections);
  }
  int Install() {
    return InstallConnections(ctx_, telvor_, [this](int ms) {
      telvor_.calls.push_back("pause " + std::to_string(ms));
    });
  }
  // The server calls that create connections, and the pauses as "|".
  Calls Created() const {
    Calls created;
    for (const std::string& call : telvor_.calls) {
      if (call.rfind("server.12 ", 0) == 0) created.push_back(call.substr(10));
      if (call == "pause 1000") created.push_back("|");
    }
    return created;
  }

  RecordingTelvor telvor_;
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

TEST_F(InstallConnectionsTest, CountAtTheLimitIsInstalled) {
  std::string connections = "COUNT=" + std::to_string(kMaxBundleConnections) + "\n";
  for (int i = 1; i <= kMaxBundleConnections; ++i)
    connections.append("CONNECTION").append(std::to_string(i)).append(i % 2 ? "=A\n" : "=B\n");
  HwIni(connections);
  EXPECT_EQ(Install(), 0);
  EXPECT_EQ(telvor_.Arguments("server.12").size(), static_cast<size_t>(kMaxBundleConnections));
  EXPECT_EQ(Created().size(), static_cast<size_t>(2 * kMaxBundleConnections - 1));
}

// The real pause: three connections wait twice for a second.
TEST_F(InstallConnectionsTest, ThreeConnectionsTakeAtLeastTwoSeconds) {
  HwIni(kThree);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(InstallConnections(ctx_), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}


class FileTelvorTest : public InstallConnectionsTest {
 protected:
  fs::path ConnectionFile() const { return fs::path(sandbox_.data_dir) / "telvor.con"; }
  std::string Value(const std::string& section, const std::string& key) const {
    return IniFile(ConnectionFile().string()).GetString(section, key);
  }
};

// Hostile descriptions fail the connection (and the step) and leave a
// connection file that holds only what the server accepted.
struct tHostileCase {
  const char* name;
  std::string sections;
  std::string complete;  // Complete of connection X afterwards; "" none
};

const std::string kGood = "DRIVERNAME=D\nDRIVERID=1234-56\nTIMEOUT=100\n";
const std::string kLong(2000, 'x');

const tHostileCase kHostileCases[] = {
    {"OverlongName", "", ""},
    {"DriverIdNotHex", "[X]\nDRIVERNAME=D\nDRIVERID=zz-top\nTIMEOUT=100\n", "0"},
    {"NegativeTimeout", "[X]\nDRIVERNAME=D\nDRIVERID=1234-56\nTIMEOUT=-5\n", "0"},
    {"OverlongPropertyName", "[X]\n" + kGood + "VALUES=V\n[V]\n" + kLong + "=1\n", "0"},
    {"TooManyProperties", "", "0"},
};


class HostileTest : public FileTelvorTest, public ::testing::WithParamInterface<tHostileCase> {};

TEST_P(HostileTest, FailsTheConnectionAndKeepsTheFileWhole) {
  const tHostileCase& c = GetParam();
  std::string sections = c.sections, name = "X";
  if (std::string(c.name) == "OverlongName") {
    name = std::string(kMaxTelvorName + 1, 'n');
    sections = "[" + name + "]\n" + kGood;
  } else if (std::string(c.name) == "TooManyProperties") {
    sections = "[X]\n" + kGood + "VALUES=V\n[V]\n";
    for (size_t i = 0; i <= kMaxTelvorProperties; ++i) sections.append("P").append(std::to_string(i)).append("=1\n");
  }
  HwIni("COUNT=2\nCONNECTION1=" + name + "\nCONNECTION2=A\n", sections + kSections);
  EXPECT_EQ(InstallConnections(ctx_), 1);
  EXPECT_EQ(ctx_.Lines(), Calls{"Could not set connection: " + name + "."});
  EXPECT_EQ(Value("A", "Complete"), "1");
  EXPECT_EQ(Value(name, "Complete"), c.complete);
  const IniFile file(ConnectionFile().string());
  EXPECT_EQ(file.GetSectionNames().size(), c.complete.empty() ? 1u : 2u);
}

KESTRIN_CASES(HostileTest, ::testing::ValuesIn(kHostileCases));

// Without its folder the server is not installed; a connection file it may
// not write fails every connection and stays as it was.
TEST_F(FileTelvorTest, NotInstalledOrReadOnlyFails) {
  HwIni("COUNT=1\nCONNECTION1=A\n");
  fs::remove_all(sandbox_.data_dir);
  EXPECT_EQ(InstallConnections(ctx_), 1);
  EXPECT_FALSE(fs::exists(sandbox_.data_dir));

  fs::create_directories(sandbox_.data_dir);
  WriteFileOrDie(ConnectionFile(), "[Old]\r\nComplete=1\r\n");
  fs::permissions(ConnectionFile(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(InstallConnections(ctx_), 1);
  EXPECT_EQ(ReadFileOrDie(ConnectionFile()), "[Old]\r\nComplete=1\r\n");
}

}  // namespace
}  // namespace kestrin::testing
