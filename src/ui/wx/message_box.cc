#include "ui/wx/message_box.h"

#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>

namespace kestrin {

bool ShowMessageBox(wxWindow* parent, const std::string& text, const wxString& title, BoxKind kind) {
  long style = wxOK | wxICON_INFORMATION;
  switch (kind) {
    case BoxKind::kQuestion: style = wxYES_NO | wxICON_QUESTION; break;
    case BoxKind::kWarning: style = wxOK | wxICON_WARNING; break;
    case BoxKind::kError: style = wxOK | wxICON_ERROR; break;
    case BoxKind::kInformation: break;
  }
  wxGenericMessageDialog box(parent, wxString::FromUTF8(text), title, style);
  return box.ShowModal() == wxID_YES;
}

}  // namespace kestrin
