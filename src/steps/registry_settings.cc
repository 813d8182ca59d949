// The steps that change Korvane settings in the registry store: the OPC
// pane, the bundle's own registry settings, the TCP/IP driver timeout and
// the list of file extensions the project browser shows. Every setting is
// the default value of a key below the Korvane settings subkey.
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bundle/bundle_format.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/number_text.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/registry_key.h"
#include "host/text_format.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

// A registry setting's value is cut to this many characters.
constexpr size_t kMaxSettingLength = 259;
// The existing extension list is read into 260 bytes, its NUL included.
constexpr size_t kExtensionBufferSize = 260;

// The line of a registry setting that could not be written.
std::string RegistryErrorLine(const std::string& key) {
  return StringPrintf("ERROR while setting registry key: %s", key.c_str());
}

CRegistryKey SettingsRegistryKey(Host& host, std::string_view name) {
  return CRegistryKey(host.registry, RegistryRoot::kLocalMachine, FoldedSettingsKey(host, name));
}

// The index n of a key spelt `prefix` + n in decimal the way the step forms
// it (no sign, no leading zero, n >= 1), letters ignoring case; 0 otherwise.
int64_t IndexOfKey(std::string_view key, std::string_view prefix) {
  return NumberAfterStem(key, prefix).value_or(0);
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Cuts a setting's value to its first kMaxSettingLength characters: those
// of UTF-8 when the whole value is UTF-8, else bytes (a bundle's hw.ini is
// usually in a Windows code page, one byte a character).
std::string CutSettingValue(std::string value) {
  if (value.size() <= kMaxSettingLength) return value;
  if (!IsUtf8(value)) {
    value.resize(kMaxSettingLength);
    return value;
  }
  size_t characters = 0;
  for (size_t end = 0; end < value.size(); ++end) {
    if ((static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) continue;
    if (characters++ == kMaxSettingLength) {
      value.resize(end);
      break;
    }
  }
  return value;
}

// Splits at ";", skipping empty parts; blanks stay.
std::vector<std::string> SplitExtensions(std::string_view list) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(';', begin);
    if (end == std::string_view::npos) end = list.size();
    if (end > begin) parts.emplace_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

}  // namespace

StepResult EnableOpcPane(StepContext& context) {
  std::vector<DirEntry> entries;
  FindFiles(context.host.files, JoinPath(BundleFolder(context, bundle::kModulesFolder), "*.INI"),
            &entries);
  bool has_definition = false;
  bool wanted = false;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory) continue;
    has_definition = true;
    // The installed copy decides: a definition the user chose not to
    // overwrite keeps its own setting.
    const std::string installed =
        JoinPath(context.ProductIniDir + bundle::kModulesFolder, entry.name);
    if (!IsRegularFile(context.host.files, installed)) continue;
    if (IniFile(context.host.ini, installed)
            .GetString(bundle::kOpcPaneSection, bundle::kOpcPaneKey) == "1") {
      wanted = true;
    }
  }
  if (!has_definition || !wanted) return StepResult::kNothingToDo;
  const CRegistryKey key = SettingsRegistryKey(context.host, "BRWTREECTRL\\OPCPANEENABLED");
  if (!key.SetString("1")) {
    context.AddInfo(RegistryErrorLine(key.key_path()), 1, true);
    return StepResult::kFailed;
  }
  return StepResult::kDone;
}

// The section of the bundle's registry settings and its count: the
// misspelt section first, the correct spelling only when the first gives
// no count. A count of 0: there are none.
int RegistrySettingCount(const IniFile& hw, std::string* section) {
  for (const char* name : bundle::kRegistrySettingSections) {
    *section = name;
    if (const int count = hw.GetInt(name, bundle::kCountKey, false); count != 0) return count;
  }
  return 0;
}

StepResult SetRegistrySettings(StepContext& context) {
  const IniFile hw(context.host.ini, DescriptionFile(context));
  std::string section;
  const int count = RegistrySettingCount(hw, &section);
  if (count == 0) return StepResult::kNothingToDo;

  // Settings are read as GetString reads them: the first line of a key,
  // names ignoring case.
  IniSectionMap lines;
  hw.ReadSectionByKeys(section, lines);
  std::map<std::string, std::string> values;
  std::set<int64_t> named;  // the indices up to the count that have a key
  for (const auto& [name, value] : lines) {
    values.emplace(AsciiLower(name), value);
    for (const char* prefix : {bundle::kPathKeyPrefix, bundle::kValueKeyPrefix}) {
      const int64_t index = IndexOfKey(name, prefix);
      if (index >= 1 && index <= count) named.insert(index);
    }
  }
  // Every other index up to the count reads as an empty path and value, so
  // all of them write the same empty default value of the settings key: the
  // last of them, at its place among the named ones, leaves the registry as
  // the whole count would. A count of 2^31-1 thus costs no more than the
  // section's own lines, wherever its keys' numbers lie.
  std::vector<int64_t> indices(named.begin(), named.end());
  int64_t last_unnamed = count;
  while (last_unnamed >= 1 && named.count(last_unnamed) != 0) --last_unnamed;
  if (last_unnamed >= 1) {
    indices.insert(std::upper_bound(indices.begin(), indices.end(), last_unnamed), last_unnamed);
  }
  auto lookup = [&](const char* prefix, int64_t i) {
    const auto it = values.find(AsciiLower(prefix) + std::to_string(i));
    return it == values.end() ? std::string() : it->second;
  };

  // All settings go to the registry in one update; each one still succeeds
  // or fails on its own, and a failure stops none of the others.
  std::vector<tRegistryWrite> writes;
  for (const int64_t i : indices) {
    const std::string path = lookup(bundle::kPathKeyPrefix, i);
    writes.push_back(
        {FoldedSettingsKey(context.host, path.empty() || path.front() != '\\' ? "\\" + path : path),
         CutSettingValue(lookup(bundle::kValueKeyPrefix, i)),
         false,
         {}});
  }
  if (!writes.empty()) context.host.registry.SetDefaultValues(writes, nullptr);
  bool failed = false;
  for (const tRegistryWrite& write : writes) {
    if (write.done) continue;
    // Shown in the information list only, never logged.
    context.AddInfo(RegistryErrorLine(write.key_path), 1, false);
    failed = true;
  }
  return failed ? StepResult::kFailed : StepResult::kDone;
}

StepResult SetTcpTimeout(StepContext& context) {
  const int timeout = IniFile(context.host.ini, DescriptionFile(context))
                          .GetInt(bundle::kTcpIpSection, bundle::kTimeoutKey, true);
  if (timeout < 0) return StepResult::kNothingToDo;
  return SettingsRegistryKey(context.host, "Online\\TcpDriverTimeout_ms").SetInt(timeout)
             ? StepResult::kDone
             : StepResult::kFailed;
}

StepResult AddVisibleExtensions(StepContext& context) {
  const std::string wanted =
      IniFile(context.host.ini, DescriptionFile(context))
          .GetString(bundle::kVisibleExtensionsSection, bundle::kExtensionsKey);
  if (wanted.empty()) return StepResult::kNothingToDo;
  std::vector<std::string> added = SplitExtensions(wanted);
  for (std::string& extension : added) extension = AsciiLower(extension);

  const CRegistryKey key = SettingsRegistryKey(context.host, "BRWTREECTRL\\VISIBLEEXTENSIONS");
  std::string existing;
  switch (key.Read(&existing)) {
    case RegistryReadStatus::kNoKey:
      return StepResult::kNothingToDo;  // the list is never created here
    case RegistryReadStatus::kOk:
      if (existing.size() + 1 > kExtensionBufferSize) return StepResult::kFailed;
      break;
    default:
      return StepResult::kFailed;
  }

  std::vector<std::string> present = SplitExtensions(existing);
  for (std::string& extension : present) extension = AsciiLower(extension);
  std::erase_if(added, [&](const std::string& extension) {
    return std::find(present.begin(), present.end(), extension) != present.end();
  });
  std::string combined = existing;
  if (combined.empty() || combined.back() != ';') combined += ';';
  for (size_t i = 0; i < added.size(); ++i) {
    if (i > 0) combined += ';';
    combined += added[i];
  }
  return key.SetString(combined) ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
