// The file-backed Telvor called directly: what it keeps and what it refuses.
#include "connections/file_server.h"

#include "host/ini_file.h"
#include "steps/step_fixture.h"

namespace kestrin::testing {
namespace {

class FileServerTest : public StepTest {
 public:
  std::string File() const { return sandbox_.data_dir + "/telvor.con"; }

  // A running server, its connection file loaded unless `load` is false.
  std::shared_ptr<ITelvorServer> Started(bool load = true) {
    TelvorObject object;
    EXPECT_EQ(server_class_.CreateInstance(&object), S_OK);
    EXPECT_EQ(server_class_.Run(object), S_OK);
    auto server = QueryTelvorInterface<ITelvorServer>(object);
    EXPECT_TRUE(server);
    EXPECT_EQ(server && load ? server->LoadConnectionFile(File()) : S_OK, S_OK);
    return server;
  }
  std::shared_ptr<ITelvorConnection> Connection() {
    auto server = Started();
    EXPECT_EQ(server->CreateConnection("A"), S_OK);
    TelvorObject object;
    EXPECT_EQ(server->GetConnection("A", &object), S_OK);
    return QueryTelvorInterface<ITelvorConnection>(object);
  }
  std::shared_ptr<ITelvorProperties> Properties() {
    TelvorObject object;
    EXPECT_EQ(Connection()->GetProperties(&object), S_OK);
    return QueryTelvorInterface<ITelvorProperties>(object);
  }
  std::string Value(const std::string& key) const { return IniFile(File()).GetString("A", key); }

  FileTelvorServerClass server_class_;
};

// One call on the server or its connection "A": "create", "get", "load"
// ("-unloaded": before the file is loaded); "classid", "timeout", "driver",
// "comment"; "number" and "text" set the property "name=value",
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
const std::string k1023(1023, 't');

// clang-format off
const tServerCase kServerCases[] = {
    {"CreateBeforeLoad", "create-unloaded", "A", E_UNEXPECTED},
    {"LoadInMissingFolder", "load-unloaded", ".d/telvor.con", E_NOTFOUND},
    {"LoadFolderAsFile", "load-unloaded", "", E_ACCESSDENIED},
    {"CreateNew", "create", "A", S_OK, "Complete", "0"},
    {"NameOfMaximumLength", "create", k255, S_OK},
    {"NameTooLong", "create", k255 + "n", E_INVALIDARG},
    {"NameWithTab", "create", "a\tb", E_INVALIDARG},
    {"NameWithBlankAround", "create", " a", E_INVALIDARG},
    {"NameWithBrackets", "create", "[a]b", S_OK},
    {"GetUnknown", "get", "B", E_NOTFOUND},
    {"ClassIdLowerCase", "classid", "{c7a41e50-1234-56a1-9c3b-7a3e15c0d2b8}", S_OK,
     "DriverClassId", "{c7a41e50-1234-56a1-9c3b-7a3e15c0d2b8}"},
    {"ClassIdWithoutBraces", "classid", "C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8", E_INVALIDARG},
    {"ClassIdNotHex", "classid", "{C7A41E50-0top-zzA1-9C3B-7A3E15C0D2B8}", E_INVALIDARG},
    {"TimeoutZero", "timeout", "0", E_INVALIDARG},
    {"EmptyDriverName", "driver", "", E_INVALIDARG},
    {"CommentTooLong", "comment", k1023 + "t", E_INVALIDARG},
    {"CommentWithLineBreak", "comment", "a\n[B]\nx=y", E_INVALIDARG},
    {"NegativeNumber", "number", "Rack=-5", S_OK, "Property.Rack", "-5"},
    {"PropertyNameWithEquals", "number", "a=b=1", E_INVALIDARG},
    {"PropertyBeyondTheLimit", "full", "New=1", E_INVALIDARG},
    {"PropertyAgainWhenFull", "full", "P0=7", S_OK, "Property.P0", "7"},
    {"PropertyTextWithLineBreak", "text", "ComputerName=a\r\nb", E_INVALIDARG},
};
// clang-format on


class ServerCaseTest : public FileServerTest, public ::testing::WithParamInterface<tServerCase> {
 protected:
  HRESULT Call(const tServerCase& c) {
    const std::string call = c.call, arg = c.argument;
    TelvorObject object;
    if (call == "create-unloaded") return Started(false)->CreateConnection(arg);
    if (call == "load-unloaded") {
      if (arg.empty()) fs::create_directories(File());
      return Started(false)->LoadConnectionFile(File() + arg);
    }
    if (call == "create") return Started()->CreateConnection(arg);
    if (call == "get") return Started()->GetConnection(arg, &object);
    if (call == "number" || call == "text" || call == "full") {
      const size_t eq = arg.rfind('=');
      const auto properties = Properties();
      for (size_t i = 0; call == "full" && i < kMaxTelvorProperties; ++i) {
        EXPECT_EQ(properties->SetNumber("P" + std::to_string(i), 1), S_OK);
      }
      const std::string name = arg.substr(0, eq), value = arg.substr(eq + 1);
      return call == "text" ? properties->SetText(name, value)
                            : properties->SetNumber(name, std::stoi(value));
    }
    const auto connection = Connection();
    if (call == "classid") return connection->SetDriverClassId(arg);
    if (call == "timeout") return connection->SetTimeout(std::stoi(arg));
    if (call == "driver") return connection->SetDriverName(arg);
    return connection->SetComment(arg);
  }
};

TEST_P(ServerCaseTest, KeepsOrRefuses) {
  const tServerCase& c = GetParam();
  EXPECT_EQ(Call(c), c.expected);
  EXPECT_EQ(c.key.empty() ? "" : Value(c.key), c.value);
}

KESTRIN_CASES(ServerCaseTest, ::testing::ValuesIn(kServerCases));

}  // namespace
}  // namespace kestrin::testing
