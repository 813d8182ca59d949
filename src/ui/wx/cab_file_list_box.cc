#include "ui/wx/cab_file_list_box.h"

#include <algorithm>

namespace kestrin {

CCabFileListBox::CCabFileListBox(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                 const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxBORDER_SUNKEN) {}

CCabFileListBox::~CCabFileListBox() { DeleteAllItems(); }

void CCabFileListBox::InsertColumns() {
  if (!InReportView()) return;
  const tSelection kept = SaveSelection();
  DeleteAllColumns();
  for (int k = 0; k < 4; ++k) {
    const tColumn& column = kBundleColumns[order_[k]];
    InsertColumn(k, wxString::FromUTF8(column.title),
                 column.centred ? wxLIST_FORMAT_CENTRE : wxLIST_FORMAT_LEFT, FromDIP(column.width));
  }
  ShowRows();
  RestoreSelection(kept);
}

void CCabFileListBox::SetDisplayOrder(const std::array<int, 4>& order) {
  if (!IsColumnOrder(order)) return;
  order_ = order;
  InsertColumns();
}

wxWindow* CCabFileListBox::RowsWindow() const {
  // The generic control keeps it as a member of a type it does not export,
  // derived from wxWindow alone: the child at that address.
  for (wxWindow* child : GetChildren()) {
    if (static_cast<void*>(child) == static_cast<void*>(m_mainWin)) return child;
  }
  return nullptr;
}

std::string CCabFileListBox::CellText(long item, int column) const {
  if (item < 0 || static_cast<size_t>(item) >= rows_.size()) return "";
  if (!InReportView()) return column == 0 ? GetItemText(item).utf8_string() : "";
  const auto shown = std::find(order_.begin(), order_.end(), column);
  return GetItemText(item, static_cast<int>(shown - order_.begin())).utf8_string();
}

CCabFileListBox::tSelection CCabFileListBox::SaveSelection() const {
  return {SelectedItems(), GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED)};
}

void CCabFileListBox::RestoreSelection(const tSelection& kept) {
  for (long item : kept.selected) {
    if (item < GetItemCount()) SetItemState(item, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  }
  // The item the keyboard and the next click start from; without it the
  // control adds a clicked row to the selection instead of replacing it.
  long current = kept.current >= 0 ? kept.current : -1;
  if (current < 0 && !kept.selected.empty()) current = kept.selected.front();
  if (current >= 0 && current < GetItemCount())
    SetItemState(current, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
}

void CCabFileListBox::ShowRows() {
  DeleteAllItems();
  const bool report = InReportView();
  for (size_t i = 0; i < rows_.size(); ++i) {
    const long item = static_cast<long>(i);
    const int first = report ? order_[0] : 0;
    InsertItem(item, wxString::FromUTF8(CellOf(rows_[i], first)), 0);
    SetItemData(item, static_cast<long>(i));
    if (!report) continue;
    for (int k = 1; k < 4; ++k) SetItem(item, k, wxString::FromUTF8(CellOf(rows_[i], order_[k])));
  }
}

bool CCabFileListBox::ToggleView() {
  const bool to_list = view_mode_ == kDetailView;
  const tSelection kept = SaveSelection();
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
  RestoreSelection(kept);
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
