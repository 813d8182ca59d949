#include <shlobj.h>

#include <cstdlib>

#include "host/product_env.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// "C:\..." or "\\server\share\...".
bool IsAbsolute(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return true;
  return path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0;
}

}  // namespace

std::string GetProductDir() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  std::string path(buffer, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string PerUserDataDir() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local != nullptr && *local != '\0') return RemoveTrailingSeparator(local);
  char buffer[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) {
    return buffer;
  }
  return std::string();
}

std::string CheckStartConditions() {
  const std::string prefix = "Kestrin cannot start: ";
  for (const char* name : {kIniPathKey, kProgramDataDirKey}) {
    const std::string key = std::string(VqmGetRegistrySubKey()) + name;
    const std::string text = ReadLocalMachineString(key, "").value_or(std::string());
    if (!IsAbsolute(text)) {
      const std::string problem = text.empty() ? " has no default value"
                                               : " is \"" + text + "\", not an absolute path";
      return prefix + "no Korvane installed: HKEY_LOCAL_MACHINE\\" + key + problem;
    }
  }
  const std::string per_user = PerUserDataDir();
  if (!IsAbsolute(per_user)) {
    return prefix + "the per-user folder \"" + per_user +
           "\" is not an absolute path; set LOCALAPPDATA to an absolute folder";
  }
  return std::string();
}

}  // namespace kestrin
