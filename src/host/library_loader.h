// Calling the self-registration entry points of a driver library: the
// machine's Libraries (host/host.h).
#ifndef KESTRIN_HOST_LIBRARY_LOADER_H_
#define KESTRIN_HOST_LIBRARY_LOADER_H_

#include <string>

namespace kestrin {

// Loads the shared object at `path` (a full path; letter case is ignored as
// elsewhere), calls its "DllRegisterServer" when `register_server` is set,
// else its "DllUnregisterServer" (both take no argument and return a 32-bit
// result code), and unloads it. Result 1 when the export exists and returned
// a non-negative code, else 0 (also when the library cannot be loaded);
// `error` then says why, naming the library.
int RegisterServer(const std::string& path, bool register_server, std::string* error = nullptr);

// Where the .NET runtime loader mscoree.dll lies: on Windows in the system
// folder, elsewhere in system32 below $KESTRIN_WINDOWS_DIR; "" when unknown.
std::string DotNetLoaderPath();

}  // namespace kestrin

#endif  // KESTRIN_HOST_LIBRARY_LOADER_H_
