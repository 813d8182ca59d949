// CCabFileListBox: the bundle list on the toolkit's list control. One row
// per bundle with the columns of ui/bundle_columns.h, a detail and a list
// view, optionally one selected row at a time. Each row remembers the entry
// of AvailableBundles it shows.
#ifndef KESTRIN_UI_WX_CAB_FILE_LIST_BOX_H_
#define KESTRIN_UI_WX_CAB_FILE_LIST_BOX_H_

#include <wx/listctrl.h>

#include <array>
#include <string>
#include <vector>

#include "app/bundle_list.h"
#include "ui/bundle_columns.h"

namespace kestrin {

class CCabFileListBox : public wxListCtrl {
 public:
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

  // The child window that draws the rows and takes the keys (the column
  // headers are another).
  wxWindow* RowsWindow() const;

  int view_mode() const { return view_mode_; }
  bool single_selection() const { return HasFlag(wxLC_SINGLE_SEL); }
  const std::array<int, 4>& display_order() const { return order_; }
  // The text of column `column` (by its own number) in row `item`.
  std::string CellText(long item, int column) const;

 private:
  struct tSelection {
    std::vector<long> selected;
    long current;  // the focused item, -1 for none
  };
  tSelection SaveSelection() const;
  void RestoreSelection(const tSelection& kept);
  // Inserts the rows afresh, in the current view and column order.
  void ShowRows();

  std::array<int, 4> order_ = {0, 1, 2, 3};
  int view_mode_ = kDetailView;
  std::vector<tBundleRow> rows_;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_CAB_FILE_LIST_BOX_H_
