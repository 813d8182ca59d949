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

#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "host/text_format.h"
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

std::string HwIni(const StepContext& context) { return context.BundleTempDir + "/hw.ini"; }

// The settings subkey followed by `name`, runs of "\" folded into one.
std::string SettingsKey(std::string_view name) {
  const std::string joined = std::string(VqmGetRegistrySubKey()) + std::string(name);
  std::string key;
  for (const char c : joined) {
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key += c;
  }
  return key;
}

CRegistryKey SettingsRegistryKey(std::string_view name) {
  return CRegistryKey(RegistryRoot::kLocalMachine, SettingsKey(name));
}

// The index n of a key spelt `prefix` + n in decimal the way the step forms
// it (no sign, no leading zero, n >= 1), letters ignoring case; 0 otherwise.
int64_t IndexOfKey(std::string_view key, std::string_view prefix) {
  if (key.size() <= prefix.size() || !EqualsIgnoreCase(key.substr(0, prefix.size()), prefix)) {
    return 0;
  }
  const std::string_view digits = key.substr(prefix.size());
  if (digits.front() == '0' || digits.size() > 10) return 0;
  int64_t index = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    index = index * 10 + (c - '0');
  }
  return index <= INT32_MAX ? index : 0;
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t more;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (text.size() - i <= more) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if ((more == 2 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) ||
        (more == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += more + 1;
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

int EnableOpcPane(StepContext& context) {
  std::vector<DirEntry> entries;
  FindFiles(context.BundleTempDir + "/MODULES/*.INI", &entries);
  bool has_definition = false;
  bool wanted = false;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory) continue;
    has_definition = true;
    // The installed copy decides: a definition the user chose not to
    // overwrite keeps its own setting.
    const std::string installed = context.ProductIniDir + "MODULES/" + entry.name;
    if (!IsRegularFile(installed)) continue;
    if (IniFile(installed).GetString("ENABLE_OPC_PANE", "ACTIVE") == "1") wanted = true;
  }
  if (!has_definition || !wanted) return 2;
  const CRegistryKey key = SettingsRegistryKey("BRWTREECTRL\\OPCPANEENABLED");
  if (!key.SetString("1")) {
    context.AddInfo(RegistryErrorLine(key.key_path()), 1, true);
    return 1;
  }
  return 0;
}

int SetRegistrySettings(StepContext& context) {
  const IniFile hw(HwIni(context));
  // The misspelt section comes first; the correct spelling counts only when
  // the first gives no count.
  std::string section = "REGISTY_SETTING";
  int count = hw.GetInt(section, "COUNT", false);
  if (count == 0) {
    section = "REGISTRY_SETTING";
    count = hw.GetInt(section, "COUNT", false);
    if (count == 0) return 2;
  }

  // Settings are read as GetString reads them: the first line of a key,
  // names ignoring case.
  IniSectionMap lines;
  hw.ReadSectionByKeys(section, lines);
  std::map<std::string, std::string> values;
  std::set<int64_t> named;  // the indices up to the count that have a key
  for (const auto& [name, value] : lines) {
    values.emplace(AsciiLower(name), value);
    for (const char* prefix : {"PATH", "VALUE"}) {
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
    const auto it = values.find(prefix + std::to_string(i));
    return it == values.end() ? std::string() : it->second;
  };

  // All settings go to the store in one update; each one still succeeds or
  // fails on its own, and a failure stops none of the others.
  std::vector<tRegistryWrite> writes;
  for (const int64_t i : indices) {
    const std::string path = lookup("path", i);
    writes.push_back({SettingsKey(path.empty() || path.front() != '\\' ? "\\" + path : path),
                      CutSettingValue(lookup("value", i)), false, {}});
  }
  if (!writes.empty()) SetDefaultValues(writes, nullptr);
  bool failed = false;
  for (const tRegistryWrite& write : writes) {
    if (write.done) continue;
    // Shown in the information list only, never logged.
    context.AddInfo(RegistryErrorLine(write.key_path), 1, false);
    failed = true;
  }
  return failed ? 1 : 0;
}

int SetTcpTimeout(StepContext& context) {
  const int timeout = IniFile(HwIni(context)).GetInt("TCPIP", "TIMEOUT", true);
  if (timeout < 0) return 2;
  return SettingsRegistryKey("Online\\TcpDriverTimeout_ms").SetInt(timeout) ? 0 : 1;
}

int AddVisibleExtensions(StepContext& context) {
  const std::string wanted = IniFile(HwIni(context)).GetString("VISIBLE_EXTENSIONS", "EXT");
  if (wanted.empty()) return 2;
  std::vector<std::string> added = SplitExtensions(wanted);
  for (std::string& extension : added) extension = AsciiLower(extension);

  const CRegistryKey key = SettingsRegistryKey("BRWTREECTRL\\VISIBLEEXTENSIONS");
  std::string existing;
  switch (key.Read(&existing)) {
    case RegistryReadStatus::kNoKey:
      return 2;  // the list is never created here
    case RegistryReadStatus::kOk:
      if (existing.size() + 1 > kExtensionBufferSize) return 1;
      break;
    default:
      return 1;
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
  return key.SetString(combined) ? 0 : 1;
}

}  // namespace kestrin
