#include "connections/telvor_client.h"

#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "host/number_text.h"
#include "host/path_resolve.h"
#include "host/text_format.h"

namespace kestrin {
namespace {

constexpr int kTraceLevel = 5;

constexpr char kClassIdHead[] = "{C7A41E50-";
constexpr char kClassIdTail[] = "A1-9C3B-7A3E15C0D2B8}";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The non-empty parts of text between `separator`s.
std::vector<std::string> Tokens(std::string_view text, char separator) {
  std::vector<std::string> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) tokens.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return tokens;
}

std::string PadLeft(std::string text, size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

}  // namespace

TelvorClient::TelvorClient(ITelvorServerClass& server_class, std::string connection_dir,
                           LogWriter log_writer)
    : server_class_(server_class),
      connection_dir_(std::move(connection_dir)),
      log_writer_(std::move(log_writer)) {}

TelvorClient::~TelvorClient() {
  properties_.reset();
  server_.reset();
  connection_.reset();
}

void TelvorClient::Trace(const std::string& text, int level) {
  if (level <= 1 && log_writer_) log_writer_(text);
}

bool TelvorClient::Connect() {
  if (server_) return true;
  if (connection_dir_.empty()) {
    Trace("Can not get the Korvane COM Interface.", kTraceLevel);
    return false;
  }
  const std::string path = connection_dir_ + kConnectionFileName;

  TelvorObject object;
  HRESULT outcome = server_class_.CreateInstance(&object);
  if (Succeeded(outcome)) {
    outcome = server_class_.Run(object);
    if (Succeeded(outcome)) {
      server_ = QueryTelvorInterface<ITelvorServer>(object);
      outcome = server_ ? S_OK : E_NOINTERFACE;
    }
  }
  object.reset();
  if (outcome != S_OK) {
    server_.reset();
    Trace("Can not get the Korvane COM Interface.", kTraceLevel);
    return false;
  }

  const HRESULT loaded = server_->LoadConnectionFile(path);
  if (loaded == S_OK) return true;
  server_.reset();
  Trace(Failed(loaded) ? "Can not get the Korvane COM Interface." : "Can not initialize Telvor.",
        kTraceLevel);
  return false;
}

bool TelvorClient::ConnectionFailed(const std::string& name) {
  Trace("No connection to the Telvor.", kTraceLevel);
  Trace("Connection '" + name + "' can not be added.", kTraceLevel);
  return false;
}

bool TelvorClient::AddConnection(const std::string& name, const std::string& driver_name,
                                 const std::string& driver_id, const std::string& timeout,
                                 const std::string& comment, const TelvorValues& values) {
  if (name.empty() || driver_name.empty() || driver_id.empty() || timeout.empty()) return false;
  if (!Connect()) return ConnectionFailed(name);

  bool result = true;
  const HRESULT created = server_->CreateConnection(name);
  if (Failed(created)) return ConnectionFailed(name);
  if (created != S_OK) {
    Trace("Can not create the connection '" + name + "' at the Telvor.", kTraceLevel);
    result = false;
  }

  TelvorObject object;
  if (Failed(server_->GetConnection(name, &object))) return ConnectionFailed(name);
  connection_ = QueryTelvorInterface<ITelvorConnection>(object);
  object.reset();
  if (!connection_) {
    Trace("Can not get the interface of the connection '" + name + "' at the Telvor.",
          kTraceLevel);
    return false;
  }

  const std::string normalised = NormaliseDriverId(driver_id);
  if (normalised.empty()) return false;  // the connection stays, unconfigured
  const std::string class_id = kClassIdHead + normalised + kClassIdTail;
  std::int32_t milliseconds = ReadDecimal(timeout);
  if (milliseconds == 0) milliseconds = kDefaultTimeout;
  const std::string text =
      comment.empty() ? StringPrintf(kDefaultConnectionComment, name.c_str()) : comment;

  if (Failed(connection_->SetDriverName(driver_name)) ||
      Failed(connection_->SetDriverClassId(class_id)) ||
      Failed(connection_->SetTimeout(milliseconds)) ||
      Failed(connection_->SetOption16(kOption16Value)) ||
      Failed(connection_->SetComment(text)) || Failed(connection_->SetOption22(std::string()))) {
    return ConnectionFailed(name);
  }
  if (Failed(connection_->GetProperties(&object))) return ConnectionFailed(name);
  properties_ = QueryTelvorInterface<ITelvorProperties>(object);
  object.reset();

  if (!values.empty() && !properties_) return ConnectionFailed(name);
  for (const auto& [key, value] : values) {
    HRESULT sent;
    if (EqualsIgnoreCase(key, "Padt_SimulationUsed") || EqualsIgnoreCase(key, "ComputerName")) {
      sent = properties_->SetText(key, value);
    } else if (EqualsIgnoreCase(key, "IpAddress")) {
      sent = properties_->SetNumber(key, static_cast<std::int32_t>(ParseIpAddress(value)));
    } else {
      sent = properties_->SetNumber(key, ReadDecimal(value));
    }
    if (Failed(sent)) return ConnectionFailed(name);
  }
  if (Failed(connection_->Complete())) return ConnectionFailed(name);
  return result;
}

std::uint32_t ParseIpAddress(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  const std::vector<std::string> fields = Tokens(std::string_view(text).substr(begin, end - begin), '.');
  if (fields.size() > 4) return 0;
  std::uint32_t address = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].size() > 3) continue;  // no byte of its own; the others keep their places
    const double number = std::atof(fields[i].c_str());
    if (std::isnan(number) || number < 0 || number >= 256) return 0;
    address |= static_cast<std::uint32_t>(number) << (8 * (3 - i));
  }
  return address;
}

std::string NormaliseDriverId(const std::string& driver_id) {
  if (driver_id.find('-') == 4) return driver_id;
  const std::vector<std::string> parts = Tokens(driver_id, '-');
  const std::string first = parts.size() > 0 ? parts[0] : std::string();
  const std::string second = parts.size() > 1 ? parts[1] : std::string();
  if (first.size() < second.size()) return PadLeft(second, 4) + "-" + PadLeft(first, 2);
  if (first.size() > second.size()) return PadLeft(first, 4) + "-" + PadLeft(second, 2);
  return std::string();
}

}  // namespace kestrin
