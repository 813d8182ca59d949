#include <cstdio>
#include <cstdlib>

#include "host/registry_key.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// A 32-bit program's view of HKEY_LOCAL_MACHINE, also on a 64-bit Windows.
constexpr REGSAM kView = KEY_WOW64_32KEY;

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  LONG Open(const std::string& path) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | kView, &key_);
  }
  LONG Create(const std::string& path) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_WRITE | KEY_READ | kView, nullptr, &key_, nullptr);
  }
  HKEY get() const { return key_; }
  HKEY& handle() { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string KeyError(const char* what, std::string_view key_path, LONG code) {
  return std::string(what) + " HKEY_LOCAL_MACHINE\\" + std::string(key_path) + ": " +
         Win32ErrorText(static_cast<DWORD>(code));
}

// Reads a value of an open key; the type is not examined: the text is the
// value's bytes up to the first NUL.
LONG QueryText(HKEY key, std::string_view value_name, std::string* text, DWORD* type) {
  const std::string name(value_name);
  DWORD size = 0;
  LONG code = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  if (code != ERROR_SUCCESS) return code;
  std::string data(size + 1, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    size = static_cast<DWORD>(data.size() - 1);
    code = RegQueryValueExA(key, name.c_str(), nullptr, type,
                            reinterpret_cast<BYTE*>(data.data()), &size);
    if (code != ERROR_MORE_DATA) break;
    data.assign(size + 1, '\0');
  }
  if (code != ERROR_SUCCESS) return code;
  data.resize(size);
  const size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  *text = std::move(data);
  return ERROR_SUCCESS;
}

bool ValidKeyPath(std::string_view key_path, std::string* error) {
  if (key_path.empty() || key_path.front() == '\\') {
    *error = "invalid registry key path: " + std::string(key_path);
    return false;
  }
  for (size_t begin = 0; begin < key_path.size();) {
    size_t end = key_path.find('\\', begin);
    if (end == std::string_view::npos) end = key_path.size();
    if (end - begin > kMaxRegistryKeyNameLength) {
      *error = "a registry key name is longer than " + std::to_string(kMaxRegistryKeyNameLength) +
               " characters: " + std::string(key_path);
      return false;
    }
    begin = end + 1;
  }
  return true;
}

bool WriteDefault(const std::string& key_path, const std::string& text, std::string* error) {
  if (!ValidKeyPath(key_path, error)) return false;
  Key key;
  LONG code = key.Create(key_path);
  if (code != ERROR_SUCCESS) {
    *error = KeyError("cannot create", key_path, code);
    return false;
  }
  code = RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
  if (code != ERROR_SUCCESS) {
    *error = KeyError("cannot set the value of", key_path, code);
    return false;
  }
  return true;
}

}  // namespace

CRegistryKey::CRegistryKey(RegistryRoot parent, std::string key_path, std::string store_path)
    : key_path_(std::move(key_path)), parent_(parent), store_path_(std::move(store_path)) {}

std::string CRegistryKey::Store() const { return "HKEY_LOCAL_MACHINE"; }

std::optional<std::string> CRegistryKey::ReadDefault() const {
  error_.clear();
  Key key;
  const LONG code = key.Open(key_path_);
  if (code != ERROR_SUCCESS) {
    if (code != ERROR_FILE_NOT_FOUND) error_ = KeyError("cannot open", key_path_, code);
    return std::nullopt;
  }
  std::string text;
  DWORD type = 0;
  // A key without a default value reads as "", as RegQueryValue gives it.
  if (QueryText(key.get(), "", &text, &type) != ERROR_SUCCESS) return std::string();
  return text;
}

RegistryReadStatus CRegistryKey::Read(std::string* text) const {
  error_.clear();
  Key key;
  LONG code = key.Open(key_path_);
  if (code == ERROR_FILE_NOT_FOUND) return RegistryReadStatus::kNoKey;
  if (code != ERROR_SUCCESS) {
    error_ = KeyError("cannot open", key_path_, code);
    return RegistryReadStatus::kFailed;
  }
  std::string value;
  DWORD type = 0;
  code = QueryText(key.get(), "", &value, &type);
  if (code == ERROR_FILE_NOT_FOUND) return RegistryReadStatus::kNoValue;
  if (code != ERROR_SUCCESS) {
    error_ = KeyError("cannot read", key_path_, code);
    return RegistryReadStatus::kFailed;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return RegistryReadStatus::kNotString;
  if (text != nullptr) *text = value;
  return RegistryReadStatus::kOk;
}

bool CRegistryKey::SetString(std::string_view text) const {
  error_.clear();
  return WriteDefault(key_path_, std::string(text), &error_);
}

bool CRegistryKey::SetInt(int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return SetString(text);
}

// The registry has no transaction here: the values are set one after the
// other, and each write's outcome is kept in its entry.
bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error,
                      const std::string& /*store_path*/) {
  bool all = true;
  for (tRegistryWrite& write : writes) {
    write.error.clear();
    write.done = WriteDefault(write.key_path, write.text, &write.error);
    if (!write.done && all) {
      all = false;
      if (error != nullptr) *error = write.error;
    }
  }
  return all;
}

std::optional<std::string> ReadLocalMachineString(std::string_view key_path,
                                                  std::string_view value_name,
                                                  const std::string& /*store_path*/) {
  Key key;
  if (key.Open(std::string(key_path)) != ERROR_SUCCESS) return std::nullopt;
  std::string text;
  DWORD type = 0;
  const LONG code = QueryText(key.get(), value_name, &text, &type);
  if (code == ERROR_SUCCESS) return text;
  if (code == ERROR_FILE_NOT_FOUND && value_name.empty()) return std::string();
  return std::nullopt;
}

std::optional<std::vector<tRegistrySubKey>> ReadLocalMachineSubKeys(std::string_view key_path,
                                                                    const std::string& /*store_path*/) {
  Key key;
  if (key.Open(std::string(key_path)) != ERROR_SUCCESS) return std::nullopt;
  std::vector<tRegistrySubKey> subkeys;
  char name[kMaxRegistryKeyNameLength + 2];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    const LONG code = RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) return std::nullopt;
    tRegistrySubKey subkey{std::string(name, length), std::nullopt};
    Key child;
    std::string text;
    DWORD type = 0;
    if (RegOpenKeyExA(key.get(), subkey.name.c_str(), 0, KEY_READ | kView, &child.handle()) == ERROR_SUCCESS &&
        QueryText(child.get(), "", &text, &type) == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      subkey.text = std::move(text);
    }
    subkeys.push_back(std::move(subkey));
  }
  return subkeys;
}

bool SetLocalMachineDefaults(const std::vector<std::pair<std::string, std::string>>& values,
                             const std::string& /*store_path*/, std::string* error) {
  std::string failure;
  for (const auto& [key_path, text] : values) {
    if (!ValidKeyPath(key_path, &failure)) break;
  }
  for (size_t i = 0; failure.empty() && i < values.size(); ++i) {
    WriteDefault(values[i].first, values[i].second, &failure);
  }
  if (error != nullptr) *error = failure;
  return failure.empty();
}

}  // namespace kestrin
