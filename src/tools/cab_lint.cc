// kestrin-cab lint: checks a driver bundle (a cabinet, or the folder it is
// packed from) against what the installer reads, before it ships.
//
// Every finding is one line: the file, the section and key where there is
// one, and what is wrong. Errors are what makes an installation fail or do
// something else than the bundle means (a driver named but missing, an OEM ID
// that is not a number, a name the installer refuses); warnings are what the
// installer passes over (a section or key it never reads, a typo in a section
// name being the usual case).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bundle/bundle_format.h"
#include "bundle/cabinet_file.h"
#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "cabinet/fdi.h"
#include "host/atomic_file.h"
#include "host/ini_document.h"
#include "host/path_resolve.h"
#include "host/version.h"
#include "tools/cab_commands.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;

using namespace bundle;  // the names a bundle uses, as the installer reads them
const char* const kDriverOptions[] = {kDeleteOption, kRegasmOption, kNoregOption};

struct Finding {
  std::string file, section, key, message;
};

class Linter {
 public:
  explicit Linter(fs::path root) : root_(std::move(root)) {}

  void Error(std::string file, std::string section, std::string key, std::string message) {
    errors_.push_back({std::move(file), std::move(section), std::move(key), std::move(message)});
  }
  void Warning(std::string file, std::string section, std::string key, std::string message) {
    warnings_.push_back({std::move(file), std::move(section), std::move(key), std::move(message)});
  }

  void Run(const std::vector<std::string>& member_names) {
    for (const std::string& name : member_names) CheckName(name);
    std::optional<IniDocument> hw = Load(kDescriptionFile);
    if (!hw) {
      Error(kDescriptionFile, "", "", "missing: without it the bundle is not a bundle to the installer");
      return;
    }
    CheckTopLevel();
    CheckSections(*hw);
    CheckDescription(*hw);
    CheckDrivers(*hw);
    CheckRegistry(*hw);
    CheckConnections(*hw);
    CheckTools(*hw);
    CheckSmallSections(*hw);
    CheckHelp();
    CheckModules();
  }

  const std::vector<Finding>& errors() const { return errors_; }
  const std::vector<Finding>& warnings() const { return warnings_; }

 private:
  // The entry of `dir` (relative to the root) named `name` ignoring case, as
  // the installer finds files; empty when there is none.
  std::optional<std::string> Find(const std::string& dir, const std::string& name) const {
    std::error_code ec;
    for (fs::directory_iterator it(root_ / dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      if (EqualsIgnoreCase(entry, name)) return dir.empty() ? entry : dir + "/" + entry;
    }
    return std::nullopt;
  }

  // `name` in the top folder `folder` (both letter case ignored).
  std::optional<std::string> FindIn(const std::string& folder, const std::string& name) const {
    const auto dir = Find("", folder);
    return dir ? Find(*dir, name) : std::nullopt;
  }

  std::optional<IniDocument> Load(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    const auto found = Find(slash == std::string::npos ? "" : relative.substr(0, slash),
                            relative.substr(slash == std::string::npos ? 0 : slash + 1));
    if (!found || !fs::is_regular_file(root_ / *found)) return std::nullopt;
    std::string bytes;
    const FileResult r = ReadWholeFile((root_ / *found).string(), bytes);
    if (!r.ok()) {
      Error(relative, "", "", "cannot be read: " + r.message);
      return std::nullopt;
    }
    return IniDocument::Parse(bytes);
  }

  void CheckName(const std::string& name) {
    std::vector<std::string> parts;
    std::string why;
    if (!SplitMemberName(name, &parts, &why)) Error(name, "", "", "the installer refuses this name: " + why);
  }

  void CheckTopLevel() {
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (it->is_directory()) {
        const bool known = std::any_of(std::begin(kFolders), std::end(kFolders),
                                       [&](const char* f) { return EqualsIgnoreCase(f, name); });
        if (!known) Warning(name + "/", "", "", "no installation step copies this folder");
      } else if (!EqualsIgnoreCase(name, kDescriptionFile)) {
        Warning(name, "", "", "files beside hw.ini are not installed");
      }
    }
  }

  // Known sections pass; the rest are a warning, with the known name they
  // are closest to when that is likely the one meant.
  void CheckSections(const IniDocument& hw) {
    for (const std::string& section : hw.SectionNames()) {
      if (section.empty()) continue;
      if (const KnownSection* known = Known(section)) {
        if (!known->keys.empty()) CheckKeys(kDescriptionFile, hw, *known);
        continue;
      }
      if (connection_sections_.empty()) CollectConnectionSections(hw);
      if (connection_sections_.count(AsciiLower(section))) continue;
      std::string text = "the installer does not read this section";
      if (const char* near = Nearest(section)) text += std::string(" (did you mean [") + near + "]?)";
      Warning(kDescriptionFile, section, "", text);
    }
  }

  static const KnownSection* Known(const std::string& section) {
    for (const KnownSection& s : kDescriptionSections) {
      if (IniNamesEqual(section, s.name)) return &s;
    }
    return nullptr;
  }

  // A known section name within two edits (letter case, "-" and "_" aside).
  static const char* Nearest(const std::string& section) {
    auto squash = [](std::string_view s) {
      std::string out;
      for (char c : s) {
        if (c != '_' && c != '-' && c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
      return out;
    };
    const std::string a = squash(section);
    const char* best = nullptr;
    size_t best_distance = 3;
    for (const KnownSection& s : kDescriptionSections) {
      const std::string b = squash(s.name);
      std::vector<size_t> row(b.size() + 1);
      for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
      for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
          const size_t up = row[j];
          row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
          diagonal = up;
        }
      }
      if (row[b.size()] < best_distance) best = s.name, best_distance = row[b.size()];
    }
    return best;
  }

  // Keys of a section against its list; case ignored except
  // where the installer matches exactly (the custom tools).
  void CheckKeys(const std::string& file, const IniDocument& doc, const KnownSection& known,
                 bool exact_case = false) {
    for (const std::string& key : doc.KeyNames(known.name)) {
      bool matched = false;
      for (const KnownKey& k : known.keys) {
        const std::string_view p(k.name);
        const bool indexed = k.indexed;
        const std::string_view head = std::string_view(key).substr(0, indexed ? p.size() : key.size());
        const bool name_ok = exact_case ? head == p : IniNamesEqual(head, p);
        const std::string_view rest = std::string_view(key).substr(head.size());
        if (name_ok && (indexed ? !rest.empty() && rest.find_first_not_of("0123456789") == std::string_view::npos
                                : rest.empty())) {
          matched = true;
          if (indexed && rest[0] == '0') Warning(file, known.name, key, "the index has a leading zero: the installer looks for the key without it");
        }
      }
      if (!matched) Warning(file, known.name, key, "the installer does not read this key");
    }
  }

  void CheckInt(const IniDocument& doc, const char* section, const char* key, bool required, int min = INT32_MIN) {
    const std::optional<std::string> value = doc.FindValue(section, key);
    if (!value) {
      if (required) Error(kDescriptionFile, section, key, "missing");
      return;
    }
    const std::string text(IniTrim(IniUnquote(*value)));
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits) {
      Error(kDescriptionFile, section, key, "\"" + text + "\" is not a decimal number (the installer reads " +
                                                std::to_string(IniParseInt(text).value_or(0)) + ")");
    } else if (text.size() > 9 || std::stol(text) < min) {
      Error(kDescriptionFile, section, key, "\"" + text + "\" is out of range");
    }
  }

  void CheckDescription(const IniDocument& hw) {
    const char* s = kDescriptionSection;
    if (!hw.HasSection(s)) {
      Error(kDescriptionFile, s, "", "missing: the bundle has no name, version or OEM ID");
      return;
    }
    CheckInt(hw, s, kOemIdKey, true);
    for (const char* key : {kDescriptionKey, kOemNameKey, kVersionKey}) {
      const auto v = hw.FindValue(s, key);
      if (!v || v->empty()) Warning(kDescriptionFile, s, key, "missing or empty: the bundle list shows nothing there");
    }
    if (const auto v = hw.FindValue(s, kMinimumVersionKey); v && !v->empty() && IsValidVersion(IniUnquote(*v)) != 1) {
      Error(kDescriptionFile, s, kMinimumVersionKey,
            "\"" + *v + "\" is not a version the installer accepts (N, N.N or N.N.N, \"*\" in place of the last field): every installation is refused");
    }
    if (const auto v = hw.FindValue(s, kRequireRestartKey); v && *v != "1" && *v != "0" && !v->empty()) {
      Warning(kDescriptionFile, s, kRequireRestartKey, "only the value 1 asks for a restart");
    }
    if (const auto v = hw.FindValue(kTemplatesSection, kRecoveryKey); v && *v != "1" && *v != "0") {
      Warning(kDescriptionFile, kTemplatesSection, kRecoveryKey, "only the value 1 asks for the templates to be recovered");
    }
  }

  void CheckDrivers(const IniDocument& hw) {
    const std::vector<IniDocument::Entry> entries = hw.SectionEntries(kDriversSection);
    if (const auto dir = Find("", kDriversFolder)) {
      std::error_code ec;
      for (fs::directory_iterator it(root_ / *dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (std::none_of(entries.begin(), entries.end(), [&](const auto& e) { return EqualsIgnoreCase(e.key, name); })) {
          Warning(*dir + "/" + name, "", "", "[DRIVERS] does not name it: it is not installed");
        }
      }
    }
    for (const IniDocument::Entry& e : entries) {
      if (!FindIn(kDriversFolder, e.key)) {
        Error(kDescriptionFile, kDriversSection, e.key, "the driver library is not in the DRIVERS folder");
      }
      const std::string option = e.value ? std::string(IniUnquote(*e.value)) : std::string();
      const bool known = option.empty() || std::any_of(std::begin(kDriverOptions), std::end(kDriverOptions),
                                                       [&](const char* o) { return EqualsIgnoreCase(o, option); });
      if (!known) {
        Warning(kDescriptionFile, kDriversSection, e.key, "unknown option \"" + option + "\" (delete, regasm or noreg): the library is registered as a COM server");
      }
    }
  }

  void CheckIndexed(const IniDocument& hw, const char* section, const std::vector<const char*>& keys) {
    const auto count = hw.FindValue(section, kCountKey);
    if (!count) return;
    CheckInt(hw, section, kCountKey, true, 0);
    const int n = IniParseInt(*count).value_or(0);
    for (int i = 1; i <= n && i <= 10000; ++i) {
      for (const char* key : keys) {
        const std::string name = key + std::to_string(i);
        if (!hw.FindValue(section, name)) Error(kDescriptionFile, section, name, "missing (COUNT is " + std::to_string(n) + ")");
      }
    }
  }

  void CheckRegistry(const IniDocument& hw) {
    CheckIndexed(hw, kRegistrySettingSections[0], {kPathKeyPrefix});
    CheckIndexed(hw, kRegistrySettingSections[1], {kPathKeyPrefix});
    if (hw.FindValue(kRegistrySettingSections[0], kCountKey) && IniParseInt(*hw.FindValue(kRegistrySettingSections[0], kCountKey)).value_or(0) != 0 &&
        hw.HasSection(kRegistrySettingSections[1])) {
      Warning(kDescriptionFile, kRegistrySettingSections[1], "", "not read: [REGISTY_SETTING] has settings, and the installer takes those");
    }
  }

  void CollectConnectionSections(const IniDocument& hw) {
    connection_sections_.insert("");  // collected
    const int n = IniParseInt(hw.FindValue(kConnectionsSection, kCountKey).value_or("")).value_or(0);
    for (int i = 1; i <= n && i <= 10000; ++i) {
      const auto name = hw.FindValue(kConnectionsSection, kConnectionKeyPrefix + std::to_string(i));
      if (!name) continue;
      connection_sections_.insert(AsciiLower(IniUnquote(*name)));
      if (const auto values = hw.FindValue(std::string(IniUnquote(*name)), kValuesKey)) {
        connection_sections_.insert(AsciiLower(IniUnquote(*values)));
      }
    }
  }

  void CheckConnections(const IniDocument& hw) {
    CheckIndexed(hw, kConnectionsSection, {kConnectionKeyPrefix});
    const int n = IniParseInt(hw.FindValue(kConnectionsSection, kCountKey).value_or("")).value_or(0);
    for (int i = 1; i <= n && i <= 10000; ++i) {
      const auto name = hw.FindValue(kConnectionsSection, kConnectionKeyPrefix + std::to_string(i));
      if (!name) continue;
      const std::string section(IniUnquote(*name));
      if (!hw.HasSection(section)) {
        Error(kDescriptionFile, section, "", "missing: connection " + std::to_string(i) + " names it");
        continue;
      }
      CheckKeys(kDescriptionFile, hw, KnownSection{section.c_str(), kConnectionKeys});
      for (const char* key : {kDriverNameKey, kDriverIdKey, kTimeoutKey}) {
        const auto v = hw.FindValue(section, key);
        if (!v || v->empty()) Error(kDescriptionFile, section, key, "missing: the connection is not created");
      }
      if (const auto id = hw.FindValue(section, kDriverIdKey); id && !id->empty()) {
        const std::string t(IniUnquote(*id));
        const size_t dash = t.find('-');
        auto hex = [](std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos; };
        if (dash == std::string::npos || !hex(std::string_view(t).substr(0, dash)) || !hex(std::string_view(t).substr(dash + 1))) {
          Error(kDescriptionFile, section, kDriverIdKey, "\"" + t + "\" is not two hexadecimal groups joined by \"-\" (such as 1234-56)");
        }
      }
      if (const auto v = hw.FindValue(section, kTimeoutKey); v && !v->empty()) CheckInt(hw, section.c_str(), kTimeoutKey, false, 0);
      if (const auto values = hw.FindValue(section, kValuesKey); values && !values->empty() && !hw.HasSection(std::string(IniUnquote(*values)))) {
        Warning(kDescriptionFile, section, kValuesKey, "names the missing section [" + *values + "]: the connection gets no properties");
      }
    }
  }

  void CheckTools(const IniDocument& hw) {
    const char* s = kCustomToolsSection;
    if (!hw.HasSection(s)) return;
    CheckKeys(kDescriptionFile, hw, *Known(s), true);
    std::set<std::string> indexes;
    for (const std::string& key : hw.KeyNames(s)) {
      if (key.rfind(kToolFileKeyPrefix, 0) == 0) indexes.insert(key.substr(sizeof kToolFileKeyPrefix - 1));
    }
    for (const std::string& key : hw.KeyNames(s)) {
      for (const char* name : kToolKeyPrefixes) {
        const std::string n(name);
        if (key.rfind(n, 0) == 0 && key.size() > n.size() && !indexes.count(key.substr(n.size()))) {
          Warning(kDescriptionFile, s, key, "no FILE" + key.substr(n.size()) + " key: the installer adds no tool for it");
        }
      }
    }
  }

  void CheckSmallSections(const IniDocument& hw) {
    if (hw.FindValue(kTcpIpSection, kTimeoutKey)) CheckInt(hw, kTcpIpSection, kTimeoutKey, true, 0);
    if (const auto ext = hw.FindValue(kVisibleExtensionsSection, kExtensionsKey)) {
      size_t start = 0;
      const std::string t(IniUnquote(*ext));
      while (start <= t.size()) {
        size_t end = t.find(';', start);
        if (end == std::string::npos) end = t.size();
        const std::string e(IniTrim(std::string_view(t).substr(start, end - start)));
        if (!e.empty() && e[0] != '.') Warning(kDescriptionFile, kVisibleExtensionsSection, kExtensionsKey, "\"" + e + "\" does not start with \".\"");
        start = end + 1;
      }
    }
    for (const IniDocument::Entry& e : hw.SectionEntries(kPostCommandsSection)) {
      if (!e.value) Warning(kDescriptionFile, kPostCommandsSection, e.key, "a line without \"=\" runs nothing: write key=command");
    }
  }

  void CheckHelp() {
    const auto help = Find("", kHelpFolder);
    if (!help) return;
    const std::string file = *help + "/" + kHelpDescriptionFile;
    std::optional<IniDocument> doc = Load(file);
    if (!doc) {
      Warning(file, "", "", "missing: the help pages are copied but not added to the help tree");
      return;
    }
    for (const std::string& section : doc->SectionNames()) {
      const bool known = section.empty() || std::any_of(std::begin(kHelpDescriptionSections), std::end(kHelpDescriptionSections),
                                                        [&](const char* k) { return IniNamesEqual(section, k); });
      if (!known) Warning(file, section, "", "the installer does not read this section (DeleteBefore, Helpnodes)");
    }
    for (const IniDocument::Entry& e : doc->SectionEntries(kHelpnodesSection)) {
      if (!Find(*help, e.key)) Error(file, kHelpnodesSection, e.key, "the help page is not in the HELP folder");
      if (!e.value || e.value->empty()) Warning(file, kHelpnodesSection, e.key, "no node name");
    }
    for (const IniDocument::Entry& e : doc->SectionEntries(kDeleteBeforeSection)) {
      if (!e.value || !IniParseInt(*e.value)) Warning(file, kDeleteBeforeSection, e.key, "not a number: the file is not deleted");
    }
  }

  void CheckModules() {
    const auto modules = Find("", kModulesFolder);
    if (!modules) return;
    std::error_code ec;
    for (fs::directory_iterator it(root_ / *modules, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (!it->is_regular_file() || !WildcardMatch("*.INI", name)) continue;
      const std::string file = *modules + "/" + name;
      std::optional<IniDocument> doc = Load(file);
      if (!doc) continue;
      if (!doc->HasSection(kModuleSection)) {
        Warning(file, kModuleSection, "", "missing: no libraries are installed for this module");
        continue;
      }
      for (const char* key : kLibraryKeys) {
        const auto v = doc->FindValue(kModuleSection, key);
        if (v && !v->empty() && !FindIn(kExeFolder, std::string(IniUnquote(*v)))) {
          Error(file, kModuleSection, key, "the library \"" + *v + "\" is not in the EXE folder");
        }
      }
    }
  }

  fs::path root_;
  std::vector<Finding> errors_, warnings_;
  std::set<std::string> connection_sections_;
};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void Print(const Linter& lint, bool json) {
  if (json) {
    auto list = [](const std::vector<Finding>& findings) {
      std::string out = "[";
      for (size_t i = 0; i < findings.size(); ++i) {
        const Finding& f = findings[i];
        out += std::string(i ? ",\n    " : "\n    ") + "{\"file\": " + JsonString(f.file) + ", \"section\": " +
               JsonString(f.section) + ", \"key\": " + JsonString(f.key) + ", \"message\": " + JsonString(f.message) + "}";
      }
      return out + (findings.empty() ? "]" : "\n  ]");
    };
    std::printf("{\n  \"errors\": %s,\n  \"warnings\": %s\n}\n", list(lint.errors()).c_str(), list(lint.warnings()).c_str());
    return;
  }
  auto lines = [](const std::vector<Finding>& findings, const char* kind) {
    for (const Finding& f : findings) {
      std::string where = f.file;
      if (!f.section.empty()) where += " [" + f.section + "]";
      if (!f.key.empty()) where += " " + f.key;
      std::printf("%s: %s: %s\n", where.c_str(), kind, f.message.c_str());
    }
  };
  lines(lint.errors(), "error");
  lines(lint.warnings(), "warning");
  std::printf("%zu error%s, %zu warning%s\n", lint.errors().size(), lint.errors().size() == 1 ? "" : "s",
              lint.warnings().size(), lint.warnings().size() == 1 ? "" : "s");
}

// Member names of a cabinet as stored.
bool ListMembers(const std::string& path, std::vector<std::string>* names, std::string* error) {
  cab::ERF erf{};
  cab::HFDI hfdi = cab::FDICreate(CrtAlloc, CrtFree, CrtOpen, CrtRead, CrtWrite, CrtClose, CrtSeek, cab::cpu80386, &erf);
  if (hfdi == nullptr) return false;
  const size_t slash = path.find_last_of(kPathSeparators);
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(dir.size());
  const bool ok = cab::FDIListCabinet(
      hfdi, name.c_str(), dir.c_str(),
      [](const cab::FDILISTENTRY* e) -> cab::INT_PTR {
        if (e->kind == cab::fdilistFILE) static_cast<std::vector<std::string>*>(e->pv)->push_back(e->file->pszName);
        return 0;
      },
      names);
  if (!ok) *error = cab::FDIErrorText(erf.erfOper);
  cab::FDIDestroy(hfdi);
  return ok;
}

// Member names of a folder's files, "\" between folders, sorted.
std::vector<std::string> FolderMembers(const fs::path& root) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string name = it->path().lexically_relative(root).generic_string();
    std::replace(name.begin(), name.end(), '/', '\\');
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

int LintBundle(const std::string& path, bool json) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    Linter lint(path);
    lint.Run(FolderMembers(path));
    Print(lint, json);
    return lint.errors().empty() ? kCabExitOk : kCabExitFailure;
  }
  std::vector<std::string> names;
  std::string why;
  if (!ListMembers(ResolvePath(path), &names, &why)) {
    std::fprintf(stderr, "kestrin-cab: %s: %s\n", path.c_str(), why.c_str());
    return kCabExitFailure;
  }
  std::random_device random;
  const fs::path stage = fs::temp_directory_path(ec) / ("kestrin-lint-" + std::to_string(random()));
  CCabinetFile cab_file;
  int extracted = -1;
  if (cab_file.Open(ResolvePath(path))) {
    extracted = cab_file.ExtractAll(stage.string());
    cab_file.Close();
  }
  Linter lint(stage);
  if (extracted < 0) lint.Error(path, "", "", "the cabinet cannot be extracted in whole: " + cab_file.LastError());
  lint.Run(names);
  fs::remove_all(stage, ec);
  Print(lint, json);
  return lint.errors().empty() ? kCabExitOk : kCabExitFailure;
}

int RunLint(const std::vector<std::string>& args) {
  bool json = false;
  std::string target;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg == "-h" || arg == "--help") {
      return CabHelp();
    } else if (arg.size() > 1 && arg[0] == '-') {
      return CabUsageError("unknown option \"" + arg + "\"");
    } else if (!target.empty()) {
      return CabUsageError("one bundle at a time");
    } else {
      target = arg;
    }
  }
  if (target.empty()) return CabUsageError("no bundle given");
  return LintBundle(target, json);
}

}  // namespace kestrin
