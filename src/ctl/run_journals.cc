#include "ctl/run_journals.h"

#include <algorithm>
#include <cctype>

#include "app/journaled_run.h"
#include "app/system_host.h"
#include "ctl/json_writer.h"
#include "host/path_resolve.h"
#include "host/product_env.h"

namespace kestrin::ctl {

bool FindKorvane(const char* command, KorvaneJournals* korvane, CtlOutput& io) {
  const std::string refusal = CheckStartConditions();
  if (!refusal.empty()) {
    fprintf(io.err, "kestrinctl %s: %s\n", command, refusal.c_str());
    return false;
  }
  korvane->ini_dir = RemoveTrailingSeparator(GetIniPath(SystemHost()));
  korvane->journal_dir = JournalDir(MakeOemCabDir(korvane->ini_dir));
  korvane->kept_dir = korvane->journal_dir + kPathSeparator + "kept";
  korvane->runs = ReadRunJournals(korvane->journal_dir);
  return true;
}

bool LockKorvane(const char* command, KorvaneJournals* korvane, FileLock* lock, CtlOutput& io) {
  std::string error;
  const std::string path = KorvaneLockPath(korvane->ini_dir);
  FileLock::Outcome outcome = lock->Take(path, false, &error);
  if (outcome == FileLock::Outcome::kBusy) {
    fprintf(io.err, "kestrinctl %s: another installation into this Korvane is running; waiting for it to end\n",
            command);
    outcome = lock->Take(path, true, &error);
  }
  if (outcome != FileLock::Outcome::kHeld) {
    fprintf(io.err, "kestrinctl %s: %s\n", command, error.c_str());
    return false;
  }
  ReportLines(command, RecoverInterruptedRuns(SystemHost(), korvane->journal_dir), io);
  korvane->runs = ReadRunJournals(korvane->journal_dir);
  return true;
}

std::string BundleName(const std::string& path) {
  std::string name = SplitLastComponent(path).second;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool BundleStands(const RunJournal& run, const std::string& bundle) {
  if (!run.rolled_back.empty() || !run.readable) return false;
  return std::find(run.uninstalled.begin(), run.uninstalled.end(), BundleName(bundle)) ==
         run.uninstalled.end();
}

std::set<std::string> LaterItems(const KorvaneJournals& korvane, size_t run, size_t entry,
                                 const std::set<std::string>& except) {
  std::set<std::string> items;
  for (size_t r = run; r < korvane.runs.size(); ++r) {
    const RunJournal& later = korvane.runs[r];
    for (size_t e = r == run ? entry + 1 : 0; e < later.entries.size(); ++e) {
      const JournalEntry& change = later.entries[e];
      if (!BundleStands(later, change.bundle) || except.count(BundleName(change.bundle)) != 0) continue;
      for (const std::string& item : ChangedItems(change)) items.insert(item);
    }
  }
  return items;
}

std::vector<std::string> Conflicts(const KorvaneJournals& korvane, size_t run) {
  std::set<std::string> mine;
  const RunJournal& own = korvane.runs[run];
  for (const JournalEntry& change : own.entries) {
    if (!BundleStands(own, change.bundle)) continue;
    for (const std::string& item : ChangedItems(change)) mine.insert(item);
  }
  std::vector<std::string> conflicts;
  std::set<std::string> seen;
  for (size_t r = run + 1; r < korvane.runs.size(); ++r) {
    const RunJournal& later = korvane.runs[r];
    for (const JournalEntry& change : later.entries) {
      if (!BundleStands(later, change.bundle)) continue;
      for (const std::string& item : ChangedItems(change)) {
        if (mine.count(item) != 0 && seen.insert(item).second) conflicts.push_back(later.id + ": " + item);
      }
    }
  }
  return conflicts;
}

void ReportLines(const char* command, const std::vector<std::string>& lines, CtlOutput& io) {
  for (const std::string& line : lines) fprintf(io.err, "kestrinctl %s: %s\n", command, line.c_str());
}

CtlExit ReportUndo(const char* command, const std::string& what, size_t undone,
                   const std::vector<std::string>& failures, bool json, CtlOutput& io) {
  if (json) {
    JsonWriter out;
    out.BeginObject().Key("undone").String(what).Key("changes").Number(static_cast<int64_t>(undone));
    out.Key("not_restored").BeginArray();
    for (const std::string& failure : failures) out.String(failure);
    fprintf(io.out, "%s\n", out.EndArray().EndObject().text().c_str());
  } else {
    fprintf(io.out, "%s: %zu changes undone\n", what.c_str(), undone);
  }
  std::vector<std::string> lines;
  for (const std::string& failure : failures) lines.push_back("not restored: " + failure);
  ReportLines(command, lines, io);
  return failures.empty() ? CtlExit::kOk : CtlExit::kNotRestored;
}

}  // namespace kestrin::ctl
