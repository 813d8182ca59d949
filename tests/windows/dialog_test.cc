// The Windows dialog from template 101 with two bundles listed: the start, a
// selection, the view switch, and a drag of the right border.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/progress_dlg.h"
#include "support/cab_builder.h"
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

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display (run under xvfb-run)";
    std::string error;
    ASSERT_TRUE(StartToolkit(&error)) << error;
    folder_ = fs::temp_directory_path() /
              ("kestrin-dialog-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder_ / "local");
    // Reading a bundle's description unpacks it below the per-user folder.
    const char* local = getenv("LOCALAPPDATA");
    saved_local_ = local ? local : "";
    _putenv_s("LOCALAPPDATA", (folder_ / "local").string().c_str());
    for (const auto& [file, maker] : {std::pair<const char*, std::string>{"A.CAB", "Fenrik"},
                                      {"B.CAB", "Ostwald"}}) {
      std::ofstream(folder_ / file, std::ios::binary) << cab::testing::StoredCabinet(
          {{"hw.ini", "[OEMDriverDisk]\r\nOEMID=7\r\nOEMNAME=" + maker +
                          "\r\nDESCRIPTION=Drivers of " + maker + "\r\nVERSION=2.1\r\n"}});
    }
    context_ = std::make_unique<CProgressDlg>(StringList{folder_.string()}, false, false, false,
                                              "", silent_);
    dialog_ = std::make_unique<Win32MainDialog>(*context_);
    hwnd_ = dialog_->CreateModeless();
    ASSERT_NE(hwnd_, nullptr);
    Pump();
  }
  void TearDown() override {
    dialog_.reset();
    context_.reset();
    StopToolkit();
    if (!folder_.empty()) _putenv_s("LOCALAPPDATA", saved_local_.c_str());
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path folder_;
  std::string saved_local_;
  SilentUi silent_;
  std::unique_ptr<CProgressDlg> context_;
  std::unique_ptr<Win32MainDialog> dialog_;
  HWND hwnd_ = nullptr;

  // The information lines, whether "&Install" is on, whether the view switch is checked.
  auto State() const {
    return std::tuple(InfoLines(hwnd_),
                      IsWindowEnabled(GetDlgItem(hwnd_, KESTRIN_IDC_INSTALL)) != 0,
                      IsDlgButtonChecked(hwnd_, KESTRIN_IDC_SHOW_DETAILS) == BST_CHECKED);
  }
};

TEST_F(Win32DialogTest, ListsSelectsSwitchesTheViewAndFollowsBorderDrags) {
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

}  // namespace
}  // namespace kestrin
