// The Korvane settings library as Kestrin needs it: where the Korvane
// settings live in the registry, and the folder of the connection file.
#ifndef KESTRIN_HOST_SETTINGS_H_
#define KESTRIN_HOST_SETTINGS_H_

#include <string>

namespace kestrin {

// The registry path of the Korvane settings below HKEY_LOCAL_MACHINE,
// ending with "\"; names are appended directly. The same text every call.
const char* VqmGetRegistrySubKey();

// The part of the global project settings Kestrin reads.
struct VqmProjectSettings {
  // Folder of the connection file, ending with the path separator:
  // ProgramDataDir (one trailing separator removed) followed by "/"; empty
  // when ProgramDataDir is not set.
  std::string connection_dir;
};

// The settings record; Kestrin passes 640. The record is owned by this
// module and refreshed from the registry store at each call.
const VqmProjectSettings* VqmGetGlobalProjectSettings_set(int what);

// The connection-file folder (as in the record above).
std::string ConnectionFileDir();

}  // namespace kestrin

#endif  // KESTRIN_HOST_SETTINGS_H_
