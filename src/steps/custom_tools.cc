// The custom-tools step: merges the tools of the bundle's "CUST-TOOLS"
// section into Korvane's CUSTTOOL.INI under fresh indices, and asks (or
// follows /f in silent mode) before rewriting a tool that is already there.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "host/text_format.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr char kSection[] = "CUST-TOOLS";
// The keys of one tool after "FILE", each followed by the tool's index.
constexpr const char* kToolKeys[] = {"Title", "Arguments", "CmdShow", "InitDir",
                                     "QueryArguments"};

// A key naming a tool's program file: it holds "FILE" in capitals.
bool IsFileKey(std::string_view key) { return key.find("FILE") != std::string_view::npos; }

// atoi: leading blanks, a sign, then decimal digits; a value out of range
// gives INT_MAX or INT_MIN.
int ReadIndex(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// The index of a tool key: the key less its first four characters.
std::string IndexText(std::string_view key) {
  return std::string(key.size() > 4 ? key.substr(4) : std::string_view());
}

std::optional<std::string> Find(const IniSectionMap& map, const std::string& key) {
  const auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

std::string ToolListPath(const StepContext& context) {
  std::string path = context.ProductIniDir;
  if (path.empty() || !IsPathSeparator(path.back())) path += kPathSeparator;
  return path + "System/CUSTTOOL.INI";
}

}  // namespace

int InstallCustomTools(StepContext& context) {
  const IniFile hw(context.BundleTempDir + "/hw.ini");
  const IniFile tools(ToolListPath(context));

  if (hw.GetString(kSection, "RECOVERY") == "1") {
    if (tools.DeleteSection(kSection)) {
      context.AddInfoF("Custom tool recovery: All old entries deleted before adding the new ones.");
    } else {
      context.AddInfoF("ERROR: old custom tools not deleted: %s", tools.LastError().c_str());
    }
  }

  IniSectionMap bundle;
  if (hw.ReadSectionByKeys(kSection, bundle) == 0) return 2;

  IniSectionMap existing;
  tools.ReadSectionByKeys(kSection, existing);
  // Value to key over every entry of the list; where several entries hold
  // the same value, a program-file key wins, then the first key in byte order.
  std::map<std::string, std::string> by_value;
  std::optional<int> highest;
  for (const auto& [key, value] : existing) {
    const auto [it, inserted] = by_value.emplace(value, key);
    if (!inserted && IsFileKey(key) && !IsFileKey(it->second)) it->second = key;
    if (IsFileKey(key)) highest = std::max(highest.value_or(INT_MIN), ReadIndex(IndexText(key)));
  }
  int64_t next_free = static_cast<int64_t>(highest.value_or(0)) + 1;

  // The bundle's tools in ascending index (then key) order.
  std::vector<std::pair<int, std::string>> file_keys;
  for (const auto& [key, value] : bundle) {
    if (IsFileKey(key)) file_keys.emplace_back(ReadIndex(IndexText(key)), key);
  }
  std::sort(file_keys.begin(), file_keys.end());

  // Bundle index to the list index to rewrite, or nothing for a new tool.
  std::map<int, std::optional<int>> decisions;
  const int found = static_cast<int>(file_keys.size());
  for (const auto& [index, key] : file_keys) {
    const std::string& file = bundle.at(key);
    const std::optional<std::string> title = Find(bundle, "Title" + IndexText(key));
    if (!title) {
      context.AddInfoF("Missing title entry for custom tool: %s.", file.c_str());
      continue;
    }
    const auto same_file = by_value.find(file);
    if (same_file == by_value.end()) {
      decisions[index] = std::nullopt;
      continue;
    }
    const std::string& existing_key = same_file->second;
    const std::optional<std::string> existing_title =
        Find(existing, "Title" + IndexText(existing_key));
    if (!existing_title) continue;  // an entry without a title cannot be compared
    if (*existing_title != *title) {
      decisions[index] = std::nullopt;  // the same program under another title
      continue;
    }
    const int target = ReadIndex(IndexText(existing_key));
    if (context.SilentMode) {
      if (context.ForceOverwrite) {
        decisions[index] = target;
      } else {
        context.AddInfoF("Custom tool was discarded in silent mode: %s.", file.c_str());
      }
      continue;
    }
    context.MessageText = StringPrintf(
        "This custom tool entry already exisits in Korvane:\nFILE: %s | TITLE: %s\n"
        "Do you want to overwrite it?",
        file.c_str(), title->c_str());
    if (context.AskYesNo(context.MessageText)) {
      decisions[index] = target;
    } else {
      context.AddInfoF("User decided not to overwrite custom tool: %s.", file.c_str());
    }
  }

  // The tools to write, each with its six keys; the list gets all of them in
  // one locked update, so it never holds half a tool.
  struct tPending {
    std::string file;
    bool overwrite;
  };
  std::vector<tPending> pending;
  IniEntryList entries;
  for (const auto& [index, overwrite] : decisions) {
    const std::string number = std::to_string(index);
    const std::optional<std::string> file = Find(bundle, "FILE" + number);
    if (!file) continue;  // written with a leading zero or the like: not found again
    int target;
    if (overwrite) {
      target = *overwrite;
    } else if (next_free > INT_MAX) {
      context.AddInfoF("ERROR: no free custom tool index for: %s.", file->c_str());
      continue;
    } else {
      target = static_cast<int>(next_free++);
    }
    const std::string target_number = std::to_string(target);
    entries.emplace_back("FILE" + target_number, *file);
    for (const char* name : kToolKeys) {
      entries.emplace_back(name + target_number, Find(bundle, name + number).value_or(""));
    }
    pending.push_back({*file, overwrite.has_value()});
  }
  const bool stored = pending.empty() || tools.WriteStrings(kSection, entries);

  int written = 0;
  for (const tPending& tool : pending) {
    if (!stored) {
      context.AddInfoF("ERROR writing custom tool %s: %s", tool.file.c_str(),
                       tools.LastError().c_str());
    } else if (!tool.overwrite) {
      context.AddInfoF("Custom tool added: %s.", tool.file.c_str());
    } else if (context.SilentMode) {
      context.AddInfoF("Silent Mode overwrites custom tool: %s.", tool.file.c_str());
    } else {
      context.AddInfoF("User decided to overwrite custom tool: %s.", tool.file.c_str());
    }
    if (stored) ++written;
  }
  return written == found ? 0 : 1;
}

}  // namespace kestrin
