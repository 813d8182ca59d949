// File-system operations of the installation, written once over the
// primitives of a FileSystem (host/host.h): copy and delete with the
// semantics of the Windows shell's file operation, directory creation, the
// verification pass for copies the shell reported as failed, file search and
// the read-only attribute.
//
// Every path a caller gives is looked up ignoring letter case (Resolve). The
// int results keep the shell's convention: 1 done, 0 failed; an optional
// FsError tells what failed and where, so a caller can always report the path.
#ifndef KESTRIN_HOST_FILE_SYSTEM_H_
#define KESTRIN_HOST_FILE_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace kestrin {

// How the last component of a path is read. A pattern holds "*" and "?"
// wildcards; a literal name is one file or folder even when it holds those
// characters (a name from the command line, a directory scan or a bundle).
enum class NameMode { kPattern, kLiteral };

// Deeper trees than this are taken for a loop of symbolic links (or junctions).
constexpr int kMaxTreeDepth = 128;

// One entry of a directory search.
struct DirEntry {
  std::string name;
  bool is_directory = false;
  uint64_t size = 0;  // 0 for directories
  bool is_regular = false;  // a regular file (after following a symbolic link)
};

// Deletes what `path` names: a file, a folder with everything in it, or, when
// the last component holds a wildcard (in kPattern mode), every file and
// folder of that folder the pattern matches. A symbolic link is removed,
// never followed; read-only entries go too. A wildcard that matches nothing
// in an existing folder is a success; a path that does not exist is a
// failure; a root (or its contents) is refused. Result 1 on success, else 0.
int DeleteFiles(FileSystem& fs, const std::string& path, FsError* error = nullptr,
                NameMode mode = NameMode::kPattern);

// Creates the directory and every missing one above it. Result 1 when the
// directory was created; 0 when it failed or already existed (callers test
// for existence first).
int CreateDirectoryTree(FileSystem& fs, const std::string& path, FsError* error = nullptr);

// Copies `source` into the folder `destination` (created with its missing
// parents). The source is a file, a folder (copied with its contents below
// destination/<its name>), or a pattern in its last component: "dir/*.*"
// copies everything in dir, subfolders included; "dir/*.ini" the matching
// entries. Existing files are overwritten (FileSystem::CopyRegularFile: never
// truncated), in the letter case they have; a file or folder copied onto
// itself is a success that touches nothing, and a folder is never copied
// into its own copy. When `destination` names an existing file and `source`
// a single file, that file is replaced. Result 1 on success, else 0 (the
// copy goes on after a failed entry; `error` names the first failure).
int CopyFiles(FileSystem& fs, const std::string& source, const std::string& destination,
              FsError* error = nullptr, NameMode mode = NameMode::kPattern);

// CopyFiles; when it fails and `verify` is 1, the copy still counts as done
// if the verification pass (CompareTree of the source's folder and the
// destination) holds. The source is then expected to end in a wildcard name
// ("dir/*.*"); for any other source the verification cannot apply and the
// result stays 0. `extra_flags` are shell flags without meaning here.
int CopyFilesChecked(FileSystem& fs, const std::string& source, const std::string& destination,
                     int extra_flags, int verify, FsError* error = nullptr,
                     NameMode mode = NameMode::kPattern);

// Counters of a verification pass over a whole tree.
struct TreeCounters {
  int files_seen = 0;
  int files_matched = 0;
  int directories_seen = 0;
  int directories_matched = 0;
};

// The verification pass: every entry below `source_dir` must have an entry
// of exactly the same name (letter case included) and, for files, the same
// size below `destination_dir`. Both directories end with a separator.
// Result 1 when everything matched (an empty source folder included), 0
// otherwise or when the source folder cannot be read. The counters of the
// whole tree are added to `counters` when given.
int CompareTree(FileSystem& fs, const std::string& source_dir, const std::string& destination_dir,
                TreeCounters* counters = nullptr);

// Whether `directory` holds an entry of exactly `name` (same letter case) of
// the same kind as `source_entry`; files must also have the same size.
bool FileMatches(FileSystem& fs, const std::string& directory, const std::string& name,
                 const DirEntry& source_entry);

// The entries of a folder that match a pattern ("dir/*.cab", "dir/*.*"),
// names compared ignoring case, "." and ".." left out, sorted by name in
// byte order. A path whose last component is not a pattern lists the one
// entry Windows would find (the exact spelling, else the first that matches
// ignoring case) if it exists. Result false only when the folder cannot be
// read (a missing folder included); no match is an empty list.
bool FindFiles(FileSystem& fs, const std::string& pattern_path, std::vector<DirEntry>* entries,
               FsError* error = nullptr);

// Existence tests that resolve the path case-insensitively.
bool PathExists(FileSystem& fs, const std::string& path);
bool IsDirectory(FileSystem& fs, const std::string& path);
bool IsRegularFile(FileSystem& fs, const std::string& path);

// Deletes one file, no wildcard expansion and never a folder.
bool DeleteSingleFile(FileSystem& fs, const std::string& path, FsError* error = nullptr);

// The read-only attribute (FileSystem::SetReadOnlyFlag) of what `path` names.
bool SetReadOnly(FileSystem& fs, const std::string& path, bool read_only, FsError* error = nullptr);
bool IsReadOnly(FileSystem& fs, const std::string& path);

// Why something failed, in the words of the platform's own messages (for
// what the shared code finds itself rather than the system reports).
enum class FsReason { kNone, kNotFound, kExists, kNotFolder, kIsFolder, kLoop, kInvalidName };
std::string FsReasonText(FsReason reason);  // each back end's

// How the names of the temporary files that the system FileSystem's
// CopyRegularFile writes beside a target named `target_name` begin (each
// back end's). A process ended before FinishCopies leaves them behind.
std::string TemporaryCopyPrefix(const std::string& target_name);

// Keeps the first failure: "<what> <path>", then ": <reason>" unless the
// reason is empty.
void SetFsError(FsError* error, const std::string& what, const std::string& path,
                const std::string& reason);

// Appends `text` to the file through the C runtime (created when missing,
// never its folder), closing it again: the back ends' AppendText.
bool AppendWithRuntime(const std::string& path, std::string_view text);

}  // namespace kestrin

#endif  // KESTRIN_HOST_FILE_SYSTEM_H_
