// kestrinctl uninstall BUNDLE | --oem ID: removes what a bundle installed
// and still owns, and puts back what it replaced.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "app/system_host.h"
#include "ctl/ctl_command.h"
#include "ctl/run_journals.h"
#include "host/module_registry.h"
#include "host/path_resolve.h"

namespace kestrin::ctl {
namespace {

// A module whose definition file a later run took over stays as that run
// left it, registered: undoing the registration `entries` made would leave
// the file in the modules folder unlisted in MODULES.INI. The numbered key
// and "Count" are shared with every other module, so the undo is not held
// back key by key; the module is registered again, as an installation
// registers it, when the undo took it out.
void KeepTakenOverModules(const KorvaneJournals& korvane, const std::vector<JournalEntry>& entries,
                          const std::set<std::string>& later, std::vector<std::string>* failures) {
  Host& host = SystemHost();
  const std::string folder = korvane.ini_dir + kPathSeparator + kModulesFolderName;
  std::optional<ModuleRegistry> registry;  // read once, when a module needs it
  for (const JournalEntry& change : entries) {
    if ((change.op != "new" && change.op != "replace") || change.fields.empty()) continue;
    const std::string& path = change.fields[0];
    const auto [dir, file] = SplitLastComponent(path);
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos || !EqualsIgnoreCase(file.substr(dot), ".INI") ||
        EqualsIgnoreCase(file, kModuleRegistryFileName) ||
        !EqualsIgnoreCase(StripTrailingSeparators(dir), folder) || later.count("file " + path) == 0 ||
        !host.files.Stat(path).exists) {
      continue;
    }
    const std::string module = file.substr(0, dot);
    if (!registry) {
      registry.emplace(host.ini, JoinPath(folder, kModuleRegistryFileName));
      registry->Load();
    }
    if (!registry->Contains(module) && registry->Register(module, file) < 1) {
      failures->push_back("cannot register the module " + module + " again in " + registry->path());
    }
  }
}

// "<parent key>|<number>" of a registry key whose name ends in a number
// ("...\\HELPFILE_PATH3"), letter case folded; "" for any other key.
std::string NumberOfKey(const std::string& key) {
  size_t digits = key.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(key[digits - 1]))) --digits;
  const size_t slash = key.rfind('\\');
  if (digits == key.size() || slash == std::string::npos || digits <= slash + 1) return {};
  return AsciiLower(std::string_view(key).substr(0, slash)) + "|" + key.substr(digits);
}

// A registry value of `entries` that names a file a later run took over (a
// help page's path) stays as it is, and so do the values of the same number
// beside it (the page's node name): they belong to that file.
void KeepValuesOfTakenOverFiles(const std::vector<JournalEntry>& entries, std::set<std::string>* later) {
  Registry& registry = SystemHost().registry;
  std::set<std::string> numbers;
  for (const JournalEntry& change : entries) {
    if (change.op != "reg" || change.fields.empty()) continue;
    const RegistryRead now = registry.ReadValue(change.fields[0], "");
    if (now.status == RegistryReadStatus::kOk && later->count("file " + now.text) != 0) {
      numbers.insert(NumberOfKey(change.fields[0]));
    }
  }
  numbers.erase("");
  for (const JournalEntry& change : entries) {
    if (change.op != "reg" || change.fields.empty() || numbers.count(NumberOfKey(change.fields[0])) == 0) continue;
    for (const std::string& item : ChangedItems(change)) later->insert(item);
  }
}

CtlExit RunUninstall(const std::vector<std::string>& args, CtlOutput& io) {
  ParsedArgs parsed;
  if (!ParseArgs("uninstall", args, {"--json"}, {"--oem"}, &parsed, io)) return CtlExit::kUsage;
  const bool by_oem = parsed.options.count("--oem") != 0;
  if (parsed.operands.size() + (by_oem ? 1 : 0) != 1) {
    fprintf(io.err, "kestrinctl uninstall: name one bundle or --oem ID\n");
    return CtlExit::kUsage;
  }
  int oem = 0;
  if (by_oem) {
    const std::string& text = parsed.options["--oem"];
    char* end = nullptr;
    oem = static_cast<int>(std::strtol(text.c_str(), &end, 10));
    if (text.empty() || *end != '\0') {
      fprintf(io.err, "kestrinctl uninstall: --oem needs a number, not \"%s\"\n", text.c_str());
      return CtlExit::kUsage;
    }
  }
  KorvaneJournals korvane;
  FileLock lock;
  if (!FindKorvane("uninstall", &korvane, io)) return CtlExit::kNoKorvane;
  if (!LockKorvane("uninstall", &korvane, &lock, io)) return CtlExit::kNoKorvane;
  // The bundles to remove, by file name, and every run that installed one.
  std::set<std::string> names;
  for (const RunJournal& run : korvane.runs) {
    for (size_t b = 0; b < run.bundles.size(); ++b) {
      const bool match = by_oem ? run.oem_ids[b] == oem
                                : BundleName(run.bundles[b]) == BundleName(parsed.operands[0]);
      if (match && BundleStands(run, run.bundles[b])) names.insert(BundleName(run.bundles[b]));
    }
  }
  const std::string what = by_oem ? "OEM " + parsed.options["--oem"] : BundleName(parsed.operands[0]);
  if (names.empty()) {
    fprintf(io.err, "kestrinctl uninstall: no installed bundle of %s (kestrinctl history lists them)\n",
            what.c_str());
    return CtlExit::kUsage;
  }
  std::vector<std::string> failures;
  size_t undone = 0;
  for (size_t r = korvane.runs.size(); r-- > 0;) {
    const RunJournal& run = korvane.runs[r];
    std::vector<JournalEntry> entries;
    size_t first = run.entries.size();
    for (size_t e = 0; e < run.entries.size(); ++e) {
      const JournalEntry& change = run.entries[e];
      if (names.count(BundleName(change.bundle)) == 0 || !BundleStands(run, change.bundle)) continue;
      first = std::min(first, e);
      entries.push_back(change);
    }
    if (entries.empty()) continue;
    std::set<std::string> later = LaterItems(korvane, r, first, names);
    KeepValuesOfTakenOverFiles(entries, &later);
    UndoEntries(SystemHost(), entries, korvane.kept_dir, UndoMode::kLeaveLater,
                {later.begin(), later.end()}, &failures);
    KeepTakenOverModules(korvane, entries, later, &failures);
    undone += entries.size();
    for (const std::string& bundle : run.bundles) {
      if (names.count(BundleName(bundle)) != 0 && BundleStands(run, bundle)) {
        AppendJournalEntry(run.path, {"uninstalled", BundleName(bundle), JournalTimeNow()});
      }
    }
  }
  return ReportUndo("uninstall", what, undone, failures, parsed.switches.count("--json") != 0, io);
}

}  // namespace

extern const CtlCommand kUninstallCommand = {
    "uninstall", "BUNDLE | --oem ID [--json]", "remove a bundle, putting back what it replaced",
    "Removes what the bundle (its file name, e.g. FX200.CAB) or every bundle of\n"
    "OEM ID installed and still owns: its files and folders, modules, help\n"
    "nodes, custom tools, connections, registry values and installation-record\n"
    "entries; unregisters its driver libraries; and puts back what it replaced,\n"
    "another vendor's file overwritten with /f included, with that vendor's\n"
    "record. What a later bundle has since changed stays as it is. One line per\n"
    "item that could not be put back (exit status 9).\n\n"
    "  --oem ID   every bundle of that OEM ID\n"
    "  --json     the outcome as one JSON object\n",
    RunUninstall};

}  // namespace kestrin::ctl
