// IniFile: every INI file Kestrin reads or writes goes through one of these,
// bound to the file's path and to the IniFiles it is read and written
// through (host/host.h). The object caches nothing; each operation reads the
// file anew, and each write changes only the lines it must.
#ifndef KESTRIN_HOST_INI_FILE_H_
#define KESTRIN_HOST_INI_FILE_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"

namespace kestrin {

// Section entries by key; keys compare case-sensitively, as the callers expect.
using IniSectionMap = std::map<std::string, std::string>;

// The file's folders and name are found ignoring case, as every file lookup
// is; a file that does not exist yet is created with the spelling given.
class IniFile {
 public:
  IniFile(IniFiles& files, std::string path);

  const std::string& path() const { return path_; }

  // The value of key in section, surrounding quotes removed; "" when absent.
  std::string GetString(std::string_view section, std::string_view key) const;
  // The value read as an int (sign, decimal or 0x hex, leading digits only).
  // When the key is absent or empty: -1 if minus_one_when_absent, else 0.
  int GetInt(std::string_view section, std::string_view key, bool minus_one_when_absent) const;
  // Sets key = value, creating file, section and key as needed. Returns
  // whether the file now holds the value; callers that do not care ignore it.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  // Removes the first section of that name with all its lines (comments
  // included, up to the next header). True also when there is none.
  bool DeleteSection(std::string_view section) const;
  // Adds every "key=value" line of the section to map (split at the first
  // "=", both sides trimmed; later lines replace earlier ones; lines without
  // "=" skipped). The map is not emptied first.
  void ReadSectionMap(std::string_view section, IniSectionMap& map) const;
  // Appends every line of the section, in file order, duplicates kept: (key,
  // value), both trimmed; a line without "=" gives (line, "").
  void ReadSectionList(std::string_view section, IniEntryList& list) const;
  // Empties map, then fills it key by key with GetString semantics (quotes
  // removed). Returns the number of entries afterwards.
  int ReadSectionByKeys(std::string_view section, IniSectionMap& map) const;

  // Further calls of the same family.
  // Key names of the section in file order (duplicates kept, comments and
  // lines without "=" left out).
  std::vector<std::string> GetKeyNames(std::string_view section) const;
  // Section names as their headers spell them, in file order.
  std::vector<std::string> GetSectionNames() const;
  // Removes the first line of key in section. True also when there is none.
  bool DeleteKey(std::string_view section, std::string_view key) const;
  // Whether the section exists (first match, names compared ignoring case).
  bool HasSection(std::string_view section) const;
  // WriteString for several keys of one section, in order, in one locked
  // update: the file holds all of them or none.
  bool WriteStrings(std::string_view section, const IniEntryList& entries) const;

  // What the last operation found: kOk or a failure with a message naming
  // the file ("" after a success; a missing file on a read is kFileMissing
  // with an empty message, because a missing file reads as empty).
  IniStatus LastStatus() const { return last_.status; }
  const std::string& LastError() const { return last_.message; }

 private:
  IniFiles& files_;
  std::string path_;
  mutable IniResult last_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_INI_FILE_H_
