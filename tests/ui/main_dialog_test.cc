// The main dialog under a display (skipped without one), driven by events as a
// user would drive it.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/evtloop.h>
#include <wx/listbox.h>
#include <wx/statbmp.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <thread>

#include "app/journaled_run.h"
#include "app/system_host.h"
#include "app/test_korvane.h"
#include "ui/wx/cab_file_list_box.h"
#include "ui/wx/folder_chooser.h"
#include "ui/gui_entry.h"
#include "ui/wx/main_dialog.h"
#include "ui/wx/progress_bar.h"

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

// The middle of `window`, or of row `item` of `list`, in client coordinates.
wxPoint Middle(wxWindow* window) { return wxPoint(window->GetClientSize().x / 2, window->GetClientSize().y / 2); }
wxPoint Row(wxListCtrl* list, long item) {
  wxRect r;
  list->GetItemRect(item, r);
  return wxPoint(r.x + r.width / 2, r.y + r.height / 2);
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

  // `real_boxes`: the message boxes are shown (otherwise answered from answers_).
  MainDialog& Open(const StringList& arguments = {}, bool recover = false, bool real_boxes = false) {
    context_.reset();  // one context at a time
    context_ = std::make_unique<CProgressDlg>(*host_, arguments, false, false, recover, "", silent_);
    context_->SetRunGuard(guard_);
    dialog_ = new MainDialog(*context_);
    if (!real_boxes) dialog_->SetMessageBox([this](const std::string& text, BoxKind kind) {
      boxes_.emplace_back(text, kind);
      const bool yes = !answers_.empty() && answers_.front();
      if (!answers_.empty()) answers_.pop_front();
      return yes;
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

  // The information block of a selected bundle made by Bundle() as `name` (lower case).
  static Lines InfoBlock(const std::string& name, const std::string& minimum) {
    return {kSeparator, "Information about bundle: " + Upper(name) + ":", kSeparator, "",
            "Driver bundle description: Desc " + name, "Manufacturer: Vendor", "Version: 1.0",
            "Minimum Korvane version: " + minimum, ""};
  }

  // Real input through the X server, as a user gives it: the pointer moved
  // to `at` in `window` (client coordinates), a click, a double click, a key.
  void Input(wxWindow* window, wxPoint at, int clicks, int key = 0) {
    if (window != nullptr) input_.MouseMove(window->ClientToScreen(at));
    Settle();
    if (clicks == 1) input_.MouseClick();
    if (clicks == 2) input_.MouseDblClick();
    Settle();
    if (key != 0) input_.Char(key), Settle();
  }
  void ClickAt(wxWindow* window) { Input(window, Middle(window), 1); }
  // Lets the server deliver and the dialog handle what was sent.
  void Settle() { PumpUntil([] { return false; }, 0.15); }
  int Runs() const { return std::ranges::count(InfoLines(), kCompletionLines[1]); }

  TestKorvane korvane_;
  Host* host_ = &SystemHost();
  RunGuard* guard_ = nullptr;  // as kestrin runs the dialog: JournaledRun
  wxUIActionSimulator input_;
  SilentUi silent_;
  std::unique_ptr<CProgressDlg> context_;
  MainDialog* dialog_ = nullptr;
  using Boxes = std::vector<std::pair<std::string, BoxKind>>;
  Boxes boxes_;
  std::deque<bool> answers_;  // Yes or not
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
  ClickAt(dialog.details_box());
  EXPECT_EQ(State(), std::tuple(Lines{kPrompt}, false, false, both));
  EXPECT_EQ(std::pair(list->view_mode(), list->CellText(1, 0)),
            (std::pair<int, std::string>(kListView,
                                         Upper(korvane_.oemcab()) + "/B.CAB")));
  ClickAt(dialog.details_box());
  EXPECT_EQ(std::tuple(list->view_mode(), list->GetColumnCount(), list->CellText(0, 2),
                       list->SelectedItems()),
            (std::tuple<int, int, std::string, std::vector<long>>(kDetailView, 4,
                                                                  "Desc a.cab", both)));

  // Install both with a click; the restart notice of b.cab is answered. The
  // run's lines themselves: InstallationRunTest.
  Select(none);
  Select(both);
  ClickAt(dialog.install_button());
  ASSERT_TRUE(PumpUntil([&] { return Runs() == 2; }));
  EXPECT_EQ(boxes_, (Boxes{{kRestart, BoxKind::kInformation}}));
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
  // A click on a column header is no click into the list: the report stays.
  for (wxWindow* header : list->GetChildren()) {
    if (header != list->RowsWindow()) Input(header, wxPoint(20, header->GetClientSize().y / 2), 1);
  }
  EXPECT_EQ(InfoLines(), info);
}

TEST_F(MainDialogTest, RecoverySwitchAllowsOneSelectedRowAndBrowseReplacesTheFolder) {
  Bundle(korvane_, InOemCab("a.cab"));
  Bundle(korvane_, InOemCab("b.cab"));
  const std::string other = Bundle(korvane_, "other/z.cab");
  MainDialog& dialog = Open({}, true);
  CCabFileListBox* list = dialog.bundle_list();
  EXPECT_TRUE(list->single_selection());
  // A click on a second row replaces the selection.
  Input(list, Row(list, 0), 1);
  Input(list, Row(list, 1), 1);
  EXPECT_EQ(list->SelectedItems(), std::vector<long>{1});
  // Enter on the list is the dialog's default button: after "Show details"
  // disabled "&Install" (the row still selected) it installs nothing.
  ClickAt(dialog.details_box());
  list->SetFocus();
  EXPECT_TRUE(PumpUntil([&] { return list->IsDescendant(wxWindow::FindFocus()); }, 10));
  Input(nullptr, {}, 0, WXK_RETURN);
  EXPECT_FALSE(PumpUntil([&] { return Runs() > 0; }, 1));
  EXPECT_EQ(list->SelectedItems(), std::vector<long>{1});
  ClickAt(dialog.details_box());
  // A double click installs the selection (of the row clicked).
  Input(list, Row(list, 0), 2);
  EXPECT_TRUE(PumpUntil([&] { return Runs() == 1; }));
  const Lines log = LogTexts(korvane_.log());
  EXPECT_EQ(std::pair(std::ranges::count(log, "Driver bundle description: Desc a.cab"),
                      std::ranges::count(log, "Driver bundle description: Desc b.cab")),
            std::pair(1L, 0L));
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
  wxCommandEvent browse(wxEVT_BUTTON, kBrowseId);
  dialog.FindWindow(kBrowseId)->GetEventHandler()->ProcessEvent(browse);
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
  answers_ = {true, false, false};
  EXPECT_EQ((std::vector<bool>{context_->AskYesNo(question), context_->AskYesNo(question),
                               context_->AskYesNo(question)}),
            (std::vector<bool>{true, false, false}));
  EXPECT_EQ(context_->MessageText, question);
  dialog.Inform("done");
  const std::pair<std::string, BoxKind> asked{question, BoxKind::kQuestion};
  EXPECT_EQ(boxes_, (Boxes{asked, asked, asked, {"done", BoxKind::kInformation}}));
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

// The pointer and the keys through the X server: a drag on the size grip
// resizes and ends wherever the button is released (a click on a row works
// after it); Enter with "&Install" enabled installs.
TEST_F(MainDialogTest, GripDragAndEnterWithRealInput) {
  Bundle(korvane_, InOemCab("a.cab"));
  Bundle(korvane_, InOemCab("b.cab"));
  MainDialog& dialog = Open();
  CCabFileListBox* list = dialog.bundle_list();
  const wxSize start = dialog.GetSize();
  wxWindow* grip = dialog.FindWindow(kSizeGripId);
  const wxPoint from = grip->ClientToScreen(Middle(grip));
  Input(grip, Middle(grip), 0);
  input_.MouseDown();
  for (int step = 1; step <= 4; ++step) {
    Settle();
    input_.MouseMove(from + wxPoint(15, 15) * step);  // released below the window: the height stays
  }
  input_.MouseUp();
  EXPECT_TRUE(PumpUntil([&] { return dialog.GetSize() == wxSize(start.x + 60, start.y); }, 10))
      << dialog.GetSize().x << "x" << dialog.GetSize().y;
  Input(list, Row(list, 1), 1, WXK_RETURN);
  ASSERT_TRUE(PumpUntil([&] { return Runs() == 1; }));
  const Lines report = InfoLines();
  ASSERT_GT(report.size(), 11u);
  EXPECT_EQ(Lines(report.begin(), report.begin() + 11), Cat({InfoBlock("b.cab", "not specified"), {kSeparator, ""}}));
}

// Waits (at most two minutes) until the log holds `line`; whether it does.
bool LogShows(const fs::path& log_path, const std::string& line) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (std::string log; std::chrono::steady_clock::now() < limit;) {
    std::ifstream in(log_path, std::ios::binary);
    log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (log.find(line) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

const std::string kWaiting = "Another installation into this Korvane is running; waiting for it to end.";

// An installation started while another holds the Korvane's lock says once
// that it waits, changes nothing until the lock is released, then runs.
TEST_F(MainDialogTest, AnInstallationWaitsForAnotherOneToEnd) {
  Bundle(korvane_, InOemCab("a.cab"));
  FileLock other;
  ASSERT_EQ(other.Take(KorvaneLockPath(korvane_.ini_dir().string()), false, nullptr), FileLock::Outcome::kHeld);
  const fs::path module = korvane_.ini_dir() / "MODULES" / "M.INI";
  JournalHost journal(SystemHost(), [] { return std::string(); });
  JournaledRun guard(journal);
  host_ = &journal.host();
  guard_ = &guard;
  // The other installation ends once the log says that this one waits (the
  // dialog itself is read on this thread only), or after two minutes.
  std::atomic<bool> changed_while_held = true;
  std::thread ends([&] {
    LogShows(korvane_.log(), kWaiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a few rounds of waiting
    changed_while_held = fs::exists(module);
    other.Release();
  });
  MainDialog& dialog = Open();
  Select({0});
  ClickAt(dialog.install_button());
  const bool ran = PumpUntil([&] { return Runs() == 1; }, 180);
  ends.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(changed_while_held);
  EXPECT_EQ(std::ranges::count(InfoLines(), kWaiting), 1);
  EXPECT_TRUE(fs::exists(module));
  // The context and the dialog go before the journal they use.
  dialog_->Destroy();
  dialog_ = nullptr;
  Pump();
  context_.reset();
}

// "Exit" pressed (by the pointer, through the X server) while the run waits
// for another installation stops the wait: nothing is installed, the log
// says so, and the window closes.
TEST_F(MainDialogTest, ExitWhileWaitingStopsTheRunAndClosesTheWindow) {
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
  Bundle(korvane_, InOemCab("a.cab"));
  FileLock other;
  ASSERT_EQ(other.Take(KorvaneLockPath(korvane_.ini_dir().string()), false, nullptr), FileLock::Outcome::kHeld);
  JournalHost journal(SystemHost(), [] { return std::string(); });
  JournaledRun guard(journal);
  host_ = &journal.host();
  guard_ = &guard;
  MainDialog& dialog = Open();
  Select({0});
  const wxPoint exit = dialog.exit_button()->ClientToScreen(Middle(dialog.exit_button()));
  // Should the click go astray, the other installation ends after a minute,
  // so that the test fails rather than waits for ever.
  std::atomic<bool> closed = false;
  std::thread user([&] {
    if (LogShows(korvane_.log(), kWaiting)) {
      const std::string click = "xdotool mousemove " + std::to_string(exit.x) + " " + std::to_string(exit.y) + " click 1";
      EXPECT_EQ(std::system(click.c_str()), 0);
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!closed && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    other.Release();
  });
  // "&Install" pressed from here rather than from a Yield of PumpUntil, as
  // the modal loop of the real dialog does: the toolkit refuses to take
  // input within a Yield, and the waiting run takes its input that way.
  wxCommandEvent press(wxEVT_BUTTON, kInstallId);
  press.SetEventObject(dialog.install_button());
  dialog.install_button()->GetEventHandler()->ProcessEvent(press);
  closed = PumpUntil([&] { return !dialog.IsShown(); }, 20);
  user.join();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(LogShows(korvane_.log(), "Stopped waiting for the other installation; nothing was installed."));
  EXPECT_FALSE(fs::exists(korvane_.ini_dir() / "MODULES" / "M.INI"));
  dialog_->Destroy();
  dialog_ = nullptr;
  Pump();
  context_.reset();
}

// The message boxes show the icon of their kind, and a question is answered
// by a click on "Yes"; the progress bar fills the height of its place.
TEST_F(MainDialogTest, MessageBoxesShowTheirIconAndTheProgressBarItsHeight) {
  MainDialog& dialog = Open({}, false, true);
  for (const BoxKind kind : {BoxKind::kQuestion, BoxKind::kInformation}) {
    int icon = 0;
    wxButton* answer = nullptr;
    wxTheApp->CallAfter([&] {
      for (wxWindow* box : wxTopLevelWindows) {
        for (wxWindow* child : box == &dialog ? wxWindowList() : box->GetChildren()) {
          if (auto* bitmap = dynamic_cast<wxStaticBitmap*>(child)) icon = bitmap->GetBitmap().GetWidth();
          if (auto* b = dynamic_cast<wxButton*>(child); b && b->GetLabelText() == (kind == BoxKind::kQuestion ? "Yes" : "OK")) answer = b;
        }
      }
      if (answer != nullptr) ClickAt(answer);
      else Input(nullptr, {}, 0, WXK_ESCAPE);
    });
    const bool yes = kind == BoxKind::kQuestion ? context_->AskYesNo("Go on?") : (dialog.Inform("Done."), false);
    EXPECT_EQ(std::tuple(icon >= 32, answer != nullptr, yes), std::tuple(true, true, kind == BoxKind::kQuestion));
  }

  dialog.SetProgressRange(0, 100);
  dialog.SetProgressPos(100);
  Settle();
  // The rows of the screen in the middle of the bar, 4 pixels beyond it
  // either way, that differ from the dialog's background above it.
  const wxRect bar = dialog.progress()->GetScreenRect();
  wxBitmap shot(1, bar.height + 8);
  {
    wxMemoryDC memory(shot);
    wxScreenDC screen;
    memory.Blit(0, 0, 1, shot.GetHeight(), &screen, bar.x + bar.width / 2, bar.y - 4);
  }
  const wxImage image = shot.ConvertToImage();
  const auto at = [&](int y) { return std::tuple(image.GetRed(0, y), image.GetGreen(0, y), image.GetBlue(0, y)); };
  int drawn = 0;
  for (int y = 0; y < image.GetHeight(); ++y) drawn += at(y) != at(0);
  EXPECT_GE(drawn, bar.height - 2) << "of " << bar.height;
}

}  // namespace
}  // namespace kestrin::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A failed assertion of the toolkit fails the test instead of waiting in a dialog.
  wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& condition,
                        const wxString& message) {
    ADD_FAILURE_AT(file.utf8_string().c_str(), line) << condition << ": " << message;
  });
  std::string error;
  kestrin::testing::g_have_display = kestrin::StartToolkit(&error);
  const int result = RUN_ALL_TESTS();
  kestrin::StopToolkit();
  return result;
}
