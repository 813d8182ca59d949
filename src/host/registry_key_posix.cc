// The registry on POSIX: the store file that KESTRIN_REGISTRY names (or the
// one in the user's configuration folder).
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "host/registry_store.h"

namespace kestrin {

std::string RegistryStorePath() {
  const char* explicit_path = std::getenv(kRegistryVariable);
  if (explicit_path != nullptr && *explicit_path != '\0') return explicit_path;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && *config != '\0') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_dir = home != nullptr ? home : "";
    if (home_dir.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home_dir = pw->pw_dir;
      }
    }
    if (home_dir.empty()) return std::string();
    base = home_dir + "/.config";
  }
  return base + "/Brantel/registry.reg";
}

namespace {

// The store RegistryStorePath names at each call.
class NamedStore : public RegistryStoreFile {
 public:
  NamedStore() : RegistryStoreFile(std::string()) {}
  std::string Path() const override { return RegistryStorePath(); }
};

}  // namespace

Registry& SystemRegistry() {
  static NamedStore registry;
  return registry;
}

}  // namespace kestrin
