// The Windows dialog from template 101 on a Korvane laid out on C:, with
// two bundles of two vendors: the start, a selection, the view switch and a
// drag of the right border; then the folder browser, the questions, the
// restart notice and installations driven by real pointer input through the
// X server (xdotool), as a user drives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/journaled_run.h"
#include "app/progress_dlg.h"
#include "app/system_host.h"
#include "host/file_lock.h"
#include "host/journal.h"
#include "support/cab_builder.h"
#include "support/temp_dir.h"
#include "ui/gui_entry.h"
#include "ui/main_dialog_template.h"
#include "ui/win32/main_dialog.h"

#include <commctrl.h>

namespace kestrin {
namespace {

namespace fs = std::filesystem;

void Pump() {
  for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT r;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<std::string> InfoLines(HWND dialog) {
  HWND list = GetDlgItem(dialog, KESTRIN_IDC_INFO_LIST);
  std::vector<std::string> lines;
  for (int i = 0; i < static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)); ++i) {
    std::string line(SendMessageA(list, LB_GETTEXTLEN, i, 0), '\0');
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
    lines.push_back(line);
  }
  return lines;
}

// A click in the middle of `r` (screen coordinates) through the X server;
// Wine turns it into the input the Windows controls read.
void ClickAt(const RECT& r) {
  std::string line = "Z:\\usr\\bin\\xdotool mousemove --sync " + std::to_string((r.left + r.right) / 2) + " " +
                     std::to_string((r.top + r.bottom) / 2) + " click 1";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process)) << line;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void Click(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  ClickAt(r);
}

// Polls `done` every 50 ms for at most `seconds`; whether it held.
bool WaitFor(const std::function<bool()>& done, double seconds = 30) {
  for (int i = 0; i < seconds * 20 && !done(); ++i) Sleep(50);
  return done();
}

std::string TextOf(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Finds a visible dialog window other than the main dialog (a message box,
// the folder browser).
BOOL CALLBACK FindPopup(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(data);
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  if (window == found->first || !IsWindowVisible(window) || std::string(name) != "#32770") return TRUE;
  found->second = window;
  return FALSE;
}

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display (run under xvfb-run)";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      GTEST_SKIP() << "this Wine prefix has a Korvane of its own";
    }
    std::string error;
    ASSERT_TRUE(StartToolkit(&error)) << error;
    // On C: itself: the shell's folder browser does not show the temporary folder.
    folder_ = fs::path("C:\\kestrin-dialog-" + std::to_string(GetCurrentProcessId()));
    for (const char* sub : {"Ini\\MODULES", "Ini\\System", "Ini\\OEMCAB", "Ini\\bundles", "Data", "local"})
      fs::create_directories(folder_ / sub);
    std::ofstream(folder_ / "Ini\\MODULES\\MODULES.INI", std::ios::binary) << "[Modules]\r\nCount=0\r\n";
    std::ofstream(folder_ / "Ini\\System\\CUSTTOOL.INI", std::ios::binary);
    for (const auto& [name, value] : {std::pair{"Settings\\IniPath", "Ini\\"}, {"Settings\\ProgramDataDir", "Data\\"}}) {
      const std::string path = std::string(kKey) + "\\Korvane\\" + name, folder = (folder_ / value).string();
      RegSetValueA(HKEY_LOCAL_MACHINE, path.c_str(), REG_SZ, folder.c_str(), 0);
    }
    // Reading a bundle's description unpacks it below the per-user folder.
    const char* local = getenv("LOCALAPPDATA");
    saved_local_ = local ? local : "";
    _putenv_s("LOCALAPPDATA", (folder_ / "local").string().c_str());
    // Two vendors with the same hardware definition; B's needs a restart.
    for (const auto& [file, maker, oem, extra] :
         {std::tuple{"A.CAB", "Fenrik", "7", ""}, {"B.CAB", "Ostwald", "8", "REQUIRE_RESTART=1\r\n"}}) {
      std::ofstream(folder_ / "Ini\\bundles" / file, std::ios::binary) << cab::testing::StoredCabinet(
          {{"hw.ini", std::string("[OEMDriverDisk]\r\nOEMID=") + oem + "\r\nOEMNAME=" + maker +
                          "\r\nDESCRIPTION=Drivers of " + maker + "\r\nVERSION=2.1\r\n" + extra},
           {"MODULES\\M.INI", std::string("[MODULE]\r\nFrom=") + oem + "\r\n"}});
    }
  }
  void TearDown() override {
    dialog_.reset();
    context_.reset();
    if (folder_.empty()) return;
    StopToolkit();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    _putenv_s("LOCALAPPDATA", saved_local_.c_str());
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // The dialog on the bundle folder, without a loop of its own.
  void Open() {
    context_ = std::make_unique<CProgressDlg>(SystemHost(), StringList{(folder_ / "Ini\\bundles").string()}, false, false,
                                              false, "", silent_);
    dialog_ = std::make_unique<Win32MainDialog>(*context_);
    hwnd_ = dialog_->CreateModeless();
    ASSERT_NE(hwnd_, nullptr);
    Pump();
  }

  // Shows the dialog modally, as the program does, on OemCabDir, and runs
  // `drive` on a second thread once it is up; whatever `drive` leaves open
  // is closed after it.
  void Run(const std::function<void()>& drive, Host& host = SystemHost(), RunGuard* guard = nullptr) {
    context_ = std::make_unique<CProgressDlg>(host, StringList{}, false, false, false, "", silent_);
    context_->SetRunGuard(guard);
    dialog_ = std::make_unique<Win32MainDialog>(*context_);
    thread_ = GetCurrentThreadId();
    std::thread driver([&] {
      if (WaitFor([&] { return (hwnd_ = dialog_->hwnd()) != nullptr && IsWindowVisible(hwnd_); })) {
        Sleep(500);  // the first painting
        drive();
      }
      for (int i = 0; i < 20 && dialog_->hwnd() != nullptr; ++i, Sleep(250)) {
        if (HWND box = Popup(0)) PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog_->hwnd(), WM_COMMAND, IDCANCEL, 0);
      }
    });
    EXPECT_EQ(dialog_->RunModal(), IDCANCEL);
    driver.join();
  }

  std::string Logged() const {
    std::ifstream log(folder_ / "Ini\\OEMCAB\\TargetDriverInstall.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
  }

  // The message box or folder browser the dialog shows, waited for up to `seconds`.
  HWND Popup(double seconds = 30) {
    std::pair<HWND, HWND> found = {hwnd_, nullptr};
    WaitFor([&] { return EnumThreadWindows(thread_, FindPopup, reinterpret_cast<LPARAM>(&found)), found.second; }, seconds);
    if (found.second != nullptr && seconds > 0) Sleep(300);  // laid out and painted
    return found.second;
  }

  // Clicks the row of bundle `name` and waits for "&Install" to be enabled.
  void SelectRow(const std::string& name) {
    CCabFileListBox& list = dialog_->bundle_list();
    for (int item = 0; item < list.ItemCount(); ++item) {
      if (list.CellText(item, 0).find(name) == std::string::npos) continue;
      // The row's first shown column (the path, its own first, is shown last).
      RECT r = {LVIR_BOUNDS, 0, 0, 0};
      SendMessageA(list.hwnd(), LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
      r.right = r.left + 40;
      MapWindowPoints(list.hwnd(), nullptr, reinterpret_cast<POINT*>(&r), 2);
      ClickAt(r);
    }
    HWND install = GetDlgItem(hwnd_, KESTRIN_IDC_INSTALL);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(install) != 0; })) << name;
  }

  // Clicks the row of bundle `name` and "&Install", and answers the boxes
  // of the run: each with a part of its text and the button to click.
  void Install(const std::string& name, const std::vector<std::pair<std::string, int>>& boxes) {
    ASSERT_NO_FATAL_FAILURE(SelectRow(name));
    const auto runs = [&] { return std::ranges::count(InfoLines(hwnd_), " *** Kestrin completed installing target driver  ***"); };
    const auto before = runs();
    Click(GetDlgItem(hwnd_, KESTRIN_IDC_INSTALL));
    for (const auto& [text, button] : boxes) {
      HWND box = Popup();
      ASSERT_NE(box, nullptr) << text;
      EXPECT_NE(TextOf(GetDlgItem(box, 0xFFFF)).find(text), std::string::npos) << TextOf(GetDlgItem(box, 0xFFFF));
      EXPECT_NE(SendDlgItemMessageA(box, 0x440, STM_GETICON, 0, 0), 0) << "no icon: " << text;
      Click(GetDlgItem(box, button));
      EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); })) << text;
    }
    EXPECT_TRUE(WaitFor([&] { return !dialog_->running() && runs() == before + 1; })) << name;
  }

  static constexpr const char* kKey = "SOFTWARE\\Brantel";
  fs::path folder_;
  std::string saved_local_;
  SilentUi silent_;
  std::unique_ptr<CProgressDlg> context_;
  std::unique_ptr<Win32MainDialog> dialog_;
  HWND hwnd_ = nullptr;
  DWORD thread_ = 0;

  // The information lines, whether "&Install" is on, whether the view switch is checked.
  auto State() const {
    return std::tuple(InfoLines(hwnd_),
                      IsWindowEnabled(GetDlgItem(hwnd_, KESTRIN_IDC_INSTALL)) != 0,
                      IsDlgButtonChecked(hwnd_, KESTRIN_IDC_SHOW_DETAILS) == BST_CHECKED);
  }
};

TEST_F(Win32DialogTest, ListsSelectsSwitchesTheViewAndFollowsBorderDrags) {
  Open();
  CCabFileListBox& list = dialog_->bundle_list();
  ASSERT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(std::pair(list.CellText(0, 1), list.CellText(1, 2)),
            (std::pair<std::string, std::string>("Fenrik", "Drivers of Ostwald")));
  EXPECT_EQ(list.display_order(), (std::array<int, 4>{1, 2, 3, 0}));
  const std::vector<std::string> prompt = {
      "Please select a driver cabinet file you wish to install."};
  EXPECT_EQ(State(), std::tuple(prompt, false, true));

  // A selection shows the bundle; the view switch keeps it.
  dialog_->bundle_list().Select(1);
  Pump();
  const auto [lines, install, details] = State();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(std::tuple(lines[1], lines[5], install),
            (std::tuple<std::string, std::string, bool>("Information about bundle: B.CAB:",
                                                        "Manufacturer: Ostwald", true)));

  SendDlgItemMessageA(hwnd_, KESTRIN_IDC_SHOW_DETAILS, BM_CLICK, 0, 0);
  Pump();
  EXPECT_EQ(GetWindowLongPtrA(dialog_->bundle_list().hwnd(), GWL_STYLE) & LVS_TYPEMASK, LVS_LIST);
  EXPECT_EQ(State(), std::tuple(prompt, false, false));
  EXPECT_EQ(dialog_->SelectedBundlePaths().size(), 1u);

  // A dragged border widens the fields and moves the buttons: how each
  // control follows the width (1 grows, 2 moves, 0 stays).
  const std::map<int, int> follows = {
      {KESTRIN_IDC_DIRECTORY, 1}, {KESTRIN_IDC_BUNDLE_LIST, 1}, {KESTRIN_IDC_INFO_LIST, 1},
      {KESTRIN_IDC_PROGRESS, 1}, {KESTRIN_IDC_BROWSE, 2}, {KESTRIN_IDC_SHOW_DETAILS, 2},
      {KESTRIN_IDC_INSTALL, 2}, {KESTRIN_IDC_EXIT, 2}, {KESTRIN_IDC_SIZE_GRIP, 2},
      {KESTRIN_IDC_DIRECTORY_LABEL, 0}, {KESTRIN_IDC_AVAILABLE_LABEL, 0},
      {KESTRIN_IDC_INFO_LABEL, 0}};
  std::map<int, RECT> before;
  for (const auto& [id, how] : follows) before[id] = ClientRectOf(hwnd_, id);
  // The right border outwards by 40, as the window manager drags it: the
  // sizing notification, then the new size.
  RECT r;
  GetWindowRect(hwnd_, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  r.right += 40;
  SendMessageA(hwnd_, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&r));
  SetWindowPos(hwnd_, nullptr, r.left, r.top, width + 40, height, SWP_NOZORDER);
  Pump();
  for (const auto& [id, how] : follows) {
    const RECT now = ClientRectOf(hwnd_, id);
    EXPECT_EQ(now.left, before[id].left + (how == 2 ? 40 : 0)) << id;
    EXPECT_EQ(now.right, before[id].right + (how == 0 ? 0 : 40)) << id;
    EXPECT_EQ(now.top, before[id].top) << id;
  }
  // Never smaller than at the start, and the height stays.
  MINMAXINFO limits = {};
  SendMessageA(hwnd_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(std::tuple(limits.ptMinTrackSize.x, limits.ptMinTrackSize.y, limits.ptMaxTrackSize.y),
            (std::tuple<LONG, LONG, LONG>(width, height, height)));
}

// "..." opens the shell's folder browser on OemCabDir, a folder on C:
// without bundles; only a folder that holds a usable bundle can be chosen,
// and it replaces the list. A bundle of another vendor asks before it overwrites a hardware
// definition (Yes replaces it, No keeps it); one that needs a restart says
// so; the information list shows the report the log holds.
TEST_F(Win32DialogTest, BrowsesInstallsAsksAndReportsAsTheLog) {
  const std::string bundles = (folder_ / "Ini\\bundles").string();
  const fs::path definition = folder_ / "Ini\\MODULES\\M.INI";
  const std::string question = "overwrite the existing hardware definition file M.INI";
  Run([&] {
    Click(GetDlgItem(hwnd_, KESTRIN_IDC_BROWSE));
    HWND browser = Popup();
    ASSERT_NE(browser, nullptr);
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr), ok = GetDlgItem(browser, IDOK);
    auto text_of = [&](HTREEITEM item) {
      char text[MAX_PATH] = {};
      TVITEMA info = {};
      info.mask = TVIF_TEXT;
      info.hItem = item;
      info.pszText = text;
      info.cchTextMax = sizeof text;
      TreeView_GetItem(tree, &info);
      return std::string(text);
    };
    // The folder `name` beside the highlighted one is clicked (again while
    // the tree still moves); the status line shows it and OK is enabled
    // exactly when it holds a bundle.
    for (const auto& [name, usable] : {std::pair{"OEMCAB", false}, {"bundles", true}}) {
      auto shown = [&] {
        return text_of(TreeView_GetSelection(tree)) == name &&
               TextOf(GetDlgItem(browser, 0x3743)) == (folder_ / "Ini" / name).string() &&
               (IsWindowEnabled(ok) != 0) == usable;
      };
      for (int attempt = 0; attempt < 5 && !WaitFor(shown, attempt == 0 ? 0 : 2); ++attempt) {
        HTREEITEM item = TreeView_GetChild(tree, TreeView_GetParent(tree, TreeView_GetSelection(tree)));
        while (item != nullptr && text_of(item) != name) item = TreeView_GetNextSibling(tree, item);
        RECT r;
        if (item == nullptr || !TreeView_GetItemRect(tree, item, &r, TRUE)) continue;
        MapWindowPoints(tree, nullptr, reinterpret_cast<POINT*>(&r), 2);
        ClickAt(r);
      }
      EXPECT_TRUE(WaitFor(shown, 10)) << name << ": " << TextOf(GetDlgItem(browser, 0x3743));
    }
    Click(ok);
    EXPECT_TRUE(WaitFor([&] { return TextOf(GetDlgItem(hwnd_, KESTRIN_IDC_DIRECTORY)) == bundles; }));
    ASSERT_EQ(dialog_->bundle_list().ItemCount(), 2);

    const std::string restart = "The installed driver bundle requires a restart of Korvane.";
    for (const auto& [name, boxes, from] :
         {std::tuple{"A.CAB", std::vector<std::pair<std::string, int>>{}, "7"},
          {"B.CAB", {{question, IDYES}, {restart, IDOK}}, "8"}, {"A.CAB", {{question, IDNO}}, "8"}}) {
      Install(name, boxes);
      EXPECT_EQ(testing::ReadFileOrDie(definition), std::string("[MODULE]\r\nFrom=") + from + "\r\n") << name;
    }
    // The last run's report, in the list as in the log (after its time stamp).
    std::vector<std::string> shown = InfoLines(hwnd_), logged;
    std::ifstream log(folder_ / "Ini\\OEMCAB\\TargetDriverInstall.log");
    for (std::string line; std::getline(log, line);) logged.push_back(line.substr(std::min<size_t>(line.size(), 18)));
    auto last_run = [](const std::vector<std::string>& lines) {
      const auto at = std::find(lines.rbegin(), lines.rend(), "Kestrin - Installation Process:");
      return std::vector<std::string>(at == lines.rend() ? lines.end() : at.base() - 1, lines.end());
    };
    EXPECT_GT(last_run(shown).size(), 10u);
    EXPECT_EQ(last_run(shown), last_run(logged));
    Click(GetDlgItem(hwnd_, KESTRIN_IDC_EXIT));
  });
}

// "Exit" clicked while the run waits for another installation into the
// Korvane: the wait stops, nothing is installed, the log says so and the
// window closes.
TEST_F(Win32DialogTest, ExitWhileWaitingForAnotherInstallationClosesTheWindow) {
  fs::copy_file(folder_ / "Ini\\bundles\\A.CAB", folder_ / "Ini\\OEMCAB\\A.CAB");
  FileLock other;
  std::string error;
  ASSERT_EQ(other.Take(KorvaneLockPath((folder_ / "Ini").string()), false, &error), FileLock::Outcome::kHeld) << error;
  JournalHost journal(SystemHost(), [] { return std::string(); });
  JournaledRun guard(journal);
  const std::string waiting = "Another installation into this Korvane is running; waiting for it to end.";
  bool stopped = false;
  Run([&] {
    ASSERT_EQ(dialog_->bundle_list().ItemCount(), 1);
    ASSERT_NO_FATAL_FAILURE(SelectRow("A.CAB"));
    Click(GetDlgItem(hwnd_, KESTRIN_IDC_INSTALL));
    // The log, not the list: the dialog's thread answers the list's
    // messages only between its looks at the lock.
    ASSERT_TRUE(WaitFor([&] { return Logged().find(waiting) != std::string::npos; }));
    Click(GetDlgItem(hwnd_, KESTRIN_IDC_EXIT));
    stopped = WaitFor([&] { return dialog_->hwnd() == nullptr || !IsWindowVisible(hwnd_); });
    // Should the click have gone astray, the run goes on, and is closed
    // after it has ended: the test fails rather than waits for ever.
    other.Release();
    WaitFor([&] { return !dialog_->running(); }, 120);
  }, journal.host(), &guard);
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(fs::exists(folder_ / "Ini\\MODULES\\M.INI"));
  EXPECT_NE(Logged().find("Stopped waiting for the other installation; nothing was installed."), std::string::npos);
  dialog_.reset();
  context_.reset();
}

}  // namespace
}  // namespace kestrin
