// The controls of the main dialog: what they are, their texts and where
// they stand, in dialog units. Creation order is the tab order.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/messages.h"
#include "ui/cab_file_list_box.h"
#include "ui/main_dialog.h"

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
    {kDirectoryLabelId, Kind::kLabel, msg::kDirectoryLabel, 10, 10, 169, 10},
    {kDirectoryFieldId, Kind::kReadOnlyEdit, "", 10, 22, 286, 15},
    {kBrowseId, Kind::kButton, "...", 295, 22, 15, 15},
    {kAvailableLabelId, Kind::kLabel, msg::kAvailableLabel, 10, 49, 96, 10},
    {kShowDetailsId, Kind::kCheckBox, msg::kShowDetails, 197, 43, 61, 13},
    {kInstallId, Kind::kDefaultButton, msg::kInstallButton, 260, 42, 50, 15},
    {kBundleListId, Kind::kBundleList, "", 10, 61, 300, 100},
    {kInfoLabelId, Kind::kLabel, msg::kInfoLabel, 10, 171, 118, 10},
    {kInfoListId, Kind::kInfoList, "", 10, 183, 300, 100},
    {kProgressId, Kind::kProgressBar, "", 10, 294, 240, 15},
    {kExitId, Kind::kButton, msg::kExitButton, 260, 294, 50, 15},
};

}  // namespace

wxSize MainDialogSize() { return wxSize(320, 319); }

void CreateMainDialogControls(wxWindow* dialog) {
  for (const tControlPlace& c : kControls) {
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
        new wxGauge(dialog, c.id, 100, pos, size, wxGA_HORIZONTAL | wxGA_SMOOTH);
        break;
    }
  }
}

}  // namespace kestrin
