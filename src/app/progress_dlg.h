// CProgressDlg: the installation context. It holds all state of an
// installation (the Korvane directories, the bundle lists, the current
// bundle, the switches of the command line and the per-bundle values the
// steps read) and offers the operations of a run: the report (AddInfo), the
// preparation of a bundle and the installation run itself. Everything it
// reads from the machine or changes on it goes through its Host. The window
// shows it through UiServices; in silent mode nothing is shown (Ui() is then
// a SilentUi whatever window was installed).
//
// There is one context per process; WriteLog and the bundle layer's report
// sink reach it without an argument.
#ifndef KESTRIN_APP_PROGRESS_DLG_H_
#define KESTRIN_APP_PROGRESS_DLG_H_

#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/ui_services.h"
#include "bundle/report_sink.h"
#include "host/ini_file.h"
#include "host/install_record.h"
#include "steps/step_context.h"

namespace kestrin {

struct tInstallStep;
class CProgressDlg;

// What surrounds a run (the installation lock and the journal): told when a
// run starts, before each bundle, and when it ends.
class RunGuard {
 public:
  virtual ~RunGuard() = default;
  // Before the run changes anything. False: the run must not go on (the
  // guard has reported why).
  virtual bool BeginRun(CProgressDlg& dlg) = 0;
  virtual void BeginBundle(CProgressDlg& dlg, const std::string& bundle) = 0;
  // The bundle is unpacked and passed the version gate (OemId is known).
  virtual void BundlePrepared(CProgressDlg& dlg) = 0;
  virtual void EndRun(CProgressDlg& dlg) = 0;
};

// An ordered list of narrow texts that keeps duplicates.
using StringList = std::vector<std::string>;

// Gives the local time of a log line. Tests replace it.
using LocalClock = std::function<std::tm()>;
std::tm SystemLocalTime();

// What PrepareBundle answers.
enum class PrepareResult {
  kReady = 0,         // unpacked, described, the version gate passed
  kNoBundle = 1,      // CurrentBundle is empty
  kTooOld = 2,        // the installed Korvane is older than the bundle's minimum
  kNotExtracted = 3,  // the bundle could not be unpacked
  kNoTempDir = 4,     // the temporary folder does not exist after creating it
};

// What became of one bundle of a run, for callers that report per bundle
// (kestrinctl). The run fills it only when asked to (CProgressDlg::Outcomes).
struct tBundleOutcome {
  std::string bundle;  // the path as scheduled
  PrepareResult prepared = PrepareResult::kNoBundle;
  int oem_id = 0;
  std::vector<std::string> failed_steps;  // steps whose result calls for the summary line
  std::vector<std::string> owned_items_left;  // record names left to another vendor
  bool restart_required = false;  // hw.ini asks for a restart of Korvane
};

class CProgressDlg : public StepContext {
 public:
  // `bundle_arguments` are the bundle arguments of the command line, the
  // switches and the /i= text as parsed. Reads the Korvane directories
  // through `host`, installs the report sink of the bundle layer and becomes
  // the process's one context. `host` and `ui` outlive the context; `ui` is
  // never used in silent mode.
  CProgressDlg(Host& host, const StringList& bundle_arguments, bool silent_mode,
               bool force_overwrite, bool recover_templates, const std::string& bin_dir_switch,
               UiServices& ui);
  ~CProgressDlg();
  CProgressDlg(const CProgressDlg&) = delete;
  CProgressDlg& operator=(const CProgressDlg&) = delete;

  // The process's context, or nullptr outside its lifetime.
  static CProgressDlg* Current();

  // The report and the questions of StepContext, on the window.
  void AddInfo(const std::string& text, int level, bool log) override;
  bool AskYesNo(const std::string& text) override;
  // Empties the information list; with `prompt` adds the selection prompt
  // (interactive mode only, never logged).
  void ResetInfoList(bool prompt);

  // Installs every scheduled bundle (the selection in interactive mode, the
  // command line in silent mode) and reports each step.
  void RunInstallation();
  // Sorts CommandLinePaths into BundleDirectories and AvailableBundles;
  // true when bundle files were found.
  bool ScheduleCommandLine();
  // Empties AvailableBundles and searches each of BundleDirectories.
  void ScanBundleDirectories();
  // Unpacks and describes CurrentBundle and applies the version gate.
  PrepareResult PrepareBundle();

  // The steps a run executes, in order (normally InstallationSteps()).
  // Tests install their own table.
  void SetStepTable(std::span<const tInstallStep> steps) { steps_ = steps; }
  void SetClock(LocalClock clock) { clock_ = std::move(clock); }
  // Surrounds each run from here on; nullptr for none. Outlives the context.
  void SetRunGuard(RunGuard* guard) { guard_ = guard; }
  const LocalClock& clock() const { return clock_; }
  UiServices& ui() { return *ui_; }
  // The window that shows the run; the dialog installs itself here.
  void SetUi(UiServices& ui) { ui_ = &ui; }
  // What the run shows on: the window, or nothing at all in silent mode.
  UiServices& Ui() { return SilentMode ? static_cast<UiServices&>(silent_ui_) : *ui_; }

  // --- The state of the installation (beside what StepContext holds). ---
  bool FirstShowPending = true;
  StringList CommandLinePaths;       // bundle arguments of the command line
  StringList ScheduledBundles;       // what the next run installs
  StringList AvailableBundles;       // bundle files found (the bundle list)
  StringList BundleDirectories;      // directories searched for bundles
  StringList CommandLineBundles;     // AvailableBundles as the command line gave them
  StringList CommandLineDirectories; // directories named on the command line
  std::string CurrentBundle;         // bundle being installed
  std::string OemCabDir;             // log, archive and default bundle directory
  std::string DirectoryText;         // text of the directory field
  bool RecoverTemplates = false;
  bool BundleRecoverTemplates = false;  // the bundle's own "RECOVERY" wish
  // When set, each bundle the run takes up appends its outcome here.
  std::vector<tBundleOutcome>* Outcomes = nullptr;
  // When set, told where the run is: the bundle and "prepare" before its
  // preparation, then the name of each step before it runs.
  std::function<void(const std::string& bundle, const char* phase)> OnPhase;

 private:
  // The run's parts: what to install, the bundle archive, one bundle, its
  // steps, and the restart notice.
  void ScheduleRun();
  void ArchiveScheduledBundles();
  void InstallBundle(const std::string& bundle, int number, size_t count,
                     tBundleOutcome& outcome);
  bool RunSteps(bool recover, std::vector<std::string>* failed);
  void NotifyRestart();

  UiServices* ui_;
  SilentUi silent_ui_;
  LocalClock clock_ = SystemLocalTime;
  RunGuard* guard_ = nullptr;
  std::span<const tInstallStep> steps_;
  ReportSink previous_sink_;
};

// Appends one time-stamped line to "TargetDriverInstall.log" in the
// context's OemCabDir, through its host. False when there is no context or
// the file cannot be opened (the directory is never created); the line is
// then lost.
bool WriteLog(const std::string& text);
// Writes through WriteLog at level 1 or lower; above that does nothing and
// answers false.
bool LogTrace(const std::string& text, int level);

// The log line WriteLog writes for `text` at time `when`, line end included.
std::string FormatLogLine(const std::tm& when, const std::string& text);

}  // namespace kestrin

#endif  // KESTRIN_APP_PROGRESS_DLG_H_
