#include "host/settings.h"

#include "host/path_resolve.h"
#include "host/product_env.h"

namespace kestrin {

const char* VqmGetRegistrySubKey() { return "SOFTWARE\\Brantel\\Korvane\\Settings\\"; }

std::string ConnectionFileDir() {
  const std::string data_dir = RemoveTrailingSeparator(GetProgramDataDir());
  if (data_dir.empty()) return std::string();
  return data_dir + kPathSeparator;
}

const VqmProjectSettings* VqmGetGlobalProjectSettings_set(int /*what*/) {
  static VqmProjectSettings settings;
  settings.connection_dir = ConnectionFileDir();
  return &settings;
}

}  // namespace kestrin
