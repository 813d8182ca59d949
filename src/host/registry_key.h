// CRegistryKey: the default (unnamed) value of one registry key below
// HKEY_LOCAL_MACHINE, kept in the registry store file. Reads fall back to the
// caller's default; writes create the key and report nothing to the caller
// (the result is there for those that want it).
#ifndef KESTRIN_HOST_REGISTRY_KEY_H_
#define KESTRIN_HOST_REGISTRY_KEY_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrin {

// Parent keys; Kestrin only ever uses the local machine.
enum class RegistryRoot { kLocalMachine };

// How a read of a key's default value went, for callers that must tell a
// missing key from a key without that value and from a store that cannot be
// read (as opening the key and querying its value tell them apart).
enum class RegistryReadStatus {
  kOk,
  kNoKey,      // the key does not exist
  kNoValue,    // the key exists without a default value
  kNotString,  // the default value is not a string
  kFailed,     // the store cannot be read or parsed (LastError says why)
};

// The longest name of one key component the registry accepts.
inline constexpr size_t kMaxRegistryKeyNameLength = 255;

class CRegistryKey {
 public:
  // key_path is relative to parent ("SOFTWARE\Brantel\...", "\" separated).
  // The store is the file RegistryStorePath() names at each operation, or
  // store_path when given.
  CRegistryKey(RegistryRoot parent, std::string key_path, std::string store_path = std::string());
  virtual ~CRegistryKey() = default;

  const std::string& key_path() const { return key_path_; }

  // The key's default value, or default_text when it cannot be read (missing
  // key, an unreadable store). A key that exists without a default value
  // reads as "". The value's type is not examined: a value that is not a
  // string reads as the text of its bytes (RegistryValueText).
  std::string GetString(std::string_view default_text) const;
  // The default value read as a decimal number (atoi: leading digits), or
  // default_value when it cannot be read; a value of 16 characters or more
  // does not fit the 16-byte read and gives default_value.
  int GetInt(int default_value) const;
  // The default value as it is stored: text is set only for kOk.
  RegistryReadStatus Read(std::string* text) const;
  // Create the key if needed and set its default value (numbers as "%d").
  // Fails, as the registry does, for a key component longer than
  // kMaxRegistryKeyNameLength characters; the store is then not touched.
  bool SetString(std::string_view text) const;
  bool SetInt(int value) const;

  // What the last operation found ("" after a success or a missing key).
  const std::string& LastError() const { return error_; }

 private:
  std::optional<std::string> ReadDefault() const;
  std::string Store() const;

  std::string key_path_;
  RegistryRoot parent_;
  std::string store_path_;
  mutable std::string error_;
};

// One key's default value for SetDefaultValues.
struct tRegistryWrite {
  std::string key_path;  // relative to HKEY_LOCAL_MACHINE
  std::string text;
  bool done = false;   // set when the value is in the store
  std::string error;   // why it is not
};

// Sets the default value of each key, in order, as SetString would, but in
// one locked update of the store: a step that sets many values reads and
// writes the store once, and either all accepted values reach it or, when
// the store cannot be read or written, none (the result is then false and
// `error` names the store). A value refused on its own (a key name too long,
// a line break) leaves the others alone.
bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error,
                      const std::string& store_path = std::string());

// Reads a named string value ("" = the default value) of a key below
// HKEY_LOCAL_MACHINE from the store (any type, read as RegistryValueText);
// nothing when the key or value is missing or the store cannot be read.
std::optional<std::string> ReadLocalMachineString(std::string_view key_path,
                                                  std::string_view value_name,
                                                  const std::string& store_path = std::string());

// One direct subkey of a key: its name as stored, and its default value
// when that is a string.
struct tRegistrySubKey {
  std::string name;
  std::optional<std::string> text;
};

// The direct subkeys of a key below HKEY_LOCAL_MACHINE with their default
// values, read in one pass (one read of the store); nothing when the key
// does not exist or cannot be read.
std::optional<std::vector<tRegistrySubKey>> ReadLocalMachineSubKeys(
    std::string_view key_path, const std::string& store_path = std::string());

// Sets the default values of several keys below HKEY_LOCAL_MACHINE, in the
// given order, with one locked and atomic write of the store (keys created
// as needed), so that a caller with many values pays for one write. Nothing
// is written, and false is returned (with the reason in `error`), when a key
// path is invalid, a text cannot be stored or the store cannot be written.
bool SetLocalMachineDefaults(const std::vector<std::pair<std::string, std::string>>& values,
                             const std::string& store_path = std::string(),
                             std::string* error = nullptr);

}  // namespace kestrin

#endif  // KESTRIN_HOST_REGISTRY_KEY_H_
