#include "host/product_env.h"

#include <optional>

#include "host/machine_platform.h"
#include "host/path_resolve.h"
#include "host/registry_key.h"
#include "host/settings.h"

namespace kestrin {
namespace {

class SystemMachineImpl : public Machine {
 public:
  std::string ProgramDir() override { return machine_platform::ProgramDir(); }
  std::string PerUserDataDir() override { return machine_platform::PerUserDataDir(); }
  std::string SettingsSubKey() override { return VqmGetRegistrySubKey(); }
  std::optional<std::string> SettingsConnectionDir() override {
    return SettingsLibraryConnectionDir();
  }
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) machine_platform::Sleep(milliseconds);
  }
};

}  // namespace

Machine& SystemMachine() {
  static SystemMachineImpl machine;
  return machine;
}

std::string RemoveTrailingSeparator(std::string dir) {
  if (!dir.empty() && IsPathSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string MakeOemCabDir(const std::string& ini_path) {
  return RemoveTrailingSeparator(ini_path) + kPathSeparator + "OEMCAB";
}

std::string SettingsKey(Host& host, std::string_view name) {
  return host.machine.SettingsSubKey() + std::string(name);
}

std::string GetProductDir(Host& host) { return host.machine.ProgramDir(); }

std::string GetIniPath(Host& host) {
  return ReadLocalMachineString(host.registry, SettingsKey(host, kIniPathKey), "").value_or("");
}

std::string GetProgramDataDir(Host& host) {
  return ReadLocalMachineString(host.registry, SettingsKey(host, kProgramDataDirKey), "")
      .value_or("");
}

int GetInstalledVersion(Host& host, std::string& version) {
  const std::optional<std::string> text =
      ReadLocalMachineString(host.registry, kInstalledVersionKey, "");
  if (!text || text->empty() || text->size() + 1 > kVersionBufferSize) return 0;
  version = *text;
  return 1;
}

std::string ConnectionFileDir(Host& host) {
  if (std::optional<std::string> dir = host.machine.SettingsConnectionDir()) return *dir;
  const std::string data_dir = RemoveTrailingSeparator(GetProgramDataDir(host));
  if (data_dir.empty()) return std::string();
  return data_dir + kPathSeparator;
}

}  // namespace kestrin
