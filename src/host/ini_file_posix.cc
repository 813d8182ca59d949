#include "host/ini_file.h"

#include <optional>

#include "host/atomic_file.h"
#include "host/ini_document.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

IniStatus StatusOf(FileError error) {
  switch (error) {
    case FileError::kNone:
      return IniStatus::kOk;
    case FileError::kMissing:
      return IniStatus::kFileMissing;
    case FileError::kFolderMissing:
      return IniStatus::kFolderMissing;
    case FileError::kUnreadable:
      return IniStatus::kUnreadable;
    case FileError::kReadOnly:
      return IniStatus::kReadOnly;
    case FileError::kWriteFailed:
      return IniStatus::kWriteFailed;
  }
  return IniStatus::kWriteFailed;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

namespace {

// Reads and parses the file; a missing or unreadable file gives an empty document.
IniDocument Load(const std::string& path, IniStatus& status, std::string& error) {
  std::string bytes;
  const FileResult read = ReadWholeFile(path, bytes);
  status = StatusOf(read.error);
  error = read.error == FileError::kMissing ? std::string() : read.message;
  if (!read.ok()) return IniDocument();
  return IniDocument::Parse(bytes);
}

template <typename Edit>
bool Update(const std::string& path, IniStatus& status, std::string& error, Edit edit) {
  const FileResult result = UpdateFileLocked(path, [&](std::string& content, bool) {
    IniDocument doc = IniDocument::Parse(content);
    if (!edit(doc)) return EditAction::kKeep;
    content = doc.Serialize();
    return EditAction::kWrite;
  });
  status = StatusOf(result.error);
  error = result.message;
  return result.ok();
}

}  // namespace

std::string IniFile::GetString(std::string_view section, std::string_view key) const {
  const IniDocument doc = Load(ResolvePath(path_), status_, error_);
  const std::optional<std::string> value = doc.FindValue(section, key);
  if (!value) return std::string();
  return std::string(IniUnquote(*value));
}

int IniFile::GetInt(std::string_view section, std::string_view key, bool minus_one_when_absent) const {
  const IniDocument doc = Load(ResolvePath(path_), status_, error_);
  const int fallback = minus_one_when_absent ? -1 : 0;
  const std::optional<std::string> value = doc.FindValue(section, key);
  if (!value) return fallback;
  return IniParseInt(*value).value_or(fallback);
}

bool IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  return Update(ResolvePath(path_), status_, error_,
                [&](IniDocument& doc) { return doc.SetValue(section, key, value); });
}

bool IniFile::WriteStrings(std::string_view section, const IniEntryList& entries) const {
  return Update(ResolvePath(path_), status_, error_,
                [&](IniDocument& doc) { return doc.SetValues(section, entries); });
}

bool IniFile::DeleteSection(std::string_view section) const {
  return Update(ResolvePath(path_), status_, error_,
                [&](IniDocument& doc) { return doc.DeleteSection(section); });
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) const {
  return Update(ResolvePath(path_), status_, error_,
                [&](IniDocument& doc) { return doc.DeleteKey(section, key); });
}

void IniFile::ReadSectionMap(std::string_view section, IniSectionMap& map) const {
  const IniDocument doc = Load(ResolvePath(path_), status_, error_);
  for (IniDocument::Entry& entry : doc.SectionEntries(section)) {
    if (entry.value) map.insert_or_assign(std::move(entry.key), std::move(*entry.value));
  }
}

void IniFile::ReadSectionList(std::string_view section, IniEntryList& list) const {
  const IniDocument doc = Load(ResolvePath(path_), status_, error_);
  for (IniDocument::Entry& entry : doc.SectionEntries(section)) {
    list.emplace_back(std::move(entry.key), entry.value.value_or(std::string()));
  }
}

int IniFile::ReadSectionByKeys(std::string_view section, IniSectionMap& map) const {
  map.clear();
  const IniDocument doc = Load(ResolvePath(path_), status_, error_);
  for (const std::string& key : doc.KeyNames(section)) {
    const std::optional<std::string> value = doc.FindValue(section, key);
    map.insert_or_assign(key, std::string(IniUnquote(value.value_or(std::string()))));
  }
  return static_cast<int>(map.size());
}

std::vector<std::string> IniFile::GetKeyNames(std::string_view section) const {
  return Load(ResolvePath(path_), status_, error_).KeyNames(section);
}

std::vector<std::string> IniFile::GetSectionNames() const {
  return Load(ResolvePath(path_), status_, error_).SectionNames();
}

bool IniFile::HasSection(std::string_view section) const {
  return Load(ResolvePath(path_), status_, error_).HasSection(section);
}

}  // namespace kestrin
