// A UiServices for tests: records every call in order and answers questions
// from a script given in advance.
#ifndef KESTRIN_TESTS_SUPPORT_SCRIPTED_UI_H_
#define KESTRIN_TESTS_SUPPORT_SCRIPTED_UI_H_

#include <deque>
#include <string>
#include <vector>

#include "app/ui_services.h"

namespace kestrin::testing {

class ScriptedUi : public UiServices {
 public:
  // One recorded call. `kind` names the operation ("AddLine", "ClearLines",
  // "SetProgressRange", "SetProgressPos", "EnableInstall", "EnableExit",
  // "SelectedBundlePaths", "ClearSelection", "SetSingleSelection", "Redraw",
  // "AskYesNo", "Inform"); `text` and the numbers hold its arguments.
  struct tCall {
    std::string kind;
    std::string text;
    int a = 0;
    int b = 0;
  };

  // Answers for the coming AskYesNo calls, in order. A question asked with
  // the script used up is recorded as unanswered and answers No.
  void ScriptAnswers(std::vector<bool> answers);
  // What SelectedBundlePaths returns until ClearSelection is called.
  void SetSelection(std::vector<std::string> paths) { selection_ = std::move(paths); }

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

  const std::vector<tCall>& calls() const { return calls_; }
  // The information list as it stands (ClearLines empties it).
  const std::vector<std::string>& lines() const { return lines_; }
  // Every progress position set, in order.
  const std::vector<int>& progress() const { return progress_; }
  const std::vector<std::string>& questions() const { return questions_; }
  const std::vector<std::string>& informs() const { return informs_; }
  bool install_enabled() const { return install_enabled_; }
  bool exit_enabled() const { return exit_enabled_; }
  bool single_selection() const { return single_selection_; }
  int unanswered() const { return unanswered_; }

 private:
  std::vector<tCall> calls_;
  std::vector<std::string> lines_;
  std::vector<int> progress_;
  std::vector<std::string> questions_;
  std::vector<std::string> informs_;
  std::vector<std::string> selection_;
  std::deque<bool> answers_;
  bool install_enabled_ = false;
  bool exit_enabled_ = true;
  bool single_selection_ = false;
  int unanswered_ = 0;
};

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_SCRIPTED_UI_H_
