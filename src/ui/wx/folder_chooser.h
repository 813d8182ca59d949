// The folder chooser of "...": a directory tree, a status line showing the
// highlighted folder and an OK button that is enabled exactly when that
// folder holds at least one usable bundle.
#ifndef KESTRIN_UI_WX_FOLDER_CHOOSER_H_
#define KESTRIN_UI_WX_FOLDER_CHOOSER_H_

#include <wx/dialog.h>

#include <optional>
#include <string>

class wxButton;
class wxGenericDirCtrl;
class wxStaticText;

namespace kestrin {

class BundleFolderChooser : public wxDialog {
 public:
  // `start`: the folder highlighted first (the current directory when empty
  // or not a folder).
  BundleFolderChooser(wxWindow* parent, const std::string& start);

  // Highlights `path` as if the user had clicked it.
  void Highlight(const std::string& path);
  // The highlighted folder ("" when none).
  std::string HighlightedPath() const;
  bool ok_enabled() const;
  std::string status_text() const;

 private:
  void OnSelectionChanged();

  wxGenericDirCtrl* tree_ = nullptr;
  wxStaticText* status_ = nullptr;
  wxButton* ok_ = nullptr;
};

// Shows the chooser modally; the chosen folder, or nothing when cancelled.
std::optional<std::string> ChooseBundleFolder(wxWindow* parent, const std::string& start);

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_FOLDER_CHOOSER_H_
