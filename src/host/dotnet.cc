#include "host/dotnet.h"

#include <cstdlib>
#ifdef _WIN32
#include <windows.h>
#endif
#include <optional>

#include "host/pe_version.h"
#include "host/registry_key.h"

namespace kestrin {

bool GetDotNetInstallRoot(std::string* root) {
  const std::optional<std::string> value =
      ReadLocalMachineString(kDotNetFrameworkKey, kDotNetInstallRootValue);
  *root = value.value_or(std::string());
  return value.has_value();
}

std::string GetMscoreeVersion() {
#ifdef _WIN32
  char system[MAX_PATH];
  const UINT n = GetSystemDirectoryA(system, sizeof system);
  if (n == 0 || n >= sizeof system) return std::string();
  return CutAtThirdDot(ReadPeFileVersion(std::string(system, n) + "\\mscoree.dll"));
#else
  const char* windows = std::getenv(kWindowsDirVariable);
  if (windows == nullptr || *windows == '\0') return std::string();
  std::string path(windows);
  if (path.back() != '/') path += '/';
  return CutAtThirdDot(ReadPeFileVersion(path + "system32/mscoree.dll"));
#endif
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
