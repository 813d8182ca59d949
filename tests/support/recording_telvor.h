// A Telvor double that records every call as "<object>.<slot> <arguments>"
// ("server.11 /x/telvor.con"), "create" and "run" for the server class and
// "release <object>" when an object goes, and answers as the test sets it.
#ifndef KESTRIN_TESTS_SUPPORT_RECORDING_TELVOR_H_
#define KESTRIN_TESTS_SUPPORT_RECORDING_TELVOR_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/telvor.h"

namespace kestrin::testing {

class RecordingTelvor : public ITelvorServerClass {
 public:
  // Answers by the whole recorded call ("properties.7 Rack=2") or else by
  // its head ("server.12", "create"); S_OK when neither is set.
  std::map<std::string, HRESULT> answers;
  std::string withhold;  // "server", "connection" or "properties": offered without its interface
  std::vector<std::string> calls;

  HRESULT CreateInstance(TelvorObject* object) override {
    return Offer<Server>(Record("create", nullptr), withhold != "server", this, object);
  }
  HRESULT Run(const TelvorObject&) override { return Record("run", nullptr); }

 private:
  // With arguments (even an empty text) the call is head, blank, arguments.
  HRESULT Record(const std::string& head, const std::string* arguments) {
    const std::string call = arguments ? head + " " + *arguments : head;
    calls.push_back(call);
    auto it = answers.find(call);
    if (it == answers.end()) it = answers.find(head);
    return it == answers.end() ? S_OK : it->second;
  }

  struct Plain : ITelvorUnknown {};

  // After a successful call, hands out a T, or a Plain object if not `offer`.
  template <typename T>
  static HRESULT Offer(HRESULT answer, bool offer, RecordingTelvor* telvor, TelvorObject* object) {
    if (Succeeded(answer)) {
      *object = offer ? TelvorObject(std::make_shared<T>(telvor)) : std::make_shared<Plain>();
    }
    return answer;
  }

  struct Recorded : virtual ITelvorUnknown {
    Recorded(RecordingTelvor* telvor, std::string kind) : telvor(telvor), kind(std::move(kind)) {}
    ~Recorded() override { telvor->calls.push_back("release " + kind); }
    HRESULT Call(int slot, const std::string& arguments) {
      return telvor->Record(kind + "." + std::to_string(slot), &arguments);
    }
    HRESULT Call(int slot) { return telvor->Record(kind + "." + std::to_string(slot), nullptr); }
    RecordingTelvor* telvor;
    std::string kind;
  };

  struct Properties : ITelvorProperties, Recorded {
    explicit Properties(RecordingTelvor* t) : Recorded(t, "properties") {}
    HRESULT SetNumber(const std::string& name, std::int32_t value) override {
      return Call(7, name + "=" + std::to_string(value));
    }
    HRESULT SetText(const std::string& name, const std::string& value) override {
      return Call(9, name + "=" + value);
    }
  };

  struct Connection : ITelvorConnection, Recorded {
    explicit Connection(RecordingTelvor* t) : Recorded(t, "connection") {}
    HRESULT GetProperties(TelvorObject* object) override {
      return Offer<Properties>(Call(7), telvor->withhold != "properties", telvor, object);
    }
    HRESULT SetComment(const std::string& text) override { return Call(9, text); }
    HRESULT SetDriverClassId(const std::string& text) override { return Call(14, text); }
    HRESULT SetOption16(std::int32_t value) override { return Call(16, std::to_string(value)); }
    HRESULT SetTimeout(std::int32_t value) override { return Call(18, std::to_string(value)); }
    HRESULT SetOption22(const std::string& text) override { return Call(22, text); }
    HRESULT Complete() override { return Call(24); }
    HRESULT SetDriverName(const std::string& text) override { return Call(26, text); }
  };

  struct Server : ITelvorServer, Recorded {
    explicit Server(RecordingTelvor* t) : Recorded(t, "server") {}
    HRESULT LoadConnectionFile(const std::string& path) override { return Call(11, path); }
    HRESULT CreateConnection(const std::string& name) override { return Call(12, name); }
    HRESULT GetConnection(const std::string& name, TelvorObject* object) override {
      return Offer<Connection>(Call(13, name), telvor->withhold != "connection", telvor, object);
    }
  };
};

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_RECORDING_TELVOR_H_
