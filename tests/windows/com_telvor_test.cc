// The Telvor server class over real COM. The stand-in Telvor (data/telvor.c,
// the one the Wine stage installs with) is registered in this process: it
// writes one line per call into its connection file, each line named by the
// slot that was called, so the test checks the slots the client calls and
// the texts it passes independently of the client's own declarations.
#include <gtest/gtest.h>

#include <string>

#include "connections/com_telvor.h"
#include "support/temp_dir.h"

#include <windows.h>
#include <ole2.h>

namespace kestrin {
namespace {

constexpr GUID kServerClass = {0x4F2A9C31, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};

TEST(ComTelvorTest, CallsEachSlotWithItsTexts) {
  ComTelvorServerClass server_class;  // enters the apartment
  TelvorObject object;
  EXPECT_EQ(server_class.CreateInstance(&object), kestrin::HRESULT{REGDB_E_CLASSNOTREG});
  EXPECT_EQ(object, nullptr);

  HMODULE library = LoadLibraryA(KESTRIN_TEST_DLL_DIR "/telvor.dll");
  ASSERT_NE(library, nullptr);
  using GetClassObject = ::HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  IUnknown* factory = nullptr;
  ASSERT_EQ(get(kServerClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kServerClass, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);

  ASSERT_EQ(server_class.CreateInstance(&object), S_OK);
  ASSERT_EQ(server_class.Run(object), S_OK);
  auto server = QueryTelvorInterface<ITelvorServer>(object);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(QueryTelvorInterface<ITelvorConnection>(object), nullptr);
  object.reset();
  EXPECT_EQ(server->LoadConnectionFile(""), E_INVALIDARG);  // the server's failure comes through
  testing::ScopedTempDir tmp;
  EXPECT_EQ(server->LoadConnectionFile(tmp.Sub("telvor.con")), S_OK);
  EXPECT_EQ(server->CreateConnection("PLC \xE4"), S_OK);  // ANSI text, code page 1252
  ASSERT_EQ(server->GetConnection("PLC \xE4", &object), S_OK);
  auto connection = QueryTelvorInterface<ITelvorConnection>(object);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->SetDriverName("FX200"), S_OK);
  EXPECT_EQ(connection->SetDriverClassId("{C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}"), S_OK);
  EXPECT_EQ(connection->SetTimeout(-5), S_OK);
  EXPECT_EQ(connection->SetOption16(50), S_OK);
  EXPECT_EQ(connection->SetComment("line 1"), S_OK);
  EXPECT_EQ(connection->SetOption22(""), S_OK);
  ASSERT_EQ(connection->GetProperties(&object), S_OK);
  auto properties = QueryTelvorInterface<ITelvorProperties>(object);
  ASSERT_NE(properties, nullptr);
  EXPECT_EQ(properties->SetNumber("IpAddress", -1062731766), S_OK);
  EXPECT_EQ(properties->SetText("ComputerName", "plc-01"), S_OK);
  EXPECT_EQ(connection->Complete(), S_OK);
  EXPECT_EQ(testing::ReadFileOrDie(tmp.Sub("telvor.con")),
            "[PLC \xE4]\r\nDriverName=FX200\r\n"
            "DriverClassId={C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}\r\n"
            "Timeout=-5\r\nOption16=50\r\nComment=line 1\r\nOption22=\r\n"
            "Property.IpAddress=-1062731766\r\nProperty.ComputerName=plc-01\r\nComplete=1\r\n");

  object.reset(), properties.reset(), connection.reset(), server.reset();
  CoRevokeClassObject(cookie);
  factory->Release();
}

}  // namespace
}  // namespace kestrin
