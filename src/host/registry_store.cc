#include "host/registry_store.h"

#include <algorithm>
#include <cstdlib>

#include "host/atomic_file.h"
#include "host/ini_document.h"
#include "host/registry_key.h"

namespace kestrin {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) parts.emplace_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

// The lookup form of a path: its components lower-cased, joined by "\\".
std::string IndexPath(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) path += '\\';
    for (const char c : parts[i]) path += Lower(c);
  }
  return path;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Reads a quoted string at the start of text (which begins with '"'):
// \\ and \" are the only escapes. Sets rest to what follows the closing quote.
bool ReadQuoted(std::string_view text, std::string& out, std::string_view& rest, std::string& what) {
  out.clear();
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      rest = text.substr(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
        out += text[++i];
        continue;
      }
      what = "a backslash in a string must be written \\\\ (only \\\\ and \\\" are escapes)";
      return false;
    }
    out += c;
  }
  what = "string without its closing quote";
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool IsHex(std::string_view s) {
  for (const char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// dword:XXXXXXXX, hex:.., hex(N):.. (bytes separated by commas; continuation
// backslashes and line breaks already joined in).
bool IsRawData(std::string_view raw) {
  if (raw.rfind("dword:", 0) == 0) return raw.size() == 14 && IsHex(raw.substr(6));
  size_t colon;
  if (raw.rfind("hex:", 0) == 0) {
    colon = 3;
  } else if (raw.rfind("hex(", 0) == 0) {
    const size_t close = raw.find("):");
    if (close == std::string_view::npos || close == 4 || !IsHex(raw.substr(4, close - 4))) {
      return false;
    }
    colon = close + 1;
  } else {
    return false;
  }
  for (const char c : raw.substr(colon + 1)) {
    if (!(IsHex(std::string_view(&c, 1)) || c == ',' || c == '\\' || c == ' ' || c == '\t' ||
          c == '\n')) {
      return false;
    }
  }
  return true;
}

const char* const kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                              "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

}  // namespace

std::optional<std::string> LocalMachinePath(std::string_view subkey) {
  if (!subkey.empty() && subkey.front() == '\\') return std::nullopt;
  std::string path = kLocalMachine;
  for (const std::string& part : SplitPath(subkey)) path += "\\" + part;
  return path;
}

bool RegistryStore::Parse(std::string_view bytes, size_t& error_line, std::string& error_what) {
  keys_.clear();
  key_index_.clear();
  spelling_.clear();
  preamble_.clear();
  leading_.clear();
  std::string decoded;
  std::string_view text = bytes;
  if (text.rfind("\xFF\xFE", 0) == 0) {
    decoded = Utf16ToUtf8(text.substr(2), false);
    text = decoded;
  } else if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    text.remove_prefix(3);
  }
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  auto fail = [&](size_t index, std::string what) {
    error_line = index + 1;
    error_what = std::move(what);
    keys_.clear();
    key_index_.clear();
    spelling_.clear();
    preamble_.clear();
    leading_.clear();
    return false;
  };
  bool header_seen = false;
  Key* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = TrimRight(lines[i]);
    const std::string_view body = TrimLeft(line);
    if (body.empty()) continue;
    if (body.front() == ';') {
      // Comments stay where they are through a rewrite.
      RegistryValue comment;
      comment.is_comment = true;
      // Without the carriage returns and blanks before the line end: a
      // rewrite must read back as the same comment.
      std::string_view text = line;
      while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
      }
      comment.data = std::string(text);
      if (current != nullptr) {
        current->values.push_back(std::move(comment));
      } else if (header_seen) {
        preamble_.push_back(comment.data);
      } else {
        leading_.push_back(comment.data);
      }
      continue;
    }
    if (!header_seen) {
      if (body != kRegistryHeader) {
        return fail(i, std::string("the first line must be \"") + kRegistryHeader + "\"");
      }
      header_seen = true;
      continue;
    }
    if (body.front() == '[') {
      if (body.rfind("[-", 0) == 0) {
        return fail(i, "[-KEY] (deleting a key) is not supported in the store");
      }
      if (body.back() != ']') return fail(i, "key line without its closing ]");
      const std::string_view path = body.substr(1, body.size() - 2);
      const std::vector<std::string> parts = SplitPath(path);
      bool root_known = false;
      for (const char* root : kRoots) root_known |= !parts.empty() && EqualNoCase(parts[0], root);
      if (!root_known || path.front() == '\\' || path.find("\\\\") != std::string_view::npos ||
          path.back() == '\\') {
        return fail(i, "not a key path below a registry root: [" + std::string(path) + "]");
      }
      current = FindKey(path);
      if (current == nullptr) current = &AddKey(std::string(path));
      continue;
    }
    if (current == nullptr) return fail(i, "value outside any [key]");
    RegistryValue value;
    std::string_view rest;
    std::string what;
    if (body.front() == '@') {
      rest = TrimLeft(body.substr(1));
    } else if (body.front() == '"') {
      if (!ReadQuoted(body, value.name, rest, what)) return fail(i, what);
      rest = TrimLeft(rest);
    } else {
      return fail(i, "expected [key], @=value or \"name\"=value");
    }
    if (rest.empty() || rest.front() != '=') return fail(i, "value without \"=\"");
    rest = TrimLeft(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
      std::string_view after;
      if (!ReadQuoted(rest, value.data, after, what)) return fail(i, what);
      if (!TrimLeft(after).empty()) return fail(i, "text after the closing quote");
    } else if (rest == "-") {
      return fail(i, "\"=-\" (deleting a value) is not supported in the store");
    } else {
      // Raw data; a trailing backslash continues it on the next line.
      const size_t first = i;
      std::string raw(rest);
      while (!raw.empty() && raw.back() == '\\' && i + 1 < lines.size()) {
        raw += '\n';
        raw += TrimRight(lines[++i]);
      }
      if (!IsRawData(raw)) return fail(first, "unknown value data: " + std::string(rest));
      value.is_string = false;
      value.data = std::move(raw);
    }
    bool replaced = false;
    for (RegistryValue& v : current->values) {
      if (!v.is_comment && EqualNoCase(v.name, value.name)) {
        v = value;
        replaced = true;
      }
    }
    if (!replaced) current->values.push_back(std::move(value));
  }
  if (!header_seen && !keys_.empty()) return fail(0, "missing header");
  return true;
}

std::string RegistryStore::Serialize() const {
  std::string out;
  for (const std::string& comment : leading_) out += comment + "\n";
  out += kRegistryHeader;
  out += "\n";
  if (!preamble_.empty()) out += "\n";
  for (const std::string& comment : preamble_) out += comment + "\n";
  for (const Key& key : keys_) {
    out += "\n[" + key.path + "]\n";
    for (const RegistryValue& v : key.values) {
      if (v.is_comment) {
        out += v.data + "\n";
        continue;
      }
      out += v.name.empty() ? std::string("@") : Quote(v.name);
      out += "=";
      out += v.is_string ? Quote(v.data) : v.data;
      out += "\n";
    }
  }
  return out;
}

RegistryStore::Key* RegistryStore::FindKey(std::string_view key_path) {
  const std::vector<std::string> parts = SplitPath(key_path);
  const auto it = key_index_.find(IndexPath(parts, parts.size()));
  return it == key_index_.end() ? nullptr : &keys_[it->second];
}

RegistryStore::Key& RegistryStore::AddKey(std::string path) {
  const std::vector<std::string> parts = SplitPath(path);
  key_index_.emplace(IndexPath(parts, parts.size()), keys_.size());
  for (size_t i = 1; i <= parts.size(); ++i) spelling_.emplace(IndexPath(parts, i), parts[i - 1]);
  keys_.push_back(Key{std::move(path), {}});
  return keys_.back();
}

const RegistryStore::Key* RegistryStore::FindKey(std::string_view key_path) const {
  return const_cast<RegistryStore*>(this)->FindKey(key_path);
}

bool RegistryStore::KeyExists(std::string_view key_path) const {
  const std::vector<std::string> parts = SplitPath(key_path);
  if (parts.empty()) return false;
  if (parts.size() == 1) {
    for (const char* root : kRoots) {
      if (EqualNoCase(parts[0], root)) return true;
    }
  }
  return spelling_.count(IndexPath(parts, parts.size())) != 0;
}

const RegistryValue* RegistryStore::FindValue(std::string_view key_path,
                                              std::string_view name) const {
  const Key* key = FindKey(key_path);
  if (key == nullptr) return nullptr;
  for (const RegistryValue& v : key->values) {
    if (!v.is_comment && EqualNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

std::string RegistryValueText(const RegistryValue& value) {
  if (value.is_string) return value.data;
  const std::string_view raw = value.data;
  std::string bytes;
  bool utf16 = false;
  if (raw.rfind("dword:", 0) == 0) {
    const unsigned long v = std::strtoul(std::string(raw.substr(6)).c_str(), nullptr, 16);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  } else {
    const size_t colon = raw.find(':');
    if (colon == std::string_view::npos) return std::string();
    if (raw.rfind("hex(", 0) == 0) {
      const unsigned long type = std::strtoul(std::string(raw.substr(4, colon - 4)).c_str(), nullptr, 16);
      // REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ are exported as UTF-16LE; a
      // narrow read converts them.
      utf16 = type == 1 || type == 2 || type == 7;
    }
    int digits = 0;
    unsigned byte = 0;
    for (const char c : raw.substr(colon + 1)) {
      int nibble;
      if (c >= '0' && c <= '9') nibble = c - '0';
      else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
      else continue;  // commas, continuation backslashes, line breaks, blanks
      byte = (byte << 4) | static_cast<unsigned>(nibble);
      if (++digits == 2) {
        bytes.push_back(static_cast<char>(byte));
        digits = 0;
        byte = 0;
      }
    }
  }
  if (utf16) {
    size_t units = 0;
    while (units + 1 < bytes.size() && (bytes[units] != '\0' || bytes[units + 1] != '\0')) units += 2;
    bytes = Utf16ToUtf8(std::string_view(bytes).substr(0, units), false);
  }
  const size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  return bytes;
}

std::string RegistryStore::StoredSpelling(const std::vector<std::string>& parts) const {
  std::string path;
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto it = spelling_.find(IndexPath(parts, i + 1));
    if (i > 0) path += "\\";
    path += it == spelling_.end() ? parts[i] : it->second;
  }
  return path;
}

bool RegistryStore::SetString(std::string_view key_path, std::string_view name,
                              std::string_view data) {
  for (const std::string_view text : {data, name}) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  }
  const std::vector<std::string> parts = SplitPath(key_path);
  if (parts.empty()) return false;
  Key* key = FindKey(key_path);
  if (key == nullptr) key = &AddKey(StoredSpelling(parts));
  for (RegistryValue& v : key->values) {
    if (!v.is_comment && EqualNoCase(v.name, name)) {
      v.is_string = true;
      v.data = std::string(data);
      return true;
    }
  }
  RegistryValue value;
  value.name = std::string(name);
  value.data = std::string(data);
  key->values.push_back(std::move(value));
  return true;
}

bool RegistryStore::DeleteValue(std::string_view key_path, std::string_view name) {
  Key* key = FindKey(key_path);
  if (key == nullptr) return false;
  const auto value = std::find_if(key->values.begin(), key->values.end(), [&](const RegistryValue& v) {
    return !v.is_comment && EqualNoCase(v.name, name);
  });
  if (value == key->values.end()) return false;
  key->values.erase(value);
  if (!key->values.empty()) return true;
  const std::vector<std::string> parts = SplitPath(key_path);
  const std::string below = IndexPath(parts, parts.size()) + '\\';
  for (const auto& [index, at] : key_index_) {
    if (index.rfind(below, 0) == 0) return true;
  }
  keys_.erase(keys_.begin() + (key - keys_.data()));
  key_index_.clear();
  spelling_.clear();
  for (size_t i = 0; i < keys_.size(); ++i) {
    const std::vector<std::string> key_parts = SplitPath(keys_[i].path);
    key_index_.emplace(IndexPath(key_parts, key_parts.size()), i);
    for (size_t n = 1; n <= key_parts.size(); ++n) {
      spelling_.emplace(IndexPath(key_parts, n), key_parts[n - 1]);
    }
  }
  return true;
}

std::vector<std::string> RegistryStore::KeyPaths() const {
  std::vector<std::string> paths;
  for (const Key& key : keys_) paths.push_back(key.path);
  return paths;
}

namespace {

RegistryResult ParseInto(const std::string& path, const std::string& bytes, RegistryStore& store) {
  size_t line = 0;
  std::string what;
  if (store.Parse(bytes, line, what)) return {};
  RegistryResult result;
  result.status = RegistryStatus::kUnparsable;
  result.message = "registry store " + path + " line " + std::to_string(line) + ": " + what;
  return result;
}

}  // namespace

RegistryResult LoadRegistryStore(const std::string& path, RegistryStore& store) {
  store = RegistryStore();
  std::string bytes;
  const FileResult read = ReadWholeFile(path, bytes);
  if (read.error == FileError::kMissing) return {};
  if (!read.ok()) return RegistryResult{RegistryStatus::kUnreadable, "registry store: " + read.message};
  return ParseInto(path, bytes, store);
}

RegistryResult UpdateRegistryStore(const std::string& path,
                                   const std::function<bool(RegistryStore&)>& edit) {
  RegistryResult parse_result;
  const FileResult written = UpdateFileLocked(path, [&](std::string& content, bool) {
    RegistryStore store;
    parse_result = ParseInto(path, content, store);
    if (!parse_result.ok() || !edit(store)) return EditAction::kKeep;
    content = store.Serialize();
    return EditAction::kWrite;
  });
  if (!parse_result.ok()) return parse_result;
  if (!written.ok()) {
    return RegistryResult{RegistryStatus::kWriteFailed, "registry store: " + written.message};
  }
  return {};
}

// ---------------------------------------------------------------------------
// The registry on a store.

RegistryRead StoreRegistry::ReadValue(std::string_view key_path, std::string_view value_name) {
  RegistryRead read;
  const std::optional<std::string> full = LocalMachinePath(key_path);
  if (!full) {
    read.error = "invalid registry key path: " + std::string(key_path);
    return read;
  }
  RegistryStore store;
  const RegistryResult loaded = Load(store);
  if (!loaded.ok()) {
    read.error = loaded.message;
    return read;
  }
  if (!store.KeyExists(*full)) {
    read.status = RegistryReadStatus::kNoKey;
  } else if (const RegistryValue* value = store.FindValue(*full, value_name)) {
    // The type is not examined: any value reads as the text its bytes make.
    read.status = RegistryReadStatus::kOk;
    read.text = RegistryValueText(*value);
    read.is_string = value->is_string;
  } else {
    read.status = RegistryReadStatus::kNoValue;
  }
  return read;
}

std::optional<std::vector<tRegistrySubKey>> StoreRegistry::ReadSubKeys(std::string_view key_path) {
  const std::optional<std::string> full = LocalMachinePath(key_path);
  if (!full) return std::nullopt;
  RegistryStore store;
  if (!Load(store).ok() || !store.KeyExists(*full)) return std::nullopt;
  std::vector<tRegistrySubKey> subkeys;
  const std::string prefix = *full + "\\";
  for (const std::string& path : store.KeyPaths()) {
    if (path.size() <= prefix.size() ||
        !EqualNoCase(std::string_view(path).substr(0, prefix.size()), prefix)) {
      continue;
    }
    // A deeper key names its first component as a subkey (parents exist implicitly).
    const std::string name =
        path.substr(prefix.size(), path.find('\\', prefix.size()) - prefix.size());
    const bool direct = name.size() == path.size() - prefix.size();
    auto same = std::find_if(subkeys.begin(), subkeys.end(),
                             [&](const tRegistrySubKey& s) { return EqualNoCase(s.name, name); });
    if (same == subkeys.end())
      same = subkeys.insert(subkeys.end(), tRegistrySubKey{name, std::nullopt});
    if (direct && !same->text) {
      const RegistryValue* value = store.FindValue(path, "");
      if (value != nullptr && value->is_string) same->text = value->data;
    }
  }
  return subkeys;
}

bool StoreRegistry::SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) {
  std::vector<std::optional<std::string>> full;
  for (tRegistryWrite& write : writes) {
    write.done = false;
    write.error.clear();
    full.push_back(LocalMachinePath(write.key_path));
    if (!full.back()) {
      write.error = "invalid registry key path: " + write.key_path;
    } else if (write.error = RefusedKeyPath(write.key_path); !write.error.empty()) {
      full.back().reset();
    }
  }
  const RegistryResult result = Update([&](RegistryStore& store) {
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
  bool all = true;
  for (size_t i = 0; i < writes.size(); ++i) {
    if (!result.ok()) {
      writes[i].done = false;
      if (full[i]) writes[i].error = result.message;
    }
    if (!writes[i].done && all) {
      all = false;
      if (error != nullptr) *error = writes[i].error;
    }
  }
  return all;
}

bool StoreRegistry::DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string* error) {
  std::vector<std::string> full;
  for (const std::string& key_path : key_paths) {
    const std::optional<std::string> path = LocalMachinePath(key_path);
    if (!path) {
      if (error != nullptr) *error = "invalid registry key path: " + key_path;
      return false;
    }
    full.push_back(*path);
  }
  const RegistryResult result = Update([&](RegistryStore& store) {
    bool changed = false;
    for (const std::string& path : full) changed = store.DeleteValue(path, "") || changed;
    return changed;
  });
  if (!result.ok() && error != nullptr) *error = result.message;
  return result.ok();
}

RegistryStoreFile::RegistryStoreFile(std::string path) : path_(std::move(path)) {}

RegistryResult RegistryStoreFile::Load(RegistryStore& store) {
  return LoadRegistryStore(Path(), store);
}

RegistryResult RegistryStoreFile::Update(const std::function<bool(RegistryStore&)>& edit) {
  return UpdateRegistryStore(Path(), edit);
}

}  // namespace kestrin
