// Whole-file reads and locked, atomic read-modify-write of small text stores
// (INI files, the registry store, the connection file).
//
// A write locks the sidecar "<file>.lock" (host/file_lock.h; a lock on the
// file itself would be lost when the rename replaces it, and the sidecar is
// removed again when the write is done), reads the current content, lets
// the caller change it, writes a temporary file beside the target, flushes
// it, and renames it over the target. The target's mode (and, where allowed,
// owner) is kept; a symbolic link is followed so the real file is replaced
// and the link stays. A crash at any point leaves either the old or the new
// file, never a mix; two processes never lose each other's changes.
#ifndef KESTRIN_HOST_ATOMIC_FILE_H_
#define KESTRIN_HOST_ATOMIC_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrin {

enum class FileError {
  kNone,
  kMissing,        // the file does not exist
  kFolderMissing,  // its folder does not exist (nothing is created)
  kUnreadable,     // exists but cannot be read
  kReadOnly,       // write permission bits cleared, or not writable by us
  kWriteFailed,    // lock, temporary file, flush or rename failed
};

struct FileResult {
  FileError error = FileError::kNone;
  std::string message;  // names the file and the cause; empty on success
  bool ok() const { return error == FileError::kNone; }
};

// Reads the whole file into content (emptied first).
FileResult ReadWholeFile(const std::string& path, std::string& content);

// What an edit callback wants done with the content it was given.
enum class EditAction { kKeep, kWrite };

// Under the sidecar lock: reads the file (exists=false and empty content when
// it is missing), calls edit, and replaces the file atomically when edit
// returns kWrite. A missing folder fails with kFolderMissing before edit is
// called; so does an unreadable file (kUnreadable). A read-only file is
// read and edited, and the write then fails with kReadOnly, leaving it as it
// was; an edit that keeps the content succeeds on it.
FileResult UpdateFileLocked(const std::string& path,
                            const std::function<EditAction(std::string& content, bool exists)>& edit);

// Replaces the whole file atomically under the sidecar lock.
FileResult WriteFileAtomically(const std::string& path, const std::string& content);

// A file written piece by piece and put in place at once, for files that
// one writer makes whole (a signed cabinet), not for the shared stores
// above: no lock is taken. Open creates a temporary file beside the target;
// Write appends to it; Commit flushes it, gives it the mode (and, where
// allowed, owner) of the file it replaces, and renames it over the target.
// A StagedFile destroyed without a successful Commit removes its temporary
// file, so the target is either untouched or complete.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  FileResult Open(const std::string& path);
  FileResult Write(const void* data, size_t size);
  FileResult Commit();

 private:
  std::string target_;
  std::string temp_;
  intptr_t handle_ = -1;  // descriptor or HANDLE of the temporary file
};

// Makes the entries of folder `dir` (files created, linked, renamed) durable.
bool SyncFolder(const std::string& dir);

// The flush of the folder after a rename, which makes the rename itself
// survive a power loss. Commit flushes the folder at once, unless folder
// flushes are deferred: then it only notes the folder, and
// FlushDeferredFolders flushes each noted folder once and returns to
// flushing at once. For a run whose every change is recorded before it is
// made, where a lost rename is undone like a made one: the folders must be
// flushed before the record says the run is complete. False when a folder
// could not be flushed.
void DeferFolderFlushes();
bool FlushDeferredFolders();

// The path a write would replace: path with symbolic links followed to the
// final target (which need not exist yet).
std::string ResolveWriteTarget(const std::string& path);

// Set to the name of a file, this environment variable makes a writer create
// that file and sleep between writing the temporary file and the rename, so
// tests can kill it there.
inline constexpr const char* kPauseBeforeRenameVariable = "KESTRIN_TEST_PAUSE_BEFORE_RENAME";

}  // namespace kestrin

#endif  // KESTRIN_HOST_ATOMIC_FILE_H_
