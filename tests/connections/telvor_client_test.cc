// TelvorClient against the recording double: the calls a connection makes,
// with their values, and where each refusal of the server stops it.
#include "connections/telvor_client.h"

#include <algorithm>

#include "app/test_korvane.h"
#include "connections/recording_telvor.h"
#include "steps/step_fixture.h"

namespace kestrin::testing {
namespace {

using Calls = std::vector<std::string>;

const TelvorValues kValues = {{"IpAddress", " 192.168.0.10 "}, {"ComputerName", "plc-01"},
                              {"Rack", "2x"}, {"padt_simulationused", "1"}};

class TelvorClientTest : public StepTest {
 protected:
  std::string ConnectionFile() const { return sandbox_.data_dir + "/telvor.con"; }

  Calls FullSequence(const TelvorValues& values) const {
    Calls calls = {"create", "run", "server.11 " + ConnectionFile(), "server.12 MyPLC",
                   "server.13 MyPLC", "connection.26 FX200 Ethernet",
                   "connection.14 {C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}", "connection.18 3000",
                   "connection.16 50",
                   "connection.9 This Connection is created automaticly for MyPLC.",
                   "connection.22 ", "connection.7"};
    if (!values.empty()) {
      // Map order; 192.168.0.10 is 0xC0A8000A, sent as a signed 32-bit number.
      calls.insert(calls.end(),
                   {"properties.9 ComputerName=plc-01", "properties.7 IpAddress=-1062731766",
                    "properties.7 Rack=2", "properties.9 padt_simulationused=1"});
    }
    calls.push_back("connection.24");
    return calls;
  }

  bool Add(const std::string& driver_id, const std::string& timeout, const TelvorValues& values) {
    TelvorClient client(telvor_, [this](const std::string& line) { logged_.push_back(line); });
    return client.AddConnection("MyPLC", "FX200 Ethernet", driver_id, timeout, "", values);
  }

  RecordingTelvor telvor_;
  Calls logged_;
};

// A refusal by `answers` or by an object withheld: the last call made (a head
// or a whole call; "" when the connection is added).
struct tFailureCase {
  const char* name;
  std::map<std::string, HRESULT> answers;
  std::string withhold, last;
  bool values = true;  // the connection has kValues, else none
};

const std::string kIpCall = "properties.7 IpAddress=-1062731766";

// clang-format off
const tFailureCase kFailureCases[] = {
    {"NotInstalled", {{"create", REGDB_E_CLASSNOTREG}}, "", "create"},
    {"CreatedWithSuccessCode", {{"create", S_FALSE}}, "", ""},
    {"NoServerInterface", {}, "server", "run"},
    {"FileNotAccepted", {{"server.11", S_FALSE}}, "", "server.11"},
    {"CreateFails", {{"server.12", E_FAIL}}, "", "server.12"},
    {"FetchFails", {{"server.13", E_FAIL}}, "", "server.13"},
    {"NoConnectionInterface", {}, "connection", "server.13"},
    {"DriverNameFails", {{"connection.26", E_FAIL}}, "", "connection.26"},
    {"ClassIdFails", {{"connection.14", E_INVALIDARG}}, "", "connection.14"},
    {"Option22Fails", {{"connection.22", E_FAIL}}, "", "connection.22"},
    {"PropertySetFails", {{"connection.7", E_FAIL}}, "", "connection.7"},
    {"NoPropertySetWithValues", {}, "properties", "connection.7"},
    {"NoPropertySetWithoutValues", {}, "properties", "", false},
    {"NumberPropertyFails", {{kIpCall, E_FAIL}}, "", kIpCall},
    {"CompleteFails", {{"connection.24", E_FAIL}}, "", "connection.24"},
    {"LaterSuccessCodesAccepted", {{"server.13", S_FALSE}, {"connection.26", 2},
                                   {"properties.7", S_FALSE}, {"connection.24", 7}}, "", ""},
};
// clang-format on

class TelvorFailureTest : public TelvorClientTest,
                          public ::testing::WithParamInterface<tFailureCase> {};

TEST_P(TelvorFailureTest, StopsWhereTheServerRefuses) {
  const tFailureCase& c = GetParam();
  telvor_.answers = c.answers;
  telvor_.withhold = c.withhold;
  const TelvorValues values = c.values ? kValues : TelvorValues{};
  EXPECT_EQ(Add("56-1234", "3000", values), c.last.empty());
  Calls expected = FullSequence(values);
  const auto last = std::find_if(expected.begin(), expected.end(), [&](const std::string& call) {
    return call == c.last || call.starts_with(c.last + " ");
  });
  expected.erase(last == expected.end() ? last : last + 1, expected.end());
  Calls made = telvor_.calls;
  std::erase_if(made, [](const std::string& call) { return call.starts_with("release "); });
  EXPECT_EQ(made, expected);
  EXPECT_TRUE(logged_.empty()) << "a refusal is not logged";
}

KESTRIN_CASES(TelvorFailureTest, ::testing::ValuesIn(kFailureCases));

// The class id derived from the driver id ("" when its parts are of equal
// length: the fetched connection stays unconfigured), address and timeout.
struct tValueCase {
  const char *driver_id, *class_id, *ip;
  uint32_t address;
  const char* timeout;
  int32_t milliseconds;
};

const tValueCase kValueCases[] = {
    {"1234-56", "1234-56", "192.168.0.10", 0xC0A8000A, "3000", 3000},
    {"56-1234", "1234-56", " \t192.168.0.10 ", 0xC0A8000A, "0", 5000},
    {"5-123", "0123-05", "192.168.0.256", 0, "abc", 5000},
    {"12-3", "0012-03", "192.168.-1.1", 0, "0500x", 500},
    {"12-34", "", "10.0.0.1", 0x0A000001, "100", 100},
    {"-1234-56", "1234-56", "10..0.0.1", 0x0A000001, " 42", 42},
    {"1234--56", "1234--56", "1.2.3.4.5", 0, "-20", -20},
    {"123456", "123456-00", "1.2.3", 0x01020300, "99999999999", 2147483647},
    {"ab-cdef", "cdef-ab", "1.2222.3.4", 0x01000304, "-99999999999", -2147483647 - 1},
};

void PrintTo(const tValueCase& c, std::ostream* os) { *os << c.driver_id << " " << c.ip; }

class TelvorValueTest : public TelvorClientTest,
                        public ::testing::WithParamInterface<tValueCase> {};

TEST_P(TelvorValueTest, SendsTheDerivedValues) {
  const tValueCase& c = GetParam();
  const bool configured = *c.class_id != '\0';
  EXPECT_EQ(Add(c.driver_id, c.timeout, {{"ipaddress", c.ip}}), configured);
  if (!configured) {
    EXPECT_EQ(telvor_.calls.back(), "release connection");  // fetched, nothing sent
    EXPECT_TRUE(telvor_.Arguments("connection.26").empty());
    return;
  }
  EXPECT_EQ(telvor_.Arguments("connection.14"),
            Calls{"{C7A41E50-" + std::string(c.class_id) + "A1-9C3B-7A3E15C0D2B8}"});
  EXPECT_EQ(telvor_.Arguments("properties.7"),
            Calls{"ipaddress=" + std::to_string(static_cast<int32_t>(c.address))});
  EXPECT_EQ(telvor_.Arguments("connection.18"), Calls{std::to_string(c.milliseconds)});
}

INSTANTIATE_TEST_SUITE_P(Cases, TelvorValueTest, ::testing::ValuesIn(kValueCases));

// A required text missing: false before anything reaches the server.
TEST_F(TelvorClientTest, MissingRequiredTextContactsNoServer) {
  for (int blank = 0; blank < 4; ++blank) {
    Calls c = {"N", "D", "1234-56", "1"};
    c[blank].clear();
    EXPECT_FALSE(TelvorClient(telvor_).AddConnection(c[0], c[1], c[2], c[3], "comment", kValues));
  }
  EXPECT_TRUE(telvor_.calls.empty());
}

// Connected once, a client keeps its server; a server that does not accept
// the file is dropped, so the next Connect starts anew.
TEST_F(TelvorClientTest, ConnectsOnceAndNotWithoutConnectionFolder) {
  const Calls attempt = {"create", "run", "server.11 " + ConnectionFile(), "release server"};
  for (const bool accepted : {true, false}) {
    telvor_.calls.clear();
    if (!accepted) telvor_.answers = {{"server.11", S_FALSE}};
    {
      TelvorClient client(telvor_);
      EXPECT_EQ(client.Connect(), accepted);
      EXPECT_EQ(client.Connect(), accepted);
    }
    EXPECT_EQ(telvor_.calls, accepted ? attempt : Cat({attempt, attempt}));
  }
  // A Korvane without a data folder setting has no connection file.
  telvor_.calls.clear();
  ScopedEnv store("KESTRIN_REGISTRY", dir_.Sub("no-store.reg"));
  EXPECT_FALSE(TelvorClient(telvor_).Connect());
  EXPECT_TRUE(telvor_.calls.empty());
}

}  // namespace
}  // namespace kestrin::testing
