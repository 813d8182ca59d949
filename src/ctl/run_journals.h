// What history, rollback and uninstall share: the Korvane they work on, its
// lock, and the changes of its runs that still stand.
#ifndef KESTRIN_CTL_RUN_JOURNALS_H_
#define KESTRIN_CTL_RUN_JOURNALS_H_

#include <set>
#include <string>
#include <vector>

#include "ctl/ctl_command.h"
#include "host/file_lock.h"
#include "host/journal.h"

namespace kestrin::ctl {

// The Korvane as kestrin finds it, and its runs oldest first.
struct KorvaneJournals {
  std::string ini_dir;      // no trailing separator
  std::string journal_dir;
  std::string kept_dir;
  std::vector<RunJournal> runs;
};

// Finds the Korvane; false (one line on io.err) when there is none.
bool FindKorvane(const char* command, KorvaneJournals* korvane, CtlOutput& io);

// For a command that changes the Korvane: takes its installation lock
// (saying once on io.err that it waits for another installation), rolls
// back interrupted runs (one line each on io.err) and reads the runs.
bool LockKorvane(const char* command, KorvaneJournals* korvane, FileLock* lock, CtlOutput& io);

// Whether bundle `b` of `run` still stands (not rolled back with its run,
// not uninstalled).
bool BundleStands(const RunJournal& run, const std::string& bundle);

// The items changed by standing changes that come after entry `entry` of
// run `run` and are not of the bundles `except` (file names).
std::set<std::string> LaterItems(const KorvaneJournals& korvane, size_t run, size_t entry,
                                 const std::set<std::string>& except);

// The items run `run` changed that a later standing run changed again, as
// "<later run>: <item>".
std::vector<std::string> Conflicts(const KorvaneJournals& korvane, size_t run);

// The file name of a bundle path, upper-cased as kestrin spells bundles.
std::string BundleName(const std::string& path);

// Writes the outcome of undoing `undone` changes of `what` (text or JSON on
// io.out, one line per item not restored on io.err); the exit status.
CtlExit ReportUndo(const char* command, const std::string& what, size_t undone,
                   const std::vector<std::string>& failures, bool json, CtlOutput& io);

// Writes `lines` on io.err, each after "kestrinctl COMMAND: ".
void ReportLines(const char* command, const std::vector<std::string>& lines, CtlOutput& io);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_RUN_JOURNALS_H_
