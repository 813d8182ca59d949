#include "host/file_system.h"

namespace kestrin {
namespace {

void CompareLevel(const std::string& source_dir, const std::string& destination_dir,
                  TreeCounters* counters, int depth, bool* readable) {
  std::vector<DirEntry> entries;
  if (!FindFiles(source_dir + "*", &entries)) {
    *readable = false;
    return;
  }
  for (const DirEntry& entry : entries) {
    const bool matched = FileMatches(destination_dir, entry.name, entry);
    if (!entry.is_directory) {
      ++counters->files_seen;
      counters->files_matched += matched;
      continue;
    }
    ++counters->directories_seen;
    counters->directories_matched += matched;
    if (depth < kMaxTreeDepth) {
      // An unreadable subfolder counts only through its own entries.
      bool inner_readable = true;
      CompareLevel(source_dir + entry.name + "/", destination_dir + entry.name + "/", counters,
                   depth + 1, &inner_readable);
    }
  }
}

}  // namespace

int CompareTree(const std::string& source_dir, const std::string& destination_dir,
                TreeCounters* counters) {
  TreeCounters local;
  bool readable = true;
  CompareLevel(source_dir, destination_dir, &local, 0, &readable);
  if (counters != nullptr) {
    counters->files_seen += local.files_seen;
    counters->files_matched += local.files_matched;
    counters->directories_seen += local.directories_seen;
    counters->directories_matched += local.directories_matched;
  }
  if (!readable) return 0;
  return local.files_seen == local.files_matched &&
                 local.directories_seen == local.directories_matched
             ? 1
             : 0;
}

}  // namespace kestrin
