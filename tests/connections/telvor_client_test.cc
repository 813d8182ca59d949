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

  Calls FullSequence(const TelvorValues& values = kValues) const {
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

  bool Add(const std::string& driver_id = "56-1234", const std::string& timeout = "3000",
           const std::string& comment = "", const TelvorValues& values = kValues) {
    TelvorClient client(telvor_, [this](const std::string& line) { logged_.push_back(line); });
    const bool added = client.AddConnection("MyPLC", "FX200 Ethernet", driver_id, timeout,
                                            comment, values);
    diagnostics_ = client.Diagnostics();
    return added;
  }

  RecordingTelvor telvor_;
  Calls diagnostics_;
  Calls logged_;
};

const Calls kNoConnection = {"No connection to the Telvor.", "Connection 'MyPLC' can not be added."};
const Calls kNoInterface = {"Can not get the Korvane COM Interface.", kNoConnection[0],
                            kNoConnection[1]};

// withhold: 0 none, 1 server, 2 connection, 3 property set; values: the
// connection has kValues, else none; last: the last call made (a head or a
// whole call), "" for all.
struct tFailureCase {
  const char* name;
  std::map<std::string, HRESULT> answers;
  int withhold;
  bool values, added;
  std::string last;
  Calls diagnostics;
};

const Calls kNotInitialised = {"Can not initialize Telvor.", kNoConnection[0], kNoConnection[1]};
const Calls kNotCreated = {"Can not create the connection 'MyPLC' at the Telvor."};
const Calls kNoConnectionInterface = {
    "Can not get the interface of the connection 'MyPLC' at the Telvor."};
const std::string kIpCall = "properties.7 IpAddress=-1062731766";

// clang-format off
const tFailureCase kFailureCases[] = {
    {"NotInstalled", {{"create", REGDB_E_CLASSNOTREG}}, 0, true, false, "create", kNoInterface},
    {"CreatedWithSuccessCode", {{"create", S_FALSE}}, 0, true, true, "", {}},
    {"DoesNotRun", {{"run", E_FAIL}}, 0, true, false, "run", kNoInterface},
    {"NoServerInterface", {}, 1, true, false, "run", kNoInterface},
    {"FileRefused", {{"server.11", E_ACCESSDENIED}}, 0, true, false, "server.11", kNoInterface},
    {"FileNotAccepted", {{"server.11", S_FALSE}}, 0, true, false, "server.11", kNotInitialised},
    {"DuplicateStillConfigured", {{"server.12", S_FALSE}}, 0, true, false, "", kNotCreated},
    {"CreateFails", {{"server.12", E_FAIL}}, 0, true, false, "server.12", kNoConnection},
    {"FetchFails", {{"server.13", E_FAIL}}, 0, true, false, "server.13", kNoConnection},
    {"NoConnectionInterface", {}, 2, true, false, "server.13", kNoConnectionInterface},
    {"DriverNameFails", {{"connection.26", E_FAIL}}, 0, true, false, "connection.26", kNoConnection},
    {"ClassIdFails", {{"connection.14", E_INVALIDARG}}, 0, true, false, "connection.14", kNoConnection},
    {"TimeoutFails", {{"connection.18", E_FAIL}}, 0, true, false, "connection.18", kNoConnection},
    {"Option16Fails", {{"connection.16", E_FAIL}}, 0, true, false, "connection.16", kNoConnection},
    {"CommentFails", {{"connection.9", E_FAIL}}, 0, true, false, "connection.9", kNoConnection},
    {"Option22Fails", {{"connection.22", E_FAIL}}, 0, true, false, "connection.22", kNoConnection},
    {"PropertySetFails", {{"connection.7", E_FAIL}}, 0, true, false, "connection.7", kNoConnection},
    {"NoPropertySetWithValues", {}, 3, true, false, "connection.7", kNoConnection},
    {"NoPropertySetWithoutValues", {}, 3, false, true, "", {}},
    {"NumberPropertyFails", {{kIpCall, E_FAIL}}, 0, true, false, kIpCall, kNoConnection},
    {"TextPropertyFails", {{"properties.9", E_FAIL}}, 0, true, false, "properties.9", kNoConnection},
    {"CompleteFails", {{"connection.24", E_FAIL}}, 0, true, false, "connection.24", kNoConnection},
    {"LaterSuccessCodesAccepted", {{"server.13", S_FALSE}, {"connection.26", 2},
                                   {"properties.7", S_FALSE}, {"connection.24", 7}}, 0, true, true, "", {}},
};
// clang-format on


class TelvorFailureTest : public TelvorClientTest,
                          public ::testing::WithParamInterface<tFailureCase> {};

TEST_P(TelvorFailureTest, StopsWhereTheServerRefuses) {
  const tFailureCase& c = GetParam();
  telvor_.answers = c.answers;
  telvor_.offer_server = c.withhold != 1;
  telvor_.offer_connection = c.withhold != 2;
  telvor_.offer_properties = c.withhold != 3;
  const TelvorValues values = c.values ? kValues : TelvorValues{};
  EXPECT_EQ(Add("56-1234", "3000", "", values), c.added);

  Calls expected = FullSequence(values);
  if (!c.last.empty()) {  // the calls up to the last one made
    const auto last = std::find_if(expected.begin(), expected.end(), [&](const std::string& call) {
      return call == c.last || call.rfind(c.last + " ", 0) == 0;
    });
    ASSERT_NE(last, expected.end()) << c.last;
    expected.erase(last + 1, expected.end());
  }
  Calls made = telvor_.calls;
  std::erase_if(made, [](const std::string& call) { return call.starts_with("release "); });
  EXPECT_EQ(made, expected);
  EXPECT_EQ(diagnostics_, c.diagnostics);
  EXPECT_TRUE(logged_.empty()) << "diagnostics never reach the log";
}

KESTRIN_CASES(TelvorFailureTest, ::testing::ValuesIn(kFailureCases));

// The values the client derives: class id from the driver id, the address,
// the timeout and the comment. A driver id with parts of equal length stops
// the connection after it was fetched.
// class_id "": the connection stays unconfigured; comment "": the default text.
struct tValueCase {
  const char *driver_id, *class_id, *ip;
  uint32_t address;
  const char* timeout;
  int32_t milliseconds;
  const char* comment;
};

const tValueCase kValueCases[] = {
    {"1234-56", "1234-56", "192.168.0.10", 0xC0A8000A, "3000", 3000, ""},
    {"56-1234", "1234-56", " \t192.168.0.10 ", 0xC0A8000A, "0", 5000, "Line 3"},
    {"5-123", "0123-05", "192.168.0.256", 0, "abc", 5000, ""},
    {"12-3", "0012-03", "192.168.-1.1", 0, "0500x", 500, ""},
    {"12-34", "", "10.0.0.1", 0x0A000001, "100", 100, ""},
    {"-1234-56", "1234-56", "10..0.0.1", 0x0A000001, " 42", 42, ""},
    {"1234--56", "1234--56", "1.2.3.4.5", 0, "-20", -20, ""},
    {"123456", "123456-00", "1.2.3", 0x01020300, "99999999999", 2147483647, ""},
    {"ab-cdef", "cdef-ab", "1.2222.3.4", 0x01000304, "-99999999999", -2147483647 - 1, ""},
    {"1-2-345", "", "255.255.255.255", 0xFFFFFFFF, "1", 1, ""},
    {"-", "", "", 0, "1", 1, ""},
    {"7-", "0007-00", "1e2.0.0.1", 0x64000001, "1", 1, ""},
    {"1-22", "0022-01", "12a.b.255.0", 0x0C00FF00, "1", 1, ""},
};

void PrintTo(const tValueCase& c, std::ostream* os) { *os << c.driver_id << " " << c.ip; }

class TelvorValueTest : public TelvorClientTest,
                        public ::testing::WithParamInterface<tValueCase> {};

TEST_P(TelvorValueTest, SendsTheDerivedValues) {
  const tValueCase& c = GetParam();
  EXPECT_EQ(ParseIpAddress(c.ip), c.address);
  const bool configured = *c.class_id != '\0';
  EXPECT_EQ(Add(c.driver_id, c.timeout, c.comment, {{"ipaddress", c.ip}}), configured);
  EXPECT_TRUE(diagnostics_.empty());
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
  EXPECT_EQ(telvor_.Arguments("connection.9"),
            Calls{*c.comment ? c.comment : "This Connection is created automaticly for MyPLC."});
}

INSTANTIATE_TEST_SUITE_P(Cases, TelvorValueTest, ::testing::ValuesIn(kValueCases));

// Required texts missing: false before anything reaches the server.
TEST_F(TelvorClientTest, MissingRequiredTextContactsNoServer) {
  for (const Calls& c : {Calls{"", "D", "1234-56", "1"}, Calls{"N", "", "1234-56", "1"},
                         Calls{"N", "D", "", "1"}, Calls{"N", "D", "1234-56", ""}}) {
    TelvorClient client(telvor_);
    EXPECT_FALSE(client.AddConnection(c[0], c[1], c[2], c[3], "comment", kValues));
    EXPECT_TRUE(client.Diagnostics().empty());
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
  TelvorClient client(telvor_);
  EXPECT_FALSE(client.Connect());
  EXPECT_TRUE(telvor_.calls.empty());
  EXPECT_EQ(client.Diagnostics(), Calls{"Can not get the Korvane COM Interface."});
}

}  // namespace
}  // namespace kestrin::testing
