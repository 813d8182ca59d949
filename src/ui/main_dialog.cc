#include "ui/main_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/imaglist.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/bundle_list.h"
#include "app/messages.h"
#include "ui/cab_file_list_box.h"
#include "ui/folder_chooser.h"
#include "ui/icons.h"

namespace kestrin {

namespace {

inline constexpr char kTitle[] = "Korvane Kestrin";

template <typename T>
T* Find(wxWindow* dialog, int id) {
  return wxDynamicCast(dialog->FindWindow(id), T);
}

int SystemMetric(wxSystemMetric metric, int fallback) {
  const int value = wxSystemSettings::GetMetric(metric);
  return value > 0 ? value : fallback;
}

}  // namespace

MainDialog::MainDialog(CProgressDlg& context, wxWindow* parent)
    : CResizeDlg(parent, kTitle, MainDialogSize()),
      context_(context),
      previous_ui_(&context.ui()) {
  message_box_ = [this](const std::string& text, long style) {
    wxMessageDialog box(this, wxString::FromUTF8(text), GetTitle(), style);
    return box.ShowModal();
  };
  CreateMainDialogControls(this);
  bundle_list_ = Find<CCabFileListBox>(this, kBundleListId);
  info_list_ = Find<wxListBox>(this, kInfoListId);
  progress_ = Find<wxGauge>(this, kProgressId);
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
  bundle_list_->SetDisplayOrder({1, 2, 3, 0});
  details_->SetValue(bundle_list_->view_mode() == CCabFileListBox::kDetailView);
  if (context_.RecoverTemplates) bundle_list_->SetSingleSelection();
  InitBundleSources(context_);

  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    event.Skip();
    if (event.IsShown() && context_.FirstShowPending) OnFirstShow();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (running_ && event.CanVeto()) {
      event.Veto();
      return;
    }
    event.Skip();
  });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(); }, kBrowseId);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnInstall(); }, kInstallId);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnShowDetails(); }, kShowDetailsId);
  bundle_list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
    e.Skip();
    OnSelectionChanged();
  });
  bundle_list_->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent& e) {
    e.Skip();
    OnSelectionChanged();
  });
  // A click on a row that is already selected changes no selection but
  // shows the information again (the rows are drawn by a child window).
  for (wxWindow* child : bundle_list_->GetChildren()) {
    child->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
      e.Skip();
      OnSelectionChanged();
    });
  }
  bundle_list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnBundleActivated(); });
  // The information list never keeps the focus nor a selection.
  info_list_->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    CallAfter([this] { bundle_list_->SetFocus(); });
  });
  info_list_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent& e) {
    if (e.GetInt() >= 0) info_list_->Deselect(e.GetInt());
  });

  context_.SetUi(*this);
}

MainDialog::~MainDialog() { context_.SetUi(*previous_ui_); }

void MainDialog::OnFirstShow() { kestrin::OnFirstShow(context_, *this); }

void MainDialog::ShowMembers() { directory_->ChangeValue(wxString::FromUTF8(context_.DirectoryText)); }

void MainDialog::FillBundleList() {
  ++quiet_;
  bundle_list_->DeleteAllItems();
  const int large = SystemMetric(wxSYS_ICON_X, 32), small = SystemMetric(wxSYS_SMALLICON_X, 16);
  auto* large_icons = new wxImageList(large, large, true, 1);
  large_icons->Add(BundleBitmap(large));
  auto* small_icons = new wxImageList(small, small, true, 1);
  small_icons->Add(BundleBitmap(small));
  bundle_list_->AssignImageList(large_icons, wxIMAGE_LIST_NORMAL);
  bundle_list_->AssignImageList(small_icons, wxIMAGE_LIST_SMALL);
  bundle_list_->SetRows(ReadBundleRows(context_.AvailableBundles));
  bundle_list_->Refresh();
  --quiet_;
}

void MainDialog::OnSelectionChanged() {
  // A click that selects several rows notifies once per row: show the
  // information once, when the click is done.
  if (quiet_ > 0 || running_ || info_pending_) return;
  info_pending_ = true;
  CallAfter([this] {
    info_pending_ = false;
    if (!running_) ShowBundleInfo();
  });
}

void MainDialog::ShowBundleInfo() { kestrin::ShowBundleInfo(context_, *this); }

std::vector<tBundleRow> MainDialog::SelectedRows() { return bundle_list_->SelectedRows(); }

void MainDialog::BeginInfoBlock() { info_list_->Freeze(); }

void MainDialog::EndInfoBlock() {
  info_list_->Thaw();
  Repaint(info_list_);
}

void MainDialog::OnBrowse() {
  const std::optional<std::string> chosen = ChooseBundleFolder(this, context_.OemCabDir);
  if (chosen) OnFolderChosen(context_, *this, *chosen);
}

void MainDialog::OnShowDetails() {
  ++quiet_;
  bundle_list_->ToggleView();
  --quiet_;
  details_->SetValue(bundle_list_->view_mode() == CCabFileListBox::kDetailView);
  OnViewSwitched(context_, *this);
}

void MainDialog::OnInstall() {
  if (running_) return;
  running_ = true;
  context_.RunInstallation();
  running_ = false;
}

void MainDialog::OnBundleActivated() {
  if (!bundle_list_->SelectedItems().empty()) OnInstall();
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
  progress_->SetRange(std::max(1, high - low));
}

void MainDialog::SetProgressPos(int pos) {
  progress_->SetValue(std::clamp(pos - progress_low_, 0, progress_->GetRange()));
  Repaint(progress_);
}

void MainDialog::EnableInstall(bool enable) { install_->Enable(enable); }

void MainDialog::EnableExit(bool enable) { exit_->Enable(enable); }

std::vector<std::string> MainDialog::SelectedBundlePaths() {
  std::vector<std::string> paths;
  for (const tBundleRow& row : bundle_list_->SelectedRows()) paths.push_back(row.path);
  return paths;
}

void MainDialog::ClearSelection() {
  ++quiet_;
  bundle_list_->DeselectAll();
  --quiet_;
}

void MainDialog::SetSingleSelection(bool single) {
  ++quiet_;
  if (single) {
    bundle_list_->SetSingleSelection();
  } else {
    bundle_list_->ClearSingleSelection();
  }
  --quiet_;
}

void MainDialog::Redraw() { Repaint(this); }

bool MainDialog::AskYesNo(const std::string& text) {
  return message_box_(text, wxYES_NO | wxICON_QUESTION) == wxID_YES;
}

void MainDialog::Inform(const std::string& text) { message_box_(text, wxOK | wxICON_INFORMATION); }

}  // namespace kestrin
