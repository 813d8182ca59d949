#include "bundle/bundle.h"
#include "host/path_resolve.h"

#include "bundle/cabinet_file.h"
#include "bundle/report_sink.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/product_env.h"

namespace kestrin {
namespace {

constexpr char kSection[] = "OEMDriverDisk";
constexpr char kHwIni[] = "hw.ini";

void Trace(const char* text) { Report(text, kCabinetTraceLevel, false); }

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string JoinDir(const std::string& directory, const std::string& name) {
  if (!directory.empty() && IsPathSeparator(directory.back())) return directory + name;
  return directory + "/" + name;
}

// A file name that names a folder entry of its own (not empty, ".", "..").
bool UsableFileName(const std::string& name) {
  return !name.empty() && name != "." && name != "..";
}

}  // namespace

std::string LocalAppDataDir() {
  std::string dir = PerUserDataDir();
  while (dir.size() > 1 && IsPathSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string BundleTempDirPath(const std::string& bundle_path) {
  return JoinDir(LocalAppDataDir(), "Brantel/Temp/" + FileNameOf(bundle_path));
}

tBundleTempDir MakeBundleTempDir(const std::string& bundle_path) {
  tBundleTempDir result;
  result.path = BundleTempDirPath(bundle_path);
  // Never below the current folder or the root: only an absolute per-user
  // folder and a real file name give a temporary folder.
  const std::string base = LocalAppDataDir();
  if (!IsAbsolutePath(base) || base == "/" || !UsableFileName(FileNameOf(bundle_path))) {
    return result;
  }
  CreateDirectoryTree(result.path);  // an existing folder answers 0 as well
  result.exists = IsDirectory(result.path);
  if (result.exists) SetReadOnly(result.path, false);
  return result;
}

int ExtractCabinetFile(const std::string& bundle_path, const std::string& target_directory) {
  Trace("ExtractCabinetFile() called");
  CCabinetFile cab_file;
  if (!cab_file.Open(bundle_path, kCabOpenReadShareDenyWrite)) return 0;
  Trace("   CAB file opened for reading");
  const int result = cab_file.ExtractAll(target_directory);
  Trace("   returned from cabFile.ExtractAll()");
  cab_file.Close();
  return result;
}

int ExtractHwIni(const std::string& bundle_path, const std::string& target_directory) {
  CCabinetFile cab_file;
  if (!cab_file.Open(bundle_path, kCabOpenReadShareDenyWrite)) return 0;
  const int result = cab_file.ExtractFile(kHwIni, target_directory);
  cab_file.Close();
  return result;
}

bool CheckBundle(const std::string& bundle_path) {
  if (bundle_path.empty()) return false;
  const tBundleTempDir temp = MakeBundleTempDir(bundle_path);
  if (!temp.exists) return false;
  return ExtractHwIni(bundle_path, temp.path) > 0;
}

bool ReadBundleInfo(const std::string& bundle_path, tCabFileInfo* info) {
  if (bundle_path.empty()) return false;
  const tBundleTempDir temp = MakeBundleTempDir(bundle_path);
  if (!temp.exists) return false;
  if (ExtractHwIni(bundle_path, temp.path) <= 0) return false;
  // Written as the cabinet spells it (HW.INI, Hw.Ini, ...).
  const IniFile description(temp.path + "/" + kHwIni);
  info->Description = description.GetString(kSection, "DESCRIPTION");
  info->OemName = description.GetString(kSection, "OEMNAME");
  info->OemId = description.GetInt(kSection, "OEMID", false);
  info->OemIdText = description.GetString(kSection, "OEMID");
  info->Version = description.GetString(kSection, "VERSION");
  info->MinimumVersion = description.GetString(kSection, "MINIMUM_VERSION");
  info->BundlePath = bundle_path;
  info->FileName = FileNameOf(bundle_path);
  return true;
}

int ScanBundleDirectory(const std::string& directory, std::vector<std::string>* available_bundles) {
  if (directory.empty()) return 0;
  std::vector<DirEntry> entries;
  if (!FindFiles(JoinDir(directory, "*.cab"), &entries)) return 0;
  int count = 0;
  for (const DirEntry& entry : entries) {
    if (!entry.is_regular) continue;  // a folder, FIFO or device named *.cab
    const std::string candidate = AsciiUpper(JoinDir(directory, entry.name));
    if (CheckBundle(candidate)) {
      available_bundles->push_back(candidate);
      ++count;
    }
  }
  return count;
}

bool DirectoryHasBundle(const std::string& directory) {
  if (directory.empty()) return false;
  std::vector<DirEntry> entries;
  if (!FindFiles(JoinDir(directory, "*.cab"), &entries) || entries.empty()) return false;
  bool found = false;
  std::string last_temp;
  for (const DirEntry& entry : entries) {
    if (!entry.is_regular) continue;  // a folder, FIFO or device named *.cab
    const std::string candidate = AsciiUpper(JoinDir(directory, entry.name));
    const tBundleTempDir temp = MakeBundleTempDir(candidate);
    if (UsableFileName(FileNameOf(candidate))) last_temp = temp.path;
    if (temp.exists && ExtractHwIni(candidate, temp.path) > 0) {
      found = true;
      break;
    }
  }
  // The bundle's own folder, even when its name holds "*" or "?".
  if (!last_temp.empty()) DeleteFiles(last_temp, nullptr, NameMode::kLiteral);
  return found;
}

}  // namespace kestrin
