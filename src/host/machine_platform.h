// The platform's part of the machine (product_env_posix.cc,
// product_env_win32.cc) that SystemMachine() is built on.
#ifndef KESTRIN_HOST_MACHINE_PLATFORM_H_
#define KESTRIN_HOST_MACHINE_PLATFORM_H_

#include <string>

namespace kestrin::machine_platform {

// The folder of the running program, no trailing separator.
std::string ProgramDir();
// The per-user local application-data folder; "" when unknown.
std::string PerUserDataDir();
// Blocks for at least `milliseconds` (more than 0); a signal does not
// shorten it.
void Sleep(int milliseconds);

}  // namespace kestrin::machine_platform

#endif  // KESTRIN_HOST_MACHINE_PLATFORM_H_
