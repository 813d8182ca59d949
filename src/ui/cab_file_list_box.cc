#include "ui/cab_file_list_box.h"

#include <algorithm>

#include "app/messages.h"

namespace kestrin {

CCabFileListBox::CCabFileListBox(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                 const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxBORDER_SUNKEN),
      columns_{{{0, msg::kColumnFilepath, wxLIST_FORMAT_LEFT, 250, -1},
                {1, msg::kColumnOemName, wxLIST_FORMAT_LEFT, 200, -1},
                {2, msg::kColumnDescription, wxLIST_FORMAT_LEFT, 190, -1},
                {3, msg::kColumnVersion, wxLIST_FORMAT_CENTRE, 50, -1}}} {}

CCabFileListBox::~CCabFileListBox() { DeleteAllItems(); }

void CCabFileListBox::InsertColumns() {
  if (!InReportView()) return;
  DeleteAllColumns();
  for (int k = 0; k < 4; ++k) {
    const tColumn& column = columns_[order_[k]];
    InsertColumn(k, wxString::FromUTF8(column.title), column.format, FromDIP(column.width));
  }
  ShowRows();
}

void CCabFileListBox::SetDisplayOrder(const std::array<int, 4>& order) {
  std::array<int, 4> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  if (sorted != std::array<int, 4>{0, 1, 2, 3}) return;
  order_ = order;
  InsertColumns();
}

std::string CCabFileListBox::FieldOf(const tBundleRow& row, int column) const {
  switch (column) {
    case 0: return row.path;
    case 1: return row.oem_name;
    case 2: return row.description;
    default: return row.version;
  }
}

std::string CCabFileListBox::CellText(long item, int column) const {
  if (item < 0 || static_cast<size_t>(item) >= rows_.size()) return "";
  if (!InReportView()) return column == 0 ? GetItemText(item).utf8_string() : "";
  const auto shown = std::find(order_.begin(), order_.end(), column);
  return GetItemText(item, static_cast<int>(shown - order_.begin())).utf8_string();
}

void CCabFileListBox::ShowRows() {
  const std::vector<long> selected = SelectedItems();
  DeleteAllItems();
  const bool report = InReportView();
  for (size_t i = 0; i < rows_.size(); ++i) {
    const long item = static_cast<long>(i);
    const int first = report ? order_[0] : 0;
    InsertItem(item, wxString::FromUTF8(FieldOf(rows_[i], first)), 0);
    SetItemData(item, static_cast<long>(i));
    if (!report) continue;
    for (int k = 1; k < 4; ++k) SetItem(item, k, wxString::FromUTF8(FieldOf(rows_[i], order_[k])));
  }
  for (long item : selected) {
    if (item < GetItemCount()) SetItemState(item, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  }
}

bool CCabFileListBox::ToggleView() {
  const bool to_list = view_mode_ == kDetailView;
  const std::vector<long> selected = SelectedItems();
  SetSingleStyle(to_list ? wxLC_LIST : wxLC_REPORT);
  if (InReportView() == to_list) return false;
  view_mode_ = to_list ? kListView : kDetailView;
  // Changing the view empties the control: put columns, rows and the
  // selection back.
  if (to_list) {
    ShowRows();
  } else {
    InsertColumns();
  }
  for (long item : selected) {
    if (item < GetItemCount()) SetItemState(item, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  }
  return true;
}

bool CCabFileListBox::SetSingleSelection() {
  if (HasFlag(wxLC_SINGLE_SEL)) return false;
  SetSingleStyle(wxLC_SINGLE_SEL, true);
  return HasFlag(wxLC_SINGLE_SEL);
}

bool CCabFileListBox::ClearSingleSelection() {
  if (!HasFlag(wxLC_SINGLE_SEL)) return false;
  SetSingleStyle(wxLC_SINGLE_SEL, false);
  return !HasFlag(wxLC_SINGLE_SEL);
}

int CCabFileListBox::DeselectAll() {
  int cleared = 0;
  for (long item : SelectedItems()) {
    SetItemState(item, 0, wxLIST_STATE_SELECTED);
    ++cleared;
  }
  return cleared;
}

void CCabFileListBox::SetRows(std::vector<tBundleRow> rows) {
  DeleteAllItems();
  rows_ = std::move(rows);
  ShowRows();
}

std::vector<long> CCabFileListBox::SelectedItems() const {
  std::vector<long> items;
  for (long item = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
       item = GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
    items.push_back(item);
  }
  return items;
}

std::vector<tBundleRow> CCabFileListBox::SelectedRows() const {
  std::vector<tBundleRow> rows;
  for (long item : SelectedItems()) {
    const long row = static_cast<long>(GetItemData(item));
    if (row >= 0 && static_cast<size_t>(row) < rows_.size()) rows.push_back(rows_[row]);
  }
  return rows;
}

}  // namespace kestrin
