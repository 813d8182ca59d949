// Samples, libraries and templates: the bundle's SAMPLES, LIB and TEMPLATES
// folders copied into Korvane one subfolder at a time. Samples go to the data
// folder and are recorded per OEM; libraries and templates go to the INI
// folder, libraries after a question for each one that exists, templates
// after an optional recovery that empties the template folder first.
#include <string>
#include <vector>

#include "bundle/bundle_format.h"
#include "host/file_system.h"
#include "host/install_record.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/text_format.h"
#include "steps/overwrite_rule.h"
#include "steps/step_paths.h"
#include "steps/steps.h"

namespace kestrin {
namespace {

constexpr char kSampleQuestion[] =
    "The driver bundle wants to overwrite the existing sample directory %s, that was previously "
    "installed by another vendor.\nDo you allow this ?";
constexpr char kSampleCopied[] = " *** Samples directory successfully copied ***";
constexpr char kSampleNotCopied[] = "ERROR copying samples directory";

constexpr char kRecoverQuestion[] =
    "The driver bundle wants to recover the existing template folder.\nDo you allow this ?";
constexpr char kTemplatesDeleted[] = " *** Template folder content deleted ***";
constexpr char kTemplateCopied[] = "Template subfolder successfully copied: %s";
constexpr char kTemplateNotCopied[] = "ERROR copying template subfolder: %s";

constexpr char kLibQuestion[] =
    "The driver bundle wants to overwrite the existing lib directory %s, that was previously "
    "installed.\nDo you allow this ?";
constexpr char kLibDeclined[] = "User decided not to copy lib: %s";
constexpr char kLibNotForced[] = "No overwriting was set with silent-mode for copying lib: %s";
constexpr char kLibCopied[] = "Lib directory successfully copied: %s";
constexpr char kLibNotCopied[] = "ERROR copying lib directory: %s";

constexpr char kNotAbsolute[] = "ERROR: the Korvane folder \"%s\" is not an absolute path";
constexpr char kFsDetail[] = "ERROR: %s";

bool Hidden(const DirEntry& entry) { return !entry.name.empty() && entry.name[0] == '.'; }

// The entries of a bundle folder in enumeration order; false when the
// folder cannot be read.
bool ListFolder(StepContext& context, const std::string& folder, std::vector<DirEntry>* entries) {
  return FindFiles(context.host.files, folder + "*.*", entries);
}

// The INI folder as the registry holds it now, with its trailing separator;
// "" (after a report line) when it is not an absolute path.
std::string CurrentIniDir(StepContext& context) {
  std::string dir = GetIniPath(context.host);
  if (!IsAbsolutePath(dir)) {
    context.AddInfoF(kNotAbsolute, dir.c_str());
    return std::string();
  }
  if (!IsPathSeparator(dir.back())) dir += kPathSeparator;
  return dir;
}

// Copies the subfolder `name` of `source` into the same name below
// `destination`, creating it when it is missing.
bool CopySubfolder(StepContext& context, const std::string& source, const std::string& destination,
                   const std::string& name, int verify) {
  FileSystem& fs = context.host.files;
  const std::string target = destination + name + kPathSeparator;
  if (!PathExists(fs, target)) CreateDirectoryTree(fs, target);  // a failure shows in the copy
  FsError error;
  if (CopyFilesChecked(fs, JoinPath(source + name, "*.*"), target, 0, verify, &error) == 1)
    return true;
  if (!error.text.empty()) context.AddInfoF(kFsDetail, error.text.c_str());
  return false;
}

}  // namespace

StepResult InstallSamples(StepContext& context) {
  const std::string source = BundleFolder(context, bundle::kSamplesFolder);
  std::vector<DirEntry> entries;
  if (!IsDirectory(context.host.files, source) || !ListFolder(context, source, &entries)) {
    return StepResult::kNothingToDo;
  }
  if (!IsAbsolutePath(context.ProgramDataDir)) {
    context.AddInfoF(kNotAbsolute, context.ProgramDataDir.c_str());
    return StepResult::kFailed;
  }
  const std::string destination = JoinPath(context.ProgramDataDir, "SAMPLES") + kPathSeparator;
  bool ok = true;
  for (const DirEntry& entry : entries) {
    if (!entry.is_directory || Hidden(entry)) continue;  // files directly in SAMPLES are ignored
    const std::string record_name = kSamplesRecordPrefix + entry.name;
    if (PathExists(context.host.files, destination + entry.name) &&
        !MayOverwrite(context, record_name, StringPrintf(kSampleQuestion, entry.name.c_str()))) {
      continue;
    }
    if (CopySubfolder(context, source, destination, entry.name, 0)) {
      if (context.InstallationRecord) context.InstallationRecord->RecordInstall(record_name, context.OemId);
      context.AddInfoF("%s", kSampleCopied);
    } else {
      context.AddInfoF("%s", kSampleNotCopied);
      ok = false;
    }
  }
  return ok ? StepResult::kDone : StepResult::kFailed;
}

StepResult InstallLibraries(StepContext& context) {
  int found = 0;
  int copied = 0;
  const std::string source = BundleFolder(context, bundle::kLibFolder);
  if (!IsDirectory(context.host.files, source)) return StepResult::kNothingToDo;
  std::vector<DirEntry> entries;
  ListFolder(context, source, &entries);
  const std::string ini_dir = CurrentIniDir(context);
  const std::string destination = ini_dir + "LIB" + kPathSeparator;
  for (const DirEntry& entry : entries) {
    if (!entry.is_directory || Hidden(entry)) continue;
    ++found;
    if (ini_dir.empty()) continue;  // nowhere to copy to
    const char* name = entry.name.c_str();
    if (PathExists(context.host.files, destination + entry.name) &&
        !context.AllowOverwrite(StringPrintf(kLibQuestion, name))) {
      context.AddInfoF(context.SilentMode ? kLibNotForced : kLibDeclined, name);
      continue;
    }
    if (CopySubfolder(context, source, destination, entry.name, 1)) {
      context.AddInfoF(kLibCopied, name);
      ++copied;
    } else {
      context.AddInfoF(kLibNotCopied, name);
    }
  }
  if (found == 0) return StepResult::kFailed;
  if (copied == 0) return StepResult::kNoneCopied;
  return copied < found ? StepResult::kNotAllCopied : StepResult::kDone;
}

StepResult InstallTemplates(StepContext& context, bool recover) {
  FileSystem& fs = context.host.files;
  const std::string source = BundleFolder(context, bundle::kTemplatesFolder);
  if (!IsDirectory(fs, source)) return StepResult::kNothingToDo;
  const std::string ini_dir = CurrentIniDir(context);
  if (ini_dir.empty()) return StepResult::kFailed;
  const std::string destination = ini_dir + "TEMPLATES" + kPathSeparator;
  // Silent mode recovers without asking, whatever /f says.
  if (recover && (context.SilentMode || context.AskYesNo(kRecoverQuestion))) {
    DeleteFiles(fs, destination + "*.*");  // its outcome is not reported
    context.AddInfoF("%s", kTemplatesDeleted);
  }
  context.TemplateSourcePath = source;
  context.TemplateTargetPath = destination;

  std::vector<DirEntry> entries;
  if (!ListFolder(context, source, &entries)) return StepResult::kNothingToDo;
  bool ok = true;
  for (const DirEntry& entry : entries) {
    if (Hidden(entry)) continue;
    if (entry.is_directory) {
      const bool copied = CopySubfolder(context, source, destination, entry.name, 0);
      context.AddInfoF(copied ? kTemplateCopied : kTemplateNotCopied, entry.name.c_str());
      ok = ok && copied;
    } else if (CopyFiles(fs, source + entry.name, destination, nullptr, NameMode::kLiteral) != 1) {
      ok = false;  // a file of the template folder: no line either way
    }
  }
  return ok ? StepResult::kDone : StepResult::kFailed;
}

}  // namespace kestrin
