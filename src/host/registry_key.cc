// What CRegistryKey reads on top of the platform's ReadDefault
// (registry_key_posix.cc, registry_key_win32.cc).
#include "host/registry_key.h"

#include <cstdlib>

namespace kestrin {

std::string CRegistryKey::GetString(std::string_view default_text) const {
  return ReadDefault().value_or(std::string(default_text));
}

int CRegistryKey::GetInt(int default_value) const {
  const std::optional<std::string> text = ReadDefault();
  if (!text || text->size() + 1 > 16) return default_value;
  return std::atoi(text->c_str());
}

}  // namespace kestrin
