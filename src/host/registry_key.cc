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
    // The type is not examined: any value reads as the text its bytes make.
    return RegistryValueText(*value);
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

bool CRegistryKey::SetString(std::string_view text) const {
  error_.clear();
  const std::optional<std::string> full = LocalMachinePath(key_path_);
  if (!full) {
    error_ = "invalid registry key path: " + key_path_;
    return false;
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
