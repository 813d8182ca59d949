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

bool WriteDefault(const std::string& key_path, const std::string& text, std::string* error) {
  if (key_path.empty() || key_path.front() == '\\') {
    *error = "invalid registry key path: " + key_path;
    return false;
  }
  if (*error = RefusedKeyPath(key_path); !error->empty()) return false;
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

// The registry itself (the 32-bit view). It has no transaction here: the
// values of SetDefaultValues are set one after the other.
class Win32Registry : public Registry {
 public:
  RegistryRead ReadValue(std::string_view key_path, std::string_view value_name) override {
    RegistryRead read;
    Key key;
    LONG code = key.Open(std::string(key_path));
    if (code == ERROR_FILE_NOT_FOUND) {
      read.status = RegistryReadStatus::kNoKey;
      return read;
    }
    if (code != ERROR_SUCCESS) {
      read.error = KeyError("cannot open", key_path, code);
      return read;
    }
    DWORD type = 0;
    code = QueryText(key.get(), value_name, &read.text, &type);
    if (code == ERROR_FILE_NOT_FOUND) {
      read.status = RegistryReadStatus::kNoValue;
    } else if (code != ERROR_SUCCESS) {
      read.error = KeyError("cannot read", key_path, code);
    } else {
      read.status = RegistryReadStatus::kOk;
      read.is_string = type == REG_SZ || type == REG_EXPAND_SZ;
    }
    return read;
  }

  std::optional<std::vector<tRegistrySubKey>> ReadSubKeys(std::string_view key_path) override {
    Key key;
    if (key.Open(std::string(key_path)) != ERROR_SUCCESS) return std::nullopt;
    std::vector<tRegistrySubKey> subkeys;
    char name[kMaxRegistryKeyNameLength + 2];
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name;
      const LONG code =
          RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (code == ERROR_NO_MORE_ITEMS) break;
      if (code != ERROR_SUCCESS) return std::nullopt;
      tRegistrySubKey subkey{std::string(name, length), std::nullopt};
      Key child;
      std::string text;
      DWORD type = 0;
      if (RegOpenKeyExA(key.get(), subkey.name.c_str(), 0, KEY_READ | kView, &child.handle()) ==
              ERROR_SUCCESS &&
          QueryText(child.get(), "", &text, &type) == ERROR_SUCCESS &&
          (type == REG_SZ || type == REG_EXPAND_SZ)) {
        subkey.text = std::move(text);
      }
      subkeys.push_back(std::move(subkey));
    }
    return subkeys;
  }

  bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) override {
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

  bool DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string* error) override {
    bool all = true;
    for (const std::string& key_path : key_paths) all = DeleteDefault(key_path, error) && all;
    return all;
  }

 private:
  bool DeleteDefault(const std::string& key_path, std::string* error) {
    const std::string& path = key_path;
    HKEY key = nullptr;
    LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WRITE | kView, &key);
    if (code == ERROR_FILE_NOT_FOUND) return true;
    if (code != ERROR_SUCCESS) {
      if (error != nullptr) *error = KeyError("cannot open", key_path, code);
      return false;
    }
    code = RegDeleteValueA(key, nullptr);
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                        &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) {
      if (error != nullptr) *error = KeyError("cannot delete the value of", key_path, code);
      return false;
    }
    // A key left empty goes too, as a key made for the value did not exist before it.
    if (empty) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), kView, 0);
    return true;
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace kestrin
