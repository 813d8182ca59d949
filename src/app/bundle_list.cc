#include "app/bundle_list.h"

#include "app/messages.h"
#include "bundle/bundle.h"
#include "host/path_resolve.h"
#include "host/text_format.h"

namespace kestrin {

namespace {

const std::string kSeparatorLine(90, '-');

// The folder of a bundle path, without a trailing separator.
std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return "";
  return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::vector<tBundleRow> ReadBundleRows(Host& host, const StringList& available) {
  std::vector<tBundleRow> rows;
  for (size_t i = 0; i < available.size(); ++i) {
    tCabFileInfo info;
    if (!ReadBundleInfo(host, available[i], &info)) continue;
    rows.push_back({i, available[i], info.OemName, info.Description, info.Version});
  }
  return rows;
}

std::vector<std::string> BundleInfoLines(Host& host, const std::vector<tBundleRow>& selected,
                                         const StringList& available) {
  std::vector<std::string> lines;
  if (selected.empty()) return lines;
  for (const tBundleRow& row : selected) {
    lines.push_back(kSeparatorLine);
    lines.push_back(StringPrintf(msg::kInfoAbout, FileNameOf(row.path).c_str()));
    lines.push_back(kSeparatorLine);
    lines.push_back("");
    lines.push_back(StringPrintf(msg::kDescription, row.description.c_str()));
    lines.push_back(StringPrintf(msg::kInfoManufacturer, row.oem_name.c_str()));
    lines.push_back(StringPrintf(msg::kVersion, row.version.c_str()));
    tCabFileInfo info;
    if (row.available_index < available.size() &&
        ReadBundleInfo(host, available[row.available_index], &info)) {
      const std::string& minimum =
          info.MinimumVersion.empty() ? std::string(msg::kNotSpecified) : info.MinimumVersion;
      lines.push_back(StringPrintf(msg::kMinimumVersion, minimum.c_str()));
    }
    lines.push_back("");
  }
  lines.push_back(kSeparatorLine);
  lines.push_back("");
  return lines;
}

void InitBundleSources(CProgressDlg& context) {
  if (!context.CommandLinePaths.empty()) {
    context.ScheduleCommandLine();
    if (!context.BundleDirectories.empty()) {
      context.DirectoryText = context.BundleDirectories.front();
    } else if (!context.AvailableBundles.empty()) {
      context.BundleDirectories.push_back(FolderOf(context.AvailableBundles.front()));
    }
    return;
  }
  context.BundleDirectories.insert(context.BundleDirectories.begin(), context.OemCabDir);
  context.DirectoryText = context.OemCabDir;
  context.ScanBundleDirectories();
}

}  // namespace kestrin
