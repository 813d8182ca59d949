// What CRegistryKey reads and writes on top of a Registry.
#include "host/registry_key.h"

#include <cstdio>
#include <vector>

#include "host/number_text.h"

namespace kestrin {

CRegistryKey::CRegistryKey(Registry& registry, RegistryRoot parent, std::string key_path)
    : registry_(registry), key_path_(std::move(key_path)), parent_(parent) {}

std::optional<std::string> CRegistryKey::ReadDefault() const {
  RegistryRead read = registry_.ReadValue(key_path_, "");
  error_ = read.error;
  // RegQueryValue gives a key without a default value as "".
  if (read.status == RegistryReadStatus::kNoValue) return std::string();
  if (read.status != RegistryReadStatus::kOk) return std::nullopt;
  return std::move(read.text);
}

std::string CRegistryKey::GetString(std::string_view default_text) const {
  return ReadDefault().value_or(std::string(default_text));
}

int CRegistryKey::GetInt(int default_value) const {
  const std::optional<std::string> text = ReadDefault();
  if (!text || text->size() + 1 > 16) return default_value;
  return ReadDecimal(*text);
}

RegistryReadStatus CRegistryKey::Read(std::string* text) const {
  RegistryRead read = registry_.ReadValue(key_path_, "");
  error_ = read.error;
  if (read.status == RegistryReadStatus::kOk && !read.is_string)
    return RegistryReadStatus::kNotString;
  if (read.status == RegistryReadStatus::kOk && text != nullptr) *text = std::move(read.text);
  return read.status;
}

bool CRegistryKey::SetString(std::string_view text) const {
  std::vector<tRegistryWrite> writes{{key_path_, std::string(text), false, {}}};
  std::string error;
  registry_.SetDefaultValues(writes, &error);
  error_ = writes[0].error;
  return writes[0].done;
}

bool CRegistryKey::SetInt(int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return SetString(text);
}

std::optional<std::string> ReadLocalMachineString(Registry& registry, std::string_view key_path,
                                                  std::string_view value_name) {
  RegistryRead read = registry.ReadValue(key_path, value_name);
  if (read.status == RegistryReadStatus::kOk) return std::move(read.text);
  if (read.status == RegistryReadStatus::kNoValue && value_name.empty()) return std::string();
  return std::nullopt;
}

std::string RefusedKeyPath(std::string_view key_path) {
  for (size_t begin = 0; begin < key_path.size();) {
    size_t end = key_path.find('\\', begin);
    if (end == std::string_view::npos) end = key_path.size();
    if (end - begin > kMaxRegistryKeyNameLength) {
      return "a registry key name is longer than " + std::to_string(kMaxRegistryKeyNameLength) +
             " characters: " + std::string(key_path);
    }
    begin = end + 1;
  }
  return std::string();
}

}  // namespace kestrin
