// The machine on POSIX: the program folder from /proc/self/exe (or
// KESTRIN_PRODUCT_DIR), the per-user folder from XDG_DATA_HOME, the fixed
// settings path; and the checks before a run starts.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "host/machine_platform.h"
#include "host/product_env.h"
#include "host/registry_store.h"
#include "host/settings.h"

namespace kestrin {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      home = pw->pw_dir;
    }
  }
  return home;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string ProgramDirOf() {
  std::string dir = Env(kProductDirVariable);
  if (dir.empty()) {
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0) return std::string();
    exe.resize(static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    dir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
    return dir.empty() ? std::string("/") : dir;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string PerUserDir() {
  const std::string data = Env("XDG_DATA_HOME");
  if (!data.empty()) return data;
  const std::string home = HomeDir();
  if (home.empty()) return std::string();
  return home + "/.local/share";
}

}  // namespace

namespace machine_platform {

std::string ProgramDir() { return ProgramDirOf(); }
std::string PerUserDataDir() { return PerUserDir(); }

void Sleep(int milliseconds) {
  timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace machine_platform

std::string CheckStartConditions() {
  const std::string prefix = "Kestrin cannot start: ";
  const std::string store_path = RegistryStorePath();
  const bool store_named = !Env(kRegistryVariable).empty();
  const std::string which = store_named ? std::string(" (named by ") + kRegistryVariable + ")"
                                        : std::string(" (the default store)");
  const std::string hint = std::string("; point ") + kRegistryVariable +
                           " to the registry store of an installed Korvane";
  if (store_path.empty()) {
    return prefix + "no registry store: neither " + kRegistryVariable +
           ", XDG_CONFIG_HOME nor HOME is set" + hint;
  }
  if (::access(store_path.c_str(), F_OK) != 0) {
    return prefix + "registry store " + store_path + which + " does not exist" + hint;
  }
  RegistryStore store;
  const RegistryResult loaded = LoadRegistryStore(store_path, store);
  if (!loaded.ok()) {
    return prefix + loaded.message + "; correct it or point " + kRegistryVariable +
           " to another store";
  }
  for (const char* key : {kIniPathKey, kProgramDataDirKey}) {
    const std::string full = std::string(kLocalMachine) + "\\" + VqmGetRegistrySubKey() + key;
    const RegistryValue* value = store.FindValue(full, "");
    const std::string text = value != nullptr && value->is_string ? value->data : "";
    if (!IsAbsolute(text)) {
      const std::string problem = text.empty() ? " has no default value"
                                               : " is \"" + text + "\", not an absolute path";
      return prefix + "no Korvane in registry store " + store_path + which + ": " + full +
             problem + hint;
    }
  }
  const std::string per_user = PerUserDir();
  if (!IsAbsolute(per_user)) {
    const std::string shown = per_user.empty() ? std::string("(none: HOME is not set)")
                                               : "\"" + per_user + "\"";
    return prefix + "the per-user folder " + shown +
           " is not an absolute path; set XDG_DATA_HOME to an absolute folder";
  }
  return std::string();
}

}  // namespace kestrin
