// The file-backed Telvor called directly: what it keeps and what it refuses.
#include "connections/file_server.h"

#include "app/cases.h"
#include "host/ini_file.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

// One call on the loaded server or its connection "A": "create", "classid",
// "timeout", "comment"; "number" and "text" set the property "name=value",
// "full" sets it as a number once the connection holds all it may.
struct tServerCase {
  const char* name;
  const char* call;
  std::string argument;
  HRESULT expected;
  std::string key = "";  // of connection A afterwards, when set
  std::string value = "";
};

const std::string k255(255, 'n');

// clang-format off
const tServerCase kServerCases[] = {
    {"CreateNew", "create", "A", S_OK, "Complete", "0"},
    {"NameOfMaximumLength", "create", k255, S_OK},
    {"NameTooLong", "create", k255 + "n", E_INVALIDARG},
    {"NameWithTab", "create", "a\tb", E_INVALIDARG},
    {"NameWithBlankAround", "create", " a", E_INVALIDARG},
    {"NameWithBrackets", "create", "[a]b", S_OK},
    {"ClassIdWithoutBraces", "classid", "C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8", E_INVALIDARG},
    {"ClassIdNotHex", "classid", "{C7A41E50-0top-zzA1-9C3B-7A3E15C0D2B8}", E_INVALIDARG},
    {"TimeoutZero", "timeout", "0", E_INVALIDARG},
    {"CommentTooLong", "comment", std::string(1024, 't'), E_INVALIDARG},
    {"CommentWithLineBreak", "comment", "a\n[B]\nx=y", E_INVALIDARG},
    {"NegativeNumber", "number", "Rack=-5", S_OK, "Property.Rack", "-5"},
    {"PropertyNameWithEquals", "number", "a=b=1", E_INVALIDARG},
    {"PropertyBeyondTheLimit", "full", "New=1", E_INVALIDARG},
    {"PropertyAgainWhenFull", "full", "P0=7", S_OK, "Property.P0", "7"},
    {"PropertyTextWithLineBreak", "text", "ComputerName=a\r\nb", E_INVALIDARG},
};
// clang-format on

class ServerCaseTest : public ::testing::TestWithParam<tServerCase> {
 protected:
  std::string File() const { return dir_.Sub("telvor.con"); }

  // A running server with its connection file loaded.
  std::shared_ptr<ITelvorServer> Started() {
    TelvorObject object;
    EXPECT_EQ(server_class_.CreateInstance(&object), S_OK);
    EXPECT_EQ(server_class_.Run(object), S_OK);
    auto server = QueryTelvorInterface<ITelvorServer>(object);
    EXPECT_EQ(server ? server->LoadConnectionFile(File()) : S_FALSE, S_OK);
    return server;
  }
  std::shared_ptr<ITelvorConnection> Connection() {
    auto server = Started();
    EXPECT_EQ(server->CreateConnection("A"), S_OK);
    TelvorObject object;
    EXPECT_EQ(server->GetConnection("A", &object), S_OK);
    return QueryTelvorInterface<ITelvorConnection>(object);
  }

  HRESULT Call(const tServerCase& c) {
    const std::string call = c.call, arg = c.argument;
    if (call == "create") return Started()->CreateConnection(arg);
    const auto connection = Connection();
    if (call == "classid") return connection->SetDriverClassId(arg);
    if (call == "timeout") return connection->SetTimeout(std::stoi(arg));
    if (call == "comment") return connection->SetComment(arg);
    TelvorObject object;
    EXPECT_EQ(connection->GetProperties(&object), S_OK);
    const auto properties = QueryTelvorInterface<ITelvorProperties>(object);
    for (size_t i = 0; call == "full" && i < kMaxTelvorProperties; ++i)
      EXPECT_EQ(properties->SetNumber("P" + std::to_string(i), 1), S_OK);
    const size_t eq = arg.rfind('=');
    const std::string name = arg.substr(0, eq), value = arg.substr(eq + 1);
    return call == "text" ? properties->SetText(name, value)
                          : properties->SetNumber(name, std::stoi(value));
  }

  ScopedTempDir dir_;
  FileTelvorServerClass server_class_{[this] { return dir_.path().string() + "/"; }};
};

TEST_P(ServerCaseTest, KeepsOrRefuses) {
  const tServerCase& c = GetParam();
  EXPECT_EQ(Call(c), c.expected);
  EXPECT_EQ(c.key.empty() ? "" : IniFile(SystemIniFiles(), File()).GetString("A", c.key), c.value);
}

KESTRIN_CASES(ServerCaseTest, ::testing::ValuesIn(kServerCases));

}  // namespace
}  // namespace kestrin::testing
