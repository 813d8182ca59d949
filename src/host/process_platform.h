// The platform's part of the program search that FindProgram runs
// (process_posix.cc, process_win32.cc).
#ifndef KESTRIN_HOST_PROCESS_PLATFORM_H_
#define KESTRIN_HOST_PROCESS_PLATFORM_H_

#include <string>

#include "host/process.h"

namespace kestrin::process_platform {

// What separates the folders of PATH, and the characters that end a folder
// in a native program name.
extern const char kSearchListSeparator;
extern const char* const kFolderEnds;

// The folder searched first for a name without one: the caller's
// application folder, or the folder of the running program.
std::string ApplicationDir(const ProcessOptions& options);
// A program name as written on a command line, with native separators.
std::string NativeProgramName(std::string written);
// The native path of an existing non-folder `candidate`, or empty.
std::string ExistingFile(const std::string& candidate);

}  // namespace kestrin::process_platform

#endif  // KESTRIN_HOST_PROCESS_PLATFORM_H_
