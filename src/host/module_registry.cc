#include "host/module_registry.h"

#include <climits>
#include <cstdio>
#include <optional>
#include <set>

#include "host/number_text.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

constexpr const char* kSection = "Modules";
constexpr const char* kCountKey = "Count";

std::string NumberedKey(int n) {
  char key[32];
  snprintf(key, sizeof(key), "%s%d", "Module", n);
  return key;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

ModuleRegistry::ModuleRegistry(IniFiles& files, const std::string& path) : IniFile(files, path) {}

void ModuleRegistry::Load() {
  entries_.clear();
  modules_.clear();
  ReadSectionMap(kSection, entries_);
  const int count = GetInt(kSection, kCountKey, false);
  if (count < 1) return;

  // One read of the section, looked up key by key as single reads would
  // (first line of a key, letter case ignored, quotes removed), so a huge
  // "Count" costs nothing beyond the numbers actually present.
  IniSectionMap by_key;
  ReadSectionByKeys(kSection, by_key);
  std::map<std::string, std::string> by_lower;
  std::set<int> present;  // numbers up to "Count" with a key "Module<n>"
  for (const auto& [key, value] : by_key) {
    std::string lower = Lower(key);
    if (const std::optional<int> n = NumberAfterStem(key, "Module"); n && *n <= count)
      present.insert(*n);
    by_lower.emplace(std::move(lower), value);
  }
  const auto value_of = [&](const std::string& key) {
    auto it = by_lower.find(Lower(key));
    return it == by_lower.end() ? std::string() : it->second;
  };
  for (const int i : present) {
    const std::string name = value_of(NumberedKey(i));
    modules_[i] = name;
    entries_[name] = value_of(name);
  }
  // Numbers up to "Count" without a key read as the empty name; one slot
  // stands for all of them instead of a loop up to a "Count" of two billion.
  if (present.size() < static_cast<size_t>(count)) {
    int gap = count;
    while (present.count(gap) != 0) --gap;
    modules_[gap] = std::string();
    entries_[std::string()] = value_of(std::string());
  }
}

bool ModuleRegistry::Contains(std::string_view module) const {
  for (const auto& [index, name] : modules_) {
    if (index >= 1 && EqualsIgnoreCase(name, module)) return true;
  }
  return false;
}

int ModuleRegistry::Register(const std::string& module, const std::string& file) {
  // A negative "Count" is taken as it stands: the number below 1 that
  // results is reported as a failed registration, and no module listed
  // under a positive number is overwritten.
  const int count = GetInt(kSection, kCountKey, false);
  if (count == INT_MAX) return -1;
  const int n = count + 1;
  char value[16];
  snprintf(value, sizeof(value), "%d", n);
  // The three keys in one update: the file never lists a module without
  // its count, and a bundle of many modules rewrites it once per module.
  if (!WriteStrings(kSection, {{NumberedKey(n), module}, {module, file}, {kCountKey, value}})) {
    return -1;
  }
  modules_[n] = module;
  entries_[module] = file;
  return n;
}

}  // namespace kestrin
