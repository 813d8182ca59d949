// The program's message boxes on Linux. GTK's own message dialogs no longer
// show an icon, so the boxes are drawn by the toolkit's generic dialog with
// the icon theme's question, information, warning and error pictures, as
// the Windows boxes show theirs.
#ifndef KESTRIN_UI_WX_MESSAGE_BOX_H_
#define KESTRIN_UI_WX_MESSAGE_BOX_H_

#include <wx/string.h>

#include <string>

#include "ui/dialog_flow.h"

class wxWindow;

namespace kestrin {

// Shows `text` in a modal box of `kind` owned by `parent` (Yes and No for a
// question, OK otherwise); true when answered Yes.
bool ShowMessageBox(wxWindow* parent, const std::string& text, const wxString& title, BoxKind kind);

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_MESSAGE_BOX_H_
