// CRegistryKey: the default (unnamed) value of one registry key below
// HKEY_LOCAL_MACHINE, read and written through a Registry (host/host.h).
// Reads fall back to the caller's default; writes create the key and report
// nothing to the caller (the result is there for those that want it).
#ifndef KESTRIN_HOST_REGISTRY_KEY_H_
#define KESTRIN_HOST_REGISTRY_KEY_H_

#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"

namespace kestrin {

// Parent keys; Kestrin only ever uses the local machine.
enum class RegistryRoot { kLocalMachine };

class CRegistryKey {
 public:
  // key_path is relative to parent ("SOFTWARE\Brantel\...", "\" separated).
  CRegistryKey(Registry& registry, RegistryRoot parent, std::string key_path);
  virtual ~CRegistryKey() = default;

  const std::string& key_path() const { return key_path_; }

  // The key's default value, or default_text when it cannot be read (missing
  // key, an unreadable store). A key that exists without a default value
  // reads as "". The value's type is not examined: a value that is not a
  // string reads as the text of its bytes.
  std::string GetString(std::string_view default_text) const;
  // The default value read as a decimal number (atoi: leading digits), or
  // default_value when it cannot be read; a value of 16 characters or more
  // does not fit the 16-byte read and gives default_value.
  int GetInt(int default_value) const;
  // The default value as it is stored: text is set only for kOk.
  RegistryReadStatus Read(std::string* text) const;
  // Create the key if needed and set its default value (numbers as "%d").
  // Fails, as the registry does, for a key component longer than
  // kMaxRegistryKeyNameLength characters; the registry is then not touched.
  bool SetString(std::string_view text) const;
  bool SetInt(int value) const;

  // What the last operation found ("" after a success or a missing key).
  const std::string& LastError() const { return error_; }

 private:
  std::optional<std::string> ReadDefault() const;

  Registry& registry_;
  std::string key_path_;
  RegistryRoot parent_;
  mutable std::string error_;
};

// A named string value ("" = the default value) of a key below
// HKEY_LOCAL_MACHINE (any type, read as its text); nothing when the key or
// value is missing or the registry cannot be read. A key that exists
// without a default value reads as "" for the default value.
std::optional<std::string> ReadLocalMachineString(Registry& registry, std::string_view key_path,
                                                  std::string_view value_name);

// Why a key path cannot be written: empty when it can. A key component
// longer than kMaxRegistryKeyNameLength is refused, as the registry does.
std::string RefusedKeyPath(std::string_view key_path);

}  // namespace kestrin

#endif  // KESTRIN_HOST_REGISTRY_KEY_H_
