#include "ctl/planning_host.h"

#include <algorithm>

#include "bundle/memory_unpack.h"
#include "connections/file_server.h"
#include "host/atomic_file.h"
#include "host/document_ini_files.h"
#include "host/file_system.h"
#include "host/ini_document.h"
#include "host/install_record.h"
#include "host/path_resolve.h"
#include "host/safe_path.h"
#include "host/telvor.h"

namespace kestrin::ctl {
namespace {


// A change of another kind than a file's; the phase is added later.
tPlannedChange Event(std::string kind, std::string action, std::string target, std::string detail) {
  tPlannedChange change;
  change.kind = std::move(kind);
  change.action = std::move(action);
  change.target = std::move(target);
  change.detail = std::move(detail);
  return change;
}

// What the plan holds at a path.
struct Entry {
  enum Kind { kFile, kFolder, kRemoved } kind = kFile;
  std::string path;                    // as spelled
  std::optional<std::string> content;  // a file's bytes, once known
  std::string source;                  // else the machine's file they are copied from
  bool read_only = false;
  FileStatus before;                   // the machine's entry there
  std::string bundle, phase;           // where the run was at the last change
};

// Where the run is, shared by the parts of the planning host.
struct Phase {
  std::string bundle, phase;
};

class PlanFiles : public FileSystem, public TextFileStore {
 public:
  PlanFiles(FileSystem& machine, const Phase& phase) : machine_(machine), phase_(phase) {}

  std::map<std::string, Entry> entries;  // by PathKey

  // The entry the plan holds at `path`, or nullptr.
  const Entry* Find(const std::string& path) const {
    auto it = entries.find(PathKey(path));
    return it == entries.end() ? nullptr : &it->second;
  }
  Entry& Touch(const std::string& path, Entry::Kind kind) {
    auto [it, added] = entries.try_emplace(PathKey(path));
    if (added) it->second.before = machine_.Stat(path, FollowLinks::kNo);
    it->second.kind = kind;
    it->second.path = path;
    it->second.bundle = phase_.bundle;
    it->second.phase = phase_.phase;
    return it->second;
  }
  // The bytes of a planned file (or of the machine's file there).
  FileResult Content(const std::string& path, std::string& content) {
    const Entry* e = Find(path);
    if (e == nullptr) return ReadWholeFile(path, content);
    if (e->kind != Entry::kFile) return {FileError::kMissing, path + ": no such file"};
    if (e->content) {
      content = *e->content;
      return {};
    }
    return ReadWholeFile(e->source, content);
  }
  // Whether a planned file leaves the machine's file at its path as it is.
  bool Unchanged(const Entry& e) {
    if (e.read_only != e.before.read_only) return false;
    std::string planned, held;
    if (!Content(e.path, planned).ok() || planned.size() != e.before.size) return false;
    return ReadWholeFile(e.path, held).ok() && held == planned;
  }
  void PutFile(const std::string& path, std::string content) {
    Touch(path, Entry::kFile).content = std::move(content);
  }
  // Creates the missing folders of `dir` (the plan's own mkdir -p).
  void MakeFolders(const std::string& dir) {
    if (Stat(dir, FollowLinks::kYes).exists) return;
    const auto [parent, name] = SplitLastComponent(dir);
    if (parent != dir) MakeFolders(parent);
    Touch(dir, Entry::kFolder);
  }

  // --- FileSystem ---
  std::string Resolve(std::string_view path) override {
    const std::string given = machine_.Resolve(path);
    const size_t root = RootLength(given);
    std::string resolved = given.substr(0, root);
    size_t at = root;
    while (at < given.size()) {
      size_t end = given.find_first_of(kPathSeparators, at);
      if (end == std::string::npos) end = given.size();
      const std::string name = given.substr(at, end - at);
      const std::string exact = JoinPath(resolved, name);
      std::vector<std::string> names;
      if (!Stat(exact, FollowLinks::kNo).exists && ListFolder(resolved.empty() ? "." : resolved, &names, nullptr)) {
        auto match = std::find_if(names.begin(), names.end(),
                                  [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
        if (match == names.end()) return JoinPath(resolved, given.substr(at));
        resolved = JoinPath(resolved, *match);
      } else {
        resolved = exact;
      }
      at = end + (end < given.size() ? 1 : 0);
    }
    return resolved;
  }
  FileStatus Stat(const std::string& path, FollowLinks follow) override {
    const Entry* e = Find(StripTrailingSeparators(path));
    if (e == nullptr) return machine_.Stat(path, follow);
    FileStatus status;
    if (e->kind == Entry::kRemoved) return status;
    status.exists = true;
    status.is_directory = e->kind == Entry::kFolder;
    status.is_regular = e->kind == Entry::kFile;
    status.read_only = e->read_only;
    status.identity = "plan:" + PathKey(e->path);
    if (e->kind == Entry::kFile) {
      status.size = e->content ? e->content->size() : machine_.Stat(e->source, follow).size;
    }
    return status;
  }
  bool ListFolder(const std::string& dir, std::vector<std::string>* names,
                  FsError* error) override {
    names->clear();
    const std::string folder = StripTrailingSeparators(dir);
    const FileStatus status = Stat(folder, FollowLinks::kYes);
    if (!status.is_directory) {
      SetFsError(error, "cannot list folder", folder, FsReasonText(FsReason::kNotFound));
      return false;
    }
    const Entry* own = Find(folder);
    if (own == nullptr || own->before.is_directory) machine_.ListFolder(folder, names, nullptr);
    const std::string prefix = PathKey(JoinPath(folder, ""));
    for (auto it = entries.lower_bound(prefix); it != entries.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      const std::string name = it->second.path.substr(prefix.size());
      if (name.find_first_of(kPathSeparators) != std::string::npos) continue;
      auto at = std::find_if(names->begin(), names->end(),
                             [&](const std::string& n) { return PathKey(n) == PathKey(name); });
      if (it->second.kind == Entry::kRemoved) {
        if (at != names->end()) names->erase(at);
      } else if (at == names->end()) {
        names->push_back(name);
      }
    }
    std::sort(names->begin(), names->end());
    return true;
  }
  bool MakeFolder(const std::string& path, FsError* error) override {
    const auto [parent, name] = SplitLastComponent(StripTrailingSeparators(path));
    if (Stat(path, FollowLinks::kNo).exists || !Stat(parent, FollowLinks::kYes).is_directory) {
      SetFsError(error, "cannot create folder", path,
                 FsReasonText(Stat(path, FollowLinks::kNo).exists ? FsReason::kExists
                                                                    : FsReason::kNotFound));
      return false;
    }
    Touch(StripTrailingSeparators(path), Entry::kFolder);
    return true;
  }
  bool RemoveFolder(const std::string& path, FsError* error) override {
    std::vector<std::string> names;
    if (!ListFolder(path, &names, error)) return false;
    if (!names.empty()) {
      SetFsError(error, "cannot remove folder", path, "not empty");
      return false;
    }
    Touch(StripTrailingSeparators(path), Entry::kRemoved);
    return true;
  }
  bool RemoveFile(const std::string& path, FsError* error) override {
    const FileStatus status = Stat(path, FollowLinks::kNo);
    if (!status.exists || status.is_directory) {
      SetFsError(error, "cannot delete", path,
                 FsReasonText(status.exists ? FsReason::kIsFolder : FsReason::kNotFound));
      return false;
    }
    Touch(path, Entry::kRemoved);
    return true;
  }
  bool CopyRegularFile(const std::string& source, const std::string& target,
                       FsError* error) override {
    const auto [parent, name] = SplitLastComponent(target);
    if (!Stat(source, FollowLinks::kYes).is_regular ||
        !Stat(parent, FollowLinks::kYes).is_directory || Stat(target, FollowLinks::kNo).is_directory) {
      SetFsError(error, "cannot copy to", target, FsReasonText(FsReason::kNotFound));
      return false;
    }
    const Entry* from = Find(source);
    Entry copy = from != nullptr ? *from : Entry{};
    if (from == nullptr) copy.source = source;
    const bool read_only = Stat(source, FollowLinks::kYes).read_only;
    Entry& to = Touch(target, Entry::kFile);
    to.content = copy.content;
    to.source = copy.source;
    to.read_only = read_only;
    return true;
  }
  bool FinishCopies(FsError*) override { return true; }
  bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) override {
    const FileStatus status = Stat(path, FollowLinks::kYes);
    if (!status.exists) {
      SetFsError(error, "cannot change attributes of", path, FsReasonText(FsReason::kNotFound));
      return false;
    }
    if (status.read_only == read_only) return true;
    const Entry* e = Find(path);
    if (e == nullptr) {
      // The machine's own file or folder, marked in the plan.
      Entry& marked = Touch(path, status.is_directory ? Entry::kFolder : Entry::kFile);
      if (!status.is_directory) marked.source = path;
    }
    entries[PathKey(path)].read_only = read_only;
    return true;
  }
  // The log is not part of the plan.
  bool AppendText(const std::string&, std::string_view) override { return true; }

  // --- TextFileStore (the INI engine's files) ---
  FileResult Read(const std::string& path, std::string& content) override {
    return Content(Resolve(path), content);
  }
  FileResult Update(const std::string& path,
                    const std::function<EditAction(std::string&, bool)>& edit) override {
    const std::string resolved = Resolve(path);
    if (!Stat(SplitLastComponent(resolved).first, FollowLinks::kYes).is_directory)
      return {FileError::kFolderMissing, resolved + ": the folder does not exist"};
    std::string content;
    const FileResult read = Content(resolved, content);
    if (!read.ok() && read.error != FileError::kMissing) return read;
    if (edit(content, read.ok()) == EditAction::kKeep) return {};
    if (Stat(resolved, FollowLinks::kYes).read_only)
      return {FileError::kReadOnly, resolved + ": the file is read-only"};
    PutFile(resolved, std::move(content));
    return {};
  }

 private:
  FileSystem& machine_;
  const Phase& phase_;
};

// INI changes go to the plan's files and are listed key by key.
class PlanIni : public DocumentIniFiles {
 public:
  PlanIni(PlanFiles& files, std::vector<tPlannedChange>& events)
      : DocumentIniFiles(files), events_(events) {}
  bool SetValues(const std::string& path, std::string_view section, const IniEntryList& entries,
                 IniResult* result) override {
    std::vector<bool> same;
    for (const IniEntry& entry : entries) same.push_back(Holds(path, section, entry));
    if (!DocumentIniFiles::SetValues(path, section, entries, result)) return false;
    for (size_t i = 0; i < entries.size(); ++i) {
      Note("set", path, Bracketed(section) + " " + entries[i].first + "=" + entries[i].second);
      events_.back().same = same[i];
    }
    return true;
  }
  bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                 IniResult* result) override {
    if (!DocumentIniFiles::DeleteKey(path, section, key, result)) return false;
    Note("delete-key", path, Bracketed(section) + " " + std::string(key));
    return true;
  }
  bool DeleteSection(const std::string& path, std::string_view section,
                     IniResult* result) override {
    if (!DocumentIniFiles::DeleteSection(path, section, result)) return false;
    Note("delete-section", path, Bracketed(section));
    return true;
  }

 private:
  static std::string Bracketed(std::string_view section) {
    std::string text = "[";
    text.append(section);
    text.push_back(']');
    return text;
  }
  void Note(const char* action, const std::string& path, std::string detail) {
    events_.push_back(Event("ini", action, path, std::move(detail)));
  }
  // Whether the file holds the entry already; for the installation record,
  // whose keys are the minute of each installation, whether the item's
  // newest entry names the same owner.
  bool Holds(const std::string& path, std::string_view section, const IniEntry& entry) {
    if (EqualsIgnoreCase(SplitLastComponent(path).second, kInstallRecordFileName)) {
      const std::string owner = InstallRecord(*this, path).GetLatestEntry(section);
      return !owner.empty() && owner == entry.second;
    }
    const std::optional<std::string> value = GetString(path, section, entry.first, nullptr);
    return value && *value == entry.second;
  }
  std::vector<tPlannedChange>& events_;
};

// Default values set by the plan, over the machine's registry.
class PlanRegistry : public Registry {
 public:
  PlanRegistry(Registry& machine, std::vector<tPlannedChange>& events)
      : machine_(machine), events_(events) {}
  RegistryRead ReadValue(std::string_view key_path, std::string_view value_name) override {
    auto it = values_.find(AsciiLower(key_path));
    if (it == values_.end()) return machine_.ReadValue(key_path, value_name);
    if (!value_name.empty()) {
      RegistryRead read = machine_.ReadValue(key_path, value_name);
      if (read.status == RegistryReadStatus::kNoKey) read.status = RegistryReadStatus::kNoValue;
      return read;
    }
    return {RegistryReadStatus::kOk, it->second.second, true, ""};
  }
  std::optional<std::vector<tRegistrySubKey>> ReadSubKeys(std::string_view key_path) override {
    std::optional<std::vector<tRegistrySubKey>> keys = machine_.ReadSubKeys(key_path);
    const std::string prefix = AsciiLower(key_path) + "\\";
    for (const auto& [lower, set] : values_) {
      if (lower.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string rest = set.first.substr(prefix.size());
      const size_t separator = rest.find('\\');
      const std::string name = rest.substr(0, separator);
      if (!keys) keys.emplace();
      auto at = std::find_if(keys->begin(), keys->end(),
                             [&](const tRegistrySubKey& k) { return EqualsIgnoreCase(k.name, name); });
      if (at == keys->end()) at = keys->insert(keys->end(), tRegistrySubKey{name, std::nullopt});
      if (separator == std::string::npos) at->text = set.second;
    }
    return keys;
  }
  bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) override {
    bool all = true;
    for (tRegistryWrite& write : writes) {
      size_t start = 0, longest = 0;
      for (size_t end; (end = write.key_path.find('\\', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
      longest = std::max(longest, write.key_path.size() - start);
      write.done = longest <= kMaxRegistryKeyNameLength && !write.key_path.empty();
      if (!write.done) {
        write.error = "invalid key " + write.key_path;
        if (all && error != nullptr) *error = write.error;
        all = false;
        continue;
      }
      const RegistryRead held = ReadValue(write.key_path, "");
      values_[AsciiLower(write.key_path)] = {write.key_path, write.text};
      events_.push_back(Event("registry", "set", write.key_path, write.text));
      // A list the run only closes with ";" (the visible extensions, each
      // run again) holds the same entries.
      events_.back().same = held.status == RegistryReadStatus::kOk && held.is_string &&
                            (held.text == write.text || held.text + ";" == write.text);
    }
    return all;
  }
  // No step deletes a value (only the undo of a run does); noted all the same.
  bool DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string*) override {
    for (const std::string& key_path : key_paths) {
      values_.erase(AsciiLower(key_path));
      events_.push_back(Event("registry", "delete", key_path, ""));
    }
    return true;
  }

 private:
  Registry& machine_;
  std::vector<tPlannedChange>& events_;
  std::map<std::string, std::pair<std::string, std::string>> values_;  // lower key -> (key, text)
};

class PlanProcesses : public Processes {
 public:
  explicit PlanProcesses(std::vector<tPlannedChange>& events) : events_(events) {}
  ProcessResult Run(std::string_view command_line, const ProcessOptions& options) override {
    events_.push_back(Event("program", "run", std::string(command_line), options.wait ? "" : "no wait"));
    ProcessResult result;
    result.started = true;
    result.program = std::string(command_line);
    result.exit_code = 0;
    if (options.on_started) options.on_started(result);
    return result;
  }

 private:
  std::vector<tPlannedChange>& events_;
};

class PlanLibraries : public Libraries {
 public:
  PlanLibraries(Libraries& machine, std::vector<tPlannedChange>& events)
      : machine_(machine), events_(events) {}
  int RegisterServer(const std::string& path, bool register_server, std::string*) override {
    events_.push_back(Event("library", register_server ? "register" : "unregister", path, ""));
    return 1;
  }
  std::string DotNetLoaderVersion() override { return machine_.DotNetLoaderVersion(); }

 private:
  Libraries& machine_;
  std::vector<tPlannedChange>& events_;
};

class PlanMachine : public Machine {
 public:
  explicit PlanMachine(Machine& machine) : machine_(machine) {}
  std::string ProgramDir() override { return machine_.ProgramDir(); }
  std::string PerUserDataDir() override { return machine_.PerUserDataDir(); }
  std::string SettingsSubKey() override { return machine_.SettingsSubKey(); }
  std::optional<std::string> SettingsConnectionDir() override {
    return machine_.SettingsConnectionDir();
  }
  void Sleep(int) override {}

 private:
  Machine& machine_;
};

// Bundles unpacked into the plan's files, each decoded once.
class PlanUnpacker : public BundleUnpacker {
 public:
  explicit PlanUnpacker(PlanFiles& files) : files_(files) {}
  int ExtractAll(const std::string& bundle_path, const std::string& target_dir) override {
    const std::vector<MemberFile>* members = Members(bundle_path);
    if (members == nullptr) return 0;
    for (const MemberFile& member : *members) Put(member, target_dir);
    return static_cast<int>(members->size());
  }
  int ExtractFile(const std::string& bundle_path, const std::string& name,
                  const std::string& target_dir) override {
    const std::vector<MemberFile>* members = Members(bundle_path);
    if (members == nullptr) return 0;
    for (const MemberFile& member : *members) {
      if (!EqualsIgnoreCase(member.first, name)) continue;
      Put(member, target_dir);
      return 1;
    }
    return 0;
  }

 private:
  const std::vector<MemberFile>* Members(const std::string& bundle_path) {
    const std::string path = files_.Resolve(bundle_path);
    const Entry* planned = files_.Find(path);
    const std::string file = planned != nullptr && !planned->source.empty() ? planned->source : path;
    auto it = cache_.find(PathKey(file));
    if (it == cache_.end()) {
      std::vector<MemberFile> members;
      std::string error;
      if (!UnpackToMemory(file, &members, &error)) members.clear();
      it = cache_.emplace(PathKey(file), std::move(members)).first;
    }
    return it->second.empty() ? nullptr : &it->second;
  }
  void Put(const MemberFile& member, const std::string& target_dir) {
    std::string relative;
    if (!SafeRelativePath(member.first, &relative)) return;
    const std::string path = JoinPath(target_dir, NativePath(relative));
    files_.MakeFolders(SplitLastComponent(path).first);
    files_.PutFile(path, member.second);
  }
  PlanFiles& files_;
  std::map<std::string, std::vector<MemberFile>> cache_;
};

// The connection server: each connection noted with what is set on it, and
// whether the machine's connection file holds it so already.
struct PlanConnections {
  std::vector<tPlannedChange>& events;
  std::optional<IniDocument> machine;  // the connection file as it is, when readable
};

class PlanConnection : public ITelvorConnection, public ITelvorProperties {
 public:
  PlanConnection(PlanConnections& plan, size_t index) : plan_(plan), index_(index) {}
  HRESULT GetProperties(TelvorObject* properties) override {
    *properties = std::make_shared<PlanConnection>(plan_, index_);
    return S_OK;
  }
  HRESULT SetComment(const std::string& v) override { return Set("Comment", v); }
  HRESULT SetDriverClassId(const std::string& v) override { return Set("DriverClassId", v); }
  HRESULT SetOption16(int32_t v) override { return Set("Option16", std::to_string(v)); }
  HRESULT SetTimeout(int32_t v) override { return Set("Timeout", std::to_string(v)); }
  HRESULT SetOption22(const std::string& v) override { return Set("Option22", v); }
  HRESULT Complete() override { return S_OK; }
  HRESULT SetDriverName(const std::string& v) override { return Set("DriverName", v); }
  HRESULT SetNumber(const std::string& name, int32_t v) override {
    return Set(name, std::to_string(v), ConnectionFileNumber(name, v), true);
  }
  HRESULT SetText(const std::string& name, const std::string& v) override {
    return Set(name, v, v, true);
  }

 private:
  HRESULT Set(const std::string& name, const std::string& value) {
    return Set(name, value, value, false);
  }
  HRESULT Set(const std::string& name, const std::string& value, const std::string& held,
              bool property) {
    tPlannedChange& change = plan_.events[index_];
    change.detail += (change.detail.empty() ? "" : "; ") + name + "=" + value;
    change.same = change.same &&
                  plan_.machine->FindValue(change.target, ConnectionFileKey(name, property)) == held;
    return S_OK;
  }
  PlanConnections& plan_;
  size_t index_;
};

class PlanServer : public ITelvorServer {
 public:
  explicit PlanServer(PlanConnections& plan) : plan_(plan) {}
  HRESULT LoadConnectionFile(const std::string& path) override {
    std::string bytes;
    if (ReadWholeFile(ResolvePath(path), bytes).ok()) plan_.machine = IniDocument::Parse(bytes);
    return S_OK;
  }
  // A connection that exists is reconfigured, and the server objects as
  // the connection file's server does.
  HRESULT CreateConnection(const std::string& name) override {
    bool existed = plan_.machine && plan_.machine->HasSection(name);
    for (const tPlannedChange& e : plan_.events)
      existed = existed || (e.kind == "connection" && EqualsIgnoreCase(e.target, name));
    plan_.events.push_back(Event("connection", "create", name, ""));
    plan_.events.back().same =
        plan_.machine && plan_.machine->FindValue(name, "Complete") == std::string("1");
    return existed && ConnectionServerObjectsToExisting() ? S_FALSE : S_OK;
  }
  HRESULT GetConnection(const std::string& name, TelvorObject* connection) override {
    for (size_t i = plan_.events.size(); i-- > 0;) {
      if (plan_.events[i].kind == "connection" && EqualsIgnoreCase(plan_.events[i].target, name)) {
        *connection = std::make_shared<PlanConnection>(plan_, i);
        return S_OK;
      }
    }
    return E_NOTFOUND;
  }

 private:
  PlanConnections& plan_;
};

class PlanServerClass : public ITelvorServerClass {
 public:
  explicit PlanServerClass(std::vector<tPlannedChange>& events) : plan_{events, std::nullopt} {}
  HRESULT CreateInstance(TelvorObject* object) override {
    *object = std::make_shared<PlanServer>(plan_);
    return S_OK;
  }
  HRESULT Run(const TelvorObject&) override { return S_OK; }

 private:
  PlanConnections plan_;
};

}  // namespace

struct PlanningHost::Impl {
  explicit Impl(Host& machine)
      : files(machine.files, phase),
        ini(files, events),
        registry(machine.registry, events),
        processes(events),
        libraries(machine.libraries, events),
        machine_info(machine.machine),
        bundles(files),
        telvor(events),
        host{files, ini, registry, processes, libraries, machine_info, bundles, telvor} {}
  Phase phase;
  std::vector<tPlannedChange> events;
  PlanFiles files;
  PlanIni ini;
  PlanRegistry registry;
  PlanProcesses processes;
  PlanLibraries libraries;
  PlanMachine machine_info;
  PlanUnpacker bundles;
  PlanServerClass telvor;
  Host host;
  size_t stamped = 0;  // events before this one carry their phase
};

PlanningHost::PlanningHost(Host& machine) : impl_(std::make_unique<Impl>(machine)) {}
PlanningHost::~PlanningHost() = default;
Host& PlanningHost::host() { return impl_->host; }

void PlanningHost::SetPhase(const std::string& bundle, const std::string& phase) {
  // Changes noted from here on carry it; the events vector is stamped as it
  // grows (see Changes).
  StampEvents();
  impl_->phase = {bundle, phase};
}

void PlanningHost::StampEvents() {
  for (size_t i = impl_->stamped; i < impl_->events.size(); ++i) {
    impl_->events[i].bundle = impl_->phase.bundle;
    impl_->events[i].phase = impl_->phase.phase;
  }
  impl_->stamped = impl_->events.size();
}

std::vector<tPlannedChange> PlanningHost::Changes() {
  StampEvents();
  std::vector<tPlannedChange> changes;
  for (const auto& [key, e] : impl_->files.entries) {
    const bool was_file = e.before.exists && !e.before.is_directory;
    switch (e.kind) {
      case Entry::kFile:
        changes.push_back({"file", was_file ? "replace" : "create", e.path, e.source, e.bundle, e.phase,
                           was_file && impl_->files.Unchanged(e)});
        break;
      case Entry::kFolder:
        if (!e.before.is_directory)
          changes.push_back({"folder", "create", e.path, "", e.bundle, e.phase});
        break;
      case Entry::kRemoved:
        if (e.before.exists)
          changes.push_back({e.before.is_directory ? "folder" : "file", "delete", e.path, "",
                             e.bundle, e.phase});
        break;
    }
  }
  changes.insert(changes.end(), impl_->events.begin(), impl_->events.end());
  return changes;
}

std::map<std::string, std::optional<std::string>> PlanningHost::FinalFiles() const {
  std::map<std::string, std::optional<std::string>> files;
  for (const auto& [key, e] : impl_->files.entries) {
    if (e.kind == Entry::kFolder) continue;
    std::string content;
    if (e.kind == Entry::kFile && impl_->files.Content(e.path, content).ok()) {
      files[e.path] = content;
    } else {
      files[e.path] = std::nullopt;
    }
  }
  return files;
}

}  // namespace kestrin::ctl
