// TelvorClient against the recording double: the calls a connection makes,
// with their values, and where each refusal of the server stops it.
#include "connections/telvor_client.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/cases.h"
#include "support/recording_telvor.h"

namespace kestrin::testing {
namespace {

using Calls = std::vector<std::string>;

const TelvorValues kValues = {{"ipAddress", " 192.168.0.10 "}, {"ComputerName", "plc-01"},
                              {"Rack", "2x"}, {"padt_simulationused", "1"}};

class TelvorClientTest : public ::testing::Test {
 protected:
  static std::string ConnectionFile() { return "/data/telvor.con"; }

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
                   {"properties.9 ComputerName=plc-01", "properties.7 Rack=2",
                    "properties.7 ipAddress=-1062731766", "properties.9 padt_simulationused=1"});
    }
    calls.push_back("connection.24");
    return calls;
  }

  // Adds MyPLC with a client of its own; made_ holds its calls but releases.
  bool Add(const std::string& driver_id, const std::string& timeout, const TelvorValues& values) {
    bool added;
    {
      TelvorClient client(telvor_, "/data/", [this](const std::string& line) { logged_.push_back(line); });
      added = client.AddConnection("MyPLC", "FX200 Ethernet", driver_id, timeout, "", values);
    }
    made_ = telvor_.calls;
    std::erase_if(made_, [](const std::string& call) { return call.starts_with("release "); });
    telvor_.calls.clear();
    return added;
  }

  RecordingTelvor telvor_;
  Calls made_, logged_;
};

// A refusal by `answers` or by an object withheld: the last call made (a head
// or a whole call; "" when the connection is added).
struct tFailureCase {
  const char* name;
  std::map<std::string, HRESULT> answers;
  std::string withhold, last;
  bool values = true;  // the connection has kValues, else none
};

const std::string kIpCall = "properties.7 ipAddress=-1062731766";

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
  EXPECT_EQ(made_, expected);
  EXPECT_TRUE(logged_.empty()) << "a refusal is not logged";
}

KESTRIN_CASES(TelvorFailureTest, ::testing::ValuesIn(kFailureCases));

// The middle of the class id for a driver id ("" when its parts are of equal
// length), and addresses as numbers.
TEST(TelvorValueTest, DriverIdsAndAddresses) {
  const std::pair<const char*, const char*> ids[] = {
      {"56-1234", "1234-56"}, {"5-123", "0123-05"},   {"12-3", "0012-03"},
      {"12-34", ""},          {"-1234-56", "1234-56"}, {"1234--56", "1234--56"},
      {"123456", "123456-00"}, {"ab-cdef", "cdef-ab"}};
  for (const auto& [id, normalised] : ids) EXPECT_EQ(NormaliseDriverId(id), normalised) << id;
  const std::pair<const char*, uint32_t> addresses[] = {
      {" \t192.168.0.10 ", 0xC0A8000A}, {"192.168.0.256", 0}, {"192.168.-1.1", 0},
      {"10..0.0.1", 0x0A000001},        {"1.2.3.4.5", 0},     {"1.2.3", 0x01020300},
      {"1.2222.3.4", 0x01000304}};
  for (const auto& [ip, address] : addresses) EXPECT_EQ(ParseIpAddress(ip), address) << ip;
}

// The timeout sent: the number up to the first other character, the default
// for 0. A driver id of equal parts leaves the fetched connection unconfigured.
TEST_F(TelvorClientTest, SendsTheTimeoutOrNothing) {
  const std::pair<const char*, int32_t> timeouts[] = {
      {"0", 5000}, {"abc", 5000}, {"0500x", 500}, {" 42", 42}, {"-20", -20},
      {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}};
  Calls expected = FullSequence({});
  for (const auto& [timeout, milliseconds] : timeouts) {
    EXPECT_TRUE(Add("56-1234", timeout, {}));
    expected[7] = "connection.18 " + std::to_string(milliseconds);
    EXPECT_EQ(made_, expected) << timeout;
  }
  EXPECT_FALSE(Add("12-34", "1", {}));
  EXPECT_EQ(made_, Calls(expected.begin(), expected.begin() + 5));  // fetched, nothing sent
}

// Connected once, a client keeps its server until it goes.
TEST_F(TelvorClientTest, ConnectsOnceAndNotWithoutConnectionFolder) {
  {
    TelvorClient client(telvor_, "/data/");
    EXPECT_TRUE(client.Connect() && client.Connect());
  }
  EXPECT_EQ(telvor_.calls,
            (Calls{"create", "run", "server.11 " + ConnectionFile(), "release server"}));
  // A Korvane without a data folder setting has no connection file.
  telvor_.calls.clear();
  EXPECT_FALSE(TelvorClient(telvor_, "").Connect());
  EXPECT_TRUE(telvor_.calls.empty());
}

}  // namespace
}  // namespace kestrin::testing
