// MainDialog: Kestrin's window on the installation context. It lists the
// bundles of a directory, shows the description of the selected ones,
// installs them and shows the run as it goes; it is the context's
// user-interface services while it lives.
#ifndef KESTRIN_UI_MAIN_DIALOG_H_
#define KESTRIN_UI_MAIN_DIALOG_H_

#include <functional>
#include <string>
#include <vector>

#include "app/progress_dlg.h"
#include "app/ui_services.h"
#include "ui/dialog_flow.h"
#include "ui/main_dialog_template.h"
#include "ui/resize_dlg.h"

class wxButton;
class wxCheckBox;
class wxGauge;
class wxListBox;
class wxTextCtrl;

namespace kestrin {

class CCabFileListBox;

// Control ids of the main dialog. "Exit" is the dialog's cancel button, so
// Escape and the window's close box end the dialog the same way.
enum MainDialogId {
  kProgressId = KESTRIN_IDC_PROGRESS,
  kInfoListId = KESTRIN_IDC_INFO_LIST,
  kDirectoryFieldId = KESTRIN_IDC_DIRECTORY,
  kBrowseId = KESTRIN_IDC_BROWSE,
  kInstallId = KESTRIN_IDC_INSTALL,
  kBundleListId = KESTRIN_IDC_BUNDLE_LIST,
  kDirectoryLabelId = KESTRIN_IDC_DIRECTORY_LABEL,
  kAvailableLabelId = KESTRIN_IDC_AVAILABLE_LABEL,
  kInfoLabelId = KESTRIN_IDC_INFO_LABEL,
  kShowDetailsId = KESTRIN_IDC_SHOW_DETAILS,
  kExitId = wxID_CANCEL,
};

// Builds the controls of the main dialog in their places and tab order
// (main_dialog_layout.cc).
void CreateMainDialogControls(wxWindow* dialog);
// The dialog's client size in dialog units.
wxSize MainDialogSize();

class MainDialog : public CResizeDlg, public MainDialogWindow {
 public:
  // Shows `text` in a message box with `style` (wxYES_NO | wxICON_QUESTION
  // or wxOK | wxICON_INFORMATION); returns wxID_YES, wxID_NO or wxID_OK.
  using MessageBox = std::function<int(const std::string& text, long style)>;

  // Builds the window on `context` and becomes its user-interface services.
  explicit MainDialog(CProgressDlg& context, wxWindow* parent = nullptr);
  ~MainDialog() override;

  // Replaces the message boxes (the tests answer them).
  void SetMessageBox(MessageBox box) { message_box_ = std::move(box); }

  // The handlers (also reached through the controls' events).
  void FillBundleList() override;
  void ShowBundleInfo();
  void OnBrowse();
  void OnShowDetails();
  void OnInstall();
  void OnBundleActivated();

  // UiServices.
  void AddLine(const std::string& text) override;
  void ClearLines() override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void EnableInstall(bool enable) override;
  void EnableExit(bool enable) override;
  std::vector<std::string> SelectedBundlePaths() override;
  void ClearSelection() override;
  void SetSingleSelection(bool single) override;
  void Redraw() override;
  bool AskYesNo(const std::string& text) override;
  void Inform(const std::string& text) override;

  // MainDialogWindow.
  void ShowMembers() override;
  std::vector<tBundleRow> SelectedRows() override;
  void BeginInfoBlock() override;
  void EndInfoBlock() override;

  CCabFileListBox* bundle_list() const { return bundle_list_; }
  wxListBox* info_list() const { return info_list_; }
  wxGauge* progress() const { return progress_; }
  wxButton* install_button() const { return install_; }
  wxButton* exit_button() const { return exit_; }
  wxTextCtrl* directory_field() const { return directory_; }
  wxCheckBox* details_box() const { return details_; }
  bool running() const { return running_; }

 private:
  void OnFirstShow();
  void OnSelectionChanged();
  void Repaint(wxWindow* window);

  CProgressDlg& context_;
  UiServices* previous_ui_;
  MessageBox message_box_;
  CCabFileListBox* bundle_list_ = nullptr;
  wxListBox* info_list_ = nullptr;
  wxGauge* progress_ = nullptr;
  wxButton* install_ = nullptr;
  wxButton* exit_ = nullptr;
  wxTextCtrl* directory_ = nullptr;
  wxCheckBox* details_ = nullptr;
  int progress_low_ = 0;
  bool running_ = false;
  int quiet_ = 0;                    // > 0 while the program changes the selection
  bool info_pending_ = false;        // ShowBundleInfo is queued
};

}  // namespace kestrin

#endif  // KESTRIN_UI_MAIN_DIALOG_H_
