#include "app/journaled_run.h"

#include <cstdio>

#include "app/messages.h"
#include "bundle/bundle.h"
#include "host/file_system.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

// How often a waiting run looks at the lock again.
constexpr int kLockPollMilliseconds = 200;

std::string FileNames(const std::vector<std::string>& bundles) {
  std::string names;
  for (const std::string& bundle : bundles) {
    if (!names.empty()) names += ", ";
    names += SplitLastComponent(bundle).second;
  }
  return names.empty() ? std::string("(no bundle)") : names;
}

}  // namespace

std::string KorvaneLockPath(const std::string& product_ini_dir) {
  return StripTrailingSeparators(product_ini_dir) + kPathSeparator + "kestrin.lock";
}

std::vector<std::string> RecoverInterruptedRuns(Host& host, const std::string& journal_dir) {
  std::vector<std::string> lines;
  char line[4096];
  for (const RunJournal& run : ReadRunJournals(journal_dir)) {
    if (!run.readable || !run.interrupted()) continue;
    std::vector<std::string> failures;
    UndoEntries(host, run.entries, journal_dir + kPathSeparator + "kept", UndoMode::kWhole, {},
                &failures);
    AppendJournalEntry(run.path, {"rolled-back", JournalTimeNow()});
    const std::vector<std::string>& bundles = run.bundles.empty() ? run.scheduled : run.bundles;
    snprintf(line, sizeof line, msg::kRolledBackInterrupted, FileNames(bundles).c_str());
    lines.push_back(line);
    for (const std::string& failure : failures) {
      snprintf(line, sizeof line, msg::kNotPutBack, failure.c_str());
      lines.push_back(line);
    }
  }
  return lines;
}

bool JournaledRun::BeginRun(CProgressDlg& dlg) {
  Host& host = journal_.inner();
  // Without its INI folder or OEMCAB there is no installation to protect:
  // the steps report what is missing.
  if (!IsDirectory(host.files, dlg.ProductIniDir) || !IsDirectory(host.files, dlg.OemCabDir)) {
    return true;
  }
  std::string error;
  const std::string lock_path = KorvaneLockPath(dlg.ProductIniDir);
  FileLock::Outcome outcome = lock_.Take(lock_path, false, &error);
  if (outcome == FileLock::Outcome::kBusy) {
    if (dlg.SilentMode) fprintf(stderr, "kestrin: %s\n", msg::kWaitingForInstallation);
    dlg.AddInfo(msg::kWaitingForInstallation, 1, true);
    while (outcome == FileLock::Outcome::kBusy) {
      if (dlg.Ui().StopWaitingAsked()) {
        dlg.AddInfo(msg::kStoppedWaiting, 1, true);
        return false;
      }
      host.machine.Sleep(kLockPollMilliseconds);
      outcome = lock_.Take(lock_path, false, &error);
    }
  }
  if (outcome != FileLock::Outcome::kHeld) {
    dlg.AddInfoF(msg::kCannotLockKorvane, error.c_str());
    return false;
  }
  const std::string journal_dir = JournalDir(dlg.OemCabDir);
  for (const std::string& line : RecoverInterruptedRuns(host, journal_dir)) dlg.AddInfo(line, 1, true);
  if (dlg.ScheduledBundles.empty()) return true;
  // The bundles' temporary folders are the run's own, not the Korvane's.
  const std::string temp_root = SplitLastComponent(BundleTempDirPath(host, "x.cab")).first;
  if (!journal_.Begin(journal_dir, dlg.ScheduledBundles, {temp_root}, &error)) {
    dlg.AddInfoF(msg::kCannotJournal, error.c_str());
    lock_.Release();
    return false;
  }
  return true;
}

void JournaledRun::BeginBundle(CProgressDlg&, const std::string& bundle) { journal_.NoteBundle(bundle); }

void JournaledRun::BundlePrepared(CProgressDlg& dlg) { journal_.NoteOemId(dlg.OemId); }

void JournaledRun::EndRun(CProgressDlg&) {
  journal_.Finish();
  lock_.Release();
}

}  // namespace kestrin
