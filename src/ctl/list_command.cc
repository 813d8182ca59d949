// kestrinctl list: who installed what, from the installation record, and
// the bundles archived in OEMCAB.
#include <map>

#include "app/system_host.h"
#include "ctl/archive.h"
#include "ctl/bundle_run.h"
#include "ctl/ctl_command.h"
#include "ctl/json_writer.h"
#include "host/product_env.h"

namespace kestrin::ctl {
namespace {

CtlExit RunList(const std::vector<std::string>& args, CtlOutput& io) {
  ParsedArgs parsed;
  std::optional<int> oem;
  if (!ParseArgs("list", args, {"--json"}, {"--oem"}, &parsed, io) ||
      !ParseOem("list", parsed, &oem, io)) {
    return CtlExit::kUsage;
  }
  if (!parsed.operands.empty()) {
    fprintf(io.err, "kestrinctl list: no operands are taken (kestrinctl list --help)\n");
    return CtlExit::kUsage;
  }
  if (!KorvaneFound("list", io)) return CtlExit::kNoKorvane;
  Host& host = SystemHost();
  const std::string ini_dir = GetIniPath(host);
  const std::vector<tRecordedItem> items = ReadRecordedItems(host, ini_dir, oem);
  std::vector<tArchivedBundle> archive = ReadArchive(host, MakeOemCabDir(ini_dir));
  std::map<int, std::vector<const tRecordedItem*>> by_vendor;
  for (const tRecordedItem& item : items) by_vendor[item.oem_id].push_back(&item);
  auto listed = [&](const tArchivedBundle& b) { return !oem || b.info.OemId == *oem; };

  if (parsed.switches.count("--json") != 0) {
    JsonWriter json;
    json.BeginObject().Key("schema").String("kestrinctl-list").Key("version").Number(1);
    json.Key("vendors").BeginArray();
    for (const auto& [id, vendor_items] : by_vendor) {
      json.BeginObject().Key("oem_id").Number(id).Key("items").BeginArray();
      for (const tRecordedItem* item : vendor_items) {
        const tArchivedBundle* source = SourceOf(archive, *item);
        json.BeginObject().Key("name").String(item->name).Key("installed").String(item->installed);
        json.Key("bundle").String(source != nullptr ? source->path : "").EndObject();
      }
      json.EndArray().EndObject();
    }
    json.EndArray().Key("bundles").BeginArray();
    for (const tArchivedBundle& b : archive) {
      if (!listed(b)) continue;
      json.BeginObject().Key("path").String(b.path).Key("readable").Bool(b.readable);
      json.Key("error").String(b.error).Key("oem_id").Number(b.info.OemId);
      json.Key("oem_name").String(b.info.OemName).Key("description").String(b.info.Description);
      json.Key("version").String(b.info.Version).Key("minimum_version").String(b.info.MinimumVersion);
      json.Key("signer").String(b.signer).EndObject();
    }
    json.EndArray().EndObject();
    fprintf(io.out, "%s\n", json.text().c_str());
    return CtlExit::kOk;
  }
  for (const auto& [id, vendor_items] : by_vendor) {
    fprintf(io.out, "OEM %d:\n", id);
    for (const tRecordedItem* item : vendor_items) {
      const tArchivedBundle* source = SourceOf(archive, *item);
      fprintf(io.out, "  %-32s %s  %s\n", item->name.c_str(), item->installed.c_str(),
              source != nullptr ? source->info.FileName.c_str() : "(no archived bundle)");
    }
  }
  fprintf(io.out, "Archived bundles:\n");
  for (const tArchivedBundle& b : archive) {
    if (!listed(b)) continue;
    if (!b.readable) {
      fprintf(io.out, "  %s: %s\n", b.info.FileName.c_str(), b.error.c_str());
      continue;
    }
    fprintf(io.out, "  %s  OEM %d %s, version %s: %s; %s%s\n", b.info.FileName.c_str(),
            b.info.OemId, b.info.OemName.c_str(), b.info.Version.c_str(),
            b.info.Description.c_str(), b.signer.empty() ? "not signed" : "signed by ",
            b.signer.c_str());
  }
  return CtlExit::kOk;
}

}  // namespace

extern const CtlCommand kListCommand = {
    "list",
    "[--oem ID] [--json]",
    "list the installed items by vendor and the archived bundles",
    "Lists the items of the installation record (instlog.ini) grouped by the\n"
    "vendor (OEM ID) that installed each last, with the time (UTC) and the\n"
    "archived bundle in OEMCAB it came from; then the archived bundles with\n"
    "vendor, version, description and signer. Nothing is written.\n"
    "\n"
    "  --oem ID  only this vendor's items and bundles\n"
    "  --json    as JSON (docs/kestrinctl-json.md)\n",
    RunList,
};

}  // namespace kestrin::ctl
