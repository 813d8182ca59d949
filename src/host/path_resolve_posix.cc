#include <dirent.h>
#include <sys/stat.h>

#include "host/path_resolve.h"

namespace kestrin {

const char kPathSeparator = '/';
const char* const kPathSeparators = "/";

bool IsPathSeparator(char c) { return c == '/'; }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

size_t RootLength(std::string_view path) { return !path.empty() && path[0] == '/' ? 1 : 0; }

std::string NativePath(std::string path) { return path; }

std::string ResolvePath(std::string_view path) {
  if (path.empty()) return {};
  std::string out = path.front() == '/' ? "/" : "";
  const bool trailing = path.size() > 1 && path.back() == '/';
  bool parent_exists = true;
  size_t pos = 0;
  bool first = true;
  while (pos < path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view comp = path.substr(pos, end - pos);
    pos = end + 1;
    if (comp.empty()) continue;
    std::string resolved(comp);
    if (parent_exists && comp != "." && comp != "..") {
      const std::string candidate =
          out.empty() || out.back() == '/' ? out + resolved : out + "/" + resolved;
      struct stat st;
      if (lstat(candidate.c_str(), &st) != 0) {
        DIR* dir = opendir(out.empty() ? "." : out.c_str());
        bool found = false;
        if (dir != nullptr) {
          while (const dirent* entry = readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (EqualsIgnoreCase(name, comp) && (!found || name < std::string_view(resolved))) {
              resolved.assign(name);
              found = true;
            }
          }
          closedir(dir);
        }
        if (!found) parent_exists = false;
      }
    }
    if (!first && out.back() != '/') out += '/';
    out += resolved;
    first = false;
  }
  if (trailing && !out.empty() && out.back() != '/') out += '/';
  return out;
}

}  // namespace kestrin
