// Where the installed Korvane lives and which version it is: the program
// folder, the INI-file folder, the data folder, the connection-file folder
// and the installed version, read through a Host from the machine and the
// registry. Nothing here writes.
#ifndef KESTRIN_HOST_PRODUCT_ENV_H_
#define KESTRIN_HOST_PRODUCT_ENV_H_

#include <string>

#include "host/host.h"

namespace kestrin {

// Overrides the program folder (on Linux Kestrin does not usually live in
// the Korvane tree).
inline constexpr const char* kProductDirVariable = "KESTRIN_PRODUCT_DIR";
// The fixed key whose default value is the installed Korvane version.
inline constexpr const char* kInstalledVersionKey = "SOFTWARE\\Brantel\\Korvane\\CurrentVersion";
// Registry keys below the settings subkey.
inline constexpr const char* kIniPathKey = "IniPath";
inline constexpr const char* kProgramDataDirKey = "ProgramDataDir";
// A version text must fit this buffer with its NUL: 19 characters at most.
inline constexpr size_t kVersionBufferSize = 20;

// ProductDir: the folder of the running program; no trailing separator.
std::string GetProductDir(Host& host);
// ProductIniDir exactly as stored (it should end with the separator); "" when missing.
std::string GetIniPath(Host& host);
// The raw ProgramDataDir value; "" when missing.
std::string GetProgramDataDir(Host& host);
// 1 and the version when the key opens and its default value is a text of
// 1 to 19 characters; 0 otherwise (version then unspecified).
int GetInstalledVersion(Host& host, std::string& version);
// The settings subkey followed by `name`.
std::string SettingsKey(Host& host, std::string_view name);
// The folder of the connection file, ending with the separator: the one the
// settings library names, else ProgramDataDir (one trailing separator
// removed) and a separator; "" when ProgramDataDir is not set either.
std::string ConnectionFileDir(Host& host);

// Drops one trailing path separator, if there is one; nothing else.
std::string RemoveTrailingSeparator(std::string dir);
// OemCabDir: ini_path less one trailing separator, then the separator and "OEMCAB".
std::string MakeOemCabDir(const std::string& ini_path);

// Checks, before anything is written, that Kestrin has a Korvane to install
// into: a registry that can be read (on Linux a store that parses), IniPath
// and ProgramDataDir set to absolute paths, an absolute per-user folder.
// Returns "" when all hold, else the one line to print on standard error
// (and show in a message box), naming the store and what to set. Each
// platform's back end.
std::string CheckStartConditions();

}  // namespace kestrin

#endif  // KESTRIN_HOST_PRODUCT_ENV_H_
