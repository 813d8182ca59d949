#include "host/dotnet.h"

#include <optional>

#include "host/library_loader.h"
#include "host/pe_version.h"
#include "host/registry_key.h"

namespace kestrin {

bool GetDotNetInstallRoot(Registry& registry, std::string* root) {
  const std::optional<std::string> value =
      ReadLocalMachineString(registry, kDotNetFrameworkKey, kDotNetInstallRootValue);
  *root = value.value_or(std::string());
  return value.has_value();
}

std::string LoaderVersionOf(const std::string& path) {
  return path.empty() ? std::string() : CutAtThirdDot(ReadPeFileVersion(path));
}

namespace {

class SystemLibrariesImpl : public Libraries {
 public:
  int RegisterServer(const std::string& path, bool register_server, std::string* error) override {
    return kestrin::RegisterServer(path, register_server, error);
  }
  std::string DotNetLoaderVersion() override { return LoaderVersionOf(DotNetLoaderPath()); }
};

}  // namespace

Libraries& SystemLibraries() {
  static SystemLibrariesImpl libraries;
  return libraries;
}

std::string CutAtThirdDot(std::string version) {
  size_t dot = std::string::npos;
  for (int i = 0; i < 3; ++i) {
    dot = version.find('.', dot == std::string::npos ? 0 : dot + 1);
    if (dot == std::string::npos) return version;
  }
  version.erase(dot);
  return version;
}

}  // namespace kestrin
