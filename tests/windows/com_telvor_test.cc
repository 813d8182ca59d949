// The Telvor server class over real COM. A server class registered in this
// process (CoRegisterClassObject) stands for the Telvor: its objects are
// plain method tables built slot by slot, so the test checks the slots the
// client calls and the texts it passes, independently of the client's own
// declarations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connections/win32/com_telvor.h"

#include <windows.h>
#include <ole2.h>

namespace kestrin {
namespace {

constexpr GUID kServerClass = {0x4F2A9C31, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
constexpr GUID kServerIid = {0x4F2A9C30, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
constexpr GUID kConnectionIid = {0x61D8E0A7, 0x7F15, 0x11D4, {0x9C, 0x35, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
constexpr GUID kPropertiesIid = {0x93B4C5E2, 0x7D40, 0x11D4, {0x9C, 0x31, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};

std::vector<std::string> g_calls;
::HRESULT g_answer_12 = S_OK;  // what server slot 12 answers

std::string Narrow(BSTR text) {
  if (text == nullptr) return "<null>";
  const int length = WideCharToMultiByte(CP_ACP, 0, text, SysStringLen(text), nullptr, 0, nullptr, nullptr);
  std::string narrow(length, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, SysStringLen(text), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

// One object of the fake server: a method table of 27 slots, an interface
// id it answers to, and a reference count.
struct FakeObject {
  void** table;
  const GUID* iid;
  const char* name;
  LONG references;
};

FakeObject* Make(const GUID* iid, const char* name);

::HRESULT __stdcall QueryInterfaceSlot(FakeObject* self, REFIID iid, void** out) {
  *out = nullptr;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, *self->iid)) {
    *out = self;
    ++self->references;
    return S_OK;
  }
  return E_NOINTERFACE;
}
ULONG __stdcall AddRefSlot(FakeObject* self) { return ++self->references; }
ULONG __stdcall ReleaseSlot(FakeObject* self) {
  const LONG left = --self->references;
  if (left == 0) {
    g_calls.push_back(std::string("release ") + self->name);
    delete self;
  }
  return left;
}
::HRESULT __stdcall Unexpected(FakeObject* self) {
  g_calls.push_back(std::string(self->name) + " unexpected slot");
  return E_FAIL;
}

// Each slot records "<object>.<slot> <arguments>" and answers S_OK (server
// slot 12: g_answer_12).
::HRESULT Record(FakeObject* self, int slot, const std::string& arguments, bool blank = true) {
  g_calls.push_back(std::string(self->name) + "." + std::to_string(slot) + (blank ? " " : "") + arguments);
  return slot == 12 ? g_answer_12 : S_OK;
}
template <int kSlot>
::HRESULT __stdcall TextSlot(FakeObject* self, BSTR text) { return Record(self, kSlot, Narrow(text)); }
template <int kSlot>
::HRESULT __stdcall NumberSlot(FakeObject* self, LONG value) { return Record(self, kSlot, std::to_string(value)); }
::HRESULT __stdcall CompleteSlot(FakeObject* self) { return Record(self, 24, "", false); }
::HRESULT __stdcall GetConnectionSlot(FakeObject* self, BSTR name, IUnknown** out) {
  *out = reinterpret_cast<IUnknown*>(Make(&kConnectionIid, "connection"));
  return Record(self, 13, Narrow(name));
}
::HRESULT __stdcall GetPropertiesSlot(FakeObject* self, IUnknown** out) {
  *out = reinterpret_cast<IUnknown*>(Make(&kPropertiesIid, "properties"));
  return Record(self, 7, "", false);
}
::HRESULT __stdcall SetNumberSlot(FakeObject* self, BSTR name, LONG value) {
  return Record(self, 7, Narrow(name) + "=" + std::to_string(value));
}
::HRESULT __stdcall SetTextSlot(FakeObject* self, BSTR name, BSTR value) {
  return Record(self, 9, Narrow(name) + "=" + Narrow(value));
}

template <typename F>
void* Slot(F function) {
  return reinterpret_cast<void*>(function);
}

// The method tables: every slot not set here records an unexpected call.
void** Table(const GUID* iid) {
  static void* server[27];
  static void* connection[27];
  static void* properties[27];
  const bool is_server = IsEqualGUID(*iid, kServerIid), is_connection = IsEqualGUID(*iid, kConnectionIid);
  void** table = is_server ? server : is_connection ? connection : properties;
  if (table[0] != nullptr) return table;
  for (int i = 3; i < 27; ++i) table[i] = Slot(Unexpected);
  table[0] = Slot(QueryInterfaceSlot), table[1] = Slot(AddRefSlot), table[2] = Slot(ReleaseSlot);
  if (is_server) {
    table[11] = Slot(TextSlot<11>), table[12] = Slot(TextSlot<12>), table[13] = Slot(GetConnectionSlot);
  } else if (is_connection) {
    table[7] = Slot(GetPropertiesSlot), table[9] = Slot(TextSlot<9>), table[14] = Slot(TextSlot<14>);
    table[16] = Slot(NumberSlot<16>), table[18] = Slot(NumberSlot<18>), table[22] = Slot(TextSlot<22>);
    table[24] = Slot(CompleteSlot), table[26] = Slot(TextSlot<26>);
  } else {
    table[7] = Slot(SetNumberSlot), table[9] = Slot(SetTextSlot);
  }
  return table;
}

FakeObject* Make(const GUID* iid, const char* name) { return new FakeObject{Table(iid), iid, name, 1}; }

class FakeFactory : public IClassFactory {
 public:
  ::HRESULT __stdcall QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
      *out = this;
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG __stdcall AddRef() override { return 2; }
  ULONG __stdcall Release() override { return 1; }
  ::HRESULT __stdcall CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    g_calls.push_back("create");
    FakeObject* object = Make(&kServerIid, "server");
    const ::HRESULT result = QueryInterfaceSlot(object, iid, out);
    ReleaseSlot(object);
    return result;
  }
  ::HRESULT __stdcall LockServer(BOOL) override { return S_OK; }
};

class ComTelvorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    g_calls.clear();
    g_answer_12 = S_OK;
  }
  void TearDown() override {
    if (cookie_ != 0) CoRevokeClassObject(cookie_);
    CoUninitialize();
  }
  void Register() {
    ASSERT_EQ(CoRegisterClassObject(kServerClass, &factory_, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
  }
  FakeFactory factory_;
  DWORD cookie_ = 0;
};

TEST_F(ComTelvorTest, UnregisteredServerClassCannotBeCreated) {
  ComTelvorServerClass server_class;
  TelvorObject object;
  EXPECT_EQ(server_class.CreateInstance(&object), static_cast<kestrin::HRESULT>(REGDB_E_CLASSNOTREG));
  EXPECT_EQ(object, nullptr);

}

TEST_F(ComTelvorTest, CallsEachSlotWithItsTexts) {
  Register();
  ComTelvorServerClass server_class;
  TelvorObject object;
  ASSERT_EQ(server_class.CreateInstance(&object), S_OK);
  ASSERT_EQ(server_class.Run(object), S_OK);
  auto server = QueryTelvorInterface<ITelvorServer>(object);
  ASSERT_NE(server, nullptr);
  // The plain object does not offer the other interfaces.
  EXPECT_EQ(QueryTelvorInterface<ITelvorConnection>(object), nullptr);
  object.reset();

  EXPECT_EQ(server->LoadConnectionFile("C:\\Data\\telvor.con"), S_OK);
  g_answer_12 = S_FALSE;
  EXPECT_EQ(server->CreateConnection("PLC \xE4"), S_FALSE);  // ANSI text, code page 1252
  TelvorObject plain;
  ASSERT_EQ(server->GetConnection("PLC1", &plain), S_OK);
  auto connection = QueryTelvorInterface<ITelvorConnection>(plain);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(QueryTelvorInterface<ITelvorProperties>(plain), nullptr);
  plain.reset();

  EXPECT_EQ(connection->SetDriverName("FX200"), S_OK);
  EXPECT_EQ(connection->SetDriverClassId("{C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}"), S_OK);
  EXPECT_EQ(connection->SetTimeout(-5), S_OK);
  EXPECT_EQ(connection->SetOption16(50), S_OK);
  EXPECT_EQ(connection->SetComment(""), S_OK);
  EXPECT_EQ(connection->SetOption22(""), S_OK);
  ASSERT_EQ(connection->GetProperties(&plain), S_OK);
  auto properties = QueryTelvorInterface<ITelvorProperties>(plain);
  ASSERT_NE(properties, nullptr);
  plain.reset();
  EXPECT_EQ(properties->SetNumber("IpAddress", -1062731766), S_OK);
  EXPECT_EQ(properties->SetText("ComputerName", "plc-01"), S_OK);
  EXPECT_EQ(connection->Complete(), S_OK);
  properties.reset();
  connection.reset();
  server.reset();

  const std::vector<std::string> expected = {
      "create", "server.11 C:\\Data\\telvor.con", "server.12 PLC \xE4", "server.13 PLC1",
      "connection.26 FX200", "connection.14 {C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}",
      "connection.18 -5", "connection.16 50", "connection.9 ", "connection.22 ", "connection.7",
      "properties.7 IpAddress=-1062731766", "properties.9 ComputerName=plc-01", "connection.24",
      "release properties", "release connection", "release server"};
  EXPECT_EQ(g_calls, expected);
}

}  // namespace
}  // namespace kestrin
