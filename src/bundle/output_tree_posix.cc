#include "bundle/output_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "bundle/crt_file_io.h"
#include "host/dos_time.h"
#include "host/path_resolve.h"

namespace kestrin {

struct OutputTree::Folder {
  int fd = -1;
  Folder* parent = nullptr;
  std::string name;  // as entered in the parent
  std::string path;  // as shown in messages
  bool listed = false;
  std::unordered_set<std::string> names;            // exact spellings present
  std::unordered_map<std::string, std::string> by_lower;  // lower case -> first in byte order
  std::unordered_map<std::string, std::unique_ptr<Folder>> children;

  ~Folder() {
    if (fd >= 0) close(fd);
  }
  void Add(const std::string& name) {
    if (!names.insert(name).second) return;
    auto [it, inserted] = by_lower.emplace(AsciiLower(name), name);
    if (!inserted && name < it->second) it->second = name;
  }
};

namespace {

// Descriptors of subfolders kept open at most; beyond that they are closed
// and entered again (still without following links) when needed.
constexpr int kMaxOpenFolders = 128;

}  // namespace

bool OutputTree::EnsureOpen(Folder* folder) {
  if (folder->fd >= 0) return true;
  if (folder->parent == nullptr || !EnsureOpen(folder->parent)) return false;
  if (open_folders_ >= kMaxOpenFolders) CloseSubfolders(root_.get());
  if (folder->parent->fd < 0 && !EnsureOpen(folder->parent)) return false;
  folder->fd = openat(folder->parent->fd, folder->name.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder->fd < 0) return false;
  ++open_folders_;
  return true;
}

void OutputTree::CloseSubfolders(Folder* folder) {
  for (auto& [name, child] : folder->children) {
    if (child->fd >= 0) {
      close(child->fd);
      child->fd = -1;
      --open_folders_;
    }
    CloseSubfolders(child.get());
  }
}

OutputTree::OutputTree(std::string target_directory) : target_(std::move(target_directory)) {}

OutputTree::~OutputTree() = default;

const std::string& OutputTree::Lookup(Folder* folder, const std::string& name) {
  if (!folder->listed) {
    folder->listed = true;
    const int dup_fd = fcntl(folder->fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
    if (dir == nullptr) {
      if (dup_fd >= 0) close(dup_fd);
    } else {
      while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        folder->Add(entry->d_name);
      }
      closedir(dir);
    }
  }
  if (folder->names.count(name)) return name;
  auto it = folder->by_lower.find(AsciiLower(name));
  return it == folder->by_lower.end() ? name : it->second;
}

OutputTree::Folder* OutputTree::Root(std::string* error) {
  if (root_) return root_.get();
  const std::string path =
      StripTrailingSeparators(target_.empty() ? std::string(".") : ResolvePath(target_));
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot create folder " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  root_ = std::make_unique<Folder>();
  root_->fd = fd;
  root_->path = path;
  return root_.get();
}

OutputTree::Folder* OutputTree::Child(Folder* parent, const std::string& wanted,
                                      std::string* error) {
  const std::string name = Lookup(parent, wanted);
  auto found = parent->children.find(name);
  if (found != parent->children.end()) {
    if (EnsureOpen(found->second.get())) return found->second.get();
    *error = "cannot open folder " + found->second->path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (open_folders_ >= kMaxOpenFolders) {
    CloseSubfolders(root_.get());
    if (!EnsureOpen(parent)) {
      *error = "cannot open folder " + parent->path + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  const std::string path = JoinPath(parent->path, name);
  bool created = false;
  int fd = openat(parent->fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (mkdirat(parent->fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "cannot create folder " + path + ": " + std::strerror(errno);
      return nullptr;
    }
    created = true;
    parent->Add(name);
    fd = openat(parent->fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if ((err == ELOOP || err == ENOTDIR) && fstatat(parent->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      *error = "refusing to follow the symbolic link " + path;
    } else if (err == ENOTDIR) {
      *error = "cannot create folder " + path + ": a file of that name exists";
    } else {
      *error = "cannot open folder " + path + ": " + std::strerror(err);
    }
    return nullptr;
  }
  auto folder = std::make_unique<Folder>();
  folder->fd = fd;
  folder->parent = parent;
  folder->name = name;
  folder->path = path;
  folder->listed = created;
  ++open_folders_;  // a folder we just made is empty
  Folder* raw = folder.get();
  parent->children.emplace(name, std::move(folder));
  return raw;
}

cab::INT_PTR OutputTree::CreateOutputFile(const std::vector<std::string>& components,
                                          std::string* display_path, std::string* error) {
  if (components.empty()) {
    *error = "no file name";
    return -1;
  }
  Folder* folder = Root(error);
  for (size_t i = 0; folder != nullptr && i + 1 < components.size(); ++i) {
    folder = Child(folder, components[i], error);
  }
  if (folder == nullptr) return -1;
  const std::string name = Lookup(folder, components.back());
  *display_path = JoinPath(folder->path, name);
  const cab::INT_PTR hf = CrtOpenAt(folder->fd, name.c_str(), kCrtOutputFlags, kCrtOutputPermission);
  if (hf == -1) {
    const int err = errno;
    struct stat st;
    if (err == ELOOP && fstatat(folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      *error = "refusing to write through the symbolic link " + *display_path;
    } else {
      *error = "cannot create file " + *display_path + ": " + std::strerror(err);
    }
    return -1;
  }
  folder->Add(name);
  return hf;
}

void StampOutputFile(int fd, uint16_t dos_date, uint16_t dos_time, uint16_t attribs) {
  time_t seconds = 0;
  if (DosDateTimeToTimeT(dos_date, dos_time, &seconds)) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = 0;
    (void)futimens(fd, times);
  }
  if (attribs & 0x01) {
    struct stat st;
    if (fstat(fd, &st) == 0) (void)fchmod(fd, st.st_mode & 07555);
  }
}

}  // namespace kestrin
