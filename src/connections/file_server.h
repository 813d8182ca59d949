// The Telvor as a file: a server that keeps its connections in the
// connection file "telvor.con", an INI file with one section per connection:
//
//   [MyPLC]
//   Complete=1                   0 from creation until the connection is completed
//   DriverName=FX200 Ethernet
//   DriverClassId={C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}
//   Timeout=3000
//   Option16=50
//   Comment=...
//   Option22=
//   Property.IpAddress=192.168.0.10  the number sent for IpAddress, as an address
//   Property.ComputerName=plc-01
//
// Every change is one locked, atomic rewrite of the file through the INI
// engine, so the file is whole after any crash and two installers never lose
// each other's connections. Names compare ignoring case, as INI sections do.
//
// Like a real server it objects to what it cannot keep: creating a
// connection that exists answers S_FALSE (the existing one is then
// reconfigured); a name that is empty, longer than kMaxTelvorName, holds a
// control character or surrounding blanks, a property name holding "=", a
// text longer than kMaxTelvorText or holding a control character, a new
// property beyond kMaxTelvorProperties of its connection, a class
// identifier that is not a brace-enclosed GUID and a timeout below 1 are
// refused with E_INVALIDARG; a file that cannot be read or written gives
// E_ACCESSDENIED or E_FAIL.
#ifndef KESTRIN_CONNECTIONS_FILE_SERVER_H_
#define KESTRIN_CONNECTIONS_FILE_SERVER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/telvor.h"

namespace kestrin {

inline constexpr size_t kMaxTelvorName = 255;
inline constexpr size_t kMaxTelvorText = 1023;
inline constexpr size_t kMaxTelvorProperties = 64;  // per connection

// How the file holds a connection's setting: the key (its own settings
// under their names, properties as "Property.NAME") and, for a number, the
// text (an IpAddress as a dotted address).
std::string ConnectionFileKey(std::string_view setting, bool property);
std::string ConnectionFileNumber(std::string_view property, std::int32_t value);

// The server class of the file-backed Telvor. It counts as installed when
// the connection-file folder (asked of `connection_dir` at each creation)
// exists; otherwise CreateInstance answers REGDB_E_CLASSNOTREG.
class FileTelvorServerClass : public ITelvorServerClass {
 public:
  explicit FileTelvorServerClass(std::function<std::string()> connection_dir);
  HRESULT CreateInstance(TelvorObject* object) override;
  HRESULT Run(const TelvorObject& object) override;

 private:
  std::function<std::string()> connection_dir_;
};

}  // namespace kestrin

#endif  // KESTRIN_CONNECTIONS_FILE_SERVER_H_
