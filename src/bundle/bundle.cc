#include "bundle/bundle.h"

#include "bundle/bundle_format.h"
#include "bundle/cabinet_file.h"
#include "bundle/report_sink.h"
#include "host/file_system.h"
#include "host/ini_file.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

void Trace(const char* text) { Report(text, kCabinetTraceLevel, false); }

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A file name that names a folder entry of its own (not empty, ".", "..").
bool UsableFileName(const std::string& name) {
  return !name.empty() && name != "." && name != "..";
}

class CabinetUnpacker : public BundleUnpacker {
 public:
  int ExtractAll(const std::string& bundle_path, const std::string& target_dir) override {
    return ExtractCabinetFile(bundle_path, target_dir);
  }
  int ExtractFile(const std::string& bundle_path, const std::string& name,
                  const std::string& target_dir) override {
    CCabinetFile cab_file;
    if (!cab_file.Open(bundle_path, kCabOpenReadShareDenyWrite)) return 0;
    const int result = cab_file.ExtractFile(name, target_dir);
    cab_file.Close();
    return result;
  }
};

}  // namespace

namespace bundle {

std::string DescriptionPath(const std::string& bundle_temp_dir) {
  return JoinPath(bundle_temp_dir, kDescriptionFile);
}

}  // namespace bundle

std::string LocalAppDataDir(Host& host) {
  std::string dir = host.machine.PerUserDataDir();
  while (dir.size() > 1 && IsPathSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string BundleTempDirPath(Host& host, const std::string& bundle_path) {
  return JoinPath(JoinPath(JoinPath(LocalAppDataDir(host), "Brantel"), "Temp"),
                  FileNameOf(bundle_path));
}

tBundleTempDir MakeBundleTempDir(Host& host, const std::string& bundle_path) {
  tBundleTempDir result;
  result.path = BundleTempDirPath(host, bundle_path);
  // Never below the current folder or the root: only an absolute per-user
  // folder and a real file name give a temporary folder.
  const std::string base = LocalAppDataDir(host);
  if (!IsAbsolutePath(base) || base.size() <= RootLength(base) ||
      !UsableFileName(FileNameOf(bundle_path))) {
    return result;
  }
  CreateDirectoryTree(host.files, result.path);  // an existing folder answers 0 as well
  result.exists = IsDirectory(host.files, result.path);
  if (result.exists) SetReadOnly(host.files, result.path, false);
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

int ExtractHwIni(Host& host, const std::string& bundle_path, const std::string& target_directory) {
  return host.bundles.ExtractFile(bundle_path, bundle::kDescriptionFile, target_directory);
}

BundleUnpacker& SystemBundleUnpacker() {
  static CabinetUnpacker unpacker;
  return unpacker;
}

bool CheckBundle(Host& host, const std::string& bundle_path) {
  if (bundle_path.empty()) return false;
  const tBundleTempDir temp = MakeBundleTempDir(host, bundle_path);
  if (!temp.exists) return false;
  return ExtractHwIni(host, bundle_path, temp.path) > 0;
}

bool ReadBundleInfo(Host& host, const std::string& bundle_path, tCabFileInfo* info) {
  using namespace bundle;
  if (bundle_path.empty()) return false;
  const tBundleTempDir temp = MakeBundleTempDir(host, bundle_path);
  if (!temp.exists) return false;
  if (ExtractHwIni(host, bundle_path, temp.path) <= 0) return false;
  // Written as the cabinet spells it (HW.INI, Hw.Ini, ...), found ignoring case.
  const IniFile description(host.ini, DescriptionPath(temp.path));
  info->Description = description.GetString(kDescriptionSection, kDescriptionKey);
  info->OemName = description.GetString(kDescriptionSection, kOemNameKey);
  info->OemId = description.GetInt(kDescriptionSection, kOemIdKey, false);
  info->OemIdText = description.GetString(kDescriptionSection, kOemIdKey);
  info->Version = description.GetString(kDescriptionSection, kVersionKey);
  info->MinimumVersion = description.GetString(kDescriptionSection, kMinimumVersionKey);
  info->BundlePath = bundle_path;
  info->FileName = FileNameOf(bundle_path);
  return true;
}

int ScanBundleDirectory(Host& host, const std::string& directory,
                        std::vector<std::string>* available_bundles) {
  if (directory.empty()) return 0;
  std::vector<DirEntry> entries;
  if (!FindFiles(host.files, JoinPath(directory, "*.cab"), &entries)) return 0;
  int count = 0;
  for (const DirEntry& entry : entries) {
    if (!entry.is_regular) continue;  // a folder, FIFO or device named *.cab
    const std::string candidate = AsciiUpper(JoinPath(directory, entry.name));
    if (CheckBundle(host, candidate)) {
      available_bundles->push_back(candidate);
      ++count;
    }
  }
  return count;
}

bool DirectoryHasBundle(Host& host, const std::string& directory) {
  if (directory.empty()) return false;
  std::vector<DirEntry> entries;
  if (!FindFiles(host.files, JoinPath(directory, "*.cab"), &entries) || entries.empty())
    return false;
  bool found = false;
  std::string last_temp;
  for (const DirEntry& entry : entries) {
    if (!entry.is_regular) continue;  // a folder, FIFO or device named *.cab
    const std::string candidate = AsciiUpper(JoinPath(directory, entry.name));
    const tBundleTempDir temp = MakeBundleTempDir(host, candidate);
    if (UsableFileName(FileNameOf(candidate))) last_temp = temp.path;
    if (temp.exists && ExtractHwIni(host, candidate, temp.path) > 0) {
      found = true;
      break;
    }
  }
  // The bundle's own folder, even when its name holds "*" or "?".
  if (!last_temp.empty()) DeleteFiles(host.files, last_temp, nullptr, NameMode::kLiteral);
  return found;
}

}  // namespace kestrin
