#include "host/settings.h"

namespace kestrin {

const char* VqmGetRegistrySubKey() { return kDefaultSettingsSubKey; }

std::optional<std::string> SettingsLibraryConnectionDir() { return std::nullopt; }

}  // namespace kestrin
