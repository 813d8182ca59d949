/* Starts the rest of its command line as a child without standard handles
   and waits for it, as a console program such as cmd.exe starts a GUI
   program on Windows when nothing is redirected; exits with the child's
   exit code (255 when it cannot start). */
#include <windows.h>

int main(void) {
  const char* line = GetCommandLineA();
  char child[32768];
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  DWORD code = 255;
  /* The rest after this program's (unquoted) name and the blanks behind it. */
  while (*line != '\0' && *line != ' ') ++line;
  while (*line == ' ') ++line;
  lstrcpynA(child, line, sizeof child);
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES; /* all three left empty */
  if (!CreateProcessA(NULL, child, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 255;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  return (int)code;
}
