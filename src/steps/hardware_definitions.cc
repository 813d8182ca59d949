// The hardware definitions step: the definition files of the bundle's
// MODULES folder go to the Korvane INI folder's MODULES folder, new modules
// are listed in the module registry, each module's folder of global
// definition files is copied beside it, and the two libraries a definition
// file names are copied from the bundle's EXE folder into the program folder.
#include <string>
#include <vector>

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

// The section and keys of a definition file that name its libraries.
constexpr const char* kModuleSection = "MODULE";
constexpr const char* kLibraryKeys[] = {"PCodeDll32", "HConfigDll32"};

enum { kDone = 0, kIncomplete = 1, kNoDefinitions = 2 };

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

}  // namespace

int InstallHardwareDefinitions(StepContext& context) {
  const std::string bundle_modules = context.BundleTempDir + "/" + kModulesFolderName;
  const std::string korvane_modules = context.ProductIniDir + kModulesFolderName;
  std::vector<DirEntry> listing;
  FindFiles(bundle_modules + "/*.INI", &listing);
  std::vector<std::string> definitions;
  for (const DirEntry& entry : listing) {
    if (!entry.is_directory) definitions.push_back(entry.name);
  }
  if (definitions.empty()) return kNoDefinitions;

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
    const std::string source = bundle_modules + "/" + file;
    const std::string record_name = kModulesRecordPrefix + file;
    if (PathExists(korvane_modules + "/" + file) &&
        !MayOverwrite(context, record_name, StringPrintf(kOverwriteQuestion, file.c_str()))) {
      ++skipped;
      continue;
    }
    // Counted before the copy: a failed copy leaves the result as it is.
    ++copied;
    if (CopyFilesChecked(source, korvane_modules, 0, 0, nullptr, NameMode::kLiteral) != 1) continue;
    if (context.InstallationRecord != nullptr) {
      context.InstallationRecord->RecordInstall(record_name, context.OemId);
    }
    context.AddInfoF(kCopiedDefinition, file.c_str());

    ModuleRegistry registry(korvane_modules + "/" + kModuleRegistryFileName);
    registry.Load();
    if (!registry.Contains(module)) {
      const int number = registry.Register(module, file);
      if (number >= 1) {
        context.AddInfoF(kRegistered, file.c_str(), number);
      } else {
        context.AddInfoF(kRegisterFailed, file.c_str());
      }
    }

    const std::string globals = korvane_modules + "/" + module + "/";
    if (!PathExists(globals)) CreateDirectoryTree(globals);
    if (CopyFilesChecked(bundle_modules + "/" + module + "/*.*", globals, 0, 0) == 1) {
      context.AddInfoF(kCopiedGlobals, module.c_str());
    }

    const IniFile definition(source);
    for (const char* key : kLibraryKeys) {
      const std::string library = definition.GetString(kModuleSection, key);
      if (library.empty()) continue;  // a module without that library
      std::string relative, why;
      if (!NameInsideFolder(library, &relative, &why)) {
        context.AddInfoF(kRefusedLibrary, library.c_str(), file.c_str(), why.c_str());
        refused = true;
        continue;
      }
      const std::string library_source = context.BundleTempDir + "/EXE/" + relative;
      if (CopyFilesChecked(library_source, context.ProductDir, 0, 0, nullptr,
                           NameMode::kLiteral) == 1) {
        context.AddInfoF(kCopiedLibrary, library_source.c_str(), context.ProductDir.c_str());
      }
    }
  }
  return found == copied + skipped && !refused ? kDone : kIncomplete;
}

}  // namespace kestrin
