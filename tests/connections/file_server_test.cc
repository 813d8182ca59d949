// The file-backed Telvor called directly: what it keeps and what it refuses.
#include "connections/file_server.h"

#include <functional>

#include "host/ini_file.h"
#include "steps/step_fixture.h"

namespace kestrin::testing {
namespace {

// The table's calls use the helpers, so they are public.
class FileServerTest : public StepTest {
 public:
  std::string File() const { return sandbox_.data_dir + "/telvor.con"; }

  // A started server that has not loaded its file yet.
  std::shared_ptr<ITelvorServer> Started() {
    TelvorObject object;
    EXPECT_EQ(server_class_.CreateInstance(&object), S_OK);
    EXPECT_EQ(server_class_.Run(object), S_OK);
    auto server = QueryTelvorInterface<ITelvorServer>(object);
    EXPECT_TRUE(server);
    return server;
  }
  std::shared_ptr<ITelvorServer> Loaded() {
    auto server = Started();
    EXPECT_EQ(server->LoadConnectionFile(File()), S_OK);
    return server;
  }
  // Connection "A", created on a loaded server.
  std::shared_ptr<ITelvorConnection> Connection() {
    auto server = Loaded();
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

struct tServerCase {
  const char* name;
  std::function<HRESULT(FileServerTest&)> call;
  HRESULT expected;
  std::string key = "";  // of connection A afterwards, when set
  std::string value = "";
};

const std::string k255(255, 'n');
const std::string k1023(1023, 't');

const tServerCase kServerCases[] = {
    {"CreateBeforeLoad", [](FileServerTest& t) { return t.Started()->CreateConnection("A"); },
     E_UNEXPECTED},
    {"GetBeforeLoad",
     [](FileServerTest& t) {
       TelvorObject o;
       return t.Started()->GetConnection("A", &o);
     },
     E_UNEXPECTED},
    {"LoadInMissingFolder",
     [](FileServerTest& t) { return t.Started()->LoadConnectionFile(t.File() + ".d/telvor.con"); },
     E_NOTFOUND},
    {"LoadFolderAsFile",
     [](FileServerTest& t) {
       fs::create_directories(t.File());
       return t.Started()->LoadConnectionFile(t.File());
     },
     E_ACCESSDENIED},
    {"CreateNew", [](FileServerTest& t) { return t.Loaded()->CreateConnection("A"); }, S_OK,
     "Complete", "0"},
    {"CreateAgainIgnoringCase",
     [](FileServerTest& t) {
       t.Connection();
       return t.Loaded()->CreateConnection("a");
     },
     S_FALSE},
    {"NameOfMaximumLength", [](FileServerTest& t) { return t.Loaded()->CreateConnection(k255); },
     S_OK},
    {"NameTooLong", [](FileServerTest& t) { return t.Loaded()->CreateConnection(k255 + "n"); },
     E_INVALIDARG},
    {"NameWithTab", [](FileServerTest& t) { return t.Loaded()->CreateConnection("a\tb"); },
     E_INVALIDARG},
    {"NameWithDelete", [](FileServerTest& t) { return t.Loaded()->CreateConnection("a\x7f"); },
     E_INVALIDARG},
    {"NameWithBlankAround", [](FileServerTest& t) { return t.Loaded()->CreateConnection(" a"); },
     E_INVALIDARG},
    {"NameWithBrackets", [](FileServerTest& t) { return t.Loaded()->CreateConnection("[a]b"); },
     S_OK},
    {"GetUnknown",
     [](FileServerTest& t) {
       TelvorObject o;
       return t.Loaded()->GetConnection("B", &o);
     },
     E_NOTFOUND},
    {"ClassIdLowerCase",
     [](FileServerTest& t) {
       return t.Connection()->SetDriverClassId("{c7a41e50-1234-56a1-9c3b-7a3e15c0d2b8}");
     },
     S_OK, "DriverClassId", "{c7a41e50-1234-56a1-9c3b-7a3e15c0d2b8}"},
    {"ClassIdWithoutBraces",
     [](FileServerTest& t) {
       return t.Connection()->SetDriverClassId("C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8");
     },
     E_INVALIDARG},
    {"TimeoutZero", [](FileServerTest& t) { return t.Connection()->SetTimeout(0); },
     E_INVALIDARG},
    {"TimeoutOne", [](FileServerTest& t) { return t.Connection()->SetTimeout(1); }, S_OK,
     "Timeout", "1"},
    {"EmptyDriverName", [](FileServerTest& t) { return t.Connection()->SetDriverName(""); },
     E_INVALIDARG},
    {"CommentOfMaximumLength", [](FileServerTest& t) { return t.Connection()->SetComment(k1023); },
     S_OK, "Comment", k1023},
    {"CommentTooLong", [](FileServerTest& t) { return t.Connection()->SetComment(k1023 + "t"); },
     E_INVALIDARG},
    {"CommentWithLineBreak",
     [](FileServerTest& t) { return t.Connection()->SetComment("a\n[B]\nx=y"); }, E_INVALIDARG},
    {"Option16", [](FileServerTest& t) { return t.Connection()->SetOption16(50); }, S_OK,
     "Option16", "50"},
    {"AddressDotted",
     [](FileServerTest& t) {
       return t.Properties()->SetNumber("ipADDRESS", static_cast<int32_t>(0xC0A8000Au));
     },
     S_OK, "Property.ipADDRESS", "192.168.0.10"},
    {"NegativeNumber", [](FileServerTest& t) { return t.Properties()->SetNumber("Rack", -5); },
     S_OK, "Property.Rack", "-5"},
    {"PropertyNameWithEquals",
     [](FileServerTest& t) { return t.Properties()->SetNumber("a=b", 1); }, E_INVALIDARG},
    {"PropertyTextWithLineBreak",
     [](FileServerTest& t) { return t.Properties()->SetText("ComputerName", "a\r\nb"); },
     E_INVALIDARG},
};

void PrintTo(const tServerCase& c, std::ostream* os) { *os << c.name; }

class ServerCaseTest : public FileServerTest, public ::testing::WithParamInterface<tServerCase> {};

TEST_P(ServerCaseTest, KeepsOrRefuses) {
  const tServerCase& c = GetParam();
  EXPECT_EQ(c.call(*this), c.expected);
  if (!c.key.empty()) {
    EXPECT_EQ(Value(c.key), c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerCaseTest, ::testing::ValuesIn(kServerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Without the connection-file folder the server class is not installed.
TEST_F(FileServerTest, NotInstalledWithoutConnectionFolder) {
  fs::remove_all(sandbox_.data_dir);
  TelvorObject object;
  EXPECT_EQ(server_class_.CreateInstance(&object), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(object);
  ScopedEnv store("KESTRIN_REGISTRY", dir_.Sub("no-store.reg"));
  EXPECT_EQ(server_class_.CreateInstance(&object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kestrin::testing
