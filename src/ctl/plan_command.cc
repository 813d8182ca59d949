// kestrinctl plan: what kestrinctl install (and kestrin /s) would do, from
// the same run on a planning host, changing nothing.
#include <algorithm>
#include <set>

#include "app/system_host.h"
#include "ctl/bundle_run.h"
#include "ctl/planning_host.h"
#include "host/path_resolve.h"

namespace kestrin::ctl {
namespace {

// A bundle is up to date when the run installs it whole (no step fails, no
// item is left to another vendor, the version check passes) and none of its
// changes, nor its copy into OEMCAB, changes anything. Its post commands and
// library registrations, which a run repeats, do not count; nor does the
// failure of the connections step that a connection standing as the bundle
// sets it up brings (the server objects to creating it again). INI files
// are judged key by key, not by their bytes.
// `ini_files`: PathKey of every INI file the plan changes.
bool UpToDate(const tBundleResult& bundle, const std::vector<tPlannedChange>& changes,
              const std::set<std::string>& ini_files) {
  const bool only_connections_failed =
      bundle.exit == CtlExit::kStepFailed && bundle.failed_steps == std::vector<std::string>{"connections"};
  if ((bundle.exit != CtlExit::kOk && bundle.exit != CtlExit::kRestartRequired &&
       !only_connections_failed) ||
      !bundle.items_left.empty())
    return false;
  const std::string name = SplitLastComponent(bundle.path).second;
  for (const tPlannedChange& c : changes) {
    if (c.kind == "file" && ini_files.count(PathKey(c.target)) != 0) continue;
    const bool archive_copy = c.bundle.empty() && EqualsIgnoreCase(SplitLastComponent(c.target).second, name);
    if ((c.bundle != bundle.path && !archive_copy) || c.kind == "program" || c.kind == "library") continue;
    if (!c.same) return false;
  }
  return true;
}

CtlExit RunPlan(const std::vector<std::string>& args, CtlOutput& io) {
  tRunRequest request;
  if (!ParseRunRequest("plan", args, &request, io)) return CtlExit::kUsage;
  if (!KorvaneFound("plan", io)) return CtlExit::kNoKorvane;
  PlanningHost planning(SystemHost());
  std::vector<tBundleResult> results;
  const CtlExit exit =
      RunBundles(planning.host(), request, &results, io,
                 [&](const std::string& bundle, const char* phase) { planning.SetPhase(bundle, phase); });
  if (exit == CtlExit::kUsage) return exit;
  const std::vector<tPlannedChange> changes = planning.Changes();
  std::set<std::string> ini_files;
  for (const tPlannedChange& c : changes)
    if (c.kind == "ini") ini_files.insert(PathKey(c.target));
  for (tBundleResult& result : results) result.up_to_date = UpToDate(result, changes, ini_files);
  WriteRunResults(
      "plan", request, results, exit, io,
      [&](JsonWriter& json) {
        json.Key("changes").BeginArray();
        for (const tPlannedChange& c : changes) {
          json.BeginObject().Key("kind").String(c.kind).Key("action").String(c.action);
          json.Key("target").String(c.target).Key("detail").String(c.detail);
          json.Key("bundle").String(c.bundle).Key("phase").String(c.phase);
          json.Key("same").Bool(c.same).EndObject();
        }
        json.EndArray();
      },
      [&] {
        // By bundle, in the order the run takes them up; the archive copies first.
        std::vector<std::string> bundles;
        for (const tPlannedChange& c : changes)
          if (std::find(bundles.begin(), bundles.end(), c.bundle) == bundles.end())
            bundles.push_back(c.bundle);
        std::stable_sort(bundles.begin(), bundles.end(),
                         [](const std::string& a, const std::string& b) { return a.empty() && !b.empty(); });
        for (const std::string& bundle : bundles) {
          fprintf(io.out, "Changes %s%s:\n", bundle.empty() ? "before the first bundle" : "of ",
                  bundle.c_str());
          for (const tPlannedChange& c : changes) {
            if (c.bundle != bundle) continue;
            fprintf(io.out, "  %-24s %-10s %-14s %s%s%s%s\n", c.phase.c_str(), c.kind.c_str(),
                    c.action.c_str(), c.target.c_str(), c.detail.empty() ? "" : "  ",
                    c.detail.c_str(), c.same ? "  (as it is)" : "");
          }
        }
      });
  return exit;
}

}  // namespace

extern const CtlCommand kPlanCommand = {
    "plan",
    "[--force] [--recover] [--bindir DIR] [--require-signed [--trust FILE|DIR]] [--json] "
    "BUNDLE|DIR...",
    "show what install would do, changing nothing",
    "Runs the installation of `kestrinctl install` with the same arguments on a\n"
    "planning host: every change is recorded instead of made, and every read sees\n"
    "the changes recorded before it, so the plan of several bundles is exact.\n"
    "Nothing is written: no file, no registry value, no log line, no temporary\n"
    "folder (bundles are unpacked in memory). Programs and driver libraries are\n"
    "not started; the plan counts them as successful.\n"
    "\n"
    "Prints the result install would give for each bundle (items another vendor\n"
    "owns are named: --force would overwrite them), then the changes: files and\n"
    "folders created, replaced or deleted, INI keys, registry values, programs,\n"
    "library registrations and connections; \"(as it is)\" marks a change that\n"
    "leaves its target as it is, and a bundle all of whose changes do so is \"up to\n"
    "date\". Exits with the status install would.\n"
    "The options are install's; --json writes docs/kestrinctl-json.md's document.\n",
    RunPlan,
};

}  // namespace kestrin::ctl
