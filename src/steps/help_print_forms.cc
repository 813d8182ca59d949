// Help pages and print forms: each OEM has a folder of its own, the help
// pages below the data folder ("WebHelp/<OEM ID>/") and registered in
// Korvane's help tree, the print forms below the INI folder
// ("Printforms/<OEM ID>/").
#include "steps/help_print_forms.h"

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <set>

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

using bundle::kDeleteBeforeSection;
using bundle::kHelpDescriptionFile;
using bundle::kHelpnodesSection;

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

std::string NumberedKey(Host& host, const char* name, int number) {
  return SettingsKey(host, StringPrintf("%s%d", name, number));
}

// Asks (interactive) or takes /f (silent) before an OEM folder that exists
// is overwritten, whoever installed it; true to go on.
bool MayReplaceOemFolder(StepContext& context, const char* question) {
  return context.AllowOverwrite(StringPrintf(question, context.OemId));
}

bool CheckAbsolute(StepContext& context, const std::string& dir) {
  if (IsAbsolutePath(dir)) return true;
  context.AddInfoF(kNotAbsolute, dir.c_str());
  return false;
}

// Creates the OEM folder when it is missing, after the question when it
// exists. False when the question was declined.
bool PrepareOemFolder(StepContext& context, const std::string& destination, const char* question) {
  if (PathExists(context.host.files, destination)) return MayReplaceOemFolder(context, question);
  CreateDirectoryTree(context.host.files, destination);  // a failure shows in the copy
  return true;
}

bool CopyFolderVerified(StepContext& context, const std::string& source,
                        const std::string& destination) {
  FsError error;
  if (CopyFilesChecked(context.host.files, source + "*.*", destination, 0, 1, &error) == 1)
    return true;
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
  const IniFile help_ini(context.host.ini, source + kHelpDescriptionFile);
  IniSectionMap delete_before;
  IniSectionMap help_nodes;
  help_ini.ReadSectionMap(kDeleteBeforeSection, delete_before);
  help_ini.ReadSectionMap(kHelpnodesSection, help_nodes);
  bool ok = true;
  std::string relative;
  std::string reason;
  for (const auto& [name, number] : delete_before) {
    if (ReadDecimal(number) == 0) continue;
    if (!NameInsideFolder(name, &relative, &reason)) {
      context.AddInfoF(kRefusedName, kHelpDescriptionFile, kDeleteBeforeSection, name.c_str(),
                       "the help directory", reason.c_str());
      ok = false;
      continue;
    }
    deletions->push_back({name, relative});
  }
  for (const auto& [name, node_name] : help_nodes) {
    if (!NameInsideFolder(name, &relative, &reason)) {
      context.AddInfoF(kRefusedName, kHelpDescriptionFile, kHelpnodesSection, name.c_str(),
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
  Host& host = context.host;
  const tHelpTree tree = ReadHelpTree(host);
  std::set<std::string> registered;
  for (const std::string& path : tree.paths) registered.insert(AsciiLower(path));
  int count = tree.count;
  std::vector<tRegistryWrite> values;
  for (const tHelpNode& node : nodes) {
    const std::string path = destination + node.relative;
    if (!registered.insert(AsciiLower(path)).second) continue;
    if (count == INT_MAX) {
      context.AddInfoF(kHelpTreeFull, count, path.c_str());
      break;
    }
    ++count;
    values.push_back({NumberedKey(host, kHelpNodeNameKey, count), node.node_name, false, {}});
    values.push_back({NumberedKey(host, kHelpPathKey, count), path, false, {}});
  }
  values.push_back({SettingsKey(host, kHelpCountKey), std::to_string(count), false, {}});
  host.registry.SetDefaultValues(values, nullptr);
}

}  // namespace

tHelpTree ReadHelpTree(Host& host) {
  tHelpTree tree;
  tree.count = std::max(
      0, CRegistryKey(host.registry, RegistryRoot::kLocalMachine, SettingsKey(host, kHelpCountKey))
             .GetInt(0));
  if (tree.count == 0) return tree;
  // The pages are looked up among the subkeys that exist, so that a count
  // far above them costs nothing.
  const std::string path_key = SettingsKey(host, kHelpPathKey);
  const size_t last = path_key.rfind('\\');
  if (last == std::string::npos) return tree;
  const std::string_view stem = std::string_view(path_key).substr(last + 1);
  const auto subkeys = host.registry.ReadSubKeys(path_key.substr(0, last));
  if (!subkeys) return tree;
  std::map<int, std::string> pages;
  for (const tRegistrySubKey& subkey : *subkeys) {
    const std::optional<int> number = NumberAfterStem(subkey.name, stem);
    if (number && *number <= tree.count && subkey.text && !subkey.text->empty()) {
      pages.emplace(*number, *subkey.text);
    }
  }
  for (auto& [number, path] : pages) tree.paths.push_back(std::move(path));
  return tree;
}

bool IsHelpPathRegistered(Host& host, const std::string& path) {
  for (const std::string& registered : ReadHelpTree(host).paths) {
    if (EqualsIgnoreCase(registered, path)) return true;
  }
  return false;
}

StepResult InstallHelpPages(StepContext& context) {
  const std::string source = BundleFolder(context, bundle::kHelpFolder);
  if (!IsDirectory(context.host.files, source)) return StepResult::kNothingToDo;
  if (!CheckAbsolute(context, context.ProgramDataDir)) return StepResult::kFailed;
  const std::string destination =
      JoinPath(JoinPath(context.ProgramDataDir, "WebHelp"), std::to_string(context.OemId)) +
      kPathSeparator;

  std::vector<tHelpDeletion> deletions;
  std::vector<tHelpNode> nodes;
  if (!ReadHelpDescription(context, source, &deletions, &nodes)) return StepResult::kFailed;

  // Obsolete pages go first, whether or not the copy is then allowed.
  for (const tHelpDeletion& deletion : deletions) {
    const bool deleted = DeleteSingleFile(context.host.files, destination + deletion.relative);
    context.AddInfoF(deleted ? kDeleted : kNotDeleted, deletion.name.c_str());
  }

  if (!PrepareOemFolder(context, destination, kHelpQuestion)) return StepResult::kDeclined;
  if (!CopyFolderVerified(context, source, destination)) return StepResult::kFailed;
  RegisterHelpNodes(context, destination, nodes);
  return StepResult::kDone;
}

StepResult InstallPrintForms(StepContext& context) {
  const std::string source = BundleFolder(context, bundle::kPrintFormsFolder);
  if (!IsDirectory(context.host.files, source)) return StepResult::kNothingToDo;
  if (!CheckAbsolute(context, context.ProductIniDir)) return StepResult::kFailed;
  const std::string destination =
      JoinPath(JoinPath(context.ProductIniDir, "Printforms"), std::to_string(context.OemId)) +
      kPathSeparator;
  if (!PrepareOemFolder(context, destination, kPrintFormsQuestion)) return StepResult::kDeclined;
  return CopyFolderVerified(context, source, destination) ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
