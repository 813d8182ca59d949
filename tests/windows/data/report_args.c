/* A child for the command-line tests: writes to the file that
   KESTRIN_ARGS_REPORT names its module path, its command line as the system
   handed it over (GetCommandLineA) and argv as its C runtime (msvcrt) split
   that line, each ended by a NUL byte. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int _dowildcard = 0; /* argv as split, no wildcard expansion */

int main(int argc, char** argv) {
  const char* report = getenv("KESTRIN_ARGS_REPORT");
  char module[MAX_PATH];
  FILE* out;
  int i;
  if (report == NULL || GetModuleFileNameA(NULL, module, sizeof module) == 0) return 2;
  out = fopen(report, "wb");
  if (out == NULL) return 2;
  fprintf(out, "%s%c%s%c", module, 0, GetCommandLineA(), 0);
  for (i = 0; i < argc; ++i) fprintf(out, "%s%c", argv[i], 0);
  return fclose(out) == 0 ? 0 : 2;
}
