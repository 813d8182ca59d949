#include "steps/connections.h"

#include <memory>
#include <string>

#include "connections/server_class.h"
#include "connections/telvor_client.h"
#include "host/ini_file.h"
#include "host/sleep.h"
#include "host/text_format.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr char kSection[] = "CONNECTIONS";
constexpr char kCouldNotSet[] = "Could not set connection: %s.";
constexpr char kTooMany[] =
    "ERROR: hw.ini asks for %d connections in section CONNECTIONS; at most %d are installed.";

// Adds connection `index` of the bundle description through its own client,
// which releases its server object before returning. Sets `name`.
bool AddBundleConnection(const IniFile& hw_ini, int index, ITelvorServerClass& server_class,
                         std::string& name) {
  name = hw_ini.GetString(kSection, "CONNECTION" + std::to_string(index));
  const std::string values_section = hw_ini.GetString(name, "VALUES");
  IniSectionMap values;  // empty for every connection without a VALUES section
  if (!values_section.empty()) hw_ini.ReadSectionByKeys(values_section, values);
  TelvorClient client(server_class);
  return client.AddConnection(name, hw_ini.GetString(name, "DRIVERNAME"),
                              hw_ini.GetString(name, "DRIVERID"), hw_ini.GetString(name, "TIMEOUT"),
                              hw_ini.GetString(name, "COMMENT"), values);
}

}  // namespace

int InstallConnections(StepContext& context, ITelvorServerClass& server_class,
                       const std::function<void(int milliseconds)>& pause) {
  const IniFile hw_ini(context.BundleTempDir + "/hw.ini");
  const int count = hw_ini.GetInt(kSection, "COUNT", false);
  if (count == 0) return 2;
  if (count < 0) return 0;
  if (count > kMaxBundleConnections) {
    context.AddInfoF(kTooMany, count, kMaxBundleConnections);
    return 1;
  }

  bool all_added = true;
  for (int i = 1; i <= count; ++i) {
    std::string name;
    if (!AddBundleConnection(hw_ini, i, server_class, name)) {
      all_added = false;
      // The information list only; the log never sees it.
      if (!context.SilentMode) context.AddInfo(StringPrintf(kCouldNotSet, name.c_str()), 1, false);
    }
    if (i < count) pause(kConnectionPause);
  }
  return all_added ? 0 : 1;
}

int InstallConnections(StepContext& context) {
  const std::unique_ptr<ITelvorServerClass> server_class = MakeTelvorServerClass();
  return InstallConnections(context, *server_class, SleepMilliseconds);
}

}  // namespace kestrin
