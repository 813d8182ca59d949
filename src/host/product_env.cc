#include "host/product_env.h"

#include <optional>

#include "host/path_resolve.h"
#include "host/registry_key.h"
#include "host/settings.h"

namespace kestrin {
namespace {

std::string ReadSetting(const char* key) {
  return ReadLocalMachineString(std::string(VqmGetRegistrySubKey()) + key, "").value_or("");
}

}  // namespace

std::string RemoveTrailingSeparator(std::string dir) {
  if (!dir.empty() && IsPathSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string MakeOemCabDir(const std::string& ini_path) {
  return RemoveTrailingSeparator(ini_path) + kPathSeparator + "OEMCAB";
}

std::string GetIniPath() { return ReadSetting(kIniPathKey); }

std::string GetProgramDataDir() { return ReadSetting(kProgramDataDirKey); }

int GetInstalledVersion(std::string& version) {
  const std::optional<std::string> text = ReadLocalMachineString(kInstalledVersionKey, "");
  if (!text || text->empty() || text->size() + 1 > kVersionBufferSize) return 0;
  version = *text;
  return 1;
}

}  // namespace kestrin
