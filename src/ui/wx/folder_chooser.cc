#include "ui/wx/folder_chooser.h"

#include <wx/button.h>
#include <wx/dirctrl.h>
#include <wx/filefn.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/messages.h"
#include "app/system_host.h"
#include "bundle/bundle.h"

namespace kestrin {

BundleFolderChooser::BundleFolderChooser(wxWindow* parent, const std::string& start)
    : wxDialog(parent, wxID_ANY, "Browse for Folder", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, msg::kChooseDirectory), 0, wxALL, FromDIP(8));
  // Folders of the file system only; no button for new folders.
  tree_ = new wxGenericDirCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                               FromDIP(wxSize(360, 300)), static_cast<long>(wxDIRCTRL_DIR_ONLY) | wxBORDER_SUNKEN);
  sizer->Add(tree_, 1, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(8));
  status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxST_ELLIPSIZE_MIDDLE | wxST_NO_AUTORESIZE);
  sizer->Add(status_, 0, wxEXPAND | wxALL, FromDIP(8));
  auto* buttons = new wxStdDialogButtonSizer();
  ok_ = new wxButton(this, wxID_OK);
  buttons->AddButton(ok_);
  buttons->AddButton(new wxButton(this, wxID_CANCEL));
  buttons->Realize();
  sizer->Add(buttons, 0, wxEXPAND | wxALL, FromDIP(8));
  SetSizerAndFit(sizer);
  ok_->SetDefault();

  tree_->Bind(wxEVT_DIRCTRL_SELECTIONCHANGED, [this](wxTreeEvent&) { OnSelectionChanged(); });
  std::string first = start;
  if (first.empty() || !wxDirExists(wxString::FromUTF8(first))) first = wxGetCwd().utf8_string();
  Highlight(first);
}

void BundleFolderChooser::Highlight(const std::string& path) {
  tree_->SetPath(wxString::FromUTF8(path));
  // Setting the path programmatically does not always notify.
  OnSelectionChanged();
}

std::string BundleFolderChooser::HighlightedPath() const { return tree_->GetPath().utf8_string(); }

bool BundleFolderChooser::ok_enabled() const { return ok_->IsEnabled(); }

std::string BundleFolderChooser::status_text() const { return status_->GetLabel().utf8_string(); }

void BundleFolderChooser::OnSelectionChanged() {
  const std::string path = HighlightedPath();
  status_->SetLabel(wxString::FromUTF8(path));
  status_->SetToolTip(wxString::FromUTF8(path));
  ok_->Enable(!path.empty() && DirectoryHasBundle(SystemHost(), path));
}

std::optional<std::string> ChooseBundleFolder(wxWindow* parent, const std::string& start) {
  BundleFolderChooser chooser(parent, start);
  if (chooser.ShowModal() != wxID_OK) return std::nullopt;
  const std::string path = chooser.HighlightedPath();
  if (path.empty() || !DirectoryHasBundle(SystemHost(), path)) return std::nullopt;
  return path;
}

}  // namespace kestrin
