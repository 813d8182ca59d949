// The registry on Linux: a store file in the text format regedit exports
// ("Windows Registry Editor Version 5.00", [HKEY_LOCAL_MACHINE\...] keys,
// @="..." default values, "Name"="..." named values). Key names compare
// ignoring case and keep their spelling; a key's parents exist implicitly;
// values of other types (dword:, hex:, hex(N):) are kept verbatim. A store
// that cannot be parsed is an error naming file and line, never read as
// empty and never overwritten; a missing store reads as empty.
#ifndef KESTRIN_HOST_REGISTRY_STORE_H_
#define KESTRIN_HOST_REGISTRY_STORE_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"

namespace kestrin {

inline constexpr const char* kRegistryHeader = "Windows Registry Editor Version 5.00";
inline constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
// Environment variable naming the store file.
inline constexpr const char* kRegistryVariable = "KESTRIN_REGISTRY";

struct RegistryValue {
  std::string name;     // "" for the key's default value
  bool is_string = true;
  bool is_comment = false;  // a ";" line kept in place (data holds it); not a value
  std::string data;     // the text of a string value; else the raw data as written
                        // after "=" (such as "dword:00000001"), continuation lines included
};

class RegistryStore {
 public:
  // Parses a store file's bytes (UTF-8, with or without BOM, LF or CRLF; or
  // UTF-16LE with BOM). On failure returns false with the 1-based line and
  // what is wrong.
  bool Parse(std::string_view bytes, size_t& error_line, std::string& error_what);
  // UTF-8 text, LF line ends.
  std::string Serialize() const;

  // Key paths are full paths ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), their
  // components compared ignoring case.
  bool KeyExists(std::string_view key_path) const;
  const RegistryValue* FindValue(std::string_view key_path, std::string_view name) const;
  // Creates the key (keeping the stored spelling of the parts that exist)
  // and sets a string value. Returns false for text a store line cannot hold
  // (line breaks, NUL).
  bool SetString(std::string_view key_path, std::string_view name, std::string_view data);
  // Explicitly stored keys, in file order, with their spelling.
  std::vector<std::string> KeyPaths() const;
  // Removes the value `name` of a key; a key then left without values and
  // without keys below it goes too. False when there was no such value.
  bool DeleteValue(std::string_view key_path, std::string_view name);

 private:
  struct Key {
    std::string path;
    std::vector<RegistryValue> values;
  };
  Key* FindKey(std::string_view key_path);
  const Key* FindKey(std::string_view key_path) const;
  std::string StoredSpelling(const std::vector<std::string>& parts) const;
  // Appends a key (its path as stored) and indexes it.
  Key& AddKey(std::string path);
  std::vector<std::string> leading_;   // comment lines before the header
  std::vector<std::string> preamble_;  // comment lines before the first key
  std::vector<Key> keys_;
  // Lookups in constant time, so a store of many keys is not read and
  // written in quadratic time. Both are keyed by the lower-cased path.
  std::unordered_map<std::string, size_t> key_index_;  // explicit key -> keys_ index
  // Every path that is a key or a parent of one -> the spelling of its last
  // component in the first key (in file order) below it.
  std::unordered_map<std::string, std::string> spelling_;
};

// The text a narrow read of the value gives, whatever its type: a string
// as stored; for other types their bytes (a dword as 4 little-endian bytes,
// hex data as written; REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ exported as
// hex(1), hex(2), hex(7) converted from UTF-16LE), up to the first NUL.
std::string RegistryValueText(const RegistryValue& value);

// Joins HKEY_LOCAL_MACHINE and a subkey path the way the registry calls
// read one: doubled and trailing backslashes collapse; a leading backslash
// is an invalid path (nothing). An empty subkey names the root itself.
std::optional<std::string> LocalMachinePath(std::string_view subkey);

// The store file: $KESTRIN_REGISTRY, else $XDG_CONFIG_HOME/Brantel/registry.reg
// (XDG_CONFIG_HOME defaulting to ~/.config). Empty when no home is known.
// (POSIX only: on Windows the registry is the system's.)
std::string RegistryStorePath();

enum class RegistryStatus { kOk, kUnreadable, kUnparsable, kWriteFailed };

struct RegistryResult {
  RegistryStatus status = RegistryStatus::kOk;
  std::string message;  // names the store (and the line for a parse error)
  bool ok() const { return status == RegistryStatus::kOk; }
};

// Reads and parses the store at path; a missing file gives an empty store.
RegistryResult LoadRegistryStore(const std::string& path, RegistryStore& store);

// Locked read-modify-write of the store: edit returns whether to write. A
// store that cannot be parsed is left untouched and reported.
RegistryResult UpdateRegistryStore(const std::string& path,
                                   const std::function<bool(RegistryStore&)>& edit);

// The registry (host/host.h) kept in a store: each read loads the store, the
// values of one SetDefaultValues reach it in one locked update (all that
// were accepted, or, when the store cannot be read or written, none).
class StoreRegistry : public Registry {
 public:
  RegistryRead ReadValue(std::string_view key_path, std::string_view value_name) override;
  std::optional<std::vector<tRegistrySubKey>> ReadSubKeys(std::string_view key_path) override;
  bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) override;
  bool DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string* error) override;

 protected:
  virtual RegistryResult Load(RegistryStore& store) = 0;
  virtual RegistryResult Update(const std::function<bool(RegistryStore&)>& edit) = 0;
};

// The store file at `path`.
class RegistryStoreFile : public StoreRegistry {
 public:
  explicit RegistryStoreFile(std::string path);
  virtual std::string Path() const { return path_; }

 protected:
  RegistryResult Load(RegistryStore& store) override;
  RegistryResult Update(const std::function<bool(RegistryStore&)>& edit) override;

 private:
  std::string path_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_REGISTRY_STORE_H_
