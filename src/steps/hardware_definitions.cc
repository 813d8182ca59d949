// The hardware definitions step: the definition files of the bundle's
// MODULES folder go to the Korvane INI folder's MODULES folder, new modules
// are listed in the module registry, each module's folder of global
// definition files is copied beside it, and the two libraries a definition
// file names are copied from the bundle's EXE folder into the program folder.
#include <string>
#include <vector>

#include "bundle/bundle_format.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/install_record.h"
#include "host/module_registry.h"
#include "host/path_resolve.h"
#include "host/text_format.h"
#include "steps/overwrite_rule.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr const char* kOverwriteQuestion =
    "The driver bundle wants to overwrite the existing hardware definition file %s, that was "
    "previously installed by another vendor.\nDo you allow this ?";
constexpr const char* kCopiedDefinition = "copied ini file for hardware %s";
constexpr const char* kRegistered = "registered hardware %s as module%d in hardware.ini";
constexpr const char* kRegisterFailed = "ERROR registering hardware %s in hardware.ini";
constexpr const char* kCopiedGlobals = "copied global definition files for hardware %s";
constexpr const char* kCopiedLibrary = "copied %s to %s";
constexpr const char* kRefusedDefinition = "ERROR: hardware definition file %s refused: %s";
constexpr const char* kRefusedLibrary = "ERROR: library %s named by %s refused: %s";

// Why a definition file cannot be installed, or "" when it can. Its name
// without extension is the module's name and a key of the module registry,
// and the file name is part of a section name of the installation record.
std::string RefusalOf(const std::string& module) {
  if (module.empty()) return "no module name before the extension";
  // "." or ".." would make the module's folder the MODULES folder or its parent.
  if (module.find_first_not_of(". ") == std::string::npos) return "a module name of dots";
  if (module.find_first_of("=[]") != std::string::npos) {
    return "a module name holds none of \"=\", \"[\" and \"]\"";
  }
  return std::string();
}

// Copies the global definition files of `module` and the libraries its
// definition file names; false when a library name was refused.
bool CopyModuleCompanions(StepContext& context, const std::string& bundle_modules,
                          const std::string& korvane_modules, const std::string& file,
                          const std::string& module) {
  FileSystem& fs = context.host.files;
  const std::string globals = JoinPath(korvane_modules, module) + kPathSeparator;
  if (!PathExists(fs, globals)) CreateDirectoryTree(fs, globals);
  if (CopyFilesChecked(fs, JoinPath(JoinPath(bundle_modules, module), "*.*"), globals, 0, 0) == 1) {
    context.AddInfoF(kCopiedGlobals, module.c_str());
  }
  bool refused = false;
  const IniFile definition(context.host.ini, JoinPath(bundle_modules, file));
  for (const char* key : bundle::kLibraryKeys) {
    const std::string library = definition.GetString(bundle::kModuleSection, key);
    if (library.empty()) continue;  // a module without that library
    std::string relative, why;
    if (!NameInsideFolder(library, &relative, &why)) {
      context.AddInfoF(kRefusedLibrary, library.c_str(), file.c_str(), why.c_str());
      refused = true;
      continue;
    }
    const std::string library_source =
        JoinPath(BundleFolder(context, bundle::kExeFolder), relative);
    if (CopyFilesChecked(fs, library_source, context.ProductDir, 0, 0, nullptr,
                         NameMode::kLiteral) == 1) {
      context.AddInfoF(kCopiedLibrary, library_source.c_str(), context.ProductDir.c_str());
    }
  }
  return !refused;
}

// Lists a module in the module registry unless it is there already.
void RegisterModule(StepContext& context, const std::string& korvane_modules,
                    const std::string& file, const std::string& module) {
  ModuleRegistry registry(context.host.ini, JoinPath(korvane_modules, kModuleRegistryFileName));
  registry.Load();
  if (registry.Contains(module)) return;
  const int number = registry.Register(module, file);
  if (number >= 1) {
    context.AddInfoF(kRegistered, file.c_str(), number);
  } else {
    context.AddInfoF(kRegisterFailed, file.c_str());
  }
}

}  // namespace

StepResult InstallHardwareDefinitions(StepContext& context) {
  FileSystem& fs = context.host.files;
  const std::string bundle_modules = BundleFolder(context, bundle::kModulesFolder);
  const std::string korvane_modules = context.ProductIniDir + kModulesFolderName;
  std::vector<DirEntry> listing;
  FindFiles(fs, JoinPath(bundle_modules, "*.INI"), &listing);
  std::vector<std::string> definitions;
  for (const DirEntry& entry : listing) {
    if (!entry.is_directory) definitions.push_back(entry.name);
  }
  if (definitions.empty()) return StepResult::kNothingToDo;

  int found = 0, copied = 0, skipped = 0;
  bool refused = false;
  for (const std::string& file : definitions) {
    ++found;
    // A bundle never replaces the module registry itself.
    if (EqualsIgnoreCase(file, kModuleRegistryFileName)) break;
    const std::string module = file.substr(0, file.rfind('.'));
    if (const std::string why = RefusalOf(module); !why.empty()) {
      context.AddInfoF(kRefusedDefinition, file.c_str(), why.c_str());
      continue;
    }
    const std::string record_name = kModulesRecordPrefix + file;
    if (PathExists(fs, JoinPath(korvane_modules, file)) &&
        !MayOverwrite(context, record_name, StringPrintf(kOverwriteQuestion, file.c_str()))) {
      ++skipped;
      continue;
    }
    // Counted before the copy: a failed copy leaves the result as it is.
    ++copied;
    if (CopyFilesChecked(fs, JoinPath(bundle_modules, file), korvane_modules, 0, 0, nullptr,
                         NameMode::kLiteral) != 1) {
      continue;
    }
    if (context.InstallationRecord != nullptr) {
      context.InstallationRecord->RecordInstall(record_name, context.OemId);
    }
    context.AddInfoF(kCopiedDefinition, file.c_str());
    RegisterModule(context, korvane_modules, file, module);
    refused =
        !CopyModuleCompanions(context, bundle_modules, korvane_modules, file, module) || refused;
  }
  return found == copied + skipped && !refused ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
