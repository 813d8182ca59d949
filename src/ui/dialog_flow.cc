#include "ui/dialog_flow.h"

#include "ui/bundle_columns.h"
#include "ui/main_dialog_template.h"
#include "ui/resize_layout.h"

namespace kestrin {

const std::vector<tAnchor>& MainDialogAnchors() {
  static const std::vector<tAnchor> anchors = {
      {KESTRIN_IDC_DIRECTORY, 1, 1, 0, 0, kNoErase},
      {KESTRIN_IDC_BUNDLE_LIST, 1, 1, 0, 0, kNoErase},
      {KESTRIN_IDC_INFO_LIST, 1, 1, 0, 0, kNoErase},
      {KESTRIN_IDC_PROGRESS, 1, 1, 0, 0, kNoErase},
      {KESTRIN_IDC_BROWSE, 2, 2, 0, 0, kNoErase},
      {KESTRIN_IDC_SHOW_DETAILS, 2, 2, 0, 0, kNoErase},
      {KESTRIN_IDC_INSTALL, 2, 2, 0, 0, kNoErase},
      {KESTRIN_IDC_EXIT, 2, 2, 0, 0, kNoErase},
  };
  return anchors;
}

MainDialogFlow::MainDialogFlow(CProgressDlg& context)
    : context_(context), previous_ui_(&context.ui()) {
  context_.SetUi(*this);
}

MainDialogFlow::~MainDialogFlow() { context_.SetUi(*previous_ui_); }

void MainDialogFlow::OnInitControls() {
  CheckShowDetails(ViewMode() == kDetailView);
  if (context_.RecoverTemplates) SetSingleSelectionStyle(true);
  InitBundleSources(context_);
}

void MainDialogFlow::OnFirstShow() {
  if (!context_.FirstShowPending) return;
  FillBundleList();
  context_.ResetInfoList(true);
  EnableInstall(false);
  ShowMembers();
  context_.FirstShowPending = false;
}

void MainDialogFlow::FillBundleList() {
  Quietly([&] { ShowRows(ReadBundleRows(context_.host, context_.AvailableBundles)); });
}

void MainDialogFlow::OnListClick() {
  if (quiet_ > 0 || running_ || info_pending_) return;
  info_pending_ = true;
  QueueBundleInfo();
}

void MainDialogFlow::OnQueuedBundleInfo() {
  info_pending_ = false;
  if (!running_) ShowBundleInfo();
}

void MainDialogFlow::ShowBundleInfo() {
  const std::vector<tBundleRow> selected = SelectedRows();
  if (selected.empty()) {
    context_.ResetInfoList(true);
    EnableInstall(false);
    return;
  }
  EnableInstall(true);
  ClearLines();
  BeginInfoBlock();
  for (const std::string& line : BundleInfoLines(context_.host, selected, context_.AvailableBundles))
    context_.AddInfo(line, 1, false);
  EndInfoBlock();
}

void MainDialogFlow::OnBrowse() {
  if (running_) return;
  const std::optional<std::string> folder = ChooseFolder(context_.OemCabDir);
  if (!folder) return;
  context_.BundleDirectories = {*folder};
  context_.ScanBundleDirectories();
  FillBundleList();
  context_.ResetInfoList(true);
  context_.DirectoryText = *folder;
  EnableInstall(false);
  ShowMembers();
  context_.ResetInfoList(true);
}

void MainDialogFlow::OnShowDetails() {
  if (running_) {
    CheckShowDetails(ViewMode() == kDetailView);  // the box as the view is
    return;
  }
  Quietly([&] { ToggleView(); });
  CheckShowDetails(ViewMode() == kDetailView);
  context_.ResetInfoList(true);
  EnableInstall(false);
}

void MainDialogFlow::OnInstall() {
  if (running_) return;
  running_ = true;
  context_.RunInstallation();
  running_ = false;
  if (stop_asked_) {
    stop_asked_ = false;
    CloseWindow();
  }
}

bool MainDialogFlow::StopWaitingAsked() {
  waiting_ = true;
  TakePendingInput();
  waiting_ = false;
  return stop_asked_;
}

bool MainDialogFlow::AskToClose() {
  if (!running_) return true;
  if (waiting_) stop_asked_ = true;
  return false;
}

void MainDialogFlow::OnDoubleClick() {
  if (!SelectedRows().empty()) OnInstall();
}

void MainDialogFlow::OnEnter() {
  if (InstallEnabled()) OnInstall();
}

std::vector<std::string> MainDialogFlow::SelectedBundlePaths() {
  std::vector<std::string> paths;
  for (const tBundleRow& row : SelectedRows()) paths.push_back(row.path);
  return paths;
}

void MainDialogFlow::ClearSelection() {
  Quietly([&] { DeselectAllRows(); });
}

void MainDialogFlow::SetSingleSelection(bool single) {
  Quietly([&] { SetSingleSelectionStyle(single); });
}

bool MainDialogFlow::AskYesNo(const std::string& text) {
  return ShowMessageBox(text, BoxKind::kQuestion);
}

void MainDialogFlow::Inform(const std::string& text) { ShowMessageBox(text, BoxKind::kInformation); }

}  // namespace kestrin
