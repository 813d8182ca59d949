// What the installation logic needs of the window. The dialog implements it;
// in silent mode the context shows everything on a SilentUi, which shows
// nothing and asks nothing; tests pass ScriptedUi (tests/support).
#ifndef KESTRIN_APP_UI_SERVICES_H_
#define KESTRIN_APP_UI_SERVICES_H_

#include <string>
#include <vector>

namespace kestrin {

class UiServices {
 public:
  virtual ~UiServices() = default;

  // Appends a line to the information list, scrolls it into view and
  // repaints, so the line is visible when the call returns.
  virtual void AddLine(const std::string& text) = 0;
  // Empties the information list.
  virtual void ClearLines() = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;
  // Enables or disables "&Install" and "Exit".
  virtual void EnableInstall(bool enable) = 0;
  virtual void EnableExit(bool enable) = 0;
  // First-column texts (bundle paths) of the selected rows, in list order.
  virtual std::vector<std::string> SelectedBundlePaths() = 0;
  virtual void ClearSelection() = 0;
  // true: the bundle list accepts only one selected row at a time.
  virtual void SetSingleSelection(bool single) = 0;
  // Repaints the dialog at once (the run is synchronous).
  virtual void Redraw() = 0;
  // Question box with Yes and No and the question icon; true only for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Message box with OK and the information icon; returns when closed.
  virtual void Inform(const std::string& text) = 0;
  // Called again and again while the run waits for another installation
  // into the same Korvane: the window takes the input given to it meanwhile
  // (only "Exit" and closing the window act then) and repaints. true once
  // the user has asked that way to stop waiting: the run then ends without
  // installing, and the window closes after it. Without a window: false.
  virtual bool StopWaitingAsked() { return false; }
};

// The silent mode's services (CProgressDlg::Ui() in silent mode): nothing is
// shown, every question answers No. (Silent code paths never ask: the
// overwrite questions follow /f there, StepContext::AllowOverwrite.)
class SilentUi : public UiServices {
 public:
  void AddLine(const std::string&) override {}
  void ClearLines() override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void EnableInstall(bool) override {}
  void EnableExit(bool) override {}
  std::vector<std::string> SelectedBundlePaths() override { return {}; }
  void ClearSelection() override {}
  void SetSingleSelection(bool) override {}
  void Redraw() override {}
  bool AskYesNo(const std::string&) override { return false; }
  void Inform(const std::string&) override {}
};

}  // namespace kestrin

#endif  // KESTRIN_APP_UI_SERVICES_H_
