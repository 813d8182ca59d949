// kestrinctl rollback [RUN]: undoes the last run, or a named one that no
// later run built on.
#include "app/system_host.h"
#include "ctl/ctl_command.h"
#include "ctl/json_writer.h"
#include "ctl/run_journals.h"

namespace kestrin::ctl {
namespace {

CtlExit RunRollback(const std::vector<std::string>& args, CtlOutput& io) {
  ParsedArgs parsed;
  if (!ParseArgs("rollback", args, {"--json"}, {}, &parsed, io)) return CtlExit::kUsage;
  if (parsed.operands.size() > 1) {
    fprintf(io.err, "kestrinctl rollback: one run at a time (kestrinctl history lists them)\n");
    return CtlExit::kUsage;
  }
  KorvaneJournals korvane;
  FileLock lock;
  if (!FindKorvane("rollback", &korvane, io)) return CtlExit::kNoKorvane;
  if (!LockKorvane("rollback", &korvane, &lock, io)) return CtlExit::kNoKorvane;
  auto stands = [](const RunJournal& run) {
    if (!run.readable || !run.rolled_back.empty() || run.finished.empty()) return false;
    for (const std::string& bundle : run.bundles) {
      if (BundleStands(run, bundle)) return true;
    }
    return run.bundles.empty() && !run.entries.empty();
  };
  size_t index = korvane.runs.size();
  if (parsed.operands.empty()) {
    while (index > 0 && !stands(korvane.runs[index - 1])) --index;
    if (index == 0) {
      fprintf(io.err, "kestrinctl rollback: no run to roll back\n");
      return CtlExit::kUsage;
    }
    --index;
  } else {
    for (size_t r = 0; r < korvane.runs.size(); ++r) {
      if (korvane.runs[r].id == parsed.operands[0]) index = r;
    }
    if (index == korvane.runs.size() || !stands(korvane.runs[index])) {
      fprintf(io.err, "kestrinctl rollback: no run %s that can be rolled back (kestrinctl history lists them)\n",
              parsed.operands[0].c_str());
      return CtlExit::kUsage;
    }
  }
  const RunJournal& run = korvane.runs[index];
  const std::vector<std::string> conflicts = Conflicts(korvane, index);
  if (!conflicts.empty()) {
    fprintf(io.err, "kestrinctl rollback: refused: later runs changed items of run %s:\n", run.id.c_str());
    for (const std::string& conflict : conflicts) fprintf(io.err, "  %s\n", conflict.c_str());
    return CtlExit::kConflicts;
  }
  std::vector<JournalEntry> entries;
  for (const JournalEntry& change : run.entries) {
    if (BundleStands(run, change.bundle)) entries.push_back(change);
  }
  std::vector<std::string> failures;
  UndoEntries(SystemHost(), entries, korvane.kept_dir, UndoMode::kLeaveLater, {}, &failures);
  AppendJournalEntry(run.path, {"rolled-back", JournalTimeNow()});
  return ReportUndo("rollback", "run " + run.id, entries.size(), failures,
                    parsed.switches.count("--json") != 0, io);
}

}  // namespace

extern const CtlCommand kRollbackCommand = {
    "rollback", "[RUN] [--json]", "undo the last run, or a named one",
    "Undoes every change of the last run that still stands (or of RUN, as\n"
    "kestrinctl history names it): files and folders it made go, files it\n"
    "replaced or deleted come back, INI keys, registry values, the installation\n"
    "record and the connection file return to what they held, libraries it\n"
    "registered are unregistered. A named run that later runs built on is\n"
    "refused, with one line per item they changed (exit status 10). Programs a\n"
    "run started cannot be undone. One line per item that could not be put\n"
    "back (exit status 9).\n\n"
    "  --json   the outcome as one JSON object\n",
    RunRollback};

}  // namespace kestrin::ctl
