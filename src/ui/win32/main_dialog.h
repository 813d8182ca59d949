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

class Win32MainDialog : public MainDialogWindow {
 public:
  // Shows `text` in a message box of `type` (MB_YESNO | MB_ICONQUESTION or
  // MB_OK | MB_ICONINFORMATION); answers IDYES, IDNO or IDOK.
  using MessageBoxFn = std::function<int(const std::string& text, UINT type)>;
  // Lets the user choose a bundle folder, starting on `start`.
  using FolderChooserFn = std::function<std::optional<std::string>(HWND owner, const std::string& start)>;

  // Becomes the user-interface services of `context` until destroyed.
  explicit Win32MainDialog(CProgressDlg& context);
  ~Win32MainDialog() override;
  Win32MainDialog(const Win32MainDialog&) = delete;
  Win32MainDialog& operator=(const Win32MainDialog&) = delete;

  // Shows the dialog modally; -1 when the template cannot be loaded.
  INT_PTR RunModal(HWND owner = nullptr);
  // Creates the dialog without a loop of its own (tests); nullptr on failure.
  HWND CreateModeless(HWND owner = nullptr);
  HWND hwnd() const { return hwnd_; }

  // The tests answer the message boxes and the folder chooser.
  void SetMessageBox(MessageBoxFn box) { message_box_ = std::move(box); }
  void SetFolderChooser(FolderChooserFn chooser) { folder_chooser_ = std::move(chooser); }

  // The handlers (also reached through the controls' notifications).
  void OnBrowse();
  void OnShowDetails();
  void OnInstall();
  void OnBundleActivated();
  void ShowBundleInfo();

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
  void FillBundleList() override;
  void ShowMembers() override;
  std::vector<tBundleRow> SelectedRows() override;
  void BeginInfoBlock() override;
  void EndInfoBlock() override;

  CCabFileListBox& bundle_list() { return bundle_list_; }
  const ResizeLayout& layout() const { return layout_; }
  HWND tool_tip() const { return tool_tip_; }
  bool running() const { return running_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitDialog();
  void OnCommand(int id, int code);
  bool OnNotify(const NMHDR& header);
  void OnSize();
  void OnGetMinMaxInfo(MINMAXINFO* info) const;
  void OnEraseBackground(HDC dc) const;
  void QueueBundleInfo();
  void CreateToolTip();
  void InitResize();
  tRect ClientRect() const;
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  CProgressDlg& context_;
  UiServices* previous_ui_;
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
  bool running_ = false;
  int quiet_ = 0;              // > 0 while the program changes the selection
  bool info_pending_ = false;  // ShowBundleInfo is queued
  int info_block_ = 0;         // > 0 while a block of information lines is added
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
