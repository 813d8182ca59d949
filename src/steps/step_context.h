// StepContext: what an installation step sees of the installation. The
// installation context (app/progress_dlg.h) is one; tests make their own.
//
// A step reads its input below BundleTempDir, reaches the machine only
// through `host` (files, INI files, registry, programs, the connection
// server), reports through AddInfo and asks through AllowOverwrite.
#ifndef KESTRIN_STEPS_STEP_CONTEXT_H_
#define KESTRIN_STEPS_STEP_CONTEXT_H_

#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/install_record.h"

namespace kestrin {

class StepContext {
 public:
  explicit StepContext(Host& host) : host(host) {}
  virtual ~StepContext() = default;

  // Report: a line of level 1 (or lower) goes to the information list in
  // interactive mode and, with `log`, to the log file; level 2 and more is
  // dropped. The F form formats printf-style and reports at level 1 with log.
  virtual void AddInfo(const std::string& text, int level, bool log) = 0;
  void AddInfoF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A Yes/No question with the question icon; true only for Yes. Never
  // called in silent mode (AllowOverwrite decides there).
  virtual bool AskYesNo(const std::string& text) = 0;
  // The rule of every question before something is overwritten: silent mode
  // answers with /f (ForceOverwrite), interactive mode asks `question`
  // (kept as MessageText).
  bool AllowOverwrite(const std::string& question);

  // The machine the steps install into.
  Host& host;

  // --- What the steps read and share. ---
  int OemId = 0;                     // OEM ID of the current bundle
  std::string ProductDir;            // Korvane program directory
  std::string ProductIniDir;         // Korvane INI directory (with its separator once prepared)
  std::string ProgramDataDir;        // Korvane data directory, no trailing separator
  std::string BundleTempDir;         // where the current bundle is unpacked
  std::string BinDir;                // replaces "$BinDir" in post commands
  std::unique_ptr<InstallRecord> InstallationRecord;  // "instlog.ini", per bundle
  std::string TemplateSourcePath;    // template paths of the templates step
  std::string TemplateTargetPath;
  std::string MessageText;           // last question or message a step showed
  // Record names of the items the overwrite rule left alone because another
  // vendor installed them, in the order met; the run empties it per bundle.
  std::vector<std::string> OwnedItemsLeft;
  bool SilentMode = false;
  bool ForceOverwrite = false;
};

}  // namespace kestrin

#endif  // KESTRIN_STEPS_STEP_CONTEXT_H_
