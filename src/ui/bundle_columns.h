// The bundle list's columns and views, whatever control shows them: four
// columns with their own numbers (0 path, 1 OEM name, 2 description,
// 3 version), shown in the order 1, 2, 3, 0 so that the path comes last; a
// detail view with the columns and a list view of the paths.
#ifndef KESTRIN_UI_BUNDLE_COLUMNS_H_
#define KESTRIN_UI_BUNDLE_COLUMNS_H_

#include <array>
#include <string>

#include "app/bundle_list.h"

namespace kestrin {

// View modes of the bundle list.
inline constexpr int kDetailView = 1;
inline constexpr int kListView = 3;

struct tColumn {
  int index;
  const char* title;
  bool centred;  // otherwise left-aligned
  int width;     // pixels at the normal text size
  int sub_item;  // -1: the column's own number
};

extern const std::array<tColumn, 4> kBundleColumns;
// Column numbers, left to right.
inline constexpr std::array<int, 4> kBundleColumnOrder = {1, 2, 3, 0};

// The text of column `column` (by its own number) of `row`.
const std::string& CellOf(const tBundleRow& row, int column);

// Whether `order` names each column exactly once.
bool IsColumnOrder(const std::array<int, 4>& order);

}  // namespace kestrin

#endif  // KESTRIN_UI_BUNDLE_COLUMNS_H_
