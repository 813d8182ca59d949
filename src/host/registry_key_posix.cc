#include "host/registry_key.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host/path_resolve.h"
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

// The full path of a key that can be written, or nothing with the reason.
std::optional<std::string> WritableKeyPath(const std::string& key_path, std::string& error) {
  const std::optional<std::string> full = LocalMachinePath(key_path);
  if (!full) {
    error = "invalid registry key path: " + key_path;
    return std::nullopt;
  }
  for (size_t begin = 0; begin < full->size();) {
    size_t end = full->find('\\', begin);
    if (end == std::string::npos) end = full->size();
    if (end - begin > kMaxRegistryKeyNameLength) {
      error = "a registry key name is longer than " + std::to_string(kMaxRegistryKeyNameLength) +
              " characters: " + key_path;
      return std::nullopt;
    }
    begin = end + 1;
  }
  return full;
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
  std::vector<tRegistryWrite> writes{{key_path_, std::string(text), false, {}}};
  std::string error;
  SetDefaultValues(writes, &error, Store());
  error_ = writes[0].error;
  return writes[0].done;
}

bool CRegistryKey::SetInt(int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return SetString(text);
}

bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error,
                      const std::string& store_path) {
  std::vector<std::optional<std::string>> full;
  for (tRegistryWrite& write : writes) {
    write.done = false;
    write.error.clear();
    full.push_back(WritableKeyPath(write.key_path, write.error));
  }
  const RegistryResult result = UpdateRegistryStore(
      store_path.empty() ? RegistryStorePath() : store_path, [&](RegistryStore& store) {
        bool changed = false;
        for (size_t i = 0; i < writes.size(); ++i) {
          if (!full[i]) continue;
          const RegistryValue* old = store.FindValue(*full[i], "");
          if (old != nullptr && old->is_string && old->data == writes[i].text) {
            writes[i].done = true;
            continue;
          }
          writes[i].done = store.SetString(*full[i], "", writes[i].text);
          if (!writes[i].done) {
            writes[i].error = "a registry value cannot hold line breaks: " + writes[i].key_path;
          }
          changed |= writes[i].done;
        }
        return changed;
      });
  if (!result.ok()) {
    for (size_t i = 0; i < writes.size(); ++i) {
      writes[i].done = false;
      if (full[i]) writes[i].error = result.message;
    }
    if (error != nullptr) *error = result.message;
    return false;
  }
  return true;
}

std::optional<std::string> ReadLocalMachineString(std::string_view key_path,
                                                  std::string_view value_name,
                                                  const std::string& store_path) {
  std::string error;
  return ReadValue(store_path.empty() ? RegistryStorePath() : store_path, key_path, value_name,
                   error);
}

std::optional<std::vector<tRegistrySubKey>> ReadLocalMachineSubKeys(std::string_view key_path,
                                                                    const std::string& store_path) {
  const std::optional<std::string> full = LocalMachinePath(key_path);
  if (!full) return std::nullopt;
  RegistryStore store;
  if (!LoadRegistryStore(store_path.empty() ? RegistryStorePath() : store_path, store).ok() ||
      !store.KeyExists(*full)) {
    return std::nullopt;
  }
  std::vector<tRegistrySubKey> subkeys;
  const std::string prefix = *full + "\\";
  for (const std::string& path : store.KeyPaths()) {
    if (path.size() <= prefix.size() || !EqualsIgnoreCase(std::string_view(path).substr(0, prefix.size()), prefix)) {
      continue;
    }
    // A deeper key names its first component as a subkey (parents exist implicitly).
    const std::string name = path.substr(prefix.size(), path.find('\\', prefix.size()) - prefix.size());
    const bool direct = name.size() == path.size() - prefix.size();
    auto same = std::find_if(subkeys.begin(), subkeys.end(),
                             [&](const tRegistrySubKey& s) { return EqualsIgnoreCase(s.name, name); });
    if (same == subkeys.end()) same = subkeys.insert(subkeys.end(), tRegistrySubKey{name, std::nullopt});
    if (direct && !same->text) {
      const RegistryValue* value = store.FindValue(path, "");
      if (value != nullptr && value->is_string) same->text = value->data;
    }
  }
  return subkeys;
}

bool SetLocalMachineDefaults(const std::vector<std::pair<std::string, std::string>>& values,
                             const std::string& store_path, std::string* error) {
  std::string failure;
  std::vector<std::pair<std::string, const std::string*>> full_paths;
  for (const auto& [key_path, text] : values) {
    const std::optional<std::string> full = LocalMachinePath(key_path);
    if (!full) {
      failure = "invalid registry key path: " + key_path;
      break;
    }
    full_paths.emplace_back(*full, &text);
  }
  if (failure.empty()) {
    const RegistryResult result = UpdateRegistryStore(
        store_path.empty() ? RegistryStorePath() : store_path, [&](RegistryStore& store) {
          bool changed = false;
          for (const auto& [full, text] : full_paths) {
            const RegistryValue* old = store.FindValue(full, "");
            if (old != nullptr && old->is_string && old->data == *text) continue;
            if (!store.SetString(full, "", *text)) {
              failure = "a registry value cannot hold line breaks: " + full;
              return false;  // nothing of this batch is written
            }
            changed = true;
          }
          return changed;
        });
    if (!result.ok()) failure = result.message;
  }
  if (error != nullptr) *error = failure;
  return failure.empty();
}

}  // namespace kestrin
