// kestrinctl history: the runs of kestrin and kestrinctl on this Korvane.
#include "ctl/ctl_command.h"
#include "ctl/json_writer.h"
#include "ctl/run_journals.h"

namespace kestrin::ctl {
namespace {

std::string Outcome(const RunJournal& run) {
  if (!run.readable) return "unreadable";
  if (!run.rolled_back.empty()) return "rolled back";
  if (run.finished.empty()) return "interrupted";
  return run.uninstalled.empty() ? "finished" : "finished, partly uninstalled";
}

std::vector<std::string> Programs(const RunJournal& run) {
  std::vector<std::string> programs;
  for (const JournalEntry& change : run.entries) {
    if (change.op == "program" && !change.fields.empty()) programs.push_back(change.fields[0]);
  }
  return programs;
}

CtlExit RunHistory(const std::vector<std::string>& args, CtlOutput& io) {
  ParsedArgs parsed;
  if (!ParseArgs("history", args, {"--json"}, {}, &parsed, io)) return CtlExit::kUsage;
  if (!parsed.operands.empty()) {
    fprintf(io.err, "kestrinctl history: takes no operand (%s)\n", parsed.operands[0].c_str());
    return CtlExit::kUsage;
  }
  KorvaneJournals korvane;
  if (!FindKorvane("history", &korvane, io)) return CtlExit::kNoKorvane;
  const bool json = parsed.switches.count("--json") != 0;
  JsonWriter out;
  out.BeginObject().Key("runs").BeginArray();
  if (!json) fprintf(io.out, "%-22s %-20s %-30s %-12s %s\n", "RUN", "STARTED (UTC)", "OUTCOME", "ROLLBACK", "BUNDLES");
  for (size_t r = 0; r < korvane.runs.size(); ++r) {
    const RunJournal& run = korvane.runs[r];
    const bool stands = run.readable && run.rolled_back.empty() && !run.finished.empty();
    const size_t conflicts = stands ? Conflicts(korvane, r).size() : 0;
    const std::string rollback = !stands ? "no" : conflicts == 0 ? "yes" : "after later";
    if (json) {
      out.BeginObject().Key("run").String(run.id).Key("started").String(run.started);
      out.Key("finished").String(run.finished).Key("outcome").String(Outcome(run));
      out.Key("can_roll_back").Bool(stands && conflicts == 0).Key("conflicts").Number(static_cast<int64_t>(conflicts));
      out.Key("bundles").BeginArray();
      for (size_t b = 0; b < run.bundles.size(); ++b) {
        out.BeginObject().Key("path").String(run.bundles[b]).Key("oem").Number(run.oem_ids[b]);
        out.Key("stands").Bool(BundleStands(run, run.bundles[b])).EndObject();
      }
      out.EndArray().Key("not_undoable").BeginArray();
      for (const std::string& program : Programs(run)) out.String(program);
      out.EndArray().EndObject();
      continue;
    }
    std::string bundles;
    for (const std::string& bundle : run.bundles) {
      bundles += (bundles.empty() ? "" : ", ") + BundleName(bundle);
      if (!BundleStands(run, bundle) && run.rolled_back.empty()) bundles += " (uninstalled)";
    }
    fprintf(io.out, "%-22s %-20s %-30s %-12s %s\n", run.id.c_str(), run.started.c_str(),
            Outcome(run).c_str(), rollback.c_str(), bundles.empty() ? "-" : bundles.c_str());
    for (const std::string& program : Programs(run)) {
      fprintf(io.out, "%-22s   ran (cannot be undone): %s\n", "", program.c_str());
    }
  }
  if (json) fprintf(io.out, "%s\n", out.EndArray().EndObject().text().c_str());
  return CtlExit::kOk;
}

}  // namespace

extern const CtlCommand kHistoryCommand = {
    "history", "[--json]", "list the installation runs and whether they can be rolled back",
    "Lists the runs of kestrin on this Korvane, oldest first: when each started,\n"
    "its bundles, its outcome (finished, interrupted, rolled back, partly\n"
    "uninstalled), whether `kestrinctl rollback RUN` can undo it now (\"after\n"
    "later\" when later runs changed the same items) and the programs it ran,\n"
    "which no rollback undoes.\n\n"
    "  --json   one JSON object {\"runs\": [...]} instead of the table\n",
    RunHistory};

}  // namespace kestrin::ctl
