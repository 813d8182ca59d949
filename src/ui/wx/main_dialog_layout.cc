// The controls of the main dialog: what they are, their texts and where
// they stand, in dialog units. Creation order is the tab order.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "ui/wx/cab_file_list_box.h"
#include "ui/wx/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "ui/wx/progress_bar.h"

namespace kestrin {

namespace {

enum class Kind { kLabel, kReadOnlyEdit, kButton, kDefaultButton, kCheckBox, kBundleList,
                  kInfoList, kProgressBar };

struct tControlPlace {
  int id;
  Kind kind;
  const char* text;
  int x, y, width, height;  // dialog units
};

const tControlPlace kControls[] = {
#define KESTRIN_CONTROL(id, kind, text, x, y, w, h) {id, Kind::k##kind, text, x, y, w, h},
#include "ui/main_dialog_controls.def"
#undef KESTRIN_CONTROL
};

}  // namespace

wxSize MainDialogSize() { return wxSize(KESTRIN_DIALOG_WIDTH, KESTRIN_DIALOG_HEIGHT); }

void CreateMainDialogControls(wxWindow* dialog) {
  for (tControlPlace c : kControls) {
    if (c.id == KESTRIN_IDC_EXIT) c.id = kExitId;  // the toolkit's cancel id
    const wxPoint pos = dialog->ConvertDialogToPixels(wxPoint(c.x, c.y));
    const wxSize size = dialog->ConvertDialogToPixels(wxSize(c.width, c.height));
    const wxString text = wxString::FromUTF8(c.text);
    switch (c.kind) {
      case Kind::kLabel:
        new wxStaticText(dialog, c.id, text, pos, size);
        break;
      case Kind::kReadOnlyEdit:
        new wxTextCtrl(dialog, c.id, text, pos, size, wxTE_READONLY);
        break;
      case Kind::kButton:
        // A narrow button ("...") shows its text only without the theme's padding.
        new wxButton(dialog, c.id, text, pos, size, size.x < size.y * 2 ? wxBU_EXACTFIT : 0);
        break;
      case Kind::kDefaultButton: {
        auto* button = new wxButton(dialog, c.id, text, pos, size);
        button->SetDefault();
        button->Disable();
        break;
      }
      case Kind::kCheckBox:
        new wxCheckBox(dialog, c.id, text, pos, size);
        break;
      case Kind::kBundleList:
        new CCabFileListBox(dialog, c.id, pos, size);
        break;
      case Kind::kInfoList:
        new wxListBox(dialog, c.id, pos, size, 0, nullptr, wxLB_SINGLE | wxLB_NEEDED_SB);
        break;
      case Kind::kProgressBar:
        new ProgressBar(dialog, c.id, pos, size);
        break;
    }
  }
}

}  // namespace kestrin
