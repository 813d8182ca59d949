// The custom-tools step: merges the tools of the bundle's "CUST-TOOLS"
// section into Korvane's CUSTTOOL.INI under fresh indices, and asks (or
// follows /f in silent mode) before rewriting a tool that is already there.
//
// It goes in four phases: the optional recovery that empties the list, the
// reading of the existing list, the decision for each tool of the bundle,
// and one write of every decided tool.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bundle/bundle_format.h"
#include "host/ini_file.h"
#include "host/number_text.h"
#include "host/path_resolve.h"
#include "host/text_format.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

using bundle::kCustomToolsSection;
using bundle::kToolFileKeyPrefix;
using bundle::kToolKeyPrefixes;
using bundle::kToolTitleKeyPrefix;

// A key naming a tool's program file: it holds "FILE" in capitals.
bool IsFileKey(std::string_view key) {
  return key.find(kToolFileKeyPrefix) != std::string_view::npos;
}

// The index of a tool key: the key less its first four characters, read as atoi reads it.
std::string IndexText(std::string_view key) {
  return std::string(key.size() > 4 ? key.substr(4) : std::string_view());
}
int IndexOf(std::string_view key) { return ReadDecimal(IndexText(key)); }

std::optional<std::string> Find(const IniSectionMap& map, const std::string& key) {
  const auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

std::string ToolListPath(const StepContext& context) {
  return JoinPath(JoinPath(context.ProductIniDir, "System"), "CUSTTOOL.INI");
}

// The tools Korvane lists already.
struct tToolList {
  IniSectionMap entries;
  // Value to key over every entry of the list; where several entries hold
  // the same value, a program-file key wins, then the first key in byte order.
  std::map<std::string, std::string> by_value;
  int64_t next_free = 1;  // the index after the highest program-file key
};

tToolList ReadToolList(const IniFile& tools) {
  tToolList list;
  tools.ReadSectionByKeys(kCustomToolsSection, list.entries);
  std::optional<int> highest;
  for (const auto& [key, value] : list.entries) {
    const auto [it, inserted] = list.by_value.emplace(value, key);
    if (!inserted && IsFileKey(key) && !IsFileKey(it->second)) it->second = key;
    if (IsFileKey(key)) highest = std::max(highest.value_or(INT_MIN), IndexOf(key));
  }
  list.next_free = static_cast<int64_t>(highest.value_or(0)) + 1;
  return list;
}

// Bundle index to the list index to rewrite, or nothing for a new tool;
// tools that are skipped have no entry.
using Decisions = std::map<int, std::optional<int>>;

// Decides for each tool of the bundle, in ascending index (then key) order,
// whether it is added, rewritten over the list's entry of the same program
// and title (after the question, or with /f in silent mode), or skipped.
// Returns the number of tools the bundle names.
int DecideTools(StepContext& context, const IniSectionMap& bundle, const tToolList& list,
                Decisions* decisions) {
  std::vector<std::pair<int, std::string>> file_keys;
  for (const auto& [key, value] : bundle) {
    if (IsFileKey(key)) file_keys.emplace_back(IndexOf(key), key);
  }
  std::sort(file_keys.begin(), file_keys.end());
  for (const auto& [index, key] : file_keys) {
    const std::string& file = bundle.at(key);
    const std::optional<std::string> title = Find(bundle, kToolTitleKeyPrefix + IndexText(key));
    if (!title) {
      context.AddInfoF("Missing title entry for custom tool: %s.", file.c_str());
      continue;
    }
    const auto same_file = list.by_value.find(file);
    if (same_file == list.by_value.end()) {
      (*decisions)[index] = std::nullopt;
      continue;
    }
    const std::string& existing_key = same_file->second;
    const std::optional<std::string> existing_title =
        Find(list.entries, kToolTitleKeyPrefix + IndexText(existing_key));
    if (!existing_title) continue;  // an entry without a title cannot be compared
    if (*existing_title != *title) {
      (*decisions)[index] = std::nullopt;  // the same program under another title
      continue;
    }
    const std::string question = StringPrintf(
        "This custom tool entry already exisits in Korvane:\nFILE: %s | TITLE: %s\n"
        "Do you want to overwrite it?",
        file.c_str(), title->c_str());
    if (context.AllowOverwrite(question)) {
      (*decisions)[index] = IndexOf(existing_key);
    } else if (context.SilentMode) {
      context.AddInfoF("Custom tool was discarded in silent mode: %s.", file.c_str());
    } else {
      context.AddInfoF("User decided not to overwrite custom tool: %s.", file.c_str());
    }
  }
  return static_cast<int>(file_keys.size());
}

// Writes the decided tools, each with its six keys, in one locked update
// (the list never holds half a tool), and reports each. Returns how many
// were written.
int WriteTools(StepContext& context, const IniFile& tools, const IniSectionMap& bundle,
               const Decisions& decisions, int64_t next_free) {
  struct tPending {
    std::string file;
    bool overwrite;
  };
  std::vector<tPending> pending;
  IniEntryList entries;
  for (const auto& [index, overwrite] : decisions) {
    const std::string number = std::to_string(index);
    const std::optional<std::string> file = Find(bundle, kToolFileKeyPrefix + number);
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
    entries.emplace_back(kToolFileKeyPrefix + target_number, *file);
    for (const char* name : kToolKeyPrefixes) {
      entries.emplace_back(name + target_number, Find(bundle, name + number).value_or(""));
    }
    pending.push_back({*file, overwrite.has_value()});
  }
  const bool stored = pending.empty() || tools.WriteStrings(kCustomToolsSection, entries);
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
  }
  return stored ? static_cast<int>(pending.size()) : 0;
}

}  // namespace

StepResult InstallCustomTools(StepContext& context) {
  const IniFile hw(context.host.ini, DescriptionFile(context));
  const IniFile tools(context.host.ini, ToolListPath(context));

  if (hw.GetString(kCustomToolsSection, bundle::kRecoveryKey) == "1") {
    if (tools.DeleteSection(kCustomToolsSection)) {
      context.AddInfoF("Custom tool recovery: All old entries deleted before adding the new ones.");
    } else {
      context.AddInfoF("ERROR: old custom tools not deleted: %s", tools.LastError().c_str());
    }
  }

  IniSectionMap bundle;
  if (hw.ReadSectionByKeys(kCustomToolsSection, bundle) == 0) return StepResult::kNothingToDo;
  const tToolList list = ReadToolList(tools);
  Decisions decisions;
  const int found = DecideTools(context, bundle, list, &decisions);
  const int written = WriteTools(context, tools, bundle, decisions, list.next_free);
  return written == found ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
