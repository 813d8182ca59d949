// CCabFileListBox: the bundle list. One row per bundle with its file path,
// manufacturer, description and version; a detail view with columns and a
// plain list view of the paths; optionally one selected row at a time.
//
// The columns keep their own numbers (0 path, 1 OEM name, 2 description,
// 3 version) whatever order they are shown in, and each row remembers the
// entry of AvailableBundles it shows.
#ifndef KESTRIN_UI_CAB_FILE_LIST_BOX_H_
#define KESTRIN_UI_CAB_FILE_LIST_BOX_H_

#include <wx/listctrl.h>

#include <array>
#include <string>
#include <vector>

#include "app/bundle_list.h"

namespace kestrin {

class CCabFileListBox : public wxListCtrl {
 public:
  // View modes.
  static constexpr int kDetailView = 1;
  static constexpr int kListView = 3;

  struct tColumn {
    int index;
    std::string title;
    wxListColumnFormat format;
    int width;
    int sub_item;
  };

  CCabFileListBox(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  ~CCabFileListBox() override;

  // Inserts the four columns, shown in the current display order.
  void InsertColumns();
  // Shows the columns in `order` (column numbers, left to right).
  void SetDisplayOrder(const std::array<int, 4>& order);
  // Between detail and list view; false when the view could not change.
  bool ToggleView();
  // The single-selection style on or off; false when already so.
  bool SetSingleSelection();
  bool ClearSingleSelection();
  // Clears every selected row; returns how many were selected.
  int DeselectAll();

  // Replaces the rows.
  void SetRows(std::vector<tBundleRow> rows);
  // The selected rows, in list order.
  std::vector<tBundleRow> SelectedRows() const;
  std::vector<long> SelectedItems() const;

  int view_mode() const { return view_mode_; }
  bool single_selection() const { return HasFlag(wxLC_SINGLE_SEL); }
  const std::array<tColumn, 4>& columns() const { return columns_; }
  const std::array<int, 4>& display_order() const { return order_; }
  // The text of column `column` (by its own number) in row `item`.
  std::string CellText(long item, int column) const;

 private:
  std::string FieldOf(const tBundleRow& row, int column) const;
  void ShowRows();

  std::array<tColumn, 4> columns_;
  std::array<int, 4> order_ = {0, 1, 2, 3};
  int view_mode_ = kDetailView;
  std::vector<tBundleRow> rows_;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_CAB_FILE_LIST_BOX_H_
