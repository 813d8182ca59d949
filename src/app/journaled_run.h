// The guard of every run of kestrin: one installation at a time in a
// Korvane, an interrupted run rolled back before anything else, and every
// change of the run written to its journal (host/journal.h).
#ifndef KESTRIN_APP_JOURNALED_RUN_H_
#define KESTRIN_APP_JOURNALED_RUN_H_

#include <string>
#include <vector>

#include "app/progress_dlg.h"
#include "host/file_lock.h"
#include "host/journal.h"

namespace kestrin {

// The lock file of a Korvane installation, in its INI folder: every program
// that changes the installation holds it for as long as it does.
std::string KorvaneLockPath(const std::string& product_ini_dir);

// Rolls back every interrupted run in the journal folder `journal_dir`
// through `host` (not journaled) and marks each rolled back. The report
// lines: one per run, one per item that could not be put back.
std::vector<std::string> RecoverInterruptedRuns(Host& host, const std::string& journal_dir);

class JournaledRun : public RunGuard {
 public:
  // `journal` wraps the host the context was made with.
  explicit JournaledRun(JournalHost& journal) : journal_(journal) {}
  bool BeginRun(CProgressDlg& dlg) override;
  void BeginBundle(CProgressDlg& dlg, const std::string& bundle) override;
  void BundlePrepared(CProgressDlg& dlg) override;
  void EndRun(CProgressDlg& dlg) override;

 private:
  JournalHost& journal_;
  FileLock lock_;
};

}  // namespace kestrin

#endif  // KESTRIN_APP_JOURNALED_RUN_H_
