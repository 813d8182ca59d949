// CCabFileListBox on the Windows list-view control: one row per bundle with
// the columns of ui/bundle_columns.h, a detail and a list view, optionally
// one selected row at a time. Each row remembers, as its item data, the
// entry of AvailableBundles it shows.
#ifndef KESTRIN_UI_WIN32_CAB_FILE_LIST_BOX_H_
#define KESTRIN_UI_WIN32_CAB_FILE_LIST_BOX_H_

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

#include "app/bundle_list.h"
#include "ui/bundle_columns.h"

namespace kestrin {

class CCabFileListBox {
 public:
  CCabFileListBox() = default;
  // Deletes all rows before the control goes.
  ~CCabFileListBox();
  CCabFileListBox(const CCabFileListBox&) = delete;
  CCabFileListBox& operator=(const CCabFileListBox&) = delete;

  // Works on the list-view control `list`.
  void Attach(HWND list);
  HWND hwnd() const { return list_; }

  // Inserts the four columns in their own order.
  void InsertColumns();
  // Shows the columns in `order` (column numbers, left to right).
  bool SetDisplayOrder(const std::array<int, 4>& order);
  // Between detail and list view; false when the view could not change.
  bool ToggleView();
  // The single-selection style on or off; false when already so.
  bool SetSingleSelection();
  bool ClearSingleSelection();
  // Clears every selected row; returns how many were selected.
  int DeselectAll();
  // Selects row `item` (tests and the keyboard's way of choosing).
  void Select(int item, bool selected = true);

  // Gives the control its large and small pictures (it owns them).
  void SetImageLists(HIMAGELIST large_images, HIMAGELIST small_images);
  // Replaces the rows.
  void SetRows(std::vector<tBundleRow> rows);
  int ItemCount() const;
  // The selected rows and items, in list order.
  std::vector<tBundleRow> SelectedRows() const;
  std::vector<int> SelectedItems() const;
  // The text of column `column` (by its own number) in row `item`.
  std::string CellText(int item, int column) const;

  int view_mode() const { return view_mode_; }
  bool single_selection() const;
  std::array<int, 4> display_order() const;

 private:
  LONG_PTR Style() const;

  HWND list_ = nullptr;
  int view_mode_ = kDetailView;
  std::vector<tBundleRow> rows_;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_WIN32_CAB_FILE_LIST_BOX_H_
