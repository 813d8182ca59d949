// IniFile on the Windows private-profile calls.
#include <optional>

#include "host/ini_document.h"
#include "host/ini_file.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// The private-profile calls take a name without a folder as a file of the
// Windows folder; Kestrin's names are meant relative to the current folder.
std::string ProfilePath(const std::string& path) {
  std::string native = WinPath(path);
  if (native.find('\\') == std::string::npos && native.find(':') == std::string::npos) {
    native = ".\\" + native;
  }
  return native;
}

// Calls `get` with growing buffers until the text fits (the calls return
// size - 1, or size - 2 for lists, when they had to cut).
template <typename Get>
std::string ReadGrowing(Get get, DWORD cut_margin) {
  std::string buffer(4096, '\0');
  for (;;) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n + cut_margin < buffer.size() || buffer.size() >= (1u << 26)) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(buffer.size() * 4, '\0');
  }
}

// Splits a NUL-separated list ("a\0b\0\0") into its items.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t begin = 0;
  while (begin < list.size()) {
    size_t end = list.find('\0', begin);
    if (end == std::string::npos) end = list.size();
    if (end > begin) items.emplace_back(list, begin, end - begin);
    begin = end + 1;
  }
  return items;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

namespace {

// Sets the read status: a missing file reads as empty (kFileMissing, no
// message), a folder in its place is unreadable.
bool CheckReadable(const std::string& path, IniStatus& status, std::string& error) {
  const DWORD attributes = GetFileAttributesA(ProfilePath(path).c_str());
  error.clear();
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    status = IniStatus::kFileMissing;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status = IniStatus::kUnreadable;
    error = "cannot read " + path + ": it is a folder";
    return false;
  }
  status = IniStatus::kOk;
  return true;
}

std::optional<std::string> Value(const std::string& path, std::string_view section,
                                 std::string_view key) {
  // A default that no file value can equal tells a missing key from an empty one.
  static constexpr char kAbsent[] = "\x01kestrin-absent\x01";
  const std::string s(section), k(key), file = ProfilePath(path);
  const std::string value = ReadGrowing(
      [&](char* buffer, DWORD size) {
        return GetPrivateProfileStringA(s.c_str(), k.c_str(), kAbsent, buffer, size, file.c_str());
      },
      1);
  if (value == kAbsent) return std::nullopt;
  return value;
}

bool Write(const std::string& path, const char* section, const char* key, const char* value,
           IniStatus& status, std::string& error) {
  const std::string file = ProfilePath(path);
  const DWORD attributes = GetFileAttributesA(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    status = IniStatus::kReadOnly;
    error = "cannot write " + path + ": the file is read-only";
    return false;
  }
  if (WritePrivateProfileStringA(section, key, value, file.c_str())) {
    status = IniStatus::kOk;
    error.clear();
    return true;
  }
  const DWORD code = GetLastError();
  status = code == ERROR_PATH_NOT_FOUND   ? IniStatus::kFolderMissing
           : code == ERROR_ACCESS_DENIED ? IniStatus::kReadOnly
                                         : IniStatus::kWriteFailed;
  error = "cannot write " + path + ": " + Win32ErrorText(code);
  return false;
}

std::vector<std::string> SectionLines(const std::string& path, std::string_view section) {
  const std::string s(section), file = ProfilePath(path);
  return SplitList(ReadGrowing(
      [&](char* buffer, DWORD size) {
        return GetPrivateProfileSectionA(s.c_str(), buffer, size, file.c_str());
      },
      2));
}

}  // namespace

std::string IniFile::GetString(std::string_view section, std::string_view key) const {
  if (!CheckReadable(path_, status_, error_)) return std::string();
  return Value(path_, section, key).value_or(std::string());
}

int IniFile::GetInt(std::string_view section, std::string_view key, bool minus_one_when_absent) const {
  const int fallback = minus_one_when_absent ? -1 : 0;
  if (!CheckReadable(path_, status_, error_)) return fallback;
  const std::optional<std::string> value = Value(path_, section, key);
  if (!value) return fallback;
  return IniParseInt(*value).value_or(fallback);
}

bool IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  const std::string s(section), k(key), v(value);
  return Write(path_, s.c_str(), k.c_str(), v.c_str(), status_, error_);
}

bool IniFile::WriteStrings(std::string_view section, const IniEntryList& entries) const {
  const std::string s(section);
  for (const auto& [key, value] : entries) {
    if (!Write(path_, s.c_str(), key.c_str(), value.c_str(), status_, error_)) return false;
  }
  return true;
}

bool IniFile::DeleteSection(std::string_view section) const {
  if (GetFileAttributesA(ProfilePath(path_).c_str()) == INVALID_FILE_ATTRIBUTES) {
    status_ = IniStatus::kOk;
    error_.clear();
    return true;  // nothing to remove
  }
  const std::string s(section);
  return Write(path_, s.c_str(), nullptr, nullptr, status_, error_);
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) const {
  if (GetFileAttributesA(ProfilePath(path_).c_str()) == INVALID_FILE_ATTRIBUTES) {
    status_ = IniStatus::kOk;
    error_.clear();
    return true;
  }
  const std::string s(section), k(key);
  return Write(path_, s.c_str(), k.c_str(), nullptr, status_, error_);
}

void IniFile::ReadSectionMap(std::string_view section, IniSectionMap& map) const {
  if (!CheckReadable(path_, status_, error_)) return;
  for (const std::string& line : SectionLines(path_, section)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    map.insert_or_assign(std::string(IniTrim(std::string_view(line).substr(0, eq))),
                         std::string(IniTrim(std::string_view(line).substr(eq + 1))));
  }
}

void IniFile::ReadSectionList(std::string_view section, IniEntryList& list) const {
  if (!CheckReadable(path_, status_, error_)) return;
  for (const std::string& line : SectionLines(path_, section)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      list.emplace_back(std::string(IniTrim(line)), std::string());
    } else {
      list.emplace_back(std::string(IniTrim(std::string_view(line).substr(0, eq))),
                        std::string(IniTrim(std::string_view(line).substr(eq + 1))));
    }
  }
}

int IniFile::ReadSectionByKeys(std::string_view section, IniSectionMap& map) const {
  map.clear();
  for (const std::string& key : GetKeyNames(section)) {
    map.insert_or_assign(key, Value(path_, section, key).value_or(std::string()));
  }
  return static_cast<int>(map.size());
}

std::vector<std::string> IniFile::GetKeyNames(std::string_view section) const {
  if (!CheckReadable(path_, status_, error_)) return {};
  const std::string s(section), file = ProfilePath(path_);
  return SplitList(ReadGrowing(
      [&](char* buffer, DWORD size) {
        return GetPrivateProfileStringA(s.c_str(), nullptr, "", buffer, size, file.c_str());
      },
      2));
}

std::vector<std::string> IniFile::GetSectionNames() const {
  if (!CheckReadable(path_, status_, error_)) return {};
  const std::string file = ProfilePath(path_);
  return SplitList(ReadGrowing(
      [&](char* buffer, DWORD size) {
        return GetPrivateProfileSectionNamesA(buffer, size, file.c_str());
      },
      2));
}

bool IniFile::HasSection(std::string_view section) const {
  for (const std::string& name : GetSectionNames()) {
    if (IniNamesEqual(name, section)) return true;
  }
  return false;
}

}  // namespace kestrin
