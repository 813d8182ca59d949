// IniFile on the Windows private-profile calls. They take paths of at most
// MAX_PATH - 1 characters and no "\\?\" form (a longer one is not found,
// or cut); an INI file deeper than that (in a Korvane below a long folder)
// goes through Kestrin's own INI engine instead, the one of the Linux
// build, which reads and writes what these calls do (the oracle tables of
// the tests) and reaches any depth through the "\\?\" form.
#include <optional>

#include "host/document_ini_files.h"
#include "host/host.h"
#include "host/ini_document.h"
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

namespace {

void Note(IniResult* result, IniStatus status, std::string message) {
  if (result != nullptr) *result = IniResult{status, std::move(message)};
}

// Whether the profile calls cannot take `path`.
bool TooLong(const std::string& path) { return ProfilePath(path).size() >= MAX_PATH; }

// The engine for the files beyond them, on whole files replaced atomically
// under a sidecar lock (host/atomic_file.h).
class WholeTextFiles : public TextFileStore {
 public:
  FileResult Read(const std::string& path, std::string& content) override {
    return ReadWholeFile(path, content);
  }
  FileResult Update(
      const std::string& path,
      const std::function<EditAction(std::string& content, bool exists)>& edit) override {
    return UpdateFileLocked(path, edit);
  }
};

IniFiles& DeepIniFiles() {
  static WholeTextFiles store;
  static DocumentIniFiles files(store);
  return files;
}

// Sets the read status: a missing file reads as empty (kFileMissing, no
// message), a folder in its place is unreadable.
bool CheckReadable(const std::string& path, IniResult* result) {
  const DWORD attributes = GetFileAttributesA(ProfilePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Note(result, IniStatus::kFileMissing, std::string());
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Note(result, IniStatus::kUnreadable, "cannot read " + path + ": it is a folder");
    return false;
  }
  Note(result, IniStatus::kOk, std::string());
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
           IniResult* result) {
  const std::string file = ProfilePath(path);
  const DWORD attributes = GetFileAttributesA(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    Note(result, IniStatus::kReadOnly, "cannot write " + path + ": the file is read-only");
    return false;
  }
  if (WritePrivateProfileStringA(section, key, value, file.c_str())) {
    Note(result, IniStatus::kOk, std::string());
    return true;
  }
  const DWORD code = GetLastError();
  Note(result,
       code == ERROR_PATH_NOT_FOUND  ? IniStatus::kFolderMissing
       : code == ERROR_ACCESS_DENIED ? IniStatus::kReadOnly
                                     : IniStatus::kWriteFailed,
       "cannot write " + path + ": " + Win32ErrorText(code));
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

// The private-profile calls themselves. Writes of several keys are one
// call each: the calls offer nothing bigger.
class ProfileIniFiles : public IniFiles {
 public:
  std::optional<std::string> GetString(const std::string& path, std::string_view section,
                                       std::string_view key, IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().GetString(path, section, key, result);
    if (!CheckReadable(path, result)) return std::nullopt;
    return Value(path, section, key);
  }

  std::optional<int> GetInt(const std::string& path, std::string_view section, std::string_view key,
                            IniResult* result) override {
    const std::optional<std::string> value = GetString(path, section, key, result);
    if (!value) return std::nullopt;
    return IniParseInt(*value);
  }

  std::vector<IniLine> GetSection(const std::string& path, std::string_view section,
                                  IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().GetSection(path, section, result);
    std::vector<IniLine> lines;
    if (!CheckReadable(path, result)) return lines;
    for (const std::string& line : SectionLines(path, section)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) {
        lines.push_back(IniLine{std::string(IniTrim(line)), std::nullopt});
      } else {
        lines.push_back(IniLine{std::string(IniTrim(std::string_view(line).substr(0, eq))),
                                std::string(IniTrim(std::string_view(line).substr(eq + 1)))});
      }
    }
    return lines;
  }

  IniEntryList GetSectionValues(const std::string& path, std::string_view section,
                                IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().GetSectionValues(path, section, result);
    IniEntryList values;
    for (std::string& key : GetKeyNames(path, section, result)) {
      std::string value = Value(path, section, key).value_or(std::string());
      values.emplace_back(std::move(key), std::move(value));
    }
    return values;
  }

  std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section,
                                       IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().GetKeyNames(path, section, result);
    if (!CheckReadable(path, result)) return {};
    const std::string s(section), file = ProfilePath(path);
    return SplitList(ReadGrowing(
        [&](char* buffer, DWORD size) {
          return GetPrivateProfileStringA(s.c_str(), nullptr, "", buffer, size, file.c_str());
        },
        2));
  }

  std::vector<std::string> GetSectionNames(const std::string& path, IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().GetSectionNames(path, result);
    if (!CheckReadable(path, result)) return {};
    const std::string file = ProfilePath(path);
    return SplitList(ReadGrowing(
        [&](char* buffer, DWORD size) {
          return GetPrivateProfileSectionNamesA(buffer, size, file.c_str());
        },
        2));
  }

  bool HasSection(const std::string& path, std::string_view section, IniResult* result) override {
    for (const std::string& name : GetSectionNames(path, result)) {
      if (IniNamesEqual(name, section)) return true;
    }
    return false;
  }

  bool SetValues(const std::string& path, std::string_view section, const IniEntryList& entries,
                 IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().SetValues(path, section, entries, result);
    const std::string s(section);
    for (const auto& [key, value] : entries) {
      if (!Write(path, s.c_str(), key.c_str(), value.c_str(), result)) return false;
    }
    return true;
  }

  bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                 IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().DeleteKey(path, section, key, result);
    if (GetFileAttributesA(ProfilePath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
      Note(result, IniStatus::kOk, std::string());
      return true;  // nothing to remove
    }
    const std::string s(section), k(key);
    return Write(path, s.c_str(), k.c_str(), nullptr, result);
  }

  bool DeleteSection(const std::string& path, std::string_view section,
                     IniResult* result) override {
    if (TooLong(path)) return DeepIniFiles().DeleteSection(path, section, result);
    if (GetFileAttributesA(ProfilePath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
      Note(result, IniStatus::kOk, std::string());
      return true;  // nothing to remove
    }
    const std::string s(section);
    return Write(path, s.c_str(), nullptr, nullptr, result);
  }
};

}  // namespace

IniFiles& SystemIniFiles() {
  static ProfileIniFiles files;
  return files;
}

}  // namespace kestrin
