// Help pages and print forms: each OEM has a folder of its own, the help
// pages below the data folder ("WebHelp/<OEM ID>/") and registered in
// Korvane's help tree, the print forms below the INI folder
// ("Printforms/<OEM ID>/").
#include "steps/help_print_forms.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <map>
#include <set>

#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "host/text_format.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr char kHelpIni[] = "HELP.INI";
constexpr char kDeleteBeforeSection[] = "DeleteBefore";
constexpr char kHelpnodesSection[] = "Helpnodes";

constexpr char kDeleted[] = "%s deleted.";
constexpr char kNotDeleted[] = "ERROR: %s could not be deleted";
constexpr char kHelpQuestion[] =
    "The driver bundle wants to overwrite the existing help directories of OEM %d, that was "
    "previously installed.\nDo you allow this ?";
constexpr char kPrintFormsQuestion[] =
    "The driver bundle wants to overwrite the existing print forms directories of OEM %d, that "
    "was previously installed.\nDo you allow this ?";
// Damaged or hostile bundles and failures the file system explains.
constexpr char kRefusedName[] = "ERROR: %s [%s] names %s, which cannot be a file of %s: %s";
constexpr char kHelpTreeFull[] = "ERROR: the help tree holds %d pages and takes no more: %s";
constexpr char kNotAbsolute[] = "ERROR: the Korvane folder \"%s\" is not an absolute path";
constexpr char kFsDetail[] = "ERROR: %s";

std::string HelpKey(const char* name) { return std::string(VqmGetRegistrySubKey()) + name; }

std::string NumberedHelpKey(const char* name, int number) {
  return StringPrintf("%s%s%d", VqmGetRegistrySubKey(), name, number);
}

// The number of a key name "<stem><n>" as "%d" writes n (no sign, no
// leading zero), or 0 for any other name.
int KeyNumber(std::string_view key_name, std::string_view stem) {
  if (key_name.size() <= stem.size() || key_name.size() > stem.size() + 10) return 0;
  if (!EqualsIgnoreCase(key_name.substr(0, stem.size()), stem)) return 0;
  const std::string_view digits = key_name.substr(stem.size());
  if (digits[0] == '0') return 0;
  long long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number <= INT_MAX ? static_cast<int>(number) : 0;
}

// Asks (interactive) or takes /f (silent) before an OEM folder that exists
// is overwritten; true to go on.
bool MayReplaceOemFolder(StepContext& context, const char* question) {
  if (context.SilentMode) return context.ForceOverwrite;
  return context.AskYesNo(StringPrintf(question, context.OemId));
}

bool CheckAbsolute(StepContext& context, const std::string& dir) {
  if (IsAbsolutePath(dir)) return true;
  context.AddInfoF(kNotAbsolute, dir.c_str());
  return false;
}

// Creates the OEM folder when it is missing, after the question when it
// exists. 1 go on, 3 declined.
int PrepareOemFolder(StepContext& context, const std::string& destination, const char* question) {
  if (PathExists(destination)) return MayReplaceOemFolder(context, question) ? 1 : 3;
  CreateDirectoryTree(destination);  // a failure shows in the copy
  return 1;
}

bool CopyFolderVerified(StepContext& context, const std::string& source,
                        const std::string& destination) {
  FsError error;
  if (CopyFilesChecked(source + "*.*", destination, 0, 1, &error) == 1) return true;
  if (!error.text.empty()) context.AddInfoF(kFsDetail, error.text.c_str());
  return false;
}

struct tHelpDeletion {
  std::string name;      // as HELP.INI gives it
  std::string relative;  // below the destination folder
};
struct tHelpNode {
  std::string relative;
  std::string node_name;
};

// Reads HELP.INI. A name that would leave the help folder refuses the
// whole description: false, with a line each. A node without a name is
// registered with the empty name.
bool ReadHelpDescription(StepContext& context, const std::string& source,
                         std::vector<tHelpDeletion>* deletions, std::vector<tHelpNode>* nodes) {
  const IniFile help_ini(source + kHelpIni);
  IniSectionMap delete_before;
  IniSectionMap help_nodes;
  help_ini.ReadSectionMap(kDeleteBeforeSection, delete_before);
  help_ini.ReadSectionMap(kHelpnodesSection, help_nodes);
  bool ok = true;
  std::string relative;
  std::string reason;
  for (const auto& [name, number] : delete_before) {
    if (!NumberIsNotZero(number)) continue;
    if (!NameInsideFolder(name, &relative, &reason)) {
      context.AddInfoF(kRefusedName, kHelpIni, kDeleteBeforeSection, name.c_str(),
                       "the help directory", reason.c_str());
      ok = false;
      continue;
    }
    deletions->push_back({name, relative});
  }
  for (const auto& [name, node_name] : help_nodes) {
    if (!NameInsideFolder(name, &relative, &reason)) {
      context.AddInfoF(kRefusedName, kHelpIni, kHelpnodesSection, name.c_str(),
                       "the help directory", reason.c_str());
      ok = false;
      continue;
    }
    nodes->push_back({relative, node_name});
  }
  return ok;
}

// Registers the help pages not registered yet, numbering on from the
// count, and writes the count back (also when it did not change). All of it
// is one write of the registry store; a failed write is not reported.
void RegisterHelpNodes(StepContext& context, const std::string& destination,
                       const std::vector<tHelpNode>& nodes) {
  const tHelpTree tree = ReadHelpTree();
  std::set<std::string> registered;
  for (const std::string& path : tree.paths) registered.insert(AsciiLower(path));
  int count = tree.count;
  std::vector<std::pair<std::string, std::string>> values;
  for (const tHelpNode& node : nodes) {
    const std::string path = destination + node.relative;
    if (!registered.insert(AsciiLower(path)).second) continue;
    if (count == INT_MAX) {
      context.AddInfoF(kHelpTreeFull, count, path.c_str());
      break;
    }
    ++count;
    values.emplace_back(NumberedHelpKey(kHelpNodeNameKey, count), node.node_name);
    values.emplace_back(NumberedHelpKey(kHelpPathKey, count), path);
  }
  values.emplace_back(HelpKey(kHelpCountKey), std::to_string(count));
  SetLocalMachineDefaults(values);
}

}  // namespace

tHelpTree ReadHelpTree() {
  tHelpTree tree;
  tree.count = std::max(0, CRegistryKey(RegistryRoot::kLocalMachine, HelpKey(kHelpCountKey)).GetInt(0));
  if (tree.count == 0) return tree;
  // The pages are looked up among the subkeys that exist, so that a count
  // far above them costs nothing.
  const std::string path_key = HelpKey(kHelpPathKey);
  const size_t last = path_key.rfind('\\');
  if (last == std::string::npos) return tree;
  const std::string_view stem = std::string_view(path_key).substr(last + 1);
  const auto subkeys = ReadLocalMachineSubKeys(path_key.substr(0, last));
  if (!subkeys) return tree;
  std::map<int, std::string> pages;
  for (const tRegistrySubKey& subkey : *subkeys) {
    const int number = KeyNumber(subkey.name, stem);
    if (number >= 1 && number <= tree.count && subkey.text && !subkey.text->empty()) {
      pages.emplace(number, *subkey.text);
    }
  }
  for (auto& [number, path] : pages) tree.paths.push_back(std::move(path));
  return tree;
}

bool IsHelpPathRegistered(const std::string& path) {
  for (const std::string& registered : ReadHelpTree().paths) {
    if (EqualsIgnoreCase(registered, path)) return true;
  }
  return false;
}

int InstallHelpPages(StepContext& context) {
  const std::string source = BundleFolder(context.BundleTempDir, "HELP");
  if (!IsDirectory(source)) return 2;
  if (!CheckAbsolute(context, context.ProgramDataDir)) return 1;
  const std::string destination =
      JoinPath(context.ProgramDataDir, "WebHelp") + StringPrintf("%c%d%c", kPathSeparator, context.OemId, kPathSeparator);

  std::vector<tHelpDeletion> deletions;
  std::vector<tHelpNode> nodes;
  if (!ReadHelpDescription(context, source, &deletions, &nodes)) return 1;

  // Obsolete pages go first, whether or not the copy is then allowed.
  for (const tHelpDeletion& deletion : deletions) {
    const bool deleted = DeleteSingleFile(destination + deletion.relative);
    context.AddInfoF(deleted ? kDeleted : kNotDeleted, deletion.name.c_str());
  }

  if (PrepareOemFolder(context, destination, kHelpQuestion) == 3) return 3;
  if (!CopyFolderVerified(context, source, destination)) return 1;
  RegisterHelpNodes(context, destination, nodes);
  return 0;
}

int InstallPrintForms(StepContext& context) {
  const std::string source = BundleFolder(RemoveTrailingSeparator(context.BundleTempDir), "PRINTFORMS");
  if (!IsDirectory(source)) return 2;
  if (!CheckAbsolute(context, context.ProductIniDir)) return 1;
  const std::string destination = JoinPath(RemoveTrailingSeparator(context.ProductIniDir), "Printforms") +
                                  StringPrintf("%c%d%c", kPathSeparator, context.OemId, kPathSeparator);
  if (PrepareOemFolder(context, destination, kPrintFormsQuestion) == 3) return 3;
  return CopyFolderVerified(context, source, destination) ? 0 : 1;
}

}  // namespace kestrin
