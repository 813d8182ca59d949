// What each platform says of a local file beyond its contents
// (local_file_posix.cc, local_file_win32.cc).
#ifndef KESTRIN_HOST_LOCAL_FILE_H_
#define KESTRIN_HOST_LOCAL_FILE_H_

#include <cstdio>
#include <filesystem>

namespace kestrin {

// Whether `stream` is a terminal (a console on Windows), where a line
// rewritten in place can be read.
bool IsTerminal(std::FILE* stream);

// Whether `perms`, as std::filesystem reads them, mark a file as a program:
// the owner's execute bit on POSIX; never on Windows, whose file systems
// keep no such bit (the C runtime makes it up from the file name).
bool IsMarkedExecutable(std::filesystem::perms perms);

}  // namespace kestrin

#endif  // KESTRIN_HOST_LOCAL_FILE_H_
