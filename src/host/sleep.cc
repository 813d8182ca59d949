#include "host/sleep.h"

#include <cerrno>
#include <ctime>
#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrin {

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
#ifdef _WIN32
  Sleep(static_cast<DWORD>(milliseconds));
#else
  timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
#endif
}

}  // namespace kestrin
