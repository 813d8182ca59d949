// MainDialog: Kestrin's window on the installation context. It lists the
// bundles of a directory, shows the description of the selected ones,
// installs them and shows the run as it goes; it is the context's
// user-interface services while it lives.
#ifndef KESTRIN_UI_WX_MAIN_DIALOG_H_
#define KESTRIN_UI_WX_MAIN_DIALOG_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_dlg.h"
#include "ui/dialog_flow.h"
#include "ui/main_dialog_template.h"
#include "ui/wx/resize_dlg.h"

class wxButton;
class wxCheckBox;
class wxListBox;
class wxTextCtrl;

namespace kestrin {

class CCabFileListBox;
class ProgressBar;

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

class MainDialog : public CResizeDlg, public MainDialogFlow {
 public:
  // Shows `text` in a message box of `kind`; true when answered Yes.
  using MessageBox = std::function<bool(const std::string& text, BoxKind kind)>;

  // Builds the window on `context` and becomes its user-interface services.
  explicit MainDialog(CProgressDlg& context, wxWindow* parent = nullptr);

  // Replaces the message boxes (the tests answer them).
  void SetMessageBox(MessageBox box) { message_box_ = std::move(box); }

  // UiServices.
  void AddLine(const std::string& text) override;
  void ClearLines() override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void EnableInstall(bool enable) override;
  void EnableExit(bool enable) override;
  void Redraw() override;

  CCabFileListBox* bundle_list() const { return bundle_list_; }
  wxListBox* info_list() const { return info_list_; }
  ProgressBar* progress() const { return progress_; }
  wxButton* install_button() const { return install_; }
  wxButton* exit_button() const { return exit_; }
  wxTextCtrl* directory_field() const { return directory_; }
  wxCheckBox* details_box() const { return details_; }

 private:
  // MainDialogFlow.
  void ShowRows(std::vector<tBundleRow> rows) override;
  std::vector<tBundleRow> SelectedRows() override;
  void DeselectAllRows() override;
  void SetSingleSelectionStyle(bool single) override;
  void ToggleView() override;
  int ViewMode() override;
  void CheckShowDetails(bool checked) override;
  bool InstallEnabled() override;
  void ShowMembers() override;
  void BeginInfoBlock() override;
  void EndInfoBlock() override;
  bool ShowMessageBox(const std::string& text, BoxKind kind) override;
  std::optional<std::string> ChooseFolder(const std::string& start) override;
  void QueueBundleInfo() override;
  void TakePendingInput() override;
  void CloseWindow() override;

  void Repaint(wxWindow* window);

  MessageBox message_box_;
  CCabFileListBox* bundle_list_ = nullptr;
  wxListBox* info_list_ = nullptr;
  ProgressBar* progress_ = nullptr;
  wxButton* install_ = nullptr;
  wxButton* exit_ = nullptr;
  wxTextCtrl* directory_ = nullptr;
  wxCheckBox* details_ = nullptr;
  int progress_low_ = 0;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_MAIN_DIALOG_H_
