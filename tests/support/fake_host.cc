#include "support/fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/registry_key.h"

namespace kestrin::testing {

struct FakeFileSystem::Node {
  bool folder = true;
  bool read_only = false;
  uint64_t id = 0;
  std::string content;
  std::map<std::string, std::unique_ptr<Node>> children;  // in byte order
};

namespace {

// The names of a path after its root; empty and "." components dropped.
std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  size_t pos = RootLength(path);
  while (pos < path.size()) {
    size_t end = path.find_first_of(kPathSeparators, pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    pos = end + 1;
  }
  return parts;
}

const char kRefused[] = "refused by the test";

}  // namespace

FakeFileSystem::FakeFileSystem() : root_(std::make_unique<Node>()) {}
FakeFileSystem::~FakeFileSystem() = default;

FakeFileSystem::Node* FakeFileSystem::Find(const std::string& path) const {
  Node* node = root_.get();
  for (const std::string& name : Components(path)) {
    if (!node->folder) return nullptr;
    const auto it = node->children.find(name);
    if (it == node->children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

FakeFileSystem::Node* FakeFileSystem::Parent(const std::string& path, std::string* name) const {
  std::vector<std::string> parts = Components(path);
  if (parts.empty()) return nullptr;
  *name = parts.back();
  Node* node = root_.get();
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const auto it = node->children.find(parts[i]);
    if (it == node->children.end() || !it->second->folder) return nullptr;
    node = it->second.get();
  }
  return node;
}

bool FakeFileSystem::Refused(const std::string& path, const char* what, FsError* error) {
  if (refused.count(path) == 0) return false;
  SetFsError(error, what, path, kRefused);
  return true;
}

void FakeFileSystem::Put(const std::string& path, const std::string& content) {
  Node* node = root_.get();
  const std::vector<std::string> parts = Components(path);
  const bool folder = !path.empty() && IsPathSeparator(path.back());
  for (size_t i = 0; i < parts.size(); ++i) {
    std::unique_ptr<Node>& child = node->children[parts[i]];
    if (!child) {
      child = std::make_unique<Node>();
      child->id = next_id_++;
    }
    node = child.get();
    if (i + 1 == parts.size() && !folder) {
      node->folder = false;
      node->content = content;
    }
  }
}

std::optional<std::string> FakeFileSystem::Read(const std::string& path) const {
  const Node* node = Find(path);
  if (node == nullptr || node->folder) return std::nullopt;
  return node->content;
}

bool FakeFileSystem::Exists(const std::string& path) const { return Find(path) != nullptr; }

std::vector<std::string> FakeFileSystem::Tree(const std::string& root) const {
  std::vector<std::string> out;
  const std::function<void(const Node&, const std::string&)> walk = [&](const Node& node,
                                                                        const std::string& prefix) {
    for (const auto& [name, child] : node.children) {
      const std::string rel = prefix + name;
      out.push_back(child->folder ? rel + "/" : rel + "=" + child->content);
      if (child->folder) walk(*child, rel + "/");
    }
  };
  if (const Node* node = Find(root); node != nullptr && node->folder) walk(*node, "");
  return out;
}

// As the POSIX back end resolves: an exact name first, else the first that
// matches ignoring case; from the first missing component on, as given.
std::string FakeFileSystem::Resolve(std::string_view path) {
  if (path.empty()) return std::string();
  const size_t root = RootLength(path);
  std::string out = NativePath(std::string(path.substr(0, root)));
  const bool trailing = path.size() > root && IsPathSeparator(path.back());
  const Node* node = root_.get();
  for (size_t pos = root; pos < path.size();) {
    size_t end = path.find_first_of(kPathSeparators, pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    std::string name(part);
    if (part == "..") {
      node = nullptr;
    } else if (node != nullptr && part != ".") {
      const Node* found = nullptr;
      for (const auto& [candidate, child] : node->children) {
        if (candidate == part) {
          found = child.get();
          name = candidate;
          break;
        }
        if (found == nullptr && EqualsIgnoreCase(candidate, part)) {
          found = child.get();
          name = candidate;
        }
      }
      node = found != nullptr && found->folder ? found : nullptr;
    }
    if (!out.empty() && !IsPathSeparator(out.back())) out += kPathSeparator;
    out += name;
  }
  if (trailing && !IsPathSeparator(out.back())) out += kPathSeparator;
  return out;
}

FileStatus FakeFileSystem::Stat(const std::string& path, FollowLinks) {
  FileStatus status;
  const Node* node = path.empty() ? nullptr : Find(path);
  if (node == nullptr) {
    status.reason = FsReasonText(FsReason::kNotFound);
    return status;
  }
  status.exists = true;
  status.is_directory = node->folder;
  status.is_regular = !node->folder;
  status.read_only = node->read_only;
  status.size = node->content.size();
  status.identity = "fake:" + std::to_string(node->id);
  return status;
}

bool FakeFileSystem::ListFolder(const std::string& dir, std::vector<std::string>* names,
                                FsError* error) {
  names->clear();
  const Node* node = Find(dir);
  if (node == nullptr || !node->folder) {
    SetFsError(error, "cannot read folder", dir,
               FsReasonText(node == nullptr ? FsReason::kNotFound : FsReason::kNotFolder));
    return false;
  }
  for (const auto& [name, child] : node->children) names->push_back(name);
  return true;
}

bool FakeFileSystem::MakeFolder(const std::string& path, FsError* error) {
  if (Refused(path, "cannot create folder", error)) return false;
  std::string name;
  Node* parent = Parent(path, &name);
  if (parent == nullptr || parent->children.count(name) != 0) {
    SetFsError(error, "cannot create folder", path,
               FsReasonText(parent == nullptr ? FsReason::kNotFound : FsReason::kExists));
    return false;
  }
  auto node = std::make_unique<Node>();
  node->id = next_id_++;
  parent->children[name] = std::move(node);
  changes.push_back("mkdir " + path);
  return true;
}

bool FakeFileSystem::RemoveFolder(const std::string& path, FsError* error) {
  if (Refused(path, "cannot delete folder", error)) return false;
  std::string name;
  Node* parent = Parent(path, &name);
  const auto it =
      parent != nullptr ? parent->children.find(name) : decltype(parent->children.end()){};
  if (parent == nullptr || it == parent->children.end() || !it->second->folder ||
      !it->second->children.empty()) {
    SetFsError(error, "cannot delete folder", path, FsReasonText(FsReason::kNotFound));
    return false;
  }
  parent->children.erase(it);
  changes.push_back("rmdir " + path);
  return true;
}

bool FakeFileSystem::RemoveFile(const std::string& path, FsError* error) {
  if (Refused(path, "cannot delete", error)) return false;
  std::string name;
  Node* parent = Parent(path, &name);
  const auto it =
      parent != nullptr ? parent->children.find(name) : decltype(parent->children.end()){};
  if (parent == nullptr || it == parent->children.end() || it->second->folder) {
    SetFsError(error, "cannot delete", path, FsReasonText(FsReason::kNotFound));
    return false;
  }
  parent->children.erase(it);
  changes.push_back("rm " + path);
  return true;
}

bool FakeFileSystem::CopyRegularFile(const std::string& source, const std::string& target,
                                     FsError* error) {
  const Node* from = Find(source);
  if (from == nullptr || from->folder) {
    SetFsError(error, "cannot open", source, FsReasonText(FsReason::kNotFound));
    return false;
  }
  if (Refused(target, "cannot replace", error)) return false;
  std::string name;
  Node* parent = Parent(target, &name);
  if (parent == nullptr) {
    SetFsError(error, "cannot create a file in", SplitLastComponent(target).first,
               FsReasonText(FsReason::kNotFound));
    return false;
  }
  std::unique_ptr<Node>& node = parent->children[name];
  if (node && node->folder) {
    SetFsError(error, "cannot replace the folder", target, FsReasonText(FsReason::kIsFolder));
    return false;
  }
  if (node.get() == from) return true;
  auto copy = std::make_unique<Node>();
  copy->folder = false;
  copy->content = from->content;
  copy->read_only = from->read_only;
  copy->id = next_id_++;
  node = std::move(copy);
  changes.push_back("copy " + source + " > " + target);
  return true;
}

bool FakeFileSystem::FinishCopies(FsError*) { return true; }

bool FakeFileSystem::SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) {
  if (Refused(path, "cannot change attributes of", error)) return false;
  Node* node = Find(path);
  if (node == nullptr) {
    SetFsError(error, "cannot change attributes of", path, FsReasonText(FsReason::kNotFound));
    return false;
  }
  if (node->read_only != read_only) changes.push_back((read_only ? "ro " : "rw ") + path);
  node->read_only = read_only;
  return true;
}

bool FakeFileSystem::AppendText(const std::string& path, std::string_view text) {
  if (refused.count(path) != 0) return false;
  std::string name;
  Node* parent = Parent(path, &name);
  if (parent == nullptr) return false;
  std::unique_ptr<Node>& node = parent->children[name];
  if (!node) {
    node = std::make_unique<Node>();
    node->folder = false;
    node->id = next_id_++;
  }
  if (node->folder) return false;
  node->content += text;
  changes.push_back("append " + path);
  return true;
}

// ---------------------------------------------------------------------------

FileResult FakeTextFiles::Read(const std::string& path, std::string& content) {
  const std::string resolved = fs_.Resolve(path);
  const FileStatus status = fs_.Stat(resolved, FollowLinks::kYes);
  if (!status.exists) return FileResult{FileError::kMissing, "no file " + resolved};
  if (status.is_directory)
    return FileResult{FileError::kUnreadable, "cannot read " + resolved + ": it is a folder"};
  content = *fs_.Read(resolved);
  return {};
}

FileResult FakeTextFiles::Update(
    const std::string& path,
    const std::function<EditAction(std::string& content, bool exists)>& edit) {
  const std::string resolved = fs_.Resolve(path);
  if (!fs_.Stat(SplitLastComponent(resolved).first, FollowLinks::kYes).is_directory) {
    return FileResult{FileError::kFolderMissing, "cannot write " + resolved + ": no such folder"};
  }
  const FileStatus status = fs_.Stat(resolved, FollowLinks::kYes);
  if (status.is_directory)
    return FileResult{FileError::kUnreadable, "cannot read " + resolved + ": it is a folder"};
  std::string content = status.exists ? *fs_.Read(resolved) : std::string();
  if (edit(content, status.exists) == EditAction::kKeep) return {};
  if (status.read_only)
    return FileResult{FileError::kReadOnly, "cannot write " + resolved + ": the file is read-only"};
  if (fs_.refused.count(resolved) != 0)
    return FileResult{FileError::kWriteFailed, "cannot write " + resolved};
  fs_.Put(resolved, content);
  fs_.changes.push_back("write " + resolved);
  return {};
}

// ---------------------------------------------------------------------------

std::optional<std::string> FakeRegistry::Get(const std::string& key_path) {
  const RegistryRead read = ReadValue(key_path, "");
  if (read.status != RegistryReadStatus::kOk) return std::nullopt;
  return read.text;
}

void FakeRegistry::Set(const std::string& key_path, const std::string& text) {
  std::vector<tRegistryWrite> writes{{key_path, text, false, {}}};
  SetDefaultValues(writes, nullptr);
}

void FakeRegistry::SetText(const std::string& text) {
  size_t line = 0;
  std::string what;
  RegistryStore parsed;
  if (!parsed.Parse(text, line, what)) ADD_FAILURE() << "store line " << line << ": " << what;
  store = std::move(parsed);
}

RegistryResult FakeRegistry::Load(RegistryStore& loaded) {
  if (!broken.empty()) return RegistryResult{RegistryStatus::kUnparsable, broken};
  loaded = store;
  return {};
}

RegistryResult FakeRegistry::Update(const std::function<bool(RegistryStore&)>& edit) {
  if (!broken.empty()) return RegistryResult{RegistryStatus::kUnparsable, broken};
  RegistryStore copy = store;
  if (edit(copy)) store = std::move(copy);
  return {};
}

// ---------------------------------------------------------------------------

ProcessResult FakeProcesses::Run(std::string_view command_line, const ProcessOptions& options) {
  ProcessResult result;
  const std::string line(command_line);
  application_dirs.push_back(options.application_dir);
  result.program = line.substr(0, line.find(' '));
  result.started = !line.empty();
  for (const std::string& prefix : missing)
    result.started = result.started && !line.starts_with(prefix);
  if (!result.started) {
    result.error = "program not found: " + result.program;
    return result;
  }
  started.push_back(options.wait ? line : line + "(no wait)");
  if (options.on_started) options.on_started(result);
  result.exit_code = 0;
  return result;
}

int FakeLibraries::RegisterServer(const std::string& path, bool register_server,
                                  std::string* error) {
  calls.push_back((register_server ? "register " : "unregister ") + path);
  if (failing.count(path) == 0) return 1;
  if (error != nullptr) *error = "cannot load " + path;
  return 0;
}

// ---------------------------------------------------------------------------

int FakeUnpacker::ExtractAll(const std::string& bundle_path, const std::string& target_dir) {
  const auto it = bundles.find(bundle_path);
  if (it == bundles.end()) return 0;
  int count = 0;
  for (const auto& [name, content] : it->second) {
    fs_.Put(JoinPath(target_dir, NativePath(name)), content);
    ++count;
  }
  return count;
}

int FakeUnpacker::ExtractFile(const std::string& bundle_path, const std::string& name,
                              const std::string& target_dir) {
  const auto it = bundles.find(bundle_path);
  if (it == bundles.end()) return 0;
  for (const auto& [member, content] : it->second) {
    if (EqualsIgnoreCase(member, name)) {
      fs_.Put(JoinPath(target_dir, NativePath(member)), content);
      return 1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------

FakeHost::FakeHost() {
  for (const char* folder : {"/korvane/Program/", "/korvane/Ini/OEMCAB/", "/korvane/Ini/TEMPLATES/",
                             "/korvane/Ini/LIB/", "/korvane/Data/", "/home/"}) {
    files.Put(NativePath(folder));
  }
  files.Put(NativePath("/korvane/Ini/MODULES/MODULES.INI"), "[Modules]\r\nCount=0\r\n");
  files.Put(NativePath("/korvane/Ini/System/CUSTTOOL.INI"), "");
  const std::string settings = machine.settings_subkey;
  registry.Set(settings + "IniPath", NativePath(kIniDir));
  registry.Set(settings + "ProgramDataDir", NativePath(std::string(kDataDir) + "/"));
  registry.Set(settings + "BRWTREECTRL\\VISIBLEEXTENSIONS", ".pro;.poe");
  registry.Set("SOFTWARE\\Brantel\\Korvane\\CurrentVersion", "6.1");
  machine.program_dir = NativePath(machine.program_dir);
  machine.per_user_dir = NativePath(machine.per_user_dir);
}

}  // namespace kestrin::testing
