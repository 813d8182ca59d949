// The main dialog under a display (skipped without one), driven by events as a
// user would drive it.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <chrono>
#include <deque>
#include <thread>

#include "app/test_korvane.h"
#include "ui/cab_file_list_box.h"
#include "ui/folder_chooser.h"
#include "ui/gui_entry.h"
#include "ui/main_dialog.h"

namespace kestrin::testing {
namespace {

bool g_have_display = false;

// Runs pending events until `done` holds, for at most `seconds`; whether it held.
bool PumpUntil(const std::function<bool()>& done, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    wxTheApp->ProcessPendingEvents();
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
    else wxYield();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Pump() {
  for (int i = 0; i < 20; ++i) wxTheApp->ProcessPendingEvents(), wxYield();
}

const std::string kPrompt = "Please select a driver cabinet file you wish to install.";
const std::string kSeparator(90, '-');
const std::string kRestart = "The installed driver bundle requires a restart of Korvane.";

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_have_display) GTEST_SKIP() << "no display";
    korvane_.ApplyEnvironment();
  }
  void TearDown() override {
    if (dialog_ != nullptr) dialog_->Destroy();
    if (g_have_display) Pump();
  }

  std::string InOemCab(const std::string& name) const {
    return fs::relative(korvane_.oemcab() / name, korvane_.root());
  }

  MainDialog& Open(const StringList& arguments = {}, bool recover = false) {
    context_.reset();  // one context at a time
    context_ = std::make_unique<CProgressDlg>(arguments, false, false, recover, "", silent_);
    dialog_ = new MainDialog(*context_);
    dialog_->SetMessageBox([this](const std::string& text, long style) {
      boxes_.emplace_back(text, style);
      const int answer = answers_.empty() ? wxID_OK : answers_.front();
      if (!answers_.empty()) answers_.pop_front();
      return answer;
    });
    dialog_->Show();
    EXPECT_TRUE(PumpUntil([&] { return dialog_->IsShownOnScreen(); }));
    Pump();
    return *dialog_;
  }

  Lines InfoLines() const {
    Lines lines;
    for (const wxString& l : dialog_->info_list()->GetStrings()) lines.push_back(l.utf8_string());
    return lines;
  }
  // What a selection changes: the information, "&Install", the view switch, the selected rows.
  auto State() const {
    return std::tuple(InfoLines(), dialog_->install_button()->IsEnabled(),
                      dialog_->details_box()->GetValue(), dialog_->bundle_list()->SelectedItems());
  }

  // Selects rows as a click would, and waits for the information.
  void Select(const std::vector<long>& items) {
    CCabFileListBox* list = dialog_->bundle_list();
    for (long i = 0; i < list->GetItemCount(); ++i)
      list->SetItemState(i, std::count(items.begin(), items.end(), i) ? wxLIST_STATE_SELECTED : 0,
                         wxLIST_STATE_SELECTED);
    Pump();
  }

  // A click on the control `id`: the event it sends (a check box changes first).
  void Click(int id, wxEventType type = wxEVT_BUTTON, bool pump = true) {
    wxWindow* control = dialog_->FindWindow(id);
    wxCheckBox* box = dialog_->details_box();
    if (type == wxEVT_CHECKBOX) box->SetValue(!box->GetValue());
    wxListEvent event(type, id);  // a command event; a double click on a row sends a list event
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
    if (pump) Pump();
  }

  // The information block of a selected bundle made by Bundle() as `name` (lower case).
  static Lines InfoBlock(const std::string& name, const std::string& minimum) {
    return {kSeparator, "Information about bundle: " + Upper(name) + ":", kSeparator, "",
            "Driver bundle description: Desc " + name, "Manufacturer: Vendor", "Version: 1.0",
            "Minimum Korvane version: " + minimum, ""};
  }

  TestKorvane korvane_;
  SilentUi silent_;
  std::unique_ptr<CProgressDlg> context_;
  MainDialog* dialog_ = nullptr;
  using Boxes = std::vector<std::pair<std::string, long>>;  // text, style
  Boxes boxes_;
  std::deque<int> answers_;
};

TEST_F(MainDialogTest, OpensOnTheBundleFolderSelectsShowsAndInstalls) {
  Bundle(korvane_, InOemCab("a.cab"), "5.0");
  Bundle(korvane_, InOemCab("b.cab"), "", "REQUIRE_RESTART=1\n");
  MainDialog& dialog = Open();
  CCabFileListBox* list = dialog.bundle_list();

  // At start: the folder, its bundles, the prompt, "&Install" off.
  EXPECT_EQ(dialog.directory_field()->GetValue().utf8_string(), context_->OemCabDir);
  ASSERT_EQ(list->GetItemCount(), 2);
  EXPECT_EQ((Lines{list->CellText(0, 0), list->CellText(1, 1), list->CellText(1, 2),
                   list->CellText(1, 3)}),
            (Lines{Upper(korvane_.oemcab()) + "/A.CAB", "Vendor", "Desc b.cab", "1.0"}));
  Lines titles;
  for (wxListItem column; titles.size() < 4; titles.push_back(column.GetText().utf8_string())) {
    column.SetMask(wxLIST_MASK_TEXT);
    list->GetColumn(static_cast<int>(titles.size()), column);
  }
  EXPECT_EQ(titles, (Lines{"OEM Name", "Description", "Version", "Filepath"}));
  const std::vector<long> none, both = {0, 1};
  EXPECT_EQ(State(), std::tuple(Lines{kPrompt}, false, true, none));

  // Two bundles selected: two blocks and one closing separator.
  Select(both);
  EXPECT_EQ(State(), std::tuple(Cat({InfoBlock("a.cab", "5.0"), InfoBlock("b.cab", "not specified"),
                                     {kSeparator, ""}}),
                                true, true, both));

  // The view switch keeps the selection but shows the prompt again.
  Click(kShowDetailsId, wxEVT_CHECKBOX);
  EXPECT_EQ(State(), std::tuple(Lines{kPrompt}, false, false, both));
  EXPECT_EQ(std::pair(list->view_mode(), list->CellText(1, 0)),
            (std::pair<int, std::string>(CCabFileListBox::kListView,
                                         Upper(korvane_.oemcab()) + "/B.CAB")));
  Click(kShowDetailsId, wxEVT_CHECKBOX);
  EXPECT_EQ(std::tuple(list->view_mode(), list->GetColumnCount(), list->CellText(0, 2),
                       list->SelectedItems()),
            (std::tuple<int, int, std::string, std::vector<long>>(CCabFileListBox::kDetailView, 4,
                                                                  "Desc a.cab", both)));

  // Install both from inside the dialog's own loop, as a click would; the
  // restart notice of b.cab is answered. The run's lines themselves:
  // InstallationRunTest.
  Select(none);
  Select(both);
  dialog.CallAfter([&] {
    Click(kInstallId, wxEVT_BUTTON, false);
    dialog.EndModal(wxID_CANCEL);
  });
  dialog.ShowModal();
  Pump();
  EXPECT_EQ(boxes_, (Boxes{{kRestart, wxOK | wxICON_INFORMATION}}));
  const Lines info = InfoLines();
  const Lines header = {"Kestrin - Installation Process:", "", kSeparator,
                        "Now installing bundle 1: A.CAB", kSeparator};
  ASSERT_GE(info.size(), 2 * 9 + 2 + header.size());
  EXPECT_EQ(Lines(info.begin() + 20, info.begin() + 20 + header.size()), header);
  EXPECT_EQ(std::tuple(dialog.running(), dialog.progress()->GetValue(),
                       dialog.install_button()->IsEnabled(), dialog.exit_button()->IsEnabled(),
                       list->SelectedItems()),
            std::tuple(false, 100, false, true, none));
  // The run's report, not the prompt, stays after the selection was cleared.
  EXPECT_EQ(Lines(info.end() - 2, info.end()),
            Lines(kCompletionLines.begin() + 1, kCompletionLines.end()));
  // The information blocks are never logged.
  EXPECT_EQ(std::ranges::count(LogTexts(korvane_.log()), "Information about bundle: A.CAB:"), 0);
}

TEST_F(MainDialogTest, RecoverySwitchAllowsOneSelectedRowAndBrowseReplacesTheFolder) {
  Bundle(korvane_, InOemCab("a.cab"));
  Bundle(korvane_, InOemCab("b.cab"));
  const std::string other = Bundle(korvane_, "other/z.cab");
  MainDialog& dialog = Open({}, true);
  CCabFileListBox* list = dialog.bundle_list();
  EXPECT_TRUE(list->single_selection());
  // A click on a second row replaces the selection.
  list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  list->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  Pump();
  EXPECT_EQ(list->SelectedItems(), std::vector<long>{1});
  // A double click installs the selection.
  Click(kBundleListId, wxEVT_LIST_ITEM_ACTIVATED);
  EXPECT_EQ(std::ranges::count(InfoLines(), kCompletionLines[1]), 1);
  // After the first installed bundle several rows may be selected again.
  EXPECT_FALSE(list->single_selection());
  Select({0, 1});
  EXPECT_EQ(list->SelectedItems(), (std::vector<long>{0, 1}));

  // Browse offers only folders with bundles and replaces the folder and its list.
  fs::create_directories(korvane_.root() / "empty");
  fs::create_directories(korvane_.root() / "fake");
  WriteFileOrDie(korvane_.root() / "fake" / "fake.cab", "not a cabinet");
  Select({0});
  // The chooser is modal: answer it from inside its own loop.
  bool answered = false;
  wxTheApp->CallAfter([&] {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* chooser = dynamic_cast<BundleFolderChooser*>(window);
      if (chooser == nullptr) continue;
      EXPECT_EQ(chooser->HighlightedPath(), context_->OemCabDir);
      for (const auto& [folder, ok] :
           {std::pair{"empty", false}, {"fake", false}, {"other", true}}) {
        const std::string path = (korvane_.root() / folder).string();
        chooser->Highlight(path);
        EXPECT_EQ(std::pair(chooser->status_text(), chooser->ok_enabled()), std::pair(path, ok));
      }
      answered = true;
      chooser->EndModal(wxID_OK);
    }
  });
  Click(kBrowseId);
  EXPECT_TRUE(answered);
  EXPECT_EQ(dialog.directory_field()->GetValue().utf8_string(),
            fs::path(other).parent_path().string());
  ASSERT_EQ(dialog.bundle_list()->GetItemCount(), 1);
  EXPECT_EQ(dialog.bundle_list()->CellText(0, 0), Upper(other));
  EXPECT_EQ(State(), std::tuple(Lines{kPrompt}, false, true, std::vector<long>{}));
}

// Dragging a border (the window's rectangle changes as the window manager
// would change it): the fields grow, the buttons follow, never below the
// starting size. Questions and notices are message boxes.
TEST_F(MainDialogTest, WidthDragsMoveTheControlsAndQuestionsAreMessageBoxes) {
  MainDialog& dialog = Open();
  const std::string question = "Overwrite?\nReally?";
  answers_ = {wxID_YES, wxID_NO, wxID_CANCEL};
  EXPECT_EQ((std::vector<bool>{context_->AskYesNo(question), context_->AskYesNo(question),
                               context_->AskYesNo(question)}),
            (std::vector<bool>{true, false, false}));
  EXPECT_EQ(context_->MessageText, question);
  dialog.Inform("done");
  const std::pair<std::string, long> asked{question, wxYES_NO | wxICON_QUESTION};
  EXPECT_EQ(boxes_, (Boxes{asked, asked, asked, {"done", wxOK | wxICON_INFORMATION}}));
  // Each control and whether it grows (or else moves) with the width.
  const std::vector<std::pair<wxWindow*, bool>> controls = {
      {dialog.directory_field(), true}, {dialog.bundle_list(), true},
      {dialog.exit_button(), false}, {dialog.install_button(), false}};
  std::vector<wxRect> before;
  for (const auto& [control, grows] : controls) before.push_back(control->GetRect());
  const wxRect field = before[0], start = dialog.GetRect();
  const struct { const char* name; wxRect window; int grown; } cases[] = {
      {"RightOutwards", wxRect(start.x, start.y, start.width + 40, start.height), 40},
      {"NarrowerThanStart", wxRect(start.x, start.y, start.width - 100, start.height), 0},
      {"Higher", wxRect(start.x, start.y, start.width, start.height + 100), 0},
  };
  for (const auto& c : cases) {
    dialog.SetSize(c.window);
    PumpUntil([&] { return dialog.directory_field()->GetSize().x == field.width + c.grown; }, 10);
    Pump();
    EXPECT_EQ(dialog.GetSize(), wxSize(start.width + c.grown, start.height)) << c.name;
    for (size_t i = 0; i < controls.size(); ++i) {
      const wxRect b = before[i];
      EXPECT_EQ(controls[i].first->GetRect(), controls[i].second
                                                  ? wxRect(b.x, b.y, b.width + c.grown, b.height)
                                                  : wxRect(b.x + c.grown, b.y, b.width, b.height))
          << c.name << " control " << i;
    }
  }
}

}  // namespace
}  // namespace kestrin::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string error;
  kestrin::testing::g_have_display = kestrin::StartToolkit(&error);
  const int result = RUN_ALL_TESTS();
  kestrin::StopToolkit();
  return result;
}
