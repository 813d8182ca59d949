// What the main dialog's handlers do, whatever toolkit draws the window:
// the steps on the installation context and the order in which the window
// is updated. The wxWidgets dialog and the Windows dialog both run them, so
// the two behave alike.
#ifndef KESTRIN_UI_DIALOG_FLOW_H_
#define KESTRIN_UI_DIALOG_FLOW_H_

#include <string>
#include <vector>

#include "app/bundle_list.h"
#include "app/progress_dlg.h"
#include "app/ui_services.h"

namespace kestrin {

// What the handlers need of the window besides its user-interface services.
class MainDialogWindow : public UiServices {
 public:
  // Fills the bundle list from the context's AvailableBundles.
  virtual void FillBundleList() = 0;
  // Shows the context's values in the controls (the directory text).
  virtual void ShowMembers() = 0;
  // The selected rows of the bundle list, in list order.
  virtual std::vector<tBundleRow> SelectedRows() = 0;
  // Around a block of information lines: the window may hold its repaint.
  virtual void BeginInfoBlock() {}
  virtual void EndInfoBlock() {}
};

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

// The first showing: the bundle list filled, the prompt shown, "&Install"
// disabled, the directory text shown.
void OnFirstShow(CProgressDlg& context, MainDialogWindow& window);

// A click into the bundle list: the information about the selected bundles,
// or the prompt when none is selected; "&Install" enabled exactly when
// bundles are selected.
void ShowBundleInfo(CProgressDlg& context, MainDialogWindow& window);

// The folder chooser returned `folder`: it becomes the one bundle directory,
// is scanned and shown.
void OnFolderChosen(CProgressDlg& context, MainDialogWindow& window, const std::string& folder);

// The bundle list switched its view: the prompt again, "&Install" disabled.
void OnViewSwitched(CProgressDlg& context, MainDialogWindow& window);

}  // namespace kestrin

#endif  // KESTRIN_UI_DIALOG_FLOW_H_
