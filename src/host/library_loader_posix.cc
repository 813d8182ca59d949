#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/dotnet.h"
#include "host/library_loader.h"
#include "host/path_resolve.h"
#include "host/shared_library.h"

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
  // The library's own dependencies are found through its RUNPATH, the
  // nearest thing to the library's folder being searched first.
  std::string why;
  const std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(resolved, &why);
  if (!library) return fail(why);
  const char* export_name = register_server ? "DllRegisterServer" : "DllUnregisterServer";
  void* symbol = library->Find(export_name, &why);
  if (symbol == nullptr) return fail(why);
  using EntryPoint = int32_t (*)();
  const int32_t code = reinterpret_cast<EntryPoint>(symbol)();
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
