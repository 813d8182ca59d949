// The Korvane settings library as Kestrin needs it: where the Korvane
// settings live in the registry, and the folder of the connection file.
// On Windows it is tessel32.dll when there is one; elsewhere, and without
// it, the fixed settings path, and ProgramDataDir for the connection file
// (host/product_env.h). Each platform's back end.
#ifndef KESTRIN_HOST_SETTINGS_H_
#define KESTRIN_HOST_SETTINGS_H_

#include <optional>
#include <string>

namespace kestrin {

// The settings path without a settings library.
inline constexpr char kDefaultSettingsSubKey[] = "SOFTWARE\\Brantel\\Korvane\\Settings\\";

// The registry path of the Korvane settings below HKEY_LOCAL_MACHINE,
// ending with "\"; names are appended directly. The same text every call.
const char* VqmGetRegistrySubKey();

// The connection-file folder of the library's global project settings
// (record 640); nothing without a settings library.
std::optional<std::string> SettingsLibraryConnectionDir();

}  // namespace kestrin

#endif  // KESTRIN_HOST_SETTINGS_H_
