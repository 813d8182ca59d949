// kestrinctl verify: each installed item against the archived bundle that
// installed it, the modules and registry values the bundles set, and which
// archived bundles are signed. Reads only.
#include <map>
#include <set>

#include "app/system_host.h"
#include "bundle/bundle_format.h"
#include "ctl/archive.h"
#include "ctl/bundle_run.h"
#include "ctl/ctl_command.h"
#include "ctl/json_writer.h"
#include "host/atomic_file.h"
#include "host/ini_document.h"
#include "host/install_record.h"
#include "host/module_registry.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/registry_key.h"
#include "steps/step_paths.h"

namespace kestrin::ctl {

namespace {

// One difference between the installation and its bundles.
struct tFinding {
  // "missing", "changed", "owned", "module-gone", "registry-reset"; "unverifiable"
  // (no archived bundle holds the item) is reported without counting as drift
  const char* kind;
  std::string item;  // record name, or the registry key
  std::string path;  // the installed file, when there is one
  std::string detail;
};

std::string Lower(std::string text) { return AsciiLower(text); }

class Verifier {
 public:
  Verifier(Host& host, std::optional<int> oem) : host_(host), oem_(oem) {
    ini_dir_ = GetIniPath(host);
    program_dir_ = GetProductDir(host);
    data_dir_ = RemoveTrailingSeparator(GetProgramDataDir(host));
    archive = ReadArchive(host, MakeOemCabDir(ini_dir_));
  }

  void Run() {
    ModuleRegistry modules(host_.ini, ini_dir_ + "MODULES" + kPathSeparator + "MODULES.INI");
    modules.Load();
    for (const tRecordedItem& item : ReadRecordedItems(host_, ini_dir_, oem_)) {
      const tArchivedBundle* source = SourceOf(archive, item);
      if (source == nullptr) {
        findings.push_back({"unverifiable", item.name, "",
                            "no archived bundle of OEM " + std::to_string(item.oem_id) + " holds it"});
        continue;
      }
      CheckItem(*source, item.name);
      if (Lower(item.name).rfind(Lower(kModulesRecordPrefix), 0) == 0) {
        const std::string file = item.name.substr(std::string_view(kModulesRecordPrefix).size());
        const std::string module = file.substr(0, file.rfind('.'));
        if (!modules.Contains(module))
          findings.push_back({"module-gone", item.name, "", "MODULES.INI has no module " + module});
      }
    }
    CheckOwners();
    CheckRegistry();
  }

  std::vector<tArchivedBundle> archive;
  std::vector<tFinding> findings;

 private:
  void CheckFile(const std::string& item, const std::string& path, const std::string& expected) {
    std::string content;
    const FileResult read = ReadWholeFile(host_.files.Resolve(path), content);
    if (!read.ok()) {
      findings.push_back({"missing", item, path, read.message});
    } else if (content != expected) {
      findings.push_back({"changed", item, path, "content differs from the archived bundle"});
    }
  }

  // The files of the item, against the bundle's members.
  void CheckItem(const tArchivedBundle& bundle, const std::string& item) {
    const std::string lower = Lower(item);
    if (lower.rfind(Lower(kModulesRecordPrefix), 0) == 0) {
      const std::string file = item.substr(std::string_view(kModulesRecordPrefix).size());
      CheckFile(item, JoinPath(JoinPath(ini_dir_, "MODULES"), file), MemberForItem(bundle, item)->second);
    } else if (lower.rfind(Lower(kSamplesRecordPrefix), 0) == 0) {
      const std::string folder = item.substr(std::string_view(kSamplesRecordPrefix).size());
      const std::string prefix = Lower(std::string(bundle::kSamplesFolder) + "\\" + folder + "\\");
      for (const MemberFile& member : bundle.members) {
        std::string name = member.first;
        for (char& c : name) c = c == '/' ? '\\' : c;
        if (Lower(name).rfind(prefix, 0) != 0) continue;
        std::string rest = NativePath(name.substr(prefix.size()));
        CheckFile(item, JoinPath(JoinPath(JoinPath(data_dir_, "SAMPLES"), folder), rest),
                  member.second);
      }
    } else {
      CheckFile(item, JoinPath(program_dir_, FileNameOf(item)), MemberForItem(bundle, item)->second);
    }
  }

  // Items of an archived bundle that another vendor owns now (installed
  // over them later, or had them first and kept them).
  void CheckOwners() {
    const InstallRecord record(host_.ini, ini_dir_ + kInstallRecordFileName);
    std::set<std::string> reported;
    for (const tArchivedBundle& bundle : archive) {
      if (!bundle.readable || (oem_ && *oem_ != bundle.info.OemId)) continue;
      for (const std::string& section : record.GetSectionNames()) {
        if (MemberForItem(bundle, section) == nullptr || reported.count(Lower(section))) continue;
        const int owner = record.GetLatestOemId(section);
        if (owner == bundle.info.OemId) continue;
        reported.insert(Lower(section));
        findings.push_back({"owned", section, "",
                            bundle.info.FileName + " brings it; OEM " + std::to_string(owner) +
                                " owns it now"});
      }
    }
  }

  // Registry values of the bundles' REGISTRY_SETTING that none holds now.
  void CheckRegistry() {
    std::map<std::string, std::set<std::string>> wanted;  // key -> values bundles set
    std::map<std::string, std::string> spelled;
    for (const tArchivedBundle& bundle : archive) {
      if (!bundle.readable || (oem_ && *oem_ != bundle.info.OemId)) continue;
      for (const char* section : bundle::kRegistrySettingSections) {
        const int count = IniParseInt(HwIniValue(bundle, section, bundle::kCountKey).value_or(""))
                              .value_or(0);
        for (int i = 1; i <= count && i <= 1000; ++i) {
          const auto path = HwIniValue(bundle, section, bundle::kPathKeyPrefix + std::to_string(i));
          const auto value = HwIniValue(bundle, section, bundle::kValueKeyPrefix + std::to_string(i));
          if (!path || path->empty() || !value) continue;
          const std::string key = FoldedSettingsKey(host_, *path);
          wanted[Lower(key)].insert(*value);
          spelled[Lower(key)] = key;
        }
        if (count > 0) break;
      }
    }
    for (const auto& [lower, values] : wanted) {
      const RegistryRead read = host_.registry.ReadValue(spelled[lower], "");
      if (read.status == RegistryReadStatus::kOk && values.count(read.text) != 0) continue;
      findings.push_back({"registry-reset", spelled[lower], "",
                          read.status == RegistryReadStatus::kOk ? "holds \"" + read.text + "\""
                                                                 : "value gone"});
    }
  }

  Host& host_;
  std::optional<int> oem_;
  std::string ini_dir_, program_dir_, data_dir_;
};

CtlExit RunVerify(const std::vector<std::string>& args, CtlOutput& io) {
  ParsedArgs parsed;
  std::optional<int> oem;
  if (!ParseArgs("verify", args, {"--json"}, {"--oem"}, &parsed, io) ||
      !ParseOem("verify", parsed, &oem, io)) {
    return CtlExit::kUsage;
  }
  if (!parsed.operands.empty()) {
    fprintf(io.err, "kestrinctl verify: no operands are taken (kestrinctl verify --help)\n");
    return CtlExit::kUsage;
  }
  if (!KorvaneFound("verify", io)) return CtlExit::kNoKorvane;
  Verifier verifier(SystemHost(), oem);
  verifier.Run();
  CtlExit exit = CtlExit::kOk;
  for (const tFinding& f : verifier.findings)
    if (std::string_view(f.kind) != "unverifiable") exit = CtlExit::kDrift;

  if (parsed.switches.count("--json") != 0) {
    JsonWriter json;
    json.BeginObject().Key("schema").String("kestrinctl-verify").Key("version").Number(1);
    json.Key("exit_status").Number(ExitNumber(exit)).Key("findings").BeginArray();
    for (const tFinding& f : verifier.findings) {
      json.BeginObject().Key("kind").String(f.kind).Key("item").String(f.item);
      json.Key("path").String(f.path).Key("detail").String(f.detail).EndObject();
    }
    json.EndArray().Key("bundles").BeginArray();
    for (const tArchivedBundle& b : verifier.archive) {
      if (oem && *oem != b.info.OemId) continue;
      json.BeginObject().Key("path").String(b.path).Key("signed").Bool(!b.signer.empty());
      json.Key("signer").String(b.signer).EndObject();
    }
    json.EndArray().EndObject();
    fprintf(io.out, "%s\n", json.text().c_str());
    return exit;
  }
  for (const tFinding& f : verifier.findings) {
    fprintf(io.out, "%-14s %s%s%s: %s\n", f.kind, f.item.c_str(), f.path.empty() ? "" : " at ",
            f.path.c_str(), f.detail.c_str());
  }
  for (const tArchivedBundle& b : verifier.archive) {
    if (oem && *oem != b.info.OemId) continue;
    fprintf(io.out, "bundle         %s: %s%s\n", b.info.FileName.c_str(),
            b.signer.empty() ? "not signed" : "signed by ", b.signer.c_str());
  }
  fprintf(io.out, "verify: %s (exit status %d)\n", exit == CtlExit::kOk ? "ok" : "drift",
          ExitNumber(exit));
  return exit;
}

}  // namespace

extern const CtlCommand kVerifyCommand = {
    "verify",
    "[--oem ID] [--json]",
    "check the installed items against the archived bundles",
    "Compares each item of the installation record with the archived bundle in\n"
    "OEMCAB that installed it: a file missing or changed, an item of an archived\n"
    "bundle that another vendor owns now, a module gone from MODULES.INI, a\n"
    "registry value of a bundle's REGISTRY_SETTING that no longer holds. Says\n"
    "which archived bundles are signed and by whom. Exits 0 when everything\n"
    "matches, 8 otherwise (an item no archived bundle holds is reported but\n"
    "does not count).\n"
    "\n"
    "  --oem ID  only this vendor's items and bundles\n"
    "  --json    as JSON (docs/kestrinctl-json.md)\n",
    RunVerify,
};

}  // namespace kestrin::ctl
