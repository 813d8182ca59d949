#include "host/document_ini_files.h"

#include <optional>

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

void Note(IniResult* result, IniStatus status, std::string message) {
  if (result != nullptr) *result = IniResult{status, std::move(message)};
}

}  // namespace

IniDocument DocumentIniFiles::Load(const std::string& path, IniResult* result) {
  std::string bytes;
  const FileResult read = store_.Read(path, bytes);
  Note(result, StatusOf(read.error),
       read.error == FileError::kMissing ? std::string() : read.message);
  if (!read.ok()) return IniDocument();
  return IniDocument::Parse(bytes);
}

bool DocumentIniFiles::Edit(const std::string& path, IniResult* result,
                            const std::function<bool(IniDocument&)>& edit) {
  const FileResult written = store_.Update(path, [&](std::string& content, bool) {
    IniDocument doc = IniDocument::Parse(content);
    if (!edit(doc)) return EditAction::kKeep;
    content = doc.Serialize();
    return EditAction::kWrite;
  });
  Note(result, StatusOf(written.error), written.message);
  return written.ok();
}

std::optional<std::string> DocumentIniFiles::GetString(const std::string& path,
                                                       std::string_view section,
                                                       std::string_view key, IniResult* result) {
  const std::optional<std::string> value = Load(path, result).FindValue(section, key);
  if (!value) return std::nullopt;
  return std::string(IniUnquote(*value));
}

std::optional<int> DocumentIniFiles::GetInt(const std::string& path, std::string_view section,
                                            std::string_view key, IniResult* result) {
  const std::optional<std::string> value = Load(path, result).FindValue(section, key);
  if (!value) return std::nullopt;
  return IniParseInt(*value);
}

std::vector<IniLine> DocumentIniFiles::GetSection(const std::string& path, std::string_view section,
                                                  IniResult* result) {
  std::vector<IniLine> lines;
  for (IniDocument::Entry& entry : Load(path, result).SectionEntries(section)) {
    lines.push_back(IniLine{std::move(entry.key), std::move(entry.value)});
  }
  return lines;
}

IniEntryList DocumentIniFiles::GetSectionValues(const std::string& path, std::string_view section,
                                                IniResult* result) {
  const IniDocument doc = Load(path, result);
  IniEntryList values;
  for (std::string& key : doc.KeyNames(section)) {
    const std::optional<std::string> value = doc.FindValue(section, key);
    values.emplace_back(std::move(key), std::string(IniUnquote(value.value_or(std::string()))));
  }
  return values;
}

std::vector<std::string> DocumentIniFiles::GetKeyNames(const std::string& path,
                                                       std::string_view section,
                                                       IniResult* result) {
  return Load(path, result).KeyNames(section);
}

std::vector<std::string> DocumentIniFiles::GetSectionNames(const std::string& path,
                                                           IniResult* result) {
  return Load(path, result).SectionNames();
}

bool DocumentIniFiles::HasSection(const std::string& path, std::string_view section,
                                  IniResult* result) {
  return Load(path, result).HasSection(section);
}

bool DocumentIniFiles::SetValues(const std::string& path, std::string_view section,
                                 const IniEntryList& entries, IniResult* result) {
  return Edit(path, result, [&](IniDocument& doc) { return doc.SetValues(section, entries); });
}

bool DocumentIniFiles::DeleteKey(const std::string& path, std::string_view section,
                                 std::string_view key, IniResult* result) {
  return Edit(path, result, [&](IniDocument& doc) { return doc.DeleteKey(section, key); });
}

bool DocumentIniFiles::DeleteKeys(const std::string& path, std::string_view section,
                                  const std::vector<std::string>& keys, IniResult* result) {
  return Edit(path, result, [&](IniDocument& doc) {
    bool changed = false;
    for (const std::string& key : keys) changed = doc.DeleteKey(section, key) || changed;
    return changed;
  });
}

bool DocumentIniFiles::DeleteSection(const std::string& path, std::string_view section,
                                     IniResult* result) {
  return Edit(path, result, [&](IniDocument& doc) { return doc.DeleteSection(section); });
}

}  // namespace kestrin
