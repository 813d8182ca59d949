// What the main dialog shows of the bundles: the rows of the bundle list, the
// information block of the selected rows, and where the bundle list comes
// from when the dialog opens. No window is needed for any of it.
#ifndef KESTRIN_APP_BUNDLE_LIST_H_
#define KESTRIN_APP_BUNDLE_LIST_H_

#include <string>
#include <vector>

#include "app/progress_dlg.h"

namespace kestrin {

// One row of the bundle list.
struct tBundleRow {
  size_t available_index;   // entry of AvailableBundles the row shows
  std::string path;         // first column: the bundle path as listed
  std::string oem_name;
  std::string description;
  std::string version;
};

// The rows for `available`, in order: one per bundle whose description can
// be read; a bundle that cannot be read gets no row.
std::vector<tBundleRow> ReadBundleRows(Host& host, const StringList& available);

// The information block for the selected rows, in list order: per row the
// separator, "Information about bundle: %s:", the separator, an empty line,
// description, manufacturer, version, the minimum version when the bundle's
// description can be read again, an empty line; after the last row the
// separator and an empty line. Empty for no rows.
std::vector<std::string> BundleInfoLines(Host& host, const std::vector<tBundleRow>& selected,
                                         const StringList& available);

// Where the bundle list of a dialog comes from when it opens: the command
// line sorted into directories and bundle files (the directory text becomes
// the first directory named; with bundle files only, the folder of the first
// is searched on a later rescan and the directory text stays empty), or,
// without a command line, OemCabDir scanned and shown as the directory text.
void InitBundleSources(CProgressDlg& context);

}  // namespace kestrin

#endif  // KESTRIN_APP_BUNDLE_LIST_H_
