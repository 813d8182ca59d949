// The driver libraries step: every library the "DRIVERS" section of hw.ini
// lists is copied from the bundle's DRIVERS folder into the program folder
// and registered as its option says.
#include "steps/driver_libraries.h"

#include <string>

#include "bundle/bundle_format.h"
#include "host/dotnet.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"
#include "host/process.h"
#include "host/text_format.h"
#include "steps/overwrite_rule.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr const char* kOverwriteQuestion =
    "The driver bundle wants to overwrite the existing DLL %s, that was previously installed by "
    "another vendor.\nDo you allow this ?";
constexpr const char* kDeleteFailed = "ERROR: Could not delete %s driver file";
constexpr const char* kCopied = "copied driver dll %s to %s";
constexpr const char* kCopyFailed = "ERROR copying driver dll %s";
constexpr const char* kRegistered = "successfully registered driver dll %s";
constexpr const char* kRegisterFailed = "ERROR registering driver dll %s";
constexpr const char* kRefused = "ERROR: driver dll name %s refused: %s";
constexpr const char* kAssemblyStarted = "Registered Assembly %s successfully.";
constexpr const char* kAssemblyFailed = "Registered Assembly %s failed.";

// Registers a library as its option asks: "regasm" through the framework,
// "noreg" not at all, anything else through its DllRegisterServer.
void Register(StepContext& context, const std::string& name, const std::string& option,
              const std::string& installed) {
  int registered = -1;
  if (EqualsIgnoreCase(option, bundle::kRegasmOption)) {
    registered = RegisterAssembly(context, installed);
  } else if (!EqualsIgnoreCase(option, bundle::kNoregOption)) {
    registered = context.host.libraries.RegisterServer(installed, true, nullptr);
  }
  if (registered == 1) {
    context.AddInfoF(kRegistered, name.c_str());
  } else if (registered == 0) {
    context.AddInfoF(kRegisterFailed, name.c_str());
  }
}

}  // namespace

std::string RegasmCommandLine(const std::string& root, const std::string& version,
                              const std::string& library) {
  return StringPrintf("%s\\v%s\\regasm.exe /silent %s ", root.c_str(), version.c_str(),
                      library.c_str());
}

int RegisterAssembly(StepContext& context, const std::string& library) {
  std::string root;
  GetDotNetInstallRoot(context.host.registry, &root);
  ProcessOptions options;
  options.wait = false;  // its outcome is not looked at
  const ProcessResult process = context.host.processes.Run(
      RegasmCommandLine(root, context.host.libraries.DotNetLoaderVersion(), library), options);
  context.AddInfo(StringPrintf(process.started ? kAssemblyStarted : kAssemblyFailed,
                               library.c_str()),
                  1, false);
  return process.started ? 1 : 0;
}

StepResult InstallDriverLibraries(StepContext& context) {
  FileSystem& fs = context.host.files;
  IniEntryList entries;
  IniFile(context.host.ini, DescriptionFile(context))
      .ReadSectionList(bundle::kDriversSection, entries);
  int found = 0, copied = 0, skipped = 0;
  for (const auto& [name, option] : entries) {
    if (name == "." || name == "..") continue;
    std::string relative, why;
    if (!NameInsideFolder(name, &relative, &why)) {
      // Counted as found and not copied: the step fails.
      ++found;
      context.AddInfoF(kRefused, name.c_str(), why.c_str());
      continue;
    }
    const std::string source = JoinPath(BundleFolder(context, bundle::kDriversFolder), relative);
    if (!PathExists(fs, source)) continue;
    ++found;
    // A name with folders still lands in the program folder itself, where it
    // is looked for, recorded and registered.
    const std::string installed = JoinPath(context.ProductDir, FileNameOf(relative));
    if (PathExists(fs, installed)) {
      if (!MayOverwrite(context, name, StringPrintf(kOverwriteQuestion, name.c_str()))) {
        ++skipped;
        continue;
      }
      if (EqualsIgnoreCase(option, bundle::kDeleteOption) &&
          DeleteFiles(fs, installed, nullptr, NameMode::kLiteral) != 1) {
        context.AddInfoF(kDeleteFailed, installed.c_str());
      }
    }
    if (CopyFilesChecked(fs, source, context.ProductDir, 0, 0, nullptr, NameMode::kLiteral) == 1) {
      ++copied;
      if (context.InstallationRecord != nullptr) {
        context.InstallationRecord->RecordInstall(name, context.OemId);
      }
      context.AddInfoF(kCopied, name.c_str(), context.ProductDir.c_str());
    } else {
      context.AddInfoF(kCopyFailed, name.c_str());
    }
    // Registered even after a failed copy: an older copy may be in place.
    Register(context, name, option, installed);
  }
  return found == copied + skipped ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
