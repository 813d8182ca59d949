// The machine on Win32: the program folder from the module's own path, the
// per-user folder from LOCALAPPDATA (or the shell), the settings library;
// and the checks before a run starts.
#include <shlobj.h>

#include <cstdlib>

#include "host/machine_platform.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

std::string ProgramDirOf() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  std::string path(buffer, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string PerUserDir() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local != nullptr && *local != '\0') return RemoveTrailingSeparator(local);
  char buffer[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) {
    return buffer;
  }
  return std::string();
}

}  // namespace

namespace machine_platform {

std::string ProgramDir() { return ProgramDirOf(); }
std::string PerUserDataDir() { return PerUserDir(); }
void Sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace machine_platform

std::string CheckStartConditions() {
  const std::string prefix = "Kestrin cannot start: ";
  for (const char* name : {kIniPathKey, kProgramDataDirKey}) {
    const std::string key = std::string(VqmGetRegistrySubKey()) + name;
    const std::string text =
        ReadLocalMachineString(SystemRegistry(), key, "").value_or(std::string());
    if (!IsAbsolutePath(text)) {
      const std::string problem = text.empty() ? " has no default value"
                                               : " is \"" + text + "\", not an absolute path";
      return prefix + "no Korvane installed: HKEY_LOCAL_MACHINE\\" + key + problem;
    }
  }
  const std::string per_user = PerUserDir();
  if (!IsAbsolutePath(per_user)) {
    return prefix + "the per-user folder \"" + per_user +
           "\" is not an absolute path; set LOCALAPPDATA to an absolute folder";
  }
  return std::string();
}

}  // namespace kestrin
