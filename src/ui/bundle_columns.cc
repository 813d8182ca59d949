#include "ui/bundle_columns.h"

#include <algorithm>

#include "app/messages.h"

namespace kestrin {

const std::array<tColumn, 4> kBundleColumns = {{
    {0, msg::kColumnFilepath, false, 250, -1},
    {1, msg::kColumnOemName, false, 200, -1},
    {2, msg::kColumnDescription, false, 190, -1},
    {3, msg::kColumnVersion, true, 50, -1},
}};

const std::string& CellOf(const tBundleRow& row, int column) {
  switch (column) {
    case 0: return row.path;
    case 1: return row.oem_name;
    case 2: return row.description;
    default: return row.version;
  }
}

bool IsColumnOrder(const std::array<int, 4>& order) {
  std::array<int, 4> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  return sorted == std::array<int, 4>{0, 1, 2, 3};
}

}  // namespace kestrin
