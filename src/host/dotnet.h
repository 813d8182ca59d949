// What registering a .NET assembly needs to know of the machine: where the
// .NET framework lies and which version its runtime loader has.
#ifndef KESTRIN_HOST_DOTNET_H_
#define KESTRIN_HOST_DOTNET_H_

#include <string>

namespace kestrin {

// The Windows folder; the runtime loader is "system32/mscoree.dll" below it.
inline constexpr const char* kWindowsDirVariable = "KESTRIN_WINDOWS_DIR";
// Where the framework's install root is kept below HKEY_LOCAL_MACHINE.
inline constexpr const char* kDotNetFrameworkKey = "SOFTWARE\\Microsoft\\.NETFramework";
inline constexpr const char* kDotNetInstallRootValue = "InstallRoot";

// The named value "InstallRoot" of the framework key in the registry store
// (normally ending with a separator). false and "" when it cannot be read.
bool GetDotNetInstallRoot(std::string* root);

// The file version of $KESTRIN_WINDOWS_DIR/system32/mscoree.dll, cut to its
// first three fields; "" without that variable, that file or a version.
std::string GetMscoreeVersion();

// Removes the third "." of `version` and everything after it ("2.0.50727.42"
// gives "2.0.50727"); a text with fewer dots stays whole.
std::string CutAtThirdDot(std::string version);

}  // namespace kestrin

#endif  // KESTRIN_HOST_DOTNET_H_
