#include "steps/connections.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "connections/server_class.h"
#include "connections/telvor_client.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "host/sleep.h"
#include "host/text_format.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr char kSection[] = "CONNECTIONS";
constexpr char kCouldNotSet[] = "Could not set connection: %s.";
constexpr char kNumberedKey[] = "CONNECTION";

// The numbers n from 1 to `count` for which the section has a key
// "CONNECTION<n>" (letters in any case, n as "%d" writes it), ascending.
std::vector<int> NumbersWithKeys(const IniFile& hw_ini, int count) {
  IniSectionMap keys;
  hw_ini.ReadSectionByKeys(kSection, keys);
  const size_t stem = sizeof(kNumberedKey) - 1;
  std::vector<int> numbers;
  for (const auto& [key, value] : keys) {
    if (key.size() <= stem || !EqualsIgnoreCase(key.substr(0, stem), kNumberedKey)) continue;
    char* end = nullptr;
    const long long n = std::strtoll(key.c_str() + stem, &end, 10);
    if (*end == '\0' && n >= 1 && n <= count && key.substr(stem) == std::to_string(n)) {
      numbers.push_back(static_cast<int>(n));
    }
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

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

  bool all_added = true;
  auto report_failure = [&](const std::string& name) {
    all_added = false;
    // The information list only; the log never sees it.
    if (!context.SilentMode) context.AddInfo(StringPrintf(kCouldNotSet, name.c_str()), 1, false);
  };
  // A number without a key fails as a missing name does, without reaching
  // the server; each run of such numbers is reported once and costs no
  // pause, so a huge COUNT takes no longer than the connections named.
  const std::vector<int> numbers = NumbersWithKeys(hw_ini, count);
  int next = 1;  // the first number not tried yet
  for (const int i : numbers) {
    if (i > next) report_failure(std::string());
    if (i != numbers.front()) pause(kConnectionPause);  // between two server objects
    std::string name;
    if (!AddBundleConnection(hw_ini, i, server_class, name)) report_failure(name);
    next = i + 1;
  }
  if (next <= count) report_failure(std::string());
  return all_added ? 0 : 1;
}

int InstallConnections(StepContext& context) {
  const std::unique_ptr<ITelvorServerClass> server_class = MakeTelvorServerClass();
  return InstallConnections(context, *server_class, SleepMilliseconds);
}

}  // namespace kestrin
