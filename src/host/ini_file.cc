// What IniFile reads and writes on top of the private-profile primitives.
#include "host/ini_file.h"

#include <optional>

namespace kestrin {

IniFile::IniFile(IniFiles& files, std::string path) : files_(files), path_(std::move(path)) {}

std::string IniFile::GetString(std::string_view section, std::string_view key) const {
  return files_.GetString(path_, section, key, &last_).value_or(std::string());
}

int IniFile::GetInt(std::string_view section, std::string_view key,
                    bool minus_one_when_absent) const {
  return files_.GetInt(path_, section, key, &last_).value_or(minus_one_when_absent ? -1 : 0);
}

bool IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  return files_.SetValues(path_, section, {{std::string(key), std::string(value)}}, &last_);
}

bool IniFile::WriteStrings(std::string_view section, const IniEntryList& entries) const {
  return files_.SetValues(path_, section, entries, &last_);
}

bool IniFile::DeleteSection(std::string_view section) const {
  return files_.DeleteSection(path_, section, &last_);
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) const {
  return files_.DeleteKey(path_, section, key, &last_);
}

void IniFile::ReadSectionMap(std::string_view section, IniSectionMap& map) const {
  for (IniLine& line : files_.GetSection(path_, section, &last_)) {
    if (line.value) map.insert_or_assign(std::move(line.key), std::move(*line.value));
  }
}

void IniFile::ReadSectionList(std::string_view section, IniEntryList& list) const {
  for (IniLine& line : files_.GetSection(path_, section, &last_)) {
    list.emplace_back(std::move(line.key), line.value.value_or(std::string()));
  }
}

int IniFile::ReadSectionByKeys(std::string_view section, IniSectionMap& map) const {
  map.clear();
  for (auto& [key, value] : files_.GetSectionValues(path_, section, &last_)) {
    map.insert_or_assign(std::move(key), std::move(value));
  }
  return static_cast<int>(map.size());
}

std::vector<std::string> IniFile::GetKeyNames(std::string_view section) const {
  return files_.GetKeyNames(path_, section, &last_);
}

std::vector<std::string> IniFile::GetSectionNames() const {
  return files_.GetSectionNames(path_, &last_);
}

bool IniFile::HasSection(std::string_view section) const {
  return files_.HasSection(path_, section, &last_);
}

}  // namespace kestrin
