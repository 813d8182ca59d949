// Getting at a driver bundle: its temporary folder, unpacking it whole or
// only its hw.ini, reading its description, and finding the usable bundles of
// a folder. The folders are made and removed, and the description read,
// through the Host; the cabinet is unpacked by the host's BundleUnpacker,
// which on this machine is CCabinetFile (SystemBundleUnpacker).
//
// A bundle is "usable" when its hw.ini (any letter case) can be unpacked.
#ifndef KESTRIN_BUNDLE_BUNDLE_H_
#define KESTRIN_BUNDLE_BUNDLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace kestrin {

// The description of one bundle, from section OEMDriverDisk of its hw.ini.
// Absent keys read as empty texts (and OemId as 0).
struct tCabFileInfo {
  std::string FileName;        // last component of the bundle path
  std::string Description;     // DESCRIPTION
  std::string OemName;         // OEMNAME
  std::string Version;         // VERSION
  std::string BundlePath;      // the path as given
  std::string OemIdText;       // OEMID read as text
  int32_t OemId = 0;           // OEMID read as a number, 0 when absent
  std::string MinimumVersion;  // MINIMUM_VERSION
};

// A bundle's temporary folder and whether it exists.
struct tBundleTempDir {
  std::string path;
  bool exists = false;
};

// The per-user local application-data folder (Machine::PerUserDataDir)
// without a trailing separator; "" when unknown.
std::string LocalAppDataDir(Host& host);

// The temporary folder of a bundle: LocalAppDataDir(), "Brantel/Temp", and
// the bundle's file name exactly as spelled in `bundle_path` (extension
// included). Nothing is created.
std::string BundleTempDirPath(Host& host, const std::string& bundle_path);

// Builds the bundle's temporary folder, creates it with its missing parents
// and checks that it exists; an existing folder is used as it is (and made
// writable). A bundle path without a file name, or a per-user folder that
// is unknown or not absolute, gives exists == false and nothing is created.
tBundleTempDir MakeBundleTempDir(Host& host, const std::string& bundle_path);

// Unpacks only hw.ini (letter case ignored, written as the cabinet spells
// it) through the host. Returns 1 when found, 0 when the bundle holds no
// such file or could not be opened, -2 when extraction failed.
int ExtractHwIni(Host& host, const std::string& bundle_path, const std::string& target_directory);

// Unpacks hw.ini into the bundle's temporary folder and fills `info` from
// it. False (and `info` untouched) for an empty path, a temporary folder
// that cannot be made, or a bundle without a usable hw.ini. The folder and
// its hw.ini are left in place.
bool ReadBundleInfo(Host& host, const std::string& bundle_path, tCabFileInfo* info);

// Whether the bundle's hw.ini can be unpacked into its temporary folder
// (which is left in place).
bool CheckBundle(Host& host, const std::string& bundle_path);

// Appends every usable bundle "*.cab" (letter case ignored) of `directory`,
// as its full path in upper case, to `available_bundles`, in the order of
// the folder search (names in byte order). Returns how many were appended.
int ScanBundleDirectory(Host& host, const std::string& directory,
                        std::vector<std::string>* available_bundles);

// Whether `directory` holds at least one usable bundle. The temporary
// folder of the last candidate tried is removed again.
bool DirectoryHasBundle(Host& host, const std::string& directory);

// The cabinet decoder of this program as the host's BundleUnpacker: its
// ExtractAll is ExtractCabinetFile, its ExtractFile CCabinetFile::ExtractFile.
BundleUnpacker& SystemBundleUnpacker();

// Unpacks the whole bundle into `target_directory` with CCabinetFile.
// Returns the number of files extracted (above 0 is success), 0 when the
// bundle could not be opened, -1 when its contents could not be listed, -2
// when extraction failed (a refused member name included).
int ExtractCabinetFile(const std::string& bundle_path, const std::string& target_directory);

}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_BUNDLE_H_
