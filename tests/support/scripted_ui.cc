#include "support/scripted_ui.h"

#include <utility>

namespace kestrin::testing {

void ScriptedUi::ScriptAnswers(std::vector<bool> answers) {
  answers_.assign(answers.begin(), answers.end());
}

void ScriptedUi::AddLine(const std::string& text) {
  calls_.push_back({"AddLine", text});
  lines_.push_back(text);
}

void ScriptedUi::ClearLines() {
  calls_.push_back({"ClearLines", ""});
  lines_.clear();
}

void ScriptedUi::SetProgressRange(int low, int high) {
  calls_.push_back({"SetProgressRange", "", low, high});
}

void ScriptedUi::SetProgressPos(int pos) {
  calls_.push_back({"SetProgressPos", "", pos});
  progress_.push_back(pos);
}

void ScriptedUi::EnableInstall(bool enable) {
  calls_.push_back({"EnableInstall", "", enable ? 1 : 0});
  install_enabled_ = enable;
}

void ScriptedUi::EnableExit(bool enable) {
  calls_.push_back({"EnableExit", "", enable ? 1 : 0});
  exit_enabled_ = enable;
}

std::vector<std::string> ScriptedUi::SelectedBundlePaths() {
  calls_.push_back({"SelectedBundlePaths", ""});
  return selection_;
}

void ScriptedUi::ClearSelection() {
  calls_.push_back({"ClearSelection", ""});
  selection_.clear();
}

void ScriptedUi::SetSingleSelection(bool single) {
  calls_.push_back({"SetSingleSelection", "", single ? 1 : 0});
  single_selection_ = single;
}

void ScriptedUi::Redraw() { calls_.push_back({"Redraw", ""}); }

bool ScriptedUi::AskYesNo(const std::string& text) {
  bool answer = false;
  if (answers_.empty()) {
    ++unanswered_;
  } else {
    answer = answers_.front();
    answers_.pop_front();
  }
  calls_.push_back({"AskYesNo", text, answer ? 1 : 0});
  questions_.push_back(text);
  return answer;
}

void ScriptedUi::Inform(const std::string& text) {
  calls_.push_back({"Inform", text});
  informs_.push_back(text);
}

}  // namespace kestrin::testing
