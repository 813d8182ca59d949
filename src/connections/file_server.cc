#include "connections/file_server.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "host/atomic_file.h"
#include "host/file_system.h"
#include "host/ini_document.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

constexpr char kCompleteKey[] = "Complete";
constexpr char kPropertyPrefix[] = "Property.";

HRESULT ResultOf(const FileResult& result) {
  switch (result.error) {
    case FileError::kNone:
    case FileError::kMissing:
      return S_OK;
    case FileError::kUnreadable:
    case FileError::kReadOnly:
      return E_ACCESSDENIED;
    case FileError::kFolderMissing:
      return E_NOTFOUND;
    case FileError::kWriteFailed:
      return E_FAIL;
  }
  return E_FAIL;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxTelvorName && !HasControlCharacter(name) &&
         IniTrim(name).size() == name.size();
}

bool ValidText(std::string_view text) {
  return text.size() <= kMaxTelvorText && !HasControlCharacter(text);
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits.
bool ValidClassId(std::string_view id) {
  constexpr std::string_view kShape = "{........-....-....-....-............}";
  if (id.size() != kShape.size()) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    if (kShape[i] == '.' ? !IsHex(id[i]) : id[i] != kShape[i]) return false;
  }
  return true;
}

// An IPv4 address, most significant byte first: 192.168.0.10.
std::string DottedAddress(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

// One locked, atomic read-modify-write of the connection file. `edit`
// returns whether the document changed.
HRESULT EditFile(const std::string& path, const std::function<bool(IniDocument&)>& edit) {
  const FileResult result =
      UpdateFileLocked(ResolvePath(path), [&](std::string& content, bool) {
        IniDocument doc = IniDocument::Parse(content);
        if (!edit(doc)) return EditAction::kKeep;
        content = doc.Serialize();
        return EditAction::kWrite;
      });
  return ResultOf(result);
}

// The current content of the connection file (empty when it does not exist yet).
HRESULT ReadFile(const std::string& path, IniDocument* doc) {
  std::string bytes;
  const FileResult result = ReadWholeFile(ResolvePath(path), bytes);
  if (result.ok()) *doc = IniDocument::Parse(bytes);
  return ResultOf(result);
}

// One connection's section of the file.
class ConnectionSection {
 public:
  ConnectionSection(std::string path, std::string name)
      : path_(std::move(path)), name_(std::move(name)) {}

 protected:
  HRESULT Write(const std::string& key, const std::string& value) const {
    return EditFile(path_, [&](IniDocument& doc) { return doc.SetValue(name_, key, value); });
  }
  const std::string& path() const { return path_; }
  const std::string& name() const { return name_; }

 private:
  std::string path_;
  std::string name_;
};

class FileTelvorProperties : public ITelvorProperties, private ConnectionSection {
 public:
  using ConnectionSection::ConnectionSection;

  HRESULT SetNumber(const std::string& property, std::int32_t value) override {
    if (!ValidProperty(property)) return E_INVALIDARG;
    return WriteProperty(property, ConnectionFileNumber(property, value));
  }
  HRESULT SetText(const std::string& property, const std::string& value) override {
    if (!ValidProperty(property) || !ValidText(value)) return E_INVALIDARG;
    return WriteProperty(property, value);
  }

 private:
  // Sets the property unless it is new and the connection has all the
  // properties it may hold.
  HRESULT WriteProperty(const std::string& property, const std::string& value) const {
    const std::string key = ConnectionFileKey(property, true);
    bool full = false;
    const HRESULT written = EditFile(path(), [&](IniDocument& doc) {
      if (!doc.FindValue(name(), key)) {
        size_t held = 0;
        for (const std::string& k : doc.KeyNames(name())) {
          if (k.size() > std::size(kPropertyPrefix) - 1 &&
              IniNamesEqual(std::string_view(k).substr(0, std::size(kPropertyPrefix) - 1),
                            kPropertyPrefix)) {
            ++held;
          }
        }
        full = held >= kMaxTelvorProperties;
        if (full) return false;
      }
      return doc.SetValue(name(), key, value);
    });
    return full ? E_INVALIDARG : written;
  }
  static bool ValidProperty(const std::string& property) {
    return ValidName(property) && property.find('=') == std::string::npos;
  }
};

class FileTelvorConnection : public ITelvorConnection, private ConnectionSection {
 public:
  using ConnectionSection::ConnectionSection;

  HRESULT GetProperties(TelvorObject* properties) override {
    *properties = std::make_shared<FileTelvorProperties>(path(), name());
    return S_OK;
  }
  HRESULT SetComment(const std::string& comment) override { return WriteText("Comment", comment); }
  HRESULT SetDriverClassId(const std::string& class_id) override {
    if (!ValidClassId(class_id)) return E_INVALIDARG;
    return Write("DriverClassId", class_id);
  }
  HRESULT SetOption16(std::int32_t value) override {
    return Write("Option16", std::to_string(value));
  }
  HRESULT SetTimeout(std::int32_t milliseconds) override {
    if (milliseconds < 1) return E_INVALIDARG;
    return Write("Timeout", std::to_string(milliseconds));
  }
  HRESULT SetOption22(const std::string& text) override { return WriteText("Option22", text); }
  HRESULT Complete() override { return Write(kCompleteKey, "1"); }
  HRESULT SetDriverName(const std::string& driver_name) override {
    if (driver_name.empty()) return E_INVALIDARG;
    return WriteText("DriverName", driver_name);
  }

 private:
  HRESULT WriteText(const std::string& key, const std::string& text) const {
    if (!ValidText(text)) return E_INVALIDARG;
    return Write(key, text);
  }
};

class FileTelvorServer : public ITelvorServer {
 public:
  HRESULT LoadConnectionFile(const std::string& path) override {
    const std::string resolved = ResolvePath(path);
    const size_t slash = resolved.find_last_of(kPathSeparators);
    if (slash == std::string::npos ||
        !IsDirectory(SystemFileSystem(), resolved.substr(0, slash + 1))) {
      return E_NOTFOUND;
    }
    IniDocument doc;
    const HRESULT read = ReadFile(path, &doc);
    if (Failed(read)) return read;
    path_ = path;
    return S_OK;
  }

  HRESULT CreateConnection(const std::string& name) override {
    if (path_.empty()) return E_UNEXPECTED;
    if (!ValidName(name)) return E_INVALIDARG;
    bool existed = false;
    const HRESULT written = EditFile(path_, [&](IniDocument& doc) {
      existed = doc.HasSection(name);
      return !existed && doc.SetValue(name, kCompleteKey, "0");
    });
    if (Failed(written)) return written;
    return existed ? S_FALSE : S_OK;
  }

  HRESULT GetConnection(const std::string& name, TelvorObject* connection) override {
    if (path_.empty()) return E_UNEXPECTED;
    if (!ValidName(name)) return E_INVALIDARG;
    IniDocument doc;
    const HRESULT read = ReadFile(path_, &doc);
    if (Failed(read)) return read;
    if (!doc.HasSection(name)) return E_NOTFOUND;
    *connection = std::make_shared<FileTelvorConnection>(path_, name);
    return S_OK;
  }

 private:
  std::string path_;  // the connection file, once loaded
};

}  // namespace

std::string ConnectionFileKey(std::string_view setting, bool property) {
  return (property ? std::string(kPropertyPrefix) : std::string()) + std::string(setting);
}

std::string ConnectionFileNumber(std::string_view property, std::int32_t value) {
  if (EqualsIgnoreCase(property, "IpAddress")) return DottedAddress(static_cast<std::uint32_t>(value));
  return std::to_string(value);
}

FileTelvorServerClass::FileTelvorServerClass(std::function<std::string()> connection_dir)
    : connection_dir_(std::move(connection_dir)) {}

HRESULT FileTelvorServerClass::CreateInstance(TelvorObject* object) {
  const std::string folder = connection_dir_();
  if (folder.empty() || !IsDirectory(SystemFileSystem(), folder)) return REGDB_E_CLASSNOTREG;
  *object = std::make_shared<FileTelvorServer>();
  return S_OK;
}

HRESULT FileTelvorServerClass::Run(const TelvorObject& object) {
  return object ? S_OK : E_UNEXPECTED;
}

}  // namespace kestrin
