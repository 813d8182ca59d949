// Korvane's hardware module registry: MODULES.INI in the MODULES folder of
// the product's INI folder, section "Modules" with "Count", the numbered keys
// "Module1".."ModuleN" naming the modules, and one key per module giving its
// definition file.
#ifndef KESTRIN_HOST_MODULE_REGISTRY_H_
#define KESTRIN_HOST_MODULE_REGISTRY_H_

#include <map>
#include <string>
#include <string_view>

#include "host/ini_file.h"

namespace kestrin {

// The folder and file name below the product's INI folder.
inline constexpr const char* kModulesFolderName = "MODULES";
inline constexpr const char* kModuleRegistryFileName = "MODULES.INI";

class ModuleRegistry : public IniFile {
 public:
  // `path` is the registry file; an existing file whose name differs only in
  // letter case is used.
  ModuleRegistry(IniFiles& files, const std::string& path);

  // Reads the section into the map and the numbered module names into the
  // list. A missing file or section is an empty registry.
  void Load();
  // Whether the list holds `module`, letter case ignored.
  bool Contains(std::string_view module) const;
  // Appends a module: numbered key Count+1 (Count read from the file now),
  // then the module's key = file, then "Count". Result the module's number,
  // or -1 when one of the first two writes failed ("Count" stays as it was).
  int Register(const std::string& module, const std::string& file);

  // The section's entries and the numbered module names (index from 1;
  // only the numbers present in the file or registered since).
  const std::map<std::string, std::string>& entries() const { return entries_; }
  const std::map<int, std::string>& modules() const { return modules_; }

 private:
  std::map<std::string, std::string> entries_;
  std::map<int, std::string> modules_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_MODULE_REGISTRY_H_
