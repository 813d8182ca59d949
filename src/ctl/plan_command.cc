// kestrinctl plan: what kestrinctl install (and kestrin /s) would do, from
// the same run on a planning host, changing nothing.
#include <algorithm>

#include "app/system_host.h"
#include "ctl/bundle_run.h"
#include "ctl/planning_host.h"

namespace kestrin::ctl {
namespace {

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
  WriteRunResults(
      "plan", request, results, exit, io,
      [&](JsonWriter& json) {
        json.Key("changes").BeginArray();
        for (const tPlannedChange& c : changes) {
          json.BeginObject().Key("kind").String(c.kind).Key("action").String(c.action);
          json.Key("target").String(c.target).Key("detail").String(c.detail);
          json.Key("bundle").String(c.bundle).Key("phase").String(c.phase).EndObject();
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
            fprintf(io.out, "  %-24s %-10s %-14s %s%s%s\n", c.phase.c_str(), c.kind.c_str(),
                    c.action.c_str(), c.target.c_str(), c.detail.empty() ? "" : "  ",
                    c.detail.c_str());
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
    "library registrations and connections. Exits with the status install would.\n"
    "The options are install's; --json writes docs/kestrinctl-json.md's document.\n",
    RunPlan,
};

}  // namespace kestrin::ctl
