#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "host/dotnet.h"
#include "host/library_loader.h"
#include "host/path_resolve.h"

namespace kestrin {

int RegisterServer(const std::string& path, bool register_server, std::string* error) {
  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    return 0;
  };
  const std::string resolved = ResolvePath(path);
  if (resolved.find('/') == std::string::npos) {
    // dlopen would search the library path for a bare name.
    return fail("not a path to a library: " + path);
  }
  // RTLD_LOCAL keeps the library's symbols to itself; the library's own
  // dependencies are found through its RUNPATH, the nearest thing to the
  // library's folder being searched first.
  void* handle = dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    return fail("cannot load " + resolved + ": " + (why != nullptr ? why : "unknown reason"));
  }
  const char* export_name = register_server ? "DllRegisterServer" : "DllUnregisterServer";
  dlerror();
  void* symbol = dlsym(handle, export_name);
  if (symbol == nullptr) {
    dlclose(handle);
    return fail(std::string("no ") + export_name + " in " + resolved);
  }
  using EntryPoint = int32_t (*)();
  const int32_t code = reinterpret_cast<EntryPoint>(symbol)();
  dlclose(handle);
  if (code < 0) {
    char text[32];
    snprintf(text, sizeof(text), "0x%08X", static_cast<uint32_t>(code));
    return fail(std::string(export_name) + " of " + resolved + " failed with " + text);
  }
  return 1;
}

std::string DotNetLoaderPath() {
  const char* windows = std::getenv(kWindowsDirVariable);
  if (windows == nullptr || *windows == '\0') return std::string();
  std::string path(windows);
  if (path.back() != '/') path += '/';
  return path + "system32/mscoree.dll";
}

}  // namespace kestrin
