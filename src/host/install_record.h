// The installation record "instlog.ini": which OEM installed which item, and
// when. One section per item (named by its record name), one entry per
// installation: key the UTC minute "YYYY-MM-DD-hh-mm", value the OEM ID.
#ifndef KESTRIN_HOST_INSTALL_RECORD_H_
#define KESTRIN_HOST_INSTALL_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/ini_file.h"

namespace kestrin {

// File name of the record in the product's INI folder.
inline constexpr const char* kInstallRecordFileName = "instlog.ini";
// Record names of hardware definition files and sample folders are these
// prefixes followed by the file or folder name; a driver library's record
// name is its file name. They keep "\": they are not paths.
inline constexpr const char* kModulesRecordPrefix = "$MODULES\\";
inline constexpr const char* kSamplesRecordPrefix = "$SAMPLES\\";

// A point in time as a Windows FILETIME: 100-nanosecond intervals since
// 1601-01-01 00:00 UTC.
using FileTime = uint64_t;

class InstallRecord : public IniFile {
 public:
  // `path` is the record file; an existing file whose name differs only in
  // letter case is used.
  InstallRecord(IniFiles& files, const std::string& path);

  // Adds the entry "now (UTC) = oem_id" to the item's section. A failed write
  // is not reported here (LastStatus tells).
  void RecordInstall(std::string_view record_name, int oem_id) const;
  // The same with a given time.
  void RecordInstall(std::string_view record_name, int oem_id, FileTime when) const;

  // The value of the item's newest entry, or "" when it has none. Keys with
  // fewer than five numbers or that are no valid date and time are ignored;
  // of several entries of the same time the first in key order counts.
  // With `newest_key`, also the key (the time) of that entry.
  std::string GetLatestEntry(std::string_view record_name,
                             std::string* newest_key = nullptr) const;
  // The OEM ID of the newest entry (leading decimal number of its value),
  // 0 when there is none.
  int GetLatestOemId(std::string_view record_name) const;

  static std::string FormatTimeStamp(FileTime when);
};

// FILETIME <-> calendar (UTC). The conversion fails for fields out of range
// (month 13, day 31 in a 30-day month, hour 24, ...) and for years outside
// 1601..30827, as the Windows conversion does.
bool SystemTimeToFileTime(int year, int month, int day, int hour, int minute, int second,
                          FileTime* result);
FileTime FileTimeNow();

}  // namespace kestrin

#endif  // KESTRIN_HOST_INSTALL_RECORD_H_
