// The main dialog as a Windows dialog from template 101 (kestrin.rc): the
// bundle list on the list-view control, the information list, the progress
// bar and the buttons, laid out by ResizeLayout when the user drags a
// border. It is the context's user-interface services while it lives.
#ifndef KESTRIN_UI_WIN32_MAIN_DIALOG_H_
#define KESTRIN_UI_WIN32_MAIN_DIALOG_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_dlg.h"
#include "ui/dialog_flow.h"
#include "ui/resize_layout.h"
#include "ui/win32/cab_file_list_box.h"

namespace kestrin {

class Win32MainDialog : public MainDialogFlow {
 public:
  // Shows `text` in a message box of `kind`; true when answered Yes.
  using MessageBoxFn = std::function<bool(const std::string& text, BoxKind kind)>;
  // Lets the user choose a bundle folder, starting on `start`.
  using FolderChooserFn = std::function<std::optional<std::string>(HWND owner, const std::string& start)>;

  // Becomes the user-interface services of `context` until destroyed.
  explicit Win32MainDialog(CProgressDlg& context);
  ~Win32MainDialog() override;

  // Shows the dialog modally; -1 when the template cannot be loaded.
  INT_PTR RunModal(HWND owner = nullptr);
  // Creates the dialog without a loop of its own (tests); nullptr on failure.
  HWND CreateModeless(HWND owner = nullptr);
  HWND hwnd() const { return hwnd_; }

  // The tests answer the message boxes and the folder chooser.
  void SetMessageBox(MessageBoxFn box) { message_box_ = std::move(box); }
  void SetFolderChooser(FolderChooserFn chooser) { folder_chooser_ = std::move(chooser); }

  // UiServices.
  void AddLine(const std::string& text) override;
  void ClearLines() override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void EnableInstall(bool enable) override;
  void EnableExit(bool enable) override;
  void Redraw() override;

  CCabFileListBox& bundle_list() { return bundle_list_; }
  const ResizeLayout& layout() const { return layout_; }
  HWND tool_tip() const { return tool_tip_; }

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

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitWindow();
  void OnCommand(int id, int code);
  bool OnNotify(const NMHDR& header);
  void OnSize();
  void OnGetMinMaxInfo(MINMAXINFO* info) const;
  void OnEraseBackground(HDC dc) const;
  void CreateToolTip();
  void InitResize();
  tRect ClientRect() const;
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  MessageBoxFn message_box_;
  FolderChooserFn folder_chooser_;
  HWND hwnd_ = nullptr;
  bool modeless_ = false;
  CCabFileListBox bundle_list_;
  ResizeLayout layout_;
  int sizing_border_ = kNoBorder;
  HWND tool_tip_ = nullptr;
  HICON icon_ = nullptr;
  HICON small_icon_ = nullptr;
  int info_block_ = 0;  // > 0 while a block of information lines is added
};

// The window icon and the bundle icon, drawn at run time (icons.cc).
HICON DrawProgramIcon(int size);
HICON DrawBundleIcon(int size);

// The folder chooser of "..." (folder_chooser.cc): the shell's folder
// browser whose OK button is enabled only on a folder holding a usable
// bundle.
std::optional<std::string> ChooseBundleFolder(HWND owner, const std::string& start);

}  // namespace kestrin

#endif  // KESTRIN_UI_WIN32_MAIN_DIALOG_H_
