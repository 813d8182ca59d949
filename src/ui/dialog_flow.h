// What the main dialog does, whatever toolkit draws it: the handlers of its
// controls, the guards between them, and the user-interface services of the
// installation context. A toolkit's dialog derives from MainDialogFlow,
// gives it the controls (the primitives below) and calls the handlers from
// its events, so the wxWidgets dialog and the Windows dialog behave alike.
//
// The guards:
// - A click that changes the selection of several rows notifies once per
//   row: the information is shown once, after the click (queued).
// - Selection changes the program itself makes (filling the list, the run
//   clearing the selection, the view switch) show nothing.
// - While a run is going on, no handler starts another, shows bundle
//   information or changes the folder or the view, and the dialog cannot be
//   closed; but while the run waits for another installation, "Exit" and
//   closing the window stop the wait, and the window closes once the run
//   has ended.
// - A double click installs the selected bundles; Enter presses "&Install"
//   only while it is enabled, as the default button of a dialog does.
#ifndef KESTRIN_UI_DIALOG_FLOW_H_
#define KESTRIN_UI_DIALOG_FLOW_H_

#include <optional>
#include <string>
#include <vector>

#include "app/bundle_list.h"
#include "app/progress_dlg.h"
#include "app/ui_services.h"

namespace kestrin {

// How a control follows the dialog's borders (ui/resize_layout.h).
struct tAnchor {
  int id;
  int left_mode, right_mode, top_mode, bottom_mode;
  int options;
};

// The main dialog's controls that follow its borders: the fields and lists
// grow with the width, the buttons and the check box keep their distance
// from the right border; nothing follows the height.
const std::vector<tAnchor>& MainDialogAnchors();

// The kinds of message box, each with its icon.
enum class BoxKind { kQuestion, kInformation, kWarning, kError };

class MainDialogFlow : public UiServices {
 public:
  // Becomes the user-interface services of `context` until destroyed.
  explicit MainDialogFlow(CProgressDlg& context);
  ~MainDialogFlow() override;
  MainDialogFlow(const MainDialogFlow&) = delete;
  MainDialogFlow& operator=(const MainDialogFlow&) = delete;

  // The handlers.
  // The window's initialisation, once its controls exist: the view switch
  // shows the list's view, the recovery switch allows one selected row, the
  // bundle sources of the command line or OemCabDir are read.
  void OnInitControls();
  // The first showing: the bundle list filled, the prompt shown, "&Install"
  // disabled, the directory text shown. Later showings do nothing.
  void OnFirstShow();
  // A click into the bundle list or a change of its selection.
  void OnListClick();
  // The queued answer to OnListClick.
  void OnQueuedBundleInfo();
  // The information about the selected bundles, or the prompt when none is
  // selected; "&Install" enabled exactly when bundles are selected.
  void ShowBundleInfo();
  void OnBrowse();
  void OnShowDetails();
  void OnInstall();
  void OnDoubleClick();
  void OnEnter();
  // The user asks to close the window ("Exit", Escape, the close box):
  // whether it may close now. While a run goes on it may not; a run that
  // waits for another installation is then asked to stop, and the window
  // closes once the run has ended.
  bool AskToClose();
  bool running() const { return running_; }

  // Replaces the rows of the bundle list with AvailableBundles.
  void FillBundleList();

  // UiServices, where the toolkit adds nothing.
  std::vector<std::string> SelectedBundlePaths() final;
  void ClearSelection() final;
  void SetSingleSelection(bool single) final;
  bool AskYesNo(const std::string& text) final;
  void Inform(const std::string& text) final;
  bool StopWaitingAsked() final;

 protected:
  CProgressDlg& context() { return context_; }

  // The controls, as the toolkit shows them.
  virtual void ShowRows(std::vector<tBundleRow> rows) = 0;
  virtual std::vector<tBundleRow> SelectedRows() = 0;
  virtual void DeselectAllRows() = 0;
  virtual void SetSingleSelectionStyle(bool single) = 0;
  // Switches the bundle list between detail and list view.
  virtual void ToggleView() = 0;
  virtual int ViewMode() = 0;
  virtual void CheckShowDetails(bool checked) = 0;
  virtual bool InstallEnabled() = 0;
  // Shows the context's values in the controls (the directory text).
  virtual void ShowMembers() = 0;
  // Around a block of information lines: the window may hold its repaint.
  virtual void BeginInfoBlock() {}
  virtual void EndInfoBlock() {}
  // A message box of `kind` (Yes and No for a question, otherwise OK);
  // true when it was answered Yes.
  virtual bool ShowMessageBox(const std::string& text, BoxKind kind) = 0;
  // The folder chooser of "...", starting on `start`; nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(const std::string& start) = 0;
  // Calls OnQueuedBundleInfo once the input being handled is done.
  virtual void QueueBundleInfo() = 0;
  // Runs the handlers of the input the window has been given, and repaints.
  virtual void TakePendingInput() = 0;
  // Closes the window as "Exit" does.
  virtual void CloseWindow() = 0;

 private:
  // Selection changes inside it are the program's own.
  template <typename F>
  void Quietly(F change) {
    ++quiet_;
    change();
    --quiet_;
  }

  CProgressDlg& context_;
  UiServices* previous_ui_;
  bool running_ = false;
  int quiet_ = 0;              // > 0 while the program changes the selection
  bool info_pending_ = false;  // OnQueuedBundleInfo is queued
  bool waiting_ = false;       // inside StopWaitingAsked
  bool stop_asked_ = false;    // the user asked the waiting run to stop
};

}  // namespace kestrin

#endif  // KESTRIN_UI_DIALOG_FLOW_H_
