#include "ui/dialog_flow.h"

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

void OnFirstShow(CProgressDlg& context, MainDialogWindow& window) {
  window.FillBundleList();
  context.ResetInfoList(true);
  window.EnableInstall(false);
  window.ShowMembers();
  context.FirstShowPending = false;
}

void ShowBundleInfo(CProgressDlg& context, MainDialogWindow& window) {
  const std::vector<tBundleRow> selected = window.SelectedRows();
  if (selected.empty()) {
    context.ResetInfoList(true);
    window.EnableInstall(false);
    return;
  }
  window.EnableInstall(true);
  window.ClearLines();
  window.BeginInfoBlock();
  for (const std::string& line : BundleInfoLines(selected, context.AvailableBundles))
    context.AddInfo(line, 1, false);
  window.EndInfoBlock();
}

void OnFolderChosen(CProgressDlg& context, MainDialogWindow& window, const std::string& folder) {
  context.BundleDirectories = {folder};
  context.ScanBundleDirectories();
  window.FillBundleList();
  context.ResetInfoList(true);
  context.DirectoryText = folder;
  window.EnableInstall(false);
  window.ShowMembers();
  context.ResetInfoList(true);
}

void OnViewSwitched(CProgressDlg& context, MainDialogWindow& window) {
  context.ResetInfoList(true);
  window.EnableInstall(false);
}

}  // namespace kestrin
