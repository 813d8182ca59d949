// The post-commands step: runs the command lines of the bundle's
// "POST_COMMANDS" section one after another, each to its end.
#include <string>
#include <string_view>

#include "bundle/bundle_format.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

// Replaces every `placeholder` in `text` by `value`; the inserted text is
// not searched again.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

bool RunPostCommands(StepContext& context) {
  IniEntryList lines;
  IniFile(context.host.ini, DescriptionFile(context))
      .ReadSectionList(bundle::kPostCommandsSection, lines);
  bool all_started = true;
  for (const IniEntry& line : lines) {
    // The whole line is lowered first, so the placeholders match in any
    // letter case; the directories put in keep theirs.
    std::string command = AsciiLower(line.second);
    ReplaceAll(command, "$bindir", context.BinDir);
    ReplaceAll(command, "$appdatadir", context.ProgramDataDir);

    ProcessOptions options;
    // A program named without a folder is looked for first in the program
    // folder, the installer's own folder on Windows.
    options.application_dir = context.ProductDir;
    options.on_started = [&](const ProcessResult&) {
      context.AddInfoF("Execute command '%s'.", command.c_str());
    };
    // Waits without a time limit; the exit code is not looked at.
    if (!context.host.processes.Run(command, options).started) {
      context.AddInfoF("ERROR: Execution of post command failed: '%s'", command.c_str());
      all_started = false;
    }
  }
  return all_started;
}

}  // namespace kestrin
