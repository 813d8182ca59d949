#include "connections/com_telvor.h"

// telvor.h names the result codes as COM does; the system headers make
// macros of those names, so they come after it.
#include <cstdint>
#include <string>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

namespace kestrin {

// The method tables as the server lays them out. Slots that Kestrin never
// calls hold placeholders so that the called ones stand at their places.
// They are implemented only by the server, outside this program: declared
// outside an unnamed namespace, so that the compiler does not conclude from
// seeing no implementation here that no such object can exist (it then
// drops the calls).
struct IComTelvorServer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Slot3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot9() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot10() = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadConnectionFile(BSTR path) = 0;                // 11
  virtual HRESULT STDMETHODCALLTYPE CreateConnection(BSTR name) = 0;                  // 12
  virtual HRESULT STDMETHODCALLTYPE GetConnection(BSTR name, IUnknown** object) = 0;  // 13
};

struct IComTelvorConnection : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Slot3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot6() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(IUnknown** object) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE Slot8() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComment(BSTR comment) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE Slot10() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot11() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot12() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot13() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDriverClassId(BSTR class_id) = 0;  // 14
  virtual HRESULT STDMETHODCALLTYPE Slot15() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOption16(LONG value) = 0;  // 16
  virtual HRESULT STDMETHODCALLTYPE Slot17() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimeout(LONG milliseconds) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE Slot19() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot20() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot21() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOption22(BSTR text) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE Slot23() = 0;
  virtual HRESULT STDMETHODCALLTYPE Complete() = 0;  // 24
  virtual HRESULT STDMETHODCALLTYPE Slot25() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDriverName(BSTR driver_name) = 0;  // 26
};

struct IComTelvorProperties : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Slot3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot6() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNumber(BSTR name, LONG value) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE Slot8() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetText(BSTR name, BSTR value) = 0;  // 9
};

namespace {

// {4F2A9C31-7B6E-11D4-9C2E-7A3E15C0D2B8}
constexpr GUID kServerClass = {0x4F2A9C31, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
// {4F2A9C30-7B6E-11D4-9C2E-7A3E15C0D2B8}
constexpr GUID kServerInterface = {0x4F2A9C30, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
// {61D8E0A7-7F15-11D4-9C35-7A3E15C0D2B8}
constexpr GUID kConnectionInterface = {0x61D8E0A7, 0x7F15, 0x11D4, {0x9C, 0x35, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
// {93B4C5E2-7D40-11D4-9C31-7A3E15C0D2B8}
constexpr GUID kPropertiesInterface = {0x93B4C5E2, 0x7D40, 0x11D4, {0x9C, 0x31, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};

// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER
constexpr DWORD kClassContext = 0x17;

// A narrow text as a BSTR, converted by the ANSI code page; freed with the
// object.
class Bstr {
 public:
  explicit Bstr(const std::string& text) {
    const int length = text.empty() ? 0
                                    : MultiByteToWideChar(CP_ACP, 0, text.data(),
                                                          static_cast<int>(text.size()), nullptr, 0);
    value_ = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (value_ != nullptr && length > 0) {
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), value_, length);
    }
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }
  bool ok() const { return value_ != nullptr; }

 private:
  BSTR value_;
};

// Calls `method` with a text, or answers E_OUTOFMEMORY when the text cannot
// be made.
template <typename Call>
HRESULT WithText(const std::string& text, Call call) {
  Bstr bstr(text);
  return bstr.ok() ? call(static_cast<BSTR>(bstr)) : E_OUTOFMEMORY;
}

// One COM interface pointer of type T, released with the object. Query
// asks the COM object for another of its interfaces.
template <typename T>
class ComObject : public virtual ITelvorUnknown {
 public:
  explicit ComObject(T* pointer) : pointer_(pointer) {}
  ~ComObject() override {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  TelvorObject Query(TelvorInterface which, const TelvorObject&) override;

  IUnknown* unknown() const { return pointer_; }

 protected:
  T* pointer_;
};

class ComServer : public ComObject<IComTelvorServer>, public ITelvorServer {
 public:
  using ComObject::ComObject;
  kestrin::HRESULT LoadConnectionFile(const std::string& path) override {
    return WithText(path, [this](BSTR b) { return pointer_->LoadConnectionFile(b); });
  }
  kestrin::HRESULT CreateConnection(const std::string& name) override {
    return WithText(name, [this](BSTR b) { return pointer_->CreateConnection(b); });
  }
  kestrin::HRESULT GetConnection(const std::string& name, TelvorObject* connection) override;
};

class ComConnection : public ComObject<IComTelvorConnection>, public ITelvorConnection {
 public:
  using ComObject::ComObject;
  kestrin::HRESULT GetProperties(TelvorObject* properties) override;
  kestrin::HRESULT SetComment(const std::string& comment) override {
    return WithText(comment, [this](BSTR b) { return pointer_->SetComment(b); });
  }
  kestrin::HRESULT SetDriverClassId(const std::string& class_id) override {
    return WithText(class_id, [this](BSTR b) { return pointer_->SetDriverClassId(b); });
  }
  kestrin::HRESULT SetOption16(std::int32_t value) override { return pointer_->SetOption16(value); }
  kestrin::HRESULT SetTimeout(std::int32_t milliseconds) override {
    return pointer_->SetTimeout(milliseconds);
  }
  kestrin::HRESULT SetOption22(const std::string& text) override {
    return WithText(text, [this](BSTR b) { return pointer_->SetOption22(b); });
  }
  kestrin::HRESULT Complete() override { return pointer_->Complete(); }
  kestrin::HRESULT SetDriverName(const std::string& driver_name) override {
    return WithText(driver_name, [this](BSTR b) { return pointer_->SetDriverName(b); });
  }
};

class ComProperties : public ComObject<IComTelvorProperties>, public ITelvorProperties {
 public:
  using ComObject::ComObject;
  kestrin::HRESULT SetNumber(const std::string& name, std::int32_t value) override {
    return WithText(name, [&](BSTR b) { return pointer_->SetNumber(b, value); });
  }
  kestrin::HRESULT SetText(const std::string& name, const std::string& value) override {
    Bstr bname(name), bvalue(value);
    if (!bname.ok() || !bvalue.ok()) return E_OUTOFMEMORY;
    return pointer_->SetText(bname, bvalue);
  }
};

// A COM object handed out by the server, wrapped with nothing but its
// IUnknown until it is asked for an interface.
using ComUnknown = ComObject<IUnknown>;

// Takes over `object` (one reference) as a plain object.
TelvorObject Adopt(IUnknown* object) {
  if (object == nullptr) return nullptr;
  return std::make_shared<ComUnknown>(object);
}

template <typename T>
TelvorObject ComObject<T>::Query(TelvorInterface which, const TelvorObject&) {
  if (pointer_ == nullptr) return nullptr;
  void* found = nullptr;
  switch (which) {
    case TelvorInterface::kServer:
      if (pointer_->QueryInterface(kServerInterface, &found) != S_OK || found == nullptr) break;
      return std::make_shared<ComServer>(static_cast<IComTelvorServer*>(found));
    case TelvorInterface::kConnection:
      if (pointer_->QueryInterface(kConnectionInterface, &found) != S_OK || found == nullptr) break;
      return std::make_shared<ComConnection>(static_cast<IComTelvorConnection*>(found));
    case TelvorInterface::kProperties:
      if (pointer_->QueryInterface(kPropertiesInterface, &found) != S_OK || found == nullptr) break;
      return std::make_shared<ComProperties>(static_cast<IComTelvorProperties*>(found));
  }
  return nullptr;
}

kestrin::HRESULT ComServer::GetConnection(const std::string& name, TelvorObject* connection) {
  IUnknown* object = nullptr;
  const ::HRESULT result =
      WithText(name, [&](BSTR b) { return pointer_->GetConnection(b, &object); });
  *connection = Adopt(object);
  return result;
}

kestrin::HRESULT ComConnection::GetProperties(TelvorObject* properties) {
  IUnknown* object = nullptr;
  const ::HRESULT result = pointer_->GetProperties(&object);
  *properties = Adopt(object);
  return result;
}

}  // namespace

ComTelvorServerClass::ComTelvorServerClass() {
  const ::HRESULT result = CoInitialize(nullptr);
  initialised_ = result == S_OK || result == S_FALSE;
}

ComTelvorServerClass::~ComTelvorServerClass() {
  if (initialised_) CoUninitialize();
}

kestrin::HRESULT ComTelvorServerClass::CreateInstance(TelvorObject* object) {
  IUnknown* unknown = nullptr;
  const ::HRESULT result =
      CoCreateInstance(kServerClass, nullptr, kClassContext, IID_IUnknown,
                       reinterpret_cast<void**>(&unknown));
  if (result < 0) {
    if (unknown != nullptr) unknown->Release();
    object->reset();
    return result;
  }
  *object = Adopt(unknown);
  return *object ? result : E_POINTER;
}

kestrin::HRESULT ComTelvorServerClass::Run(const TelvorObject& object) {
  const auto* com = dynamic_cast<const ComUnknown*>(object.get());
  if (com == nullptr || com->unknown() == nullptr) return E_POINTER;
  return OleRun(com->unknown());
}

}  // namespace kestrin
