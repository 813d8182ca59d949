// kestrin: installs OEM driver bundles into a Korvane installation.
//
//   kestrin [/r] [/i=DIR] [BUNDLE.cab|DIRECTORY...]       the dialog
//   kestrin /s [/f] [/r] [/i=DIR] BUNDLE.cab|DIRECTORY...  silent installation
//   kestrin --help | -h | --version
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/kestrin_app.h"
#include "app/program_info.h"
#include "host/process.h"
#include "kestrin/console.h"
#include "ui/gui_entry.h"

int main(int argc, char** argv) {
  kestrin::ConnectParentConsole();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  // A lone --help or --version answers before any store is looked at.
  if (const auto info = kestrin::ProgramInfoText(args)) {
    if (fputs(info->c_str(), stdout) < 0 || fflush(stdout) != 0) {
      fprintf(stderr, "kestrin: cannot write to standard output\n");
      return kestrin::kExitRefused;
    }
    return kestrin::kExitOk;
  }
  // Windows hands the command line over as text; elsewhere it is rebuilt.
  std::string command_line = kestrin::OwnCommandLineArguments().value_or(std::string());
  std::string error;
  if (!kestrin::OwnCommandLineArguments() &&
      !kestrin::RebuildCommandLine(args, &command_line, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return kestrin::kExitRefused;
  }
  kestrin::CKestrinApp app(command_line, kestrin::DialogHooks());
  app.InitInstance();
  return app.exit_status();
}
