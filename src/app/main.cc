// kestrin: installs OEM driver bundles into a Korvane installation.
//
//   kestrin /s [/f] [/r] [/i=DIR] BUNDLE.cab|DIRECTORY...
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/kestrin_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string command_line;
  std::string error;
  if (!kestrin::RebuildCommandLine(args, &command_line, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return kestrin::kExitRefused;
  }
  kestrin::CKestrinApp app(command_line);
  app.InitInstance();
  return app.exit_status();
}
