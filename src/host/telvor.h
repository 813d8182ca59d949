// The Telvor, Korvane's connection server, as Kestrin reaches it: three
// interfaces with the operations Kestrin calls, and the server class that
// creates and starts a server object.
//
// Every operation answers a result code with the COM convention: S_OK, any
// other success code (>= 0, such as S_FALSE) or a failure code (< 0). The
// client (telvor_client.h) tells the three apart. The numbers in the comments
// are the methods' slots in the server's interface tables; the client calls
// them in a fixed order that its header describes.
#ifndef KESTRIN_HOST_TELVOR_H_
#define KESTRIN_HOST_TELVOR_H_

#include <cstdint>
#include <memory>
#include <string>

namespace kestrin {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_NOTFOUND = static_cast<HRESULT>(0x80070490u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

inline bool Succeeded(HRESULT result) { return result >= 0; }
inline bool Failed(HRESULT result) { return result < 0; }

// The interfaces below, named for QueryInterface.
enum class TelvorInterface { kServer, kConnection, kProperties };

class ITelvorUnknown;
using TelvorObject = std::shared_ptr<ITelvorUnknown>;

// Any object the server hands out. Asking it for one of the interfaces
// below (QueryInterface) is a dynamic_pointer_cast of what the object's
// Query answers: an object of this program answers itself, so the interfaces
// it derives from are the ones it offers; an object that stands for one
// outside the program (a COM object) asks that one and answers the object
// that offers the interface, or nothing. Dropping the last reference
// releases the object.
class ITelvorUnknown {
 public:
  virtual ~ITelvorUnknown() = default;
  // `self` is the caller's reference to this object.
  virtual TelvorObject Query(TelvorInterface, const TelvorObject& self) { return self; }
};

// Asks `object` for interface I; empty when it does not offer it.
template <typename I>
std::shared_ptr<I> QueryTelvorInterface(const TelvorObject& object) {
  if (!object) return nullptr;
  return std::dynamic_pointer_cast<I>(object->Query(I::kInterface, object));
}

class ITelvorServer : public virtual ITelvorUnknown {
 public:
  static constexpr TelvorInterface kInterface = TelvorInterface::kServer;
  // 11: loads (and from then on keeps) the connection file at `path`.
  virtual HRESULT LoadConnectionFile(const std::string& path) = 0;
  // 12: creates the connection `name`.
  virtual HRESULT CreateConnection(const std::string& name) = 0;
  // 13: the connection object of `name`.
  virtual HRESULT GetConnection(const std::string& name, TelvorObject* connection) = 0;
};

class ITelvorConnection : public virtual ITelvorUnknown {
 public:
  static constexpr TelvorInterface kInterface = TelvorInterface::kConnection;
  // 7: the connection's property-set object.
  virtual HRESULT GetProperties(TelvorObject* properties) = 0;
  // 9
  virtual HRESULT SetComment(const std::string& comment) = 0;
  // 14: "{C7A41E50-xxxx-yyA1-9C3B-7A3E15C0D2B8}" for driver id xxxx-yy.
  virtual HRESULT SetDriverClassId(const std::string& class_id) = 0;
  // 16: Kestrin always sends 50.
  virtual HRESULT SetOption16(std::int32_t value) = 0;
  // 18: milliseconds.
  virtual HRESULT SetTimeout(std::int32_t milliseconds) = 0;
  // 22: Kestrin always sends the empty text.
  virtual HRESULT SetOption22(const std::string& text) = 0;
  // 24: the connection is complete; called last.
  virtual HRESULT Complete() = 0;
  // 26
  virtual HRESULT SetDriverName(const std::string& driver_name) = 0;
};

class ITelvorProperties : public virtual ITelvorUnknown {
 public:
  static constexpr TelvorInterface kInterface = TelvorInterface::kProperties;
  // 7
  virtual HRESULT SetNumber(const std::string& name, std::int32_t value) = 0;
  // 9
  virtual HRESULT SetText(const std::string& name, const std::string& value) = 0;
};

// What the system provides to reach the server: creating an instance of the
// server class (CoCreateInstance) and putting it into the running state
// (OleRun).
class ITelvorServerClass {
 public:
  virtual ~ITelvorServerClass() = default;
  virtual HRESULT CreateInstance(TelvorObject* object) = 0;
  virtual HRESULT Run(const TelvorObject& object) = 0;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_TELVOR_H_
