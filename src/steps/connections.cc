#include "steps/connections.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bundle/bundle_format.h"
#include "connections/telvor_client.h"
#include "host/ini_file.h"
#include "host/number_text.h"
#include "host/product_env.h"
#include "host/text_format.h"
#include "steps/step_paths.h"

namespace kestrin {
namespace {

using namespace bundle;  // NOLINT: the names of the description's sections and keys

constexpr char kCouldNotSet[] = "Could not set connection: %s.";

// The numbers n from 1 to `count` for which the section has a key
// "CONNECTION<n>" (letters in any case, n as "%d" writes it), ascending.
std::vector<int> NumbersWithKeys(const IniFile& hw_ini, int count) {
  IniSectionMap keys;
  hw_ini.ReadSectionByKeys(kConnectionsSection, keys);
  std::vector<int> numbers;
  for (const auto& [key, value] : keys) {
    const std::optional<int> n = NumberAfterStem(key, kConnectionKeyPrefix);
    if (n && *n <= count) numbers.push_back(*n);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

// Adds connection `index` of the bundle description through its own client,
// which releases its server object before returning. Sets `name`.
bool AddBundleConnection(Host& host, const IniFile& hw_ini, int index,
                         const std::string& connection_dir, std::string& name) {
  name = hw_ini.GetString(kConnectionsSection, kConnectionKeyPrefix + std::to_string(index));
  const std::string values_section = hw_ini.GetString(name, kValuesKey);
  IniSectionMap values;  // empty for every connection without a VALUES section
  if (!values_section.empty()) hw_ini.ReadSectionByKeys(values_section, values);
  TelvorClient client(host.telvor, connection_dir);
  return client.AddConnection(
      name, hw_ini.GetString(name, kDriverNameKey), hw_ini.GetString(name, kDriverIdKey),
      hw_ini.GetString(name, kTimeoutKey), hw_ini.GetString(name, kCommentKey), values);
}

}  // namespace

StepResult InstallConnections(StepContext& context) {
  Host& host = context.host;
  const IniFile hw_ini(host.ini, DescriptionFile(context));
  const int count = hw_ini.GetInt(kConnectionsSection, kCountKey, false);
  if (count == 0) return StepResult::kNothingToDo;
  if (count < 0) return StepResult::kDone;

  const std::string connection_dir = ConnectionFileDir(host);
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
    if (i != numbers.front()) host.machine.Sleep(kConnectionPause);  // between two server objects
    std::string name;
    if (!AddBundleConnection(host, hw_ini, i, connection_dir, name)) report_failure(name);
    next = i + 1;
  }
  if (next <= count) report_failure(std::string());
  return all_added ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
