#include "app/korvane_env.h"

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "bundle/bundle.h"

namespace kestrin::app_env {

namespace {

constexpr char kSettingsSubKey[] = "SOFTWARE\\Brantel\\Korvane\\Settings\\";
constexpr char kVersionKey[] = "SOFTWARE\\Brantel\\Korvane\\CurrentVersion";
constexpr char kRoot[] = "HKEY_LOCAL_MACHINE\\";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Getenv(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  std::string home = Getenv("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      home = pw->pw_dir;
    }
  }
  return home;
}

std::string StorePath() {
  std::string store = Getenv("KESTRIN_REGISTRY");
  if (!store.empty()) return store;
  std::string config = Getenv("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeDir() + "/.config";
  return config + "/Brantel/registry.reg";
}

// The default values of the store's keys below HKEY_LOCAL_MACHINE, by key
// path in lower case. A store that cannot be parsed sets *error.
struct tStore {
  std::map<std::string, std::string> defaults;
  std::string error;
};

// UTF-16LE with BOM (as regedit writes) to narrow text; code units above
// 0x7F become '?', which no Korvane path in the store needs.
std::string Narrow(const std::string& raw) {
  if (raw.size() < 2 || static_cast<unsigned char>(raw[0]) != 0xFF ||
      static_cast<unsigned char>(raw[1]) != 0xFE) {
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    return raw;
  }
  std::string text;
  for (size_t i = 2; i + 1 < raw.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(raw[i]) |
                    (static_cast<unsigned>(static_cast<unsigned char>(raw[i + 1])) << 8);
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return text;
}

// Reads a quoted string at text[pos] (the opening quote); returns the
// position after the closing quote, or npos when it is not closed.
size_t ReadString(const std::string& text, size_t pos, std::string* value) {
  value->clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      *value += text[++i];
    } else if (text[i] == '"') {
      return i + 1;
    } else {
      *value += text[i];
    }
  }
  return std::string::npos;
}

tStore ReadStore(const std::string& path) {
  tStore store;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (access(path.c_str(), F_OK) == 0) store.error = "cannot be read";
    return store;  // a missing store reads as empty
  }
  std::stringstream raw;
  raw << in.rdbuf();
  std::istringstream lines(Narrow(raw.str()));
  std::string line;
  std::string key;
  bool in_root = false;
  int number = 0;
  bool header = false;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line != "Windows Registry Editor Version 5.00") {
        store.error = "line " + std::to_string(number) + ": not a registry store";
        return store;
      }
      header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
        store.error = "line " + std::to_string(number) + ": bad key line";
        return store;
      }
      std::string name = line.substr(1, line.size() - 2);
      in_root = strncasecmp(name.c_str(), kRoot, sizeof kRoot - 1) == 0;
      key = in_root ? Lower(name.substr(sizeof kRoot - 1)) : "";
      continue;
    }
    std::string value;
    size_t end = std::string::npos;
    if (line.compare(0, 3, "@=\"") == 0) {
      end = ReadString(line, 2, &value);
      if (end == line.size()) {
        if (in_root) store.defaults[key] = value;
        continue;
      }
    } else if (line[0] == '"') {
      std::string name;
      size_t after = ReadString(line, 0, &name);
      if (after != std::string::npos && after < line.size() && line[after] == '=') continue;
    } else if (line.compare(0, 2, "@=") == 0) {
      continue;  // a value of another type: not a text, not needed here
    }
    store.error = "line " + std::to_string(number) + ": bad value line";
    return store;
  }
  return store;
}

// Read anew on every call: the store may change between two runs in one
// process (tests), and it is read only a few times per bundle.
tStore Store() { return ReadStore(StorePath()); }

std::string DefaultValue(const std::string& key, size_t limit) {
  const tStore store = Store();
  const auto& defaults = store.defaults;
  auto it = defaults.find(Lower(key));
  if (it == defaults.end() || it->second.size() >= limit) return "";
  return it->second;
}

}  // namespace

std::string GetProductDir() {
  std::string dir = Getenv("KESTRIN_PRODUCT_DIR");
  if (dir.empty()) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) dir.assign(buffer, static_cast<size_t>(n));
    size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? "" : dir.substr(0, slash);
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string GetIniPath() { return DefaultValue(std::string(kSettingsSubKey) + "IniPath", 260); }

std::string GetProgramDataDir() {
  return DefaultValue(std::string(kSettingsSubKey) + "ProgramDataDir", 260);
}

int GetInstalledVersion(std::string* version) {
  std::string value = DefaultValue(kVersionKey, 20);
  if (value.empty()) return 0;
  *version = value;
  return 1;
}

std::string RefuseToStartMessage() {
  const std::string store = StorePath();
  const std::string variable =
      Getenv("KESTRIN_REGISTRY").empty() ? "KESTRIN_REGISTRY (unset)" : "KESTRIN_REGISTRY";
  const tStore parsed = Store();
  if (!parsed.error.empty()) {
    return "kestrin: the registry store " + store + " cannot be parsed (" + parsed.error +
           "); fix it or point " + variable + " at a valid store";
  }
  for (const char* name : {"IniPath", "ProgramDataDir"}) {
    std::string value = DefaultValue(std::string(kSettingsSubKey) + name, 260);
    if (value.empty() || value[0] != '/') {
      return "kestrin: the registry store " + store + " names no Korvane installation (" +
             kSettingsSubKey + name + (value.empty() ? " is missing" : " is not an absolute path") +
             "); point " + variable + " at the store of an installed Korvane";
    }
  }
  std::string user = LocalAppDataDir();
  if (user.empty() || user[0] != '/') {
    return "kestrin: the per-user folder '" + user +
           "' is not an absolute path; set XDG_DATA_HOME (or HOME) to an absolute folder "
           "(registry store " + store + ")";
  }
  return "";
}

}  // namespace kestrin::app_env
