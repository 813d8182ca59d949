#include "host/registry_key.h"

#include <cstdio>
#include <cstdlib>

#include "host/registry_store.h"

namespace kestrin {
namespace {

// The key's value as RegQueryValue sees it: a key that exists without the
// value has an empty default; a missing key has none.
std::optional<std::string> ReadValue(const std::string& store_path, std::string_view key_path,
                                     std::string_view value_name, std::string& error) {
  error.clear();
  const std::optional<std::string> full = LocalMachinePath(key_path);
  if (!full) return std::nullopt;
  RegistryStore store;
  const RegistryResult loaded = LoadRegistryStore(store_path, store);
  if (!loaded.ok()) {
    error = loaded.message;
    return std::nullopt;
  }
  if (const RegistryValue* value = store.FindValue(*full, value_name)) {
    if (!value->is_string) return std::nullopt;
    return value->data;
  }
  if (value_name.empty() && store.KeyExists(*full)) return std::string();
  return std::nullopt;
}

}  // namespace

CRegistryKey::CRegistryKey(RegistryRoot parent, std::string key_path, std::string store_path)
    : key_path_(std::move(key_path)), parent_(parent), store_path_(std::move(store_path)) {}

std::string CRegistryKey::Store() const {
  return store_path_.empty() ? RegistryStorePath() : store_path_;
}

std::optional<std::string> CRegistryKey::ReadDefault() const {
  return ReadValue(Store(), key_path_, "", error_);
}

std::string CRegistryKey::GetString(std::string_view default_text) const {
  return ReadDefault().value_or(std::string(default_text));
}

int CRegistryKey::GetInt(int default_value) const {
  const std::optional<std::string> text = ReadDefault();
  if (!text || text->size() + 1 > 16) return default_value;
  return std::atoi(text->c_str());
}

RegistryReadStatus CRegistryKey::Read(std::string* text) const {
  error_.clear();
  const std::optional<std::string> full = LocalMachinePath(key_path_);
  if (!full) {
    error_ = "invalid registry key path: " + key_path_;
    return RegistryReadStatus::kFailed;
  }
  RegistryStore store;
  const RegistryResult loaded = LoadRegistryStore(Store(), store);
  if (!loaded.ok()) {
    error_ = loaded.message;
    return RegistryReadStatus::kFailed;
  }
  if (!store.KeyExists(*full)) return RegistryReadStatus::kNoKey;
  const RegistryValue* value = store.FindValue(*full, "");
  if (value == nullptr) return RegistryReadStatus::kNoValue;
  if (!value->is_string) return RegistryReadStatus::kNotString;
  if (text != nullptr) *text = value->data;
  return RegistryReadStatus::kOk;
}

bool CRegistryKey::SetString(std::string_view text) const {
  error_.clear();
  const std::optional<std::string> full = LocalMachinePath(key_path_);
  if (!full) {
    error_ = "invalid registry key path: " + key_path_;
    return false;
  }
  for (size_t begin = 0; begin < full->size();) {
    size_t end = full->find('\\', begin);
    if (end == std::string::npos) end = full->size();
    if (end - begin > kMaxRegistryKeyNameLength) {
      error_ = "a registry key name is longer than " + std::to_string(kMaxRegistryKeyNameLength) +
               " characters: " + key_path_;
      return false;
    }
    begin = end + 1;
  }
  bool stored = true;
  const RegistryResult result = UpdateRegistryStore(Store(), [&](RegistryStore& store) {
    const RegistryValue* old = store.FindValue(*full, "");
    if (old != nullptr && old->is_string && old->data == text) return false;
    stored = store.SetString(*full, "", text);
    return stored;
  });
  if (!result.ok()) {
    error_ = result.message;
    return false;
  }
  if (!stored) error_ = "a registry value cannot hold line breaks: " + key_path_;
  return stored;
}

bool CRegistryKey::SetInt(int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return SetString(text);
}

std::optional<std::string> ReadLocalMachineString(std::string_view key_path,
                                                  std::string_view value_name,
                                                  const std::string& store_path) {
  std::string error;
  return ReadValue(store_path.empty() ? RegistryStorePath() : store_path, key_path, value_name,
                   error);
}

}  // namespace kestrin
