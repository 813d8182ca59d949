// The journal of a run: every change an installation makes, written down
// before it is made, with what it replaces, so that the run can be undone
// (after a crash, on request, or one bundle of it later).
//
// A journal is a text file of its own per run in the journal folder, one
// entry a line, fields separated by tabs ("\\", tab, CR and LF escaped as
// "\\\\", "\\t", "\\r", "\\n"):
//
//   KESTRIN JOURNAL 1
//   started   <UTC time>
//   scheduled <bundle path>...         what the run is to install
//   bundle    <bundle path>            the changes below are this bundle's
//   oem       <OEM ID>                 the bundle's OEM ID, once it is read
//   mkdir     <folder>                 a folder made
//   new       <file>                   a file made where none was
//   replace   <file>  <kept>           a file replaced; <kept> holds its old content
//   delete    <file>  <kept>           a file deleted; <kept> holds its content
//   rmdir     <folder>                 an empty folder removed
//   attr      <path>  ro|rw            the read-only flag changed; the old one
//   ini       <file> <section> <key> -|=<old line value>   an INI key set or removed
//   ini-new-section <file> <section>   a section made
//   ini-section <file> <section> <key=value>...            a section deleted
//   reg       <key>  -|=<old value>    a registry default value set
//   snapshot  <file> -|<kept>          the whole file, before the first change
//                                      of the run's connections
//   register  <library>                a library registered (undone by unregistering)
//   unregister <library>               the reverse
//   program   <command line>           a program run: cannot be undone
//   finished  <UTC time>               the run ended (a journal without it was
//                                      interrupted)
//   rolled-back <UTC time>             the run was undone
//   uninstalled <bundle> <UTC time>    that bundle's changes were undone
//
// <kept> names a file in the folder "kept" beside the journals: a second
// link to the old file (no copy) where the file system allows it.
//
// Durability. An entry is appended (one write, so a killed process never
// loses it) before its change. Before a change that destroys something (a
// file replaced or deleted, an INI or registry value changed, a program or
// a library started) the journal and the kept files are flushed to disk
// first (fdatasync of the journal, fsync of the folder "kept"). Creations
// are not flushed one by one, yet none can outlast a lost entry after a
// power loss: a folder made in a folder that was there before the run is
// flushed first (the folders and files the run makes in it are removed
// with it); a new file, like a replacement, waits under a temporary name
// until FinishCopies, which flushes the journal before the renames (where
// the system FileSystem does not wait, CopiesWaitForFinish, a new file's
// entry is flushed with the next flush). The undo of an interrupted run
// removes the temporary files it left beside its targets. A file replaced
// through a temporary file and a rename (INI files, the registry store) has
// its folder flushed once, before the run is marked finished, not after
// each rename: a rename lost to a power loss is undone like a made one.
// A new file copied into a folder the run made needs no flush of its own:
// the undo of the folder removes it with it.
#ifndef KESTRIN_HOST_JOURNAL_H_
#define KESTRIN_HOST_JOURNAL_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/journal_file.h"

namespace kestrin {

// Set to a number N, this environment variable ends the process (as a kill
// would, nothing flushed) right after the Nth change a journaled run makes.
inline constexpr const char* kExitAfterChangesVariable = "KESTRIN_TEST_EXIT_AFTER_CHANGES";
// Set as well, the end is a power loss in the worst order: the entries not
// yet flushed are lost, every change made is kept.
inline constexpr const char* kPowerLossVariable = "KESTRIN_TEST_POWER_LOSS";

// The folder of the journals in the Korvane: "journal" in OemCabDir.
std::string JournalDir(const std::string& oem_cab_dir);

struct JournalEntry {
  std::string op;
  std::vector<std::string> fields;
  std::string bundle;  // the bundle whose change this is ("" before the first)
};

// One journal as read back.
struct RunJournal {
  std::string id;    // the file name without ".journal"; sorts by start
  std::string path;
  std::string started, finished, rolled_back;  // UTC times; "" when not
  std::vector<std::string> scheduled;          // what the run was to install
  std::vector<std::string> bundles;            // in the order installed
  std::vector<int> oem_ids;                    // of each of bundles (0 until read)
  std::vector<std::string> uninstalled;        // bundles undone one by one
  std::vector<JournalEntry> entries;           // the changes, in order
  bool readable = false;
  std::string error;  // why not
  bool interrupted() const { return finished.empty() && rolled_back.empty(); }
};

RunJournal ReadRunJournal(const std::string& path);
// Every journal in `dir`, oldest first.
std::vector<RunJournal> ReadRunJournals(const std::string& dir);

// The items an entry changes, as names that compare between entries: "file
// P", "ini P|SECTION|KEY" (letter case folded where the system ignores it),
// "reg KEY". An entry that changes nothing undoable has none.
std::vector<std::string> ChangedItems(const JournalEntry& entry);

// How Undo treats what a later run may have built on.
enum class UndoMode {
  kWhole,      // the last changes made (recovery, rollback): folders the run made go whole
  kLeaveLater, // items in `keep` (changed later) stay as they are; folders go only when empty
};

// Undoes `entries` in reverse order through `host` (the unjournaled one),
// taking kept content from `kept_dir`. One line per item that could not be
// put back goes to `failures`.
void UndoEntries(Host& host, const std::vector<JournalEntry>& entries, const std::string& kept_dir,
                 UndoMode mode, const std::vector<std::string>& keep,
                 std::vector<std::string>* failures);

// Appends one entry to the journal at `path` (for the marks of rollback
// and uninstall) and flushes it.
bool AppendJournalEntry(const std::string& path, const std::vector<std::string>& entry);

// The current time in UTC as the journals write it, "2026-12-07 23:20:05".
std::string JournalTimeNow();

// A Host that writes every change of the host it wraps into a journal
// before it passes the change on. Outside Begin/Finish it only passes on.
class JournalHost {
 public:
  // `connection_file` names the connection file (its content is kept before
  // the first connection of a run changes it).
  JournalHost(Host& inner, std::function<std::string()> connection_file);
  ~JournalHost();
  JournalHost(const JournalHost&) = delete;
  JournalHost& operator=(const JournalHost&) = delete;

  Host& host() { return host_; }
  Host& inner() { return inner_; }

  // Starts the journal of a run of the `scheduled` bundles in `dir` (made
  // when missing). Changes below
  // any of `ignored` (the bundles' temporary folders) are passed on without
  // a journal entry. False (error set) when the journal cannot be written:
  // then nothing may be changed.
  bool Begin(const std::string& dir, const std::vector<std::string>& scheduled,
             const std::vector<std::string>& ignored, std::string* error);
  // The changes from here on are `bundle`'s.
  void NoteBundle(const std::string& bundle);
  // The current bundle's OEM ID.
  void NoteOemId(int oem_id);
  // Marks the run finished and flushes the journal.
  void Finish();
  bool active() const;
  // The path of the running journal.
  const std::string& path() const;

  class Recorder;

 private:
  Host& inner_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<IniFiles> ini_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<Libraries> libraries_;
  std::unique_ptr<ITelvorServerClass> telvor_;
  Host host_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_JOURNAL_H_
