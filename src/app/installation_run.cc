// The installation run: which bundles, in which order, and the fixed
// sequence of steps for each of them.
#include <algorithm>
#include <cctype>

#include "app/install_steps.h"
#include "app/messages.h"
#include "app/progress_dlg.h"
#include "bundle/bundle.h"
#include "bundle/bundle_format.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"

namespace kestrin {

namespace {

const std::string kSeparatorLine(90, '-');

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// ".CAB" somewhere after the first character.
bool NamesCabinet(const std::string& upper) { return upper.find(".CAB", 1) != std::string::npos; }

}  // namespace

bool CProgressDlg::ScheduleCommandLine() {
  AvailableBundles.clear();
  BundleDirectories.clear();
  for (const std::string& entry : CommandLinePaths) {
    std::string upper = ToUpper(entry);
    if (IsDirectory(host.files, upper) && !NamesCabinet(upper)) BundleDirectories.push_back(upper);
  }
  if (!BundleDirectories.empty()) {
    for (const std::string& directory : BundleDirectories) {
      ScanBundleDirectory(host, directory, &AvailableBundles);
    }
    CommandLineDirectories = BundleDirectories;
  }
  if (CommandLinePaths.size() > BundleDirectories.size()) {
    for (const std::string& entry : CommandLinePaths) {
      std::string upper = ToUpper(entry);
      if (!NamesCabinet(upper)) continue;
      if (std::find(AvailableBundles.begin(), AvailableBundles.end(), upper) !=
          AvailableBundles.end()) {
        continue;
      }
      if (CheckBundle(host, upper)) AvailableBundles.push_back(upper);
    }
  }
  if (AvailableBundles.empty()) return false;
  CommandLineBundles = AvailableBundles;
  return true;
}

void CProgressDlg::ScanBundleDirectories() {
  AvailableBundles.clear();
  for (const std::string& directory : BundleDirectories) {
    ScanBundleDirectory(host, directory, &AvailableBundles);
  }
}

// The selected rows in interactive mode, the command line in silent mode.
void CProgressDlg::ScheduleRun() {
  if (!SilentMode) {
    StringList selected = Ui().SelectedBundlePaths();
    if (!selected.empty()) ScheduledBundles = std::move(selected);
    AddInfo(msg::kInteractiveHeader, 1, true);
    AddInfo("", 1, true);
    return;
  }
  if (ScheduleCommandLine()) {
    ScheduledBundles.insert(ScheduledBundles.begin(), AvailableBundles.begin(),
                            AvailableBundles.end());
  }
  if (ScheduledBundles.empty()) AddInfo(msg::kNoCabFiles, 1, true);
}

// Keeps a copy of every bundle beside the log; the outcome does not matter
// to the installation.
void CProgressDlg::ArchiveScheduledBundles() {
  for (const std::string& bundle : ScheduledBundles) {
    if (guard_ != nullptr) guard_->BeginBundle(*this, bundle);  // the copy is the bundle's
    CopyFiles(host.files, bundle, OemCabDir, nullptr, NameMode::kLiteral);
  }
}

// The steps in their order, each reported by its row; true when a result
// calls for the summary error line.
bool CProgressDlg::RunSteps(bool recover, std::vector<std::string>* failed) {
  bool errors = false;
  for (const tInstallStep& step : steps_) {
    if (OnPhase) OnPhase(CurrentBundle, step.name);
    const int result = step.run(*this, recover);
    Ui().SetProgressPos(step.bar);
    Ui().Redraw();
    if (result == step.success_result) {
      AddInfo(step.success_text, 1, true);
    } else {
      for (const tStepMessage& message : step.other_results) {
        if (message.result == result) AddInfo(message.text, 1, message.log);
      }
    }
    if (result == step.summary_result) {
      errors = true;
      failed->push_back(step.name);
    }
  }
  return errors;
}

// A bundle that asks for it has Korvane restarted; interactive mode only.
void CProgressDlg::NotifyRestart() {
  if (SilentMode) return;
  const IniFile description(host.ini, bundle::DescriptionPath(BundleTempDir));
  if (description.GetString(bundle::kDescriptionSection, bundle::kRequireRestartKey) == "1") {
    AddInfo(msg::kRequiresRestart, 1, true);
    Ui().Inform(msg::kRequiresRestart);
  }
}

void CProgressDlg::InstallBundle(const std::string& bundle, int number, size_t count,
                                 tBundleOutcome& outcome) {
  CurrentBundle = bundle;
  outcome.bundle = bundle;
  Ui().SetProgressRange(0, 100);
  Ui().EnableInstall(false);
  Ui().EnableExit(false);
  Ui().SetProgressPos(5);
  Ui().Redraw();
  if (count > 1 && !SilentMode && !bundle.empty()) {
    AddInfo(kSeparatorLine, 1, true);
    AddInfoF(msg::kNowInstalling, number, FileNameOf(bundle).c_str());
    AddInfo(kSeparatorLine, 1, true);
  }

  if (OnPhase) OnPhase(bundle, "prepare");
  const PrepareResult prepared = PrepareBundle();
  outcome.prepared = prepared;
  outcome.oem_id = OemId;
  Ui().SetProgressPos(15);
  const bool recover = count == 1 && (RecoverTemplates || BundleRecoverTemplates);
  if (prepared == PrepareResult::kTooOld) {
    Ui().SetProgressPos(100);
    return;
  }
  if (prepared != PrepareResult::kReady) {
    AddInfo(msg::kRunErrors, 1, true);
    return;
  }
  if (guard_ != nullptr) guard_->BundlePrepared(*this);

  // The unpacked files are the run's own and go with the temporary folder:
  // a step's copy of one may share its data instead of writing it again.
  host.files.SetScratchFolder(BundleTempDir);
  const bool errors = RunSteps(recover, &outcome.failed_steps);
  host.files.SetScratchFolder("");
  NotifyRestart();
  if (Outcomes != nullptr) {
    const IniFile description(host.ini, bundle::DescriptionPath(BundleTempDir));
    outcome.restart_required =
        description.GetString(bundle::kDescriptionSection, bundle::kRequireRestartKey) == "1";
  }
  if (DeleteFiles(host.files, BundleTempDir, nullptr, NameMode::kLiteral)) {
    AddInfo(msg::kTempRemoved, 1, true);
  } else {
    AddInfo(msg::kTempNotRemoved, 1, true);
  }
  Ui().SetProgressPos(100);
  AddInfo(msg::kCompleted, 1, true);
  AddInfo("", 1, true);
  if (RecoverTemplates) {
    RecoverTemplates = false;
    Ui().SetSingleSelection(false);
  }
  if (errors) AddInfo(msg::kRunErrors, 1, true);
}

void CProgressDlg::RunInstallation() {
  ScheduleRun();
  if (guard_ == nullptr || guard_->BeginRun(*this)) {
    ArchiveScheduledBundles();
    const StringList bundles = ScheduledBundles;
    int number = 0;
    for (const std::string& bundle : bundles) {
      if (guard_ != nullptr) guard_->BeginBundle(*this, bundle);
      OwnedItemsLeft.clear();
      tBundleOutcome outcome;
      InstallBundle(bundle, ++number, bundles.size(), outcome);
      outcome.owned_items_left = std::move(OwnedItemsLeft);
      OwnedItemsLeft.clear();
      if (Outcomes != nullptr) Outcomes->push_back(std::move(outcome));
    }
    if (guard_ != nullptr) guard_->EndRun(*this);
  }
  Ui().ClearSelection();
  Ui().EnableExit(true);
}

}  // namespace kestrin
