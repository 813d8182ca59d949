// TelvorClient puts one named connection into the Telvor: it starts a server
// object, has it load the connection file, creates the connection and sends
// its driver, timeout, comment and properties.
//
// One client serves one connection; the connection installation makes a
// fresh client, and so a fresh server object, for each connection.
#ifndef KESTRIN_CONNECTIONS_TELVOR_CLIENT_H_
#define KESTRIN_CONNECTIONS_TELVOR_CLIENT_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/telvor.h"

namespace kestrin {

// Text of the comment a connection gets when its description has none.
inline constexpr char kDefaultConnectionComment[] = "This Connection is created automaticly for %s.";
// Slot 16 of a connection always receives this.
inline constexpr std::int32_t kOption16Value = 50;
// Timeout for a timeout text that reads as 0.
inline constexpr std::int32_t kDefaultTimeout = 5000;

// The connection file's name in the connection-file folder.
inline constexpr char kConnectionFileName[] = "telvor.con";

// Properties by name, in the map's order (case-sensitive).
using TelvorValues = std::map<std::string, std::string>;

class TelvorClient {
 public:
  // Diagnostic lines of level 1 or lower go to `log_writer` (when set);
  // higher levels go nowhere. Every diagnostic of this client has level 5.
  using LogWriter = std::function<void(const std::string& text)>;

  // `connection_dir` is the folder of the connection file, ending with a
  // separator (ConnectionFileDir of host/product_env.h); empty when unknown.
  TelvorClient(ITelvorServerClass& server_class, std::string connection_dir,
               LogWriter log_writer = {});
  // Releases the property set, the server and the connection, in that order.
  ~TelvorClient();
  TelvorClient(const TelvorClient&) = delete;
  TelvorClient& operator=(const TelvorClient&) = delete;

  // Starts the server and has it load "telvor.con" from the connection-file
  // folder. True when the server is ready; a second call on a connected
  // client does nothing and is true.
  bool Connect();

  // Creates connection `name` and configures it: calls, in this order,
  // server 12 (create) and 13 (fetch), connection 26 (driver name),
  // 14 (class id from the normalised driver id), 18 (timeout: atol of the
  // text, 5000 for 0), 16 (50), 9 (comment, or the default text), 22 (""),
  // 7 (property set), then one property call per entry of `values`
  // ("IpAddress" as a number from ParseIpAddress, "ComputerName" and
  // "Padt_SimulationUsed" as texts, others as atoi numbers; names compared
  // ignoring case) and connection 24. True when every call succeeded and the
  // server did not object to the creation. Empty name, driver name, driver
  // id or timeout: false before the server is contacted. A failure code
  // stops at once; what was already sent stays with the server.
  bool AddConnection(const std::string& name, const std::string& driver_name,
                     const std::string& driver_id, const std::string& timeout,
                     const std::string& comment, const TelvorValues& values);

 private:
  void Trace(const std::string& text, int level);
  // Reports a failure code during AddConnection; always false.
  bool ConnectionFailed(const std::string& name);

  ITelvorServerClass& server_class_;
  std::string connection_dir_;
  LogWriter log_writer_;
  std::shared_ptr<ITelvorConnection> connection_;
  std::shared_ptr<ITelvorServer> server_;
  std::shared_ptr<ITelvorProperties> properties_;
};

// A dotted IPv4 address as a number, first field most significant. Blanks
// around the text are ignored and empty fields skipped; a field of one to
// three characters is read as atof reads it, cut to an integer, and must lie
// in 0..255; a longer field leaves its byte 0. 0 for any other text: a field
// out of range or more than four fields.
std::uint32_t ParseIpAddress(const std::string& text);

// The driver id in the form xxxx-yy: an id whose first "-" stands at index 4
// as it is; otherwise the two parts around "-" (empty parts skipped), the
// longer first, padded with leading zeros to at least four and two
// characters. Empty when both parts are equally long.
std::string NormaliseDriverId(const std::string& driver_id);

}  // namespace kestrin

#endif  // KESTRIN_CONNECTIONS_TELVOR_CLIENT_H_
