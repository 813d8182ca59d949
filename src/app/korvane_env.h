// Where Korvane lives, read from the registry store: a stand-in kept in the
// application until the host layer offers the product environment. Only
// reads; the store is never written here.
#ifndef KESTRIN_APP_KORVANE_ENV_H_
#define KESTRIN_APP_KORVANE_ENV_H_

#include <string>

namespace kestrin::app_env {

// The directory of the running program, or $KESTRIN_PRODUCT_DIR.
std::string GetProductDir();
// The default values of the keys "IniPath" and "ProgramDataDir" below the
// Korvane settings subkey, as stored; "" when missing or 260 bytes or more.
std::string GetIniPath();
std::string GetProgramDataDir();
// The installed version (key SOFTWARE\Brantel\Korvane\CurrentVersion).
// 1 and *version filled when it is set, not empty and under 20 bytes; else 0.
int GetInstalledVersion(std::string* version);
// "" when Kestrin may start; otherwise the one-line reason, naming the store
// and the variable that points elsewhere.
std::string RefuseToStartMessage();

}  // namespace kestrin::app_env

#endif  // KESTRIN_APP_KORVANE_ENV_H_
