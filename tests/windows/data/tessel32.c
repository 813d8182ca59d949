/* A stand-in for the Korvane settings library: the settings path and a
   settings record whose text at byte 48 names the connection-file folder. */
#include <string.h>

static const char kSubKey[] = "SOFTWARE\\Brantel\\Korvane\\Settings\\";
/* The folder scripts/test-windows expects the connection file in. */
#define TESSEL_CONNECTION_DIR "C:\\Korvane\\Connections\\"
static char record[48 + 260];

__declspec(dllexport) const char* VqmGetRegistrySubKey(void) { return kSubKey; }

__declspec(dllexport) const void* VqmGetGlobalProjectSettings_set(int what) {
  (void)what;
  strcpy(record + 48, TESSEL_CONNECTION_DIR);
  return record;
}
