#include "kestrin/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace kestrin {

namespace {

bool HasStream(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Points `stream` and the standard handle `which` at the console. The C
// runtime keeps a stream it found without a handle closed (freopen refuses
// it), so the stream is replaced by one opened on the console, the way the
// runtime's own documentation shows.
void ToConsole(DWORD which, FILE* stream) {
  const HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(console), _O_TEXT);
  FILE* opened = fd < 0 ? nullptr : _fdopen(fd, "w");
  if (opened == nullptr) {
    if (fd < 0) CloseHandle(console);
    return;
  }
  SetStdHandle(which, console);
  *stream = *opened;
  // Whole lines reach the console at once (the exit flushes the rest).
  setvbuf(stream, nullptr, _IOFBF, BUFSIZ);
}

}  // namespace

void ConnectParentConsole() {
  const bool out = HasStream(STD_OUTPUT_HANDLE), err = HasStream(STD_ERROR_HANDLE);
  if (out && err) return;
  // ERROR_ACCESS_DENIED: this process shares a console already (Wine gives
  // its GUI programs the console of their parent).
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return;
  if (!out) ToConsole(STD_OUTPUT_HANDLE, stdout);
  if (!err) ToConsole(STD_ERROR_HANDLE, stderr);
}

}  // namespace kestrin
