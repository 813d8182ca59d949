// What registering a .NET assembly needs to know of the machine: where the
// .NET framework lies (the registry) and which version its runtime loader
// has (Libraries::DotNetLoaderVersion).
#ifndef KESTRIN_HOST_DOTNET_H_
#define KESTRIN_HOST_DOTNET_H_

#include <string>

#include "host/host.h"

namespace kestrin {

// The Windows folder; the runtime loader is "system32/mscoree.dll" below it.
inline constexpr const char* kWindowsDirVariable = "KESTRIN_WINDOWS_DIR";
// Where the framework's install root is kept below HKEY_LOCAL_MACHINE.
inline constexpr const char* kDotNetFrameworkKey = "SOFTWARE\\Microsoft\\.NETFramework";
inline constexpr const char* kDotNetInstallRootValue = "InstallRoot";

// The named value "InstallRoot" of the framework key (normally ending with a
// separator). false and "" when it cannot be read.
bool GetDotNetInstallRoot(Registry& registry, std::string* root);

// The file version of the loader at `path`, cut to its first three fields;
// "" without a path, that file or a version (Libraries::DotNetLoaderVersion).
std::string LoaderVersionOf(const std::string& path);

// Removes the third "." of `version` and everything after it ("2.0.50727.42"
// gives "2.0.50727"); a text with fewer dots stays whole.
std::string CutAtThirdDot(std::string version);

}  // namespace kestrin

#endif  // KESTRIN_HOST_DOTNET_H_
