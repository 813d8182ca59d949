#include "ui/win32/cab_file_list_box.h"

#include <commctrl.h>

namespace kestrin {

CCabFileListBox::~CCabFileListBox() {
  if (list_ != nullptr && IsWindow(list_)) SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
}

void CCabFileListBox::Attach(HWND list) { list_ = list; }

LONG_PTR CCabFileListBox::Style() const { return GetWindowLongPtrA(list_, GWL_STYLE); }

void CCabFileListBox::InsertColumns() {
  for (const tColumn& column : kBundleColumns) {
    LVCOLUMNA lvc = {};
    lvc.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    lvc.fmt = column.centred ? LVCFMT_CENTER : LVCFMT_LEFT;
    lvc.cx = column.width;
    lvc.pszText = const_cast<char*>(column.title);
    lvc.iSubItem = column.sub_item == -1 ? column.index : column.sub_item;
    SendMessageA(list_, LVM_INSERTCOLUMNA, column.index, reinterpret_cast<LPARAM>(&lvc));
  }
}

bool CCabFileListBox::SetDisplayOrder(const std::array<int, 4>& order) {
  if (!IsColumnOrder(order)) return false;
  std::array<int, 4> copy = order;
  return SendMessageA(list_, LVM_SETCOLUMNORDERARRAY, 4, reinterpret_cast<LPARAM>(copy.data())) != 0;
}

std::array<int, 4> CCabFileListBox::display_order() const {
  std::array<int, 4> order = {0, 1, 2, 3};
  SendMessageA(list_, LVM_GETCOLUMNORDERARRAY, 4, reinterpret_cast<LPARAM>(order.data()));
  return order;
}

bool CCabFileListBox::ToggleView() {
  const LONG_PTR style = Style();
  const LONG_PTR view = style & LVS_TYPEMASK;
  const bool to_list = view == LVS_REPORT || view == LVS_SMALLICON;
  const LONG_PTR wanted = to_list ? LVS_LIST : LVS_REPORT;
  if (view == wanted) return false;
  SetWindowLongPtrA(list_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(LVS_TYPEMASK)) | wanted);
  if ((Style() & LVS_TYPEMASK) != wanted) return false;
  view_mode_ = to_list ? kListView : kDetailView;
  InvalidateRect(list_, nullptr, TRUE);
  return true;
}

bool CCabFileListBox::single_selection() const { return (Style() & LVS_SINGLESEL) != 0; }

bool CCabFileListBox::SetSingleSelection() {
  if (single_selection()) return false;
  SetWindowLongPtrA(list_, GWL_STYLE, Style() | LVS_SINGLESEL);
  return single_selection();
}

bool CCabFileListBox::ClearSingleSelection() {
  if (!single_selection()) return false;
  SetWindowLongPtrA(list_, GWL_STYLE, Style() & ~static_cast<LONG_PTR>(LVS_SINGLESEL));
  return !single_selection();
}

void CCabFileListBox::Select(int item, bool selected) {
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED;
  state.state = selected ? LVIS_SELECTED : 0;
  SendMessageA(list_, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
}

int CCabFileListBox::DeselectAll() {
  int cleared = 0;
  for (int item : SelectedItems()) {
    Select(item, false);
    ++cleared;
  }
  return cleared;
}

void CCabFileListBox::SetImageLists(HIMAGELIST large_images, HIMAGELIST small_images) {
  for (auto [which, images] : {std::pair{LVSIL_NORMAL, large_images}, std::pair{LVSIL_SMALL, small_images}}) {
    auto old = reinterpret_cast<HIMAGELIST>(
        SendMessageA(list_, LVM_SETIMAGELIST, which, reinterpret_cast<LPARAM>(images)));
    if (old != nullptr && old != images) ImageList_Destroy(old);
  }
}

void CCabFileListBox::SetRows(std::vector<tBundleRow> rows) {
  SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
  rows_ = std::move(rows);
  for (size_t i = 0; i < rows_.size(); ++i) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>(rows_[i].path.c_str());
    item.lParam = static_cast<LPARAM>(i);
    item.iImage = 0;
    const int at = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) continue;
    for (int column = 1; column < 4; ++column) {
      const std::string& text = CellOf(rows_[i], column);
      LVITEMA sub = {};
      sub.iSubItem = column;
      sub.pszText = const_cast<char*>(text.c_str());
      SendMessageA(list_, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
    }
  }
}

int CCabFileListBox::ItemCount() const {
  return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<int> CCabFileListBox::SelectedItems() const {
  std::vector<int> items;
  for (int item = static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
       item != -1;
       item = static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, item, LVNI_SELECTED))) {
    items.push_back(item);
  }
  return items;
}

std::vector<tBundleRow> CCabFileListBox::SelectedRows() const {
  std::vector<tBundleRow> rows;
  for (int item : SelectedItems()) {
    LVITEMA lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi))) continue;
    const LPARAM row = lvi.lParam;
    if (row >= 0 && static_cast<size_t>(row) < rows_.size()) rows.push_back(rows_[row]);
  }
  return rows;
}

std::string CCabFileListBox::CellText(int item, int column) const {
  char buffer[1024] = {};
  LVITEMA lvi = {};
  lvi.iSubItem = column;
  lvi.pszText = buffer;
  lvi.cchTextMax = sizeof buffer;
  SendMessageA(list_, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lvi));
  return buffer;
}

}  // namespace kestrin
