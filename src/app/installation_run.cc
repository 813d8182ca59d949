// The installation run: which bundles, in which order, and the fixed
// sequence of steps for each of them.
#include <algorithm>
#include <cctype>

#include "app/install_steps.h"
#include "host/path_resolve.h"
#include "app/messages.h"
#include "app/progress_dlg.h"
#include "bundle/bundle.h"
#include "host/file_system.h"
#include "host/ini_file.h"

namespace kestrin {

namespace {

const std::string kSeparatorLine(90, '-');

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// ".CAB" somewhere after the first character.
bool NamesCabinet(const std::string& upper) { return upper.find(".CAB", 1) != std::string::npos; }

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool CProgressDlg::ScheduleCommandLine() {
  AvailableBundles.clear();
  BundleDirectories.clear();
  for (const std::string& entry : CommandLinePaths) {
    std::string upper = ToUpper(entry);
    if (IsDirectory(upper) && !NamesCabinet(upper)) BundleDirectories.push_back(upper);
  }
  if (!BundleDirectories.empty()) {
    for (const std::string& directory : BundleDirectories) {
      ScanBundleDirectory(directory, &AvailableBundles);
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
      if (CheckBundle(upper)) AvailableBundles.push_back(upper);
    }
  }
  if (AvailableBundles.empty()) return false;
  CommandLineBundles = AvailableBundles;
  return true;
}

void CProgressDlg::ScanBundleDirectories() {
  AvailableBundles.clear();
  for (const std::string& directory : BundleDirectories) {
    ScanBundleDirectory(directory, &AvailableBundles);
  }
}

void CProgressDlg::RunInstallation() {
  if (!SilentMode) {
    StringList selected = ui_->SelectedBundlePaths();
    if (!selected.empty()) ScheduledBundles = std::move(selected);
    AddInfo(msg::kInteractiveHeader, 1, true);
    AddInfo("", 1, true);
  } else {
    if (ScheduleCommandLine()) {
      ScheduledBundles.insert(ScheduledBundles.begin(), AvailableBundles.begin(),
                              AvailableBundles.end());
    }
    if (ScheduledBundles.empty()) AddInfo(msg::kNoCabFiles, 1, true);
  }

  // Keep a copy of every bundle beside the log; the outcome does not matter
  // to the installation.
  for (const std::string& bundle : ScheduledBundles) {
    CopyFiles(bundle, OemCabDir, nullptr, NameMode::kLiteral);
  }

  const StringList bundles = ScheduledBundles;
  const size_t count = bundles.size();
  int number = 0;
  for (const std::string& bundle : bundles) {
    ++number;
    CurrentBundle = bundle;
    if (!SilentMode) {
      ui_->SetProgressRange(0, 100);
      ui_->EnableInstall(false);
      ui_->EnableExit(false);
      ui_->SetProgressPos(5);
      ui_->Redraw();
    }
    if (count > 1 && !SilentMode && !bundle.empty()) {
      AddInfo(kSeparatorLine, 1, true);
      AddInfoF(msg::kNowInstalling, number, FileNameOf(bundle).c_str());
      AddInfo(kSeparatorLine, 1, true);
    }

    int prepared = PrepareBundle();
    if (!SilentMode) ui_->SetProgressPos(15);
    bool recover = false;
    if (count == 1) recover = RecoverTemplates || BundleRecoverTemplates;

    if (prepared == 2) {
      if (!SilentMode) ui_->SetProgressPos(100);
      continue;
    }
    if (prepared != 0) {
      AddInfo(msg::kRunErrors, 1, true);
      continue;
    }

    bool errors = false;
    for (const tInstallStep& step : steps_) {
      int result = step.run(*this, recover);
      if (!SilentMode) {
        ui_->SetProgressPos(step.bar);
        ui_->Redraw();
      }
      if (result == step.success_result) {
        AddInfo(step.success_text, 1, true);
      } else {
        for (const tStepMessage& message : step.other_results) {
          if (message.result == result) AddInfo(message.text, 1, message.log);
        }
      }
      if (result == step.summary_result) errors = true;
    }

    if (!SilentMode) {
      IniFile description(BundleTempDir + "/hw.ini");
      if (description.GetString("OEMDriverDisk", "REQUIRE_RESTART") == "1") {
        AddInfo(msg::kRequiresRestart, 1, true);
        ui_->Inform(msg::kRequiresRestart);
      }
    }

    if (DeleteFiles(BundleTempDir, nullptr, NameMode::kLiteral)) {
      AddInfo(msg::kTempRemoved, 1, true);
    } else {
      AddInfo(msg::kTempNotRemoved, 1, true);
    }
    if (!SilentMode) ui_->SetProgressPos(100);
    AddInfo(msg::kCompleted, 1, true);
    AddInfo("", 1, true);
    if (RecoverTemplates) {
      RecoverTemplates = false;
      if (!SilentMode) ui_->SetSingleSelection(false);
    }
    if (errors) AddInfo(msg::kRunErrors, 1, true);
  }

  if (!SilentMode) {
    ui_->ClearSelection();
    ui_->EnableExit(true);
  }
}

}  // namespace kestrin
