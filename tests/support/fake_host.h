// A Host (host/host.h) kept in memory, for tests that want an installation
// without a disk, a registry store, processes or an environment: folders
// and files in a tree, INI files and the registry on Kestrin's own engines
// over that tree and an in-memory store, programs and libraries recorded,
// bundles unpacked from contents the test gives. Every change is noted in
// FakeFileSystem::changes, so a test can tell what a step did, and did not.
#ifndef KESTRIN_TESTS_SUPPORT_FAKE_HOST_H_
#define KESTRIN_TESTS_SUPPORT_FAKE_HOST_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/document_ini_files.h"
#include "host/host.h"
#include "host/registry_store.h"
#include "support/recording_telvor.h"

namespace kestrin::testing {

class FakeFileSystem : public FileSystem {
 public:
  FakeFileSystem();
  ~FakeFileSystem() override;

  // --- For the test ---
  // Creates the file (and its missing folders) with `content`; a path
  // ending with a separator makes a folder.
  void Put(const std::string& path, const std::string& content = "");
  // The content of the file at exactly `path`; nothing for a folder or none.
  std::optional<std::string> Read(const std::string& path) const;
  bool Exists(const std::string& path) const;
  // Every entry below `root`, sorted: "rel/path=content" or "rel/path/".
  std::vector<std::string> Tree(const std::string& root) const;
  // Changes to these paths (exactly so) fail as the disk would refuse them.
  std::set<std::string> refused;
  // Every change made, in order: "mkdir P", "rmdir P", "rm P", "copy S > T",
  // "ro P"/"rw P", "append P".
  std::vector<std::string> changes;

  // --- FileSystem ---
  std::string Resolve(std::string_view path) override;
  FileStatus Stat(const std::string& path, FollowLinks follow) override;
  bool ListFolder(const std::string& dir, std::vector<std::string>* names, FsError* error) override;
  bool MakeFolder(const std::string& path, FsError* error) override;
  bool RemoveFolder(const std::string& path, FsError* error) override;
  bool RemoveFile(const std::string& path, FsError* error) override;
  bool CopyRegularFile(const std::string& source, const std::string& target,
                       FsError* error) override;
  bool FinishCopies(FsError* error) override;
  bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) override;
  bool AppendText(const std::string& path, std::string_view text) override;

  struct Node;

 private:
  Node* Find(const std::string& path) const;
  Node* Parent(const std::string& path, std::string* name) const;
  bool Refused(const std::string& path, const char* what, FsError* error);

  std::unique_ptr<Node> root_;
  uint64_t next_id_ = 1;
};

// Whole files of the fake file system, for the INI engine.
class FakeTextFiles : public TextFileStore {
 public:
  explicit FakeTextFiles(FakeFileSystem& fs) : fs_(fs) {}
  FileResult Read(const std::string& path, std::string& content) override;
  FileResult Update(
      const std::string& path,
      const std::function<EditAction(std::string& content, bool exists)>& edit) override;

 private:
  FakeFileSystem& fs_;
};

// The registry as a store in memory.
class FakeRegistry : public StoreRegistry {
 public:
  // The default value of a key below HKEY_LOCAL_MACHINE; nothing when unset.
  std::optional<std::string> Get(const std::string& key_path);
  void Set(const std::string& key_path, const std::string& text);
  // The store as a store file holds it, and replaced by such a text (which
  // must parse).
  std::string Text() const { return store.Serialize(); }
  void SetText(const std::string& text);
  RegistryStore store;
  // Set: the store cannot be read or written, for this reason.
  std::string broken;

 protected:
  RegistryResult Load(RegistryStore& store) override;
  RegistryResult Update(const std::function<bool(RegistryStore&)>& edit) override;
};

// Programs that are not run: each command line is noted; it counts as
// started unless it is empty or starts with one of `missing`.
class FakeProcesses : public Processes {
 public:
  ProcessResult Run(std::string_view command_line, const ProcessOptions& options) override;
  std::vector<std::string> started;  // command lines, "(no wait)" appended for those not waited for
  std::vector<std::string> application_dirs;  // ProcessOptions::application_dir of each call
  std::set<std::string> missing;
};

// Registrations noted as "register P" or "unregister P"; each answers 1
// unless its library is in `failing`.
class FakeLibraries : public Libraries {
 public:
  int RegisterServer(const std::string& path, bool register_server, std::string* error) override;
  std::string DotNetLoaderVersion() override { return loader_version; }
  std::vector<std::string> calls;
  std::set<std::string> failing;
  std::string loader_version;
};

class FakeMachine : public Machine {
 public:
  std::string ProgramDir() override { return program_dir; }
  std::string PerUserDataDir() override { return per_user_dir; }
  std::string SettingsSubKey() override { return settings_subkey; }
  std::optional<std::string> SettingsConnectionDir() override { return std::nullopt; }
  void Sleep(int milliseconds) override {
    sleeps.push_back(milliseconds);
    if (on_sleep) on_sleep(milliseconds);
  }
  std::function<void(int)> on_sleep;
  std::string program_dir = "/korvane/Program";
  std::string per_user_dir = "/home";
  std::string settings_subkey = "SOFTWARE\\Brantel\\Korvane\\Settings\\";
  std::vector<int> sleeps;
};

// Bundles the test lays out: a path and the files it holds ("hw.ini",
// "MODULES/A.INI" with "/" or "\" between folders). A path that was never
// given does not open (0).
class FakeUnpacker : public BundleUnpacker {
 public:
  explicit FakeUnpacker(FakeFileSystem& fs) : fs_(fs) {}
  int ExtractAll(const std::string& bundle_path, const std::string& target_dir) override;
  int ExtractFile(const std::string& bundle_path, const std::string& name,
                  const std::string& target_dir) override;
  std::map<std::string, std::map<std::string, std::string>> bundles;

 private:
  FakeFileSystem& fs_;
};

// A Korvane in memory, laid out as scripts/make-sandbox lays one out on disk:
// program folder /korvane/Program, INI folder /korvane/Ini/ (MODULES with
// MODULES.INI of no module, System with an empty CUSTTOOL.INI, OEMCAB,
// TEMPLATES, LIB), data folder /korvane/Data, per-user folder /home; the
// registry names them and holds version 6.1 and the visible extensions
// ".pro;.poe".
struct FakeHost {
  FakeHost();
  FakeFileSystem files;
  FakeTextFiles text_files{files};
  DocumentIniFiles ini{text_files};
  FakeRegistry registry;
  FakeProcesses processes;
  FakeLibraries libraries;
  FakeMachine machine;
  FakeUnpacker bundles{files};
  RecordingTelvor telvor;
  Host host{files, ini, registry, processes, libraries, machine, bundles, telvor};

  static constexpr char kIniDir[] = "/korvane/Ini/";
  static constexpr char kDataDir[] = "/korvane/Data";
};

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_FAKE_HOST_H_
