#include "ui/wx/main_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/imaglist.h>
#include <wx/listbox.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/bundle_list.h"
#include "app/messages.h"
#include "ui/bundle_columns.h"
#include "ui/wx/cab_file_list_box.h"
#include "ui/wx/folder_chooser.h"
#include "ui/wx/icons.h"
#include "ui/wx/message_box.h"
#include "ui/wx/progress_bar.h"

namespace kestrin {

namespace {

inline constexpr char kTitle[] = "Korvane Kestrin";

template <typename T>
T* Find(wxWindow* dialog, int id) {
  return dynamic_cast<T*>(dialog->FindWindow(id));
}

int SystemMetric(wxSystemMetric metric, int fallback) {
  const int value = wxSystemSettings::GetMetric(metric);
  return value > 0 ? value : fallback;
}

}  // namespace

MainDialog::MainDialog(CProgressDlg& context, wxWindow* parent)
    : CResizeDlg(parent, kTitle, MainDialogSize()), MainDialogFlow(context) {
  message_box_ = [this](const std::string& text, BoxKind kind) {
    return kestrin::ShowMessageBox(this, text, GetTitle(), kind);
  };
  CreateMainDialogControls(this);
  bundle_list_ = Find<CCabFileListBox>(this, kBundleListId);
  info_list_ = Find<wxListBox>(this, kInfoListId);
  progress_ = Find<ProgressBar>(this, kProgressId);
  install_ = Find<wxButton>(this, kInstallId);
  exit_ = Find<wxButton>(this, kExitId);
  directory_ = Find<wxTextCtrl>(this, kDirectoryFieldId);
  details_ = Find<wxCheckBox>(this, kShowDetailsId);

  SetIcon(ProgramIcon(FromDIP(32)));
  details_->SetToolTip(msg::kChangeView);

  InitResize();
  for (const tAnchor& a : MainDialogAnchors()) {
    const int id = a.id == KESTRIN_IDC_EXIT ? +kExitId : a.id;
    AddControl(id, a.left_mode, a.right_mode, a.top_mode, a.bottom_mode, a.options);
  }

  bundle_list_->InsertColumns();
  bundle_list_->SetDisplayOrder(kBundleColumnOrder);
  OnInitControls();

  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    event.Skip();
    if (event.IsShown()) OnFirstShow();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (!AskToClose() && event.CanVeto()) {
      event.Veto();
      return;
    }
    event.Skip();
  });
  // "Exit" (and Escape): while a run goes on, only a wait can be stopped.
  Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
    if (AskToClose()) event.Skip();
  }, kExitId);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(); }, kBrowseId);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnInstall(); }, kInstallId);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnShowDetails(); }, kShowDetailsId);
  bundle_list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
    e.Skip();
    OnListClick();
  });
  bundle_list_->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent& e) {
    e.Skip();
    OnListClick();
  });
  // The rows are drawn by a child window, the column headers by another. A
  // click on a row that is already selected changes no selection but shows
  // the information again; a click on a header is no click into the list.
  wxWindow* rows = bundle_list_->RowsWindow();
  rows->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
    e.Skip();
    OnListClick();
  });
  // Only a double click installs from the list; Enter is the dialog's, as
  // for its default button (the list would take it, and Space in a list of
  // one selected row, as an activation).
  rows->Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent& e) {
    e.Skip();
    CallAfter([this] { OnDoubleClick(); });
  });
  rows->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER) {
      OnEnter();
      return;
    }
    e.Skip();
  });
  // The information list never keeps the focus nor a selection.
  info_list_->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    CallAfter([this] { bundle_list_->SetFocus(); });
  });
  info_list_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent& e) {
    if (e.GetInt() >= 0) info_list_->Deselect(e.GetInt());
  });
}

void MainDialog::ShowMembers() { directory_->ChangeValue(wxString::FromUTF8(context().DirectoryText)); }

void MainDialog::ShowRows(std::vector<tBundleRow> rows) {
  bundle_list_->DeleteAllItems();
  const int large = SystemMetric(wxSYS_ICON_X, 32), small = SystemMetric(wxSYS_SMALLICON_X, 16);
  auto* large_icons = new wxImageList(large, large, true, 1);
  large_icons->Add(BundleBitmap(large));
  auto* small_icons = new wxImageList(small, small, true, 1);
  small_icons->Add(BundleBitmap(small));
  bundle_list_->AssignImageList(large_icons, wxIMAGE_LIST_NORMAL);
  bundle_list_->AssignImageList(small_icons, wxIMAGE_LIST_SMALL);
  bundle_list_->SetRows(std::move(rows));
  bundle_list_->Refresh();
}

std::vector<tBundleRow> MainDialog::SelectedRows() { return bundle_list_->SelectedRows(); }

void MainDialog::DeselectAllRows() { bundle_list_->DeselectAll(); }

void MainDialog::SetSingleSelectionStyle(bool single) {
  if (single) {
    bundle_list_->SetSingleSelection();
  } else {
    bundle_list_->ClearSingleSelection();
  }
}

void MainDialog::ToggleView() { bundle_list_->ToggleView(); }

int MainDialog::ViewMode() { return bundle_list_->view_mode(); }

void MainDialog::CheckShowDetails(bool checked) { details_->SetValue(checked); }

bool MainDialog::InstallEnabled() { return install_->IsEnabled(); }

void MainDialog::QueueBundleInfo() {
  CallAfter([this] { OnQueuedBundleInfo(); });
}

void MainDialog::TakePendingInput() {
  // The modal loop is active when the dialog is shown by ShowModal; shown
  // without a loop of its own, a passing one takes the input.
  const wxEventLoopGuarantor loop;
  wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_UI | wxEVT_CATEGORY_USER_INPUT);
  Repaint(this);
}

void MainDialog::CloseWindow() { Close(); }

void MainDialog::BeginInfoBlock() { info_list_->Freeze(); }

void MainDialog::EndInfoBlock() {
  info_list_->Thaw();
  Repaint(info_list_);
}

std::optional<std::string> MainDialog::ChooseFolder(const std::string& start) {
  return ChooseBundleFolder(this, start);
}

bool MainDialog::ShowMessageBox(const std::string& text, BoxKind kind) {
  return message_box_(text, kind);
}

void MainDialog::Repaint(wxWindow* window) {
  window->Refresh();
  // The toolkit lays out and paints on its frame clock, about every 16 ms;
  // painting out of turn (Update) leaves a progress bar at a stale length.
  // So let the clock come round once, taking no input meanwhile.
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  if (loop == nullptr) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  while (true) {
    loop->YieldFor(wxEVT_CATEGORY_UI);
    if (std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void MainDialog::AddLine(const std::string& text) {
  const int line = info_list_->Append(wxString::FromUTF8(text));
  info_list_->SetFirstItem(line);
  if (!info_list_->IsFrozen()) Repaint(info_list_);
}

void MainDialog::ClearLines() { info_list_->Clear(); }

void MainDialog::SetProgressRange(int low, int high) {
  progress_low_ = low;
  progress_->SetRange(high - low);
}

void MainDialog::SetProgressPos(int pos) {
  progress_->SetValue(pos - progress_low_);
  Repaint(progress_);
}

void MainDialog::EnableInstall(bool enable) { install_->Enable(enable); }

void MainDialog::EnableExit(bool enable) { exit_->Enable(enable); }

void MainDialog::Redraw() { Repaint(this); }

}  // namespace kestrin
