// Registration of in-process servers: LoadLibraryExA with the library's own
// folder searched first for its dependencies, then DllRegisterServer.
#include <cstdint>
#include <cstdio>

#include "host/library_loader.h"
#include "host/win32_util.h"

namespace kestrin {

int RegisterServer(const std::string& path, bool register_server, std::string* error) {
  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    return 0;
  };
  const std::string native = WinPath(path);
  if (native.find_first_of("\\:") == std::string::npos) {
    // LoadLibraryEx would search the system folders for a bare name.
    return fail("not a path to a library: " + path);
  }
  // LoadLibraryEx takes no "\\?\" form: a library must lie within MAX_PATH.
  if (native.size() >= MAX_PATH) {
    return fail("cannot load " + native + ": " + BeyondMaxPath("loads a library from"));
  }
  HMODULE module = LoadLibraryExA(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return fail("cannot load " + native + ": " + Win32ErrorText(GetLastError()));
  const char* export_name = register_server ? "DllRegisterServer" : "DllUnregisterServer";
  using EntryPoint = HRESULT(STDAPICALLTYPE*)();
  const auto entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, export_name)));
  if (entry == nullptr) {
    FreeLibrary(module);
    return fail(std::string("no ") + export_name + " in " + native);
  }
  const HRESULT code = entry();
  FreeLibrary(module);
  if (code < 0) {
    char text[32];
    snprintf(text, sizeof(text), "0x%08X", static_cast<uint32_t>(code));
    return fail(std::string(export_name) + " of " + native + " failed with " + text);
  }
  return 1;
}

std::string DotNetLoaderPath() {
  char system[MAX_PATH];
  const UINT n = GetSystemDirectoryA(system, sizeof system);
  if (n == 0 || n >= sizeof system) return std::string();
  return std::string(system, n) + "\\mscoree.dll";
}

}  // namespace kestrin
