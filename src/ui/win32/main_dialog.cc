#include "ui/win32/main_dialog.h"

#include <commctrl.h>

#include "app/bundle_list.h"
#include "app/messages.h"
#include "ui/bundle_columns.h"
#include "ui/main_dialog_template.h"

namespace kestrin {

namespace {

// Posted to the dialog to show the bundle information once a click, which
// may change the selection of several rows, is done.
constexpr UINT kShowInfoMessage = WM_APP + 1;

std::string WindowText(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

}  // namespace

Win32MainDialog::Win32MainDialog(CProgressDlg& context) : MainDialogFlow(context) {
  message_box_ = [this](const std::string& text, BoxKind kind) {
    UINT type = MB_OK | MB_ICONINFORMATION;
    switch (kind) {
      case BoxKind::kQuestion: type = MB_YESNO | MB_ICONQUESTION; break;
      case BoxKind::kWarning: type = MB_OK | MB_ICONWARNING; break;
      case BoxKind::kError: type = MB_OK | MB_ICONERROR; break;
      case BoxKind::kInformation: break;
    }
    return MessageBoxA(hwnd_, text.c_str(), WindowText(hwnd_).c_str(), type) == IDYES;
  };
  folder_chooser_ = ChooseBundleFolder;
}

Win32MainDialog::~Win32MainDialog() {
  if (modeless_ && hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  for (HICON picture : {icon_, small_icon_}) {
    if (picture != nullptr) DestroyIcon(picture);
  }
}

INT_PTR Win32MainDialog::RunModal(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(KESTRIN_IDD_MAIN), owner,
                         DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND Win32MainDialog::CreateModeless(HWND owner) {
  modeless_ = true;
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(KESTRIN_IDD_MAIN),
                                   owner, DialogProc, reinterpret_cast<LPARAM>(this));
  if (window != nullptr) ShowWindow(window, SW_SHOW);
  return window;
}

INT_PTR CALLBACK Win32MainDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<Win32MainDialog*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    dialog->hwnd_ = hwnd;
    dialog->OnInitWindow();
    return TRUE;
  }
  auto* dialog = reinterpret_cast<Win32MainDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    dialog->hwnd_ = nullptr;
    return FALSE;
  }
  return dialog->Handle(message, wparam, lparam);
}

INT_PTR Win32MainDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SHOWWINDOW:
      if (wparam) OnFirstShow();
      return FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam)) ? TRUE : FALSE;
    case kShowInfoMessage:
      OnQueuedBundleInfo();
      return TRUE;
    case WM_SIZING:
      sizing_border_ = static_cast<int>(wparam);
      return FALSE;
    case WM_SIZE:
      OnSize();
      return FALSE;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lparam));
      return TRUE;
    case WM_ERASEBKGND:
      // The default erase follows with the controls left out.
      OnEraseBackground(reinterpret_cast<HDC>(wparam));
      return FALSE;
    case WM_CLOSE:
      if (!AskToClose()) return TRUE;
      return FALSE;  // the default turns it into IDCANCEL
    default:
      return FALSE;
  }
}

void Win32MainDialog::OnInitWindow() {
  icon_ = DrawProgramIcon(GetSystemMetrics(SM_CXICON));
  small_icon_ = DrawProgramIcon(GetSystemMetrics(SM_CXSMICON));
  if (icon_ != nullptr) SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  if (small_icon_ != nullptr)
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  CreateToolTip();
  InitResize();

  bundle_list_.Attach(Item(KESTRIN_IDC_BUNDLE_LIST));
  bundle_list_.InsertColumns();
  bundle_list_.SetDisplayOrder(kBundleColumnOrder);
  OnInitControls();
  SendMessageA(bundle_list_.hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
               LVS_EX_FULLROWSELECT);
}

void Win32MainDialog::CreateToolTip() {
  tool_tip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  if (tool_tip_ == nullptr) return;  // the dialog works without it
  TTTOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(Item(KESTRIN_IDC_SHOW_DETAILS));
  tool.lpszText = const_cast<char*>(msg::kChangeView);
  SendMessageA(tool_tip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tool_tip_, TTM_ACTIVATE, TRUE, 0);
}

tRect Win32MainDialog::ClientRect() const {
  RECT client;
  GetClientRect(hwnd_, &client);
  return {client.left, client.top, client.right, client.bottom};
}

void Win32MainDialog::InitResize() {
  layout_.Start(ClientRect());
  const int grip_width = GetSystemMetrics(SM_CXVSCROLL), grip_height = GetSystemMetrics(SM_CYHSCROLL);
  const tRect client = ClientRect();
  HWND grip = CreateWindowExA(0, "SCROLLBAR", nullptr,
                              WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN,
                              client.right - grip_width, client.bottom - grip_height, grip_width,
                              grip_height, hwnd_, reinterpret_cast<HMENU>(KESTRIN_IDC_SIZE_GRIP),
                              GetModuleHandleA(nullptr), nullptr);
  if (grip != nullptr) SetWindowPos(grip, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  std::vector<tAnchor> anchors = MainDialogAnchors();
  anchors.push_back({KESTRIN_IDC_SIZE_GRIP, 2, 2, 2, 2, 0});
  for (const tAnchor& a : anchors) {
    HWND control = Item(a.id);
    if (control == nullptr) continue;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    layout_.AddControl(a.id, {r.left, r.top, r.right, r.bottom}, a.left_mode, a.right_mode,
                       a.top_mode, a.bottom_mode, a.options);
  }
  RECT window;
  GetWindowRect(hwnd_, &window);
  layout_.SetMinimumSize(window.right - window.left, window.bottom - window.top);
  // The controls do not follow the height, so the height stays.
  layout_.AllowSizeChange(true, false);
}

void Win32MainDialog::OnSize() {
  if (layout_.records().empty()) return;
  const std::vector<tPlacement> moves = layout_.Resize(ClientRect(), sizing_border_);
  sizing_border_ = kNoBorder;
  if (moves.empty()) return;
  HDWP batch = BeginDeferWindowPos(static_cast<int>(moves.size()));
  for (const tPlacement& move : moves) {
    HWND control = Item(move.id);
    if (control == nullptr) continue;
    if (move.repaint) InvalidateRect(control, nullptr, TRUE);
    if (batch != nullptr) {
      batch = DeferWindowPos(batch, control, nullptr, move.rect.left, move.rect.top,
                             move.rect.width(), move.rect.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (batch == nullptr) {  // out of memory for the batch: move one by one
      SetWindowPos(control, nullptr, move.rect.left, move.rect.top, move.rect.width(),
                   move.rect.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (batch != nullptr) EndDeferWindowPos(batch);
  for (const tPlacement& move : moves) {
    if (!move.repaint) continue;
    const RECT old = {move.old_rect.left, move.old_rect.top, move.old_rect.right, move.old_rect.bottom};
    InvalidateRect(hwnd_, &old, TRUE);
    UpdateWindow(hwnd_);
  }
}

void Win32MainDialog::OnGetMinMaxInfo(MINMAXINFO* info) const {
  if (Item(KESTRIN_IDC_SIZE_GRIP) == nullptr) return;
  info->ptMinTrackSize = {layout_.min_width(), layout_.min_height()};
  if (layout_.max_width() > 0) info->ptMaxTrackSize.x = info->ptMaxSize.x = layout_.max_width();
  if (layout_.max_height() > 0) info->ptMaxTrackSize.y = info->ptMaxSize.y = layout_.max_height();
}

void Win32MainDialog::OnEraseBackground(HDC dc) const {
  if ((GetWindowLongPtrA(hwnd_, GWL_STYLE) & WS_CLIPCHILDREN) != 0) return;
  for (const tControlRecord& record : layout_.records()) {
    if ((record.options & kNoErase) == 0) continue;
    HWND control = Item(record.id);
    if (control == nullptr || !IsWindowVisible(control)) continue;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
  }
}

void Win32MainDialog::OnCommand(int id, int code) {
  switch (id) {
    case KESTRIN_IDC_BROWSE:
      if (code == BN_CLICKED) OnBrowse();
      break;
    case KESTRIN_IDC_INSTALL:
      if (code == BN_CLICKED) OnInstall();
      break;
    case KESTRIN_IDC_SHOW_DETAILS:
      if (code == BN_CLICKED) OnShowDetails();
      break;
    case KESTRIN_IDC_INFO_LIST:
      // The information list never keeps the focus.
      if (code == LBN_SETFOCUS) PostMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(bundle_list_.hwnd()), TRUE);
      break;
    case IDCANCEL:
      if (AskToClose()) CloseWindow();
      break;
    default:
      break;
  }
}

bool Win32MainDialog::OnNotify(const NMHDR& header) {
  if (static_cast<int>(header.idFrom) != KESTRIN_IDC_BUNDLE_LIST) return false;
  switch (header.code) {
    case NM_CLICK:
      OnListClick();
      return true;
    case NM_DBLCLK:
      OnDoubleClick();
      return true;
    case LVN_ITEMCHANGED: {
      const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
      if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
        OnListClick();
      return true;
    }
    default:
      return false;
  }
}

void Win32MainDialog::QueueBundleInfo() { PostMessageA(hwnd_, kShowInfoMessage, 0, 0); }

void Win32MainDialog::ShowRows(std::vector<tBundleRow> rows) {
  const int large = GetSystemMetrics(SM_CXICON), small_size = GetSystemMetrics(SM_CXSMICON);
  HIMAGELIST large_images = ImageList_Create(large, large, ILC_COLOR32 | ILC_MASK, 1, 1);
  HIMAGELIST small_images = ImageList_Create(small_size, small_size, ILC_COLOR32 | ILC_MASK, 1, 1);
  for (auto [images, size] : {std::pair{large_images, large}, std::pair{small_images, small_size}}) {
    HICON picture = DrawBundleIcon(size);
    if (images != nullptr && picture != nullptr) ImageList_AddIcon(images, picture);
    if (picture != nullptr) DestroyIcon(picture);
  }
  bundle_list_.SetImageLists(large_images, small_images);
  bundle_list_.SetRows(std::move(rows));
  InvalidateRect(bundle_list_.hwnd(), nullptr, TRUE);
}

void Win32MainDialog::ShowMembers() {
  SetDlgItemTextA(hwnd_, KESTRIN_IDC_DIRECTORY, context().DirectoryText.c_str());
}

std::vector<tBundleRow> Win32MainDialog::SelectedRows() { return bundle_list_.SelectedRows(); }

void Win32MainDialog::DeselectAllRows() { bundle_list_.DeselectAll(); }

void Win32MainDialog::SetSingleSelectionStyle(bool single) {
  if (single) {
    bundle_list_.SetSingleSelection();
  } else {
    bundle_list_.ClearSingleSelection();
  }
}

void Win32MainDialog::ToggleView() { bundle_list_.ToggleView(); }

int Win32MainDialog::ViewMode() { return bundle_list_.view_mode(); }

void Win32MainDialog::CheckShowDetails(bool checked) {
  CheckDlgButton(hwnd_, KESTRIN_IDC_SHOW_DETAILS, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32MainDialog::InstallEnabled() { return IsWindowEnabled(Item(KESTRIN_IDC_INSTALL)) != 0; }

bool Win32MainDialog::ShowMessageBox(const std::string& text, BoxKind kind) {
  return message_box_(text, kind);
}

std::optional<std::string> Win32MainDialog::ChooseFolder(const std::string& start) {
  return folder_chooser_(hwnd_, start);
}

void Win32MainDialog::BeginInfoBlock() {
  if (info_block_++ == 0) SendMessageA(Item(KESTRIN_IDC_INFO_LIST), WM_SETREDRAW, FALSE, 0);
}

void Win32MainDialog::EndInfoBlock() {
  if (--info_block_ > 0) return;
  HWND info = Item(KESTRIN_IDC_INFO_LIST);
  SendMessageA(info, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(info, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
}

void Win32MainDialog::AddLine(const std::string& text) {
  HWND info = Item(KESTRIN_IDC_INFO_LIST);
  const LRESULT line = SendMessageA(info, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (line >= 0) SendMessageA(info, LB_SETTOPINDEX, static_cast<WPARAM>(line), 0);
  if (info_block_ == 0) UpdateWindow(info);
}

void Win32MainDialog::ClearLines() { SendMessageA(Item(KESTRIN_IDC_INFO_LIST), LB_RESETCONTENT, 0, 0); }

void Win32MainDialog::SetProgressRange(int low, int high) {
  SendMessageA(Item(KESTRIN_IDC_PROGRESS), PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void Win32MainDialog::SetProgressPos(int pos) {
  HWND progress = Item(KESTRIN_IDC_PROGRESS);
  SendMessageA(progress, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  UpdateWindow(progress);
}

void Win32MainDialog::EnableInstall(bool enable) { EnableWindow(Item(KESTRIN_IDC_INSTALL), enable); }

void Win32MainDialog::EnableExit(bool enable) { EnableWindow(Item(KESTRIN_IDC_EXIT), enable); }

void Win32MainDialog::TakePendingInput() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that waits for it
      break;
    }
    if (IsDialogMessageA(hwnd_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  Redraw();
}

void Win32MainDialog::CloseWindow() {
  if (modeless_) {
    DestroyWindow(hwnd_);
  } else {
    EndDialog(hwnd_, IDCANCEL);
  }
}

void Win32MainDialog::Redraw() {
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

}  // namespace kestrin
