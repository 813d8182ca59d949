// The host: everything an installation reads from the machine or changes on
// it, as a handful of interfaces. The preparation of a bundle, the run and
// every step reach the machine only through the Host they are given (the
// steps through StepContext); nothing of theirs opens a file, the registry
// or a process around it. So one implementation can apply what a run does,
// another journal each change before it is made, another only record it.
//
// The calls are primitives: each changes at most one thing (one file created
// or replaced or deleted, one folder created or removed, one INI key set or
// deleted, one section deleted, one registry value set, one process started,
// one library registered, one connection created), so that a wrapper can
// note what each change replaces. What Kestrin builds on them (patterns,
// the shell's copy and delete rules, the verification pass, the texts of the
// errors, the INI and registry readings the steps make) lives above them in
// shared code (host/file_system.h, host/ini_file.h, host/registry_key.h,
// host/product_env.h) and works the same over every implementation.
//
// The machine's own implementations are the POSIX and Win32 back ends of
// this folder (System*() below), the file-backed or COM connection server
// of src/connections and the cabinet decoder of src/bundle; app/system_host.h
// puts them together. tests/support/fake_host.h keeps everything in memory.
#ifndef KESTRIN_HOST_HOST_H_
#define KESTRIN_HOST_HOST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/process.h"

namespace kestrin {

// ---------------------------------------------------------------------------
// Files and folders.
//
// Paths are native. The calls take them as they are: only Resolve looks a
// path up ignoring letter case (host/path_resolve.h), and the shared code
// resolves a caller's path once before it uses it.

// What failed and where: `text` is a full sentence naming the path and the
// system's reason, e.g. "cannot create folder /x/y: Permission denied".
// Operations that meet several failures keep the first.
struct FsError {
  std::string path;
  std::string text;
};

// What Stat finds at a path.
struct FileStatus {
  bool exists = false;
  bool is_directory = false;
  bool is_regular = false;  // a regular file (no folder, FIFO, device or socket)
  bool is_link = false;     // a symbolic link or junction (only when links are not followed)
  bool read_only = false;   // the read-only attribute (no write permission bit)
  uint64_t size = 0;        // of a file
  // Equal for two paths that name the same file or folder (a hard link, a
  // folder reached through a link); empty when the entry does not exist.
  std::string identity;
  // Why the entry cannot be examined (the system's text), when !exists.
  std::string reason;
};

enum class FollowLinks { kYes, kNo };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // --- Reads ---
  // The path as the file system finds it: each component that exists in
  // another letter case takes the spelling found there (an exact match
  // first, else the first in byte order); from the first component that is
  // missing on, the given spelling stays. Separators are normalised. (Where
  // the system itself ignores case only the last component is looked up,
  // so that what is copied keeps its name.)
  virtual std::string Resolve(std::string_view path) = 0;
  // The entry at `path` (following a symbolic link, unless kNo).
  virtual FileStatus Stat(const std::string& path, FollowLinks follow = FollowLinks::kYes) = 0;
  // The names in folder `dir`, "." and ".." left out, in byte order. False
  // (error set) when the folder cannot be read, a missing one included.
  virtual bool ListFolder(const std::string& dir, std::vector<std::string>* names,
                          FsError* error) = 0;

  // --- Changes ---
  // Creates the folder `path` in its existing parent. False when it cannot,
  // also when an entry of that name exists.
  virtual bool MakeFolder(const std::string& path, FsError* error) = 0;
  // Removes the empty folder `path` (or a link to a folder, not what it
  // points to).
  virtual bool RemoveFolder(const std::string& path, FsError* error) = 0;
  // Deletes the file (or link) `path`, a read-only one too. Never a folder.
  virtual bool RemoveFile(const std::string& path, FsError* error) = 0;
  // Creates or replaces the file `target` with a copy of the regular file
  // `source` (content, permission bits or attributes, modification time),
  // through a temporary file beside it and a rename, so the old file stays
  // whole until the new one is complete. The copy may be left pending (the
  // old file still in place, a new one not yet there) until FinishCopies,
  // which then makes all pending replacements durable at once.
  virtual bool CopyRegularFile(const std::string& source, const std::string& target,
                               FsError* error) = 0;
  // Files below the folder `dir` ("" for none) are the run's own unpacked
  // copies: nothing writes into them in place, and the folder is deleted
  // once the run is done with it. A copy of such a file to a name that does
  // not exist yet may then share its data (a second link where the file
  // system has them) instead of writing it all again.
  virtual void SetScratchFolder(const std::string& dir) { (void)dir; }
  // Puts the pending copies of CopyRegularFile in place. False (error set)
  // when one of them failed; the others are still made.
  virtual bool FinishCopies(FsError* error) = 0;
  // Sets or clears the read-only attribute of a file or folder: set clears
  // every write permission bit; cleared gives the owner write permission
  // back, and group and others, where they may read, what the umask allows.
  virtual bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) = 0;
  // Appends `text` to the file at `path`, creating the file (never its
  // folder); the text is on disk when the call returns. The log's one write.
  virtual bool AppendText(const std::string& path, std::string_view text) = 0;
};

// ---------------------------------------------------------------------------
// INI files, at the level of the Windows private-profile calls: a key, a
// section, a file, never the file's text as a whole. A file that does not
// exist reads as empty; names of sections and keys compare ignoring case.

// Outcome of an INI call.
enum class IniStatus {
  kOk,
  kFileMissing,    // read of a file that does not exist: reads as empty
  kUnreadable,     // the file exists but cannot be read (permissions, a folder, I/O error)
  kFolderMissing,  // write into a folder that does not exist (no folder is created)
  kReadOnly,       // write to a read-only file: not written
  kWriteFailed,    // any other failure while writing (lock, disk full, rename)
};

struct IniResult {
  IniStatus status = IniStatus::kOk;
  // Names the file and the cause; empty on success and for a missing file
  // on a read.
  std::string message;
};

// One line of a section as a whole-section read gives it: the key (or the
// whole line when it holds no "=") and the value, both trimmed, quotes kept.
struct IniLine {
  std::string key;
  std::optional<std::string> value;
};

// (key, value) pairs.
using IniEntry = std::pair<std::string, std::string>;
using IniEntryList = std::vector<IniEntry>;

class IniFiles {
 public:
  virtual ~IniFiles() = default;

  // --- Reads ---
  // The value of the first line of `key` in the first section of that name,
  // surrounding quotes removed; nothing when absent.
  virtual std::optional<std::string> GetString(const std::string& path, std::string_view section,
                                               std::string_view key, IniResult* result) = 0;
  // The same value read as GetPrivateProfileInt reads it (sign, decimal or
  // 0x hex, leading digits only); nothing when the key is absent or empty.
  virtual std::optional<int> GetInt(const std::string& path, std::string_view section,
                                    std::string_view key, IniResult* result) = 0;
  // The lines of the section in file order (comments and blank lines left out).
  virtual std::vector<IniLine> GetSection(const std::string& path, std::string_view section,
                                          IniResult* result) = 0;
  // The keys of the section in file order, each with GetString's value.
  virtual IniEntryList GetSectionValues(const std::string& path, std::string_view section,
                                        IniResult* result) = 0;
  // Key names of the section in file order (duplicates kept).
  virtual std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section,
                                               IniResult* result) = 0;
  // Section names as their headers spell them, in file order.
  virtual std::vector<std::string> GetSectionNames(const std::string& path, IniResult* result) = 0;
  virtual bool HasSection(const std::string& path, std::string_view section, IniResult* result) = 0;

  // --- Changes ---
  // Sets each key = value of `entries` in `section`, in order, creating
  // file, section and keys as needed, in one locked update: the file then
  // holds all of them or, on failure, none.
  virtual bool SetValues(const std::string& path, std::string_view section,
                         const IniEntryList& entries, IniResult* result) = 0;
  // Removes the first line of `key`; true also when there is none.
  virtual bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                         IniResult* result) = 0;
  // DeleteKey for each of `keys`, where the engine allows in one update
  // (undoing a run removes hundreds of keys from one file).
  virtual bool DeleteKeys(const std::string& path, std::string_view section,
                          const std::vector<std::string>& keys, IniResult* result) {
    bool ok = true;
    for (const std::string& key : keys) ok = DeleteKey(path, section, key, result) && ok;
    return ok;
  }
  // Removes the first section of that name with all its lines; true also
  // when there is none.
  virtual bool DeleteSection(const std::string& path, std::string_view section,
                             IniResult* result) = 0;
};

// ---------------------------------------------------------------------------
// The registry below HKEY_LOCAL_MACHINE. Key paths are relative to it and
// "\" separated; every value Kestrin writes is the default value of a key.

// How a read went, for callers that must tell a missing key from a key
// without that value and from a registry that cannot be read.
enum class RegistryReadStatus {
  kOk,
  kNoKey,      // the key does not exist
  kNoValue,    // the key exists without that value
  kNotString,  // the value is not a string (only CRegistryKey::Read answers this)
  kFailed,     // the registry cannot be read, or the key path is invalid
};

struct RegistryRead {
  RegistryReadStatus status = RegistryReadStatus::kFailed;
  // For kOk: the value as a narrow read gives it, whatever its type (a
  // string as stored, other types as the text of their bytes).
  std::string text;
  bool is_string = false;
  std::string error;  // why, for kFailed
};

// One key's default value to set.
struct tRegistryWrite {
  std::string key_path;
  std::string text;
  bool done = false;  // set when the value is in the registry
  std::string error;  // why it is not
};

// One direct subkey of a key: its name as stored, and its default value
// when that is a string.
struct tRegistrySubKey {
  std::string name;
  std::optional<std::string> text;
};

// The longest name of one key component the registry accepts.
inline constexpr size_t kMaxRegistryKeyNameLength = 255;

class Registry {
 public:
  virtual ~Registry() = default;

  // --- Reads ---
  // The value `value_name` ("" for the default value) of a key.
  virtual RegistryRead ReadValue(std::string_view key_path, std::string_view value_name) = 0;
  // The direct subkeys of a key with their default values, in one read;
  // nothing when the key does not exist or cannot be read.
  virtual std::optional<std::vector<tRegistrySubKey>> ReadSubKeys(std::string_view key_path) = 0;

  // --- Changes ---
  // Sets the default value of each key (created as needed), in order. Each
  // write succeeds or fails on its own (done, error); a key component longer
  // than kMaxRegistryKeyNameLength or a text the registry cannot hold is
  // refused without touching the others. Where the registry allows it all
  // accepted values reach it in one update. False when any write failed
  // (`error` then says why the first did).
  virtual bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) = 0;
  // Removes the default value of each key (what undoing a first write of it
  // needs), where the registry allows in one update; a key then left empty,
  // without subkeys, goes too. True also where there was no such value.
  virtual bool DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string* error) = 0;
};

// ---------------------------------------------------------------------------
// Programs: processes and the entry points of driver libraries.

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts a Windows-style command line (host/process.h says how the program
  // is found and the arguments split) and, as `options` says, waits for it.
  virtual ProcessResult Run(std::string_view command_line, const ProcessOptions& options) = 0;
};

class Libraries {
 public:
  virtual ~Libraries() = default;
  // Loads the library at `path`, calls its DllRegisterServer (or, without
  // `register_server`, DllUnregisterServer) and unloads it. 1 when the
  // export exists and answered a non-negative code, else 0 (`error` says why).
  virtual int RegisterServer(const std::string& path, bool register_server, std::string* error) = 0;
  // --- Read ---
  // The file version of the .NET runtime loader (mscoree.dll), cut to its
  // first three fields; "" without one.
  virtual std::string DotNetLoaderVersion() = 0;
};

// ---------------------------------------------------------------------------
// What the machine says about where things are. Reads only.

class Machine {
 public:
  virtual ~Machine() = default;
  // The folder of the running program (ProductDir), no trailing separator.
  virtual std::string ProgramDir() = 0;
  // The per-user local application-data folder; "" when unknown.
  virtual std::string PerUserDataDir() = 0;
  // The registry path of the Korvane settings, ending with "\" (from the
  // settings library where there is one).
  virtual std::string SettingsSubKey() = 0;
  // The connection-file folder as the settings library names it; nothing
  // without such a library (then it is ProgramDataDir, product_env.h).
  virtual std::optional<std::string> SettingsConnectionDir() = 0;
  // Waits (the pause between two connections); nothing for 0 or less.
  virtual void Sleep(int milliseconds) = 0;
};

// ---------------------------------------------------------------------------
// Unpacking bundles into their temporary folders. The folders themselves are
// made and removed through FileSystem; this writes the cabinet's files.

class BundleUnpacker {
 public:
  virtual ~BundleUnpacker() = default;
  // Unpacks every file of the cabinet `bundle_path` into the existing folder
  // `target_dir`. The number of files written (above 0 is success), 0 when
  // the cabinet cannot be opened, -1 when its contents cannot be listed, -2
  // when extracting failed (a refused member name included).
  virtual int ExtractAll(const std::string& bundle_path, const std::string& target_dir) = 0;
  // Unpacks the one member called `name` (letter case ignored, written as
  // the cabinet spells it). 1 when found, 0 when there is none or the
  // cabinet cannot be opened, -2 when extracting failed.
  virtual int ExtractFile(const std::string& bundle_path, const std::string& name,
                          const std::string& target_dir) = 0;
};

// The connection server, host/telvor.h (not included here: its result codes
// are the Windows headers' macros there).
class ITelvorServerClass;

// ---------------------------------------------------------------------------
// The host as the installation sees it. The connection server creates one
// server object per connection; what a connection changes goes through the
// objects it hands out.
struct Host {
  FileSystem& files;
  IniFiles& ini;
  Registry& registry;
  Processes& processes;
  Libraries& libraries;
  Machine& machine;
  BundleUnpacker& bundles;
  ITelvorServerClass& telvor;
};

// The machine's own back ends of this folder (POSIX or Win32), one each per
// process. app/system_host.h completes them into a Host.
FileSystem& SystemFileSystem();
IniFiles& SystemIniFiles();
Registry& SystemRegistry();
Processes& SystemProcesses();
Libraries& SystemLibraries();
Machine& SystemMachine();

}  // namespace kestrin

#endif  // KESTRIN_HOST_HOST_H_
