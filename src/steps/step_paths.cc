#include "steps/step_paths.h"
#include "host/path_resolve.h"

#include "host/safe_path.h"

namespace kestrin {
namespace {

// A Windows path is at most 259 characters; a longer name cannot come from a
// real bundle. No file system here holds a name part of more than 255 bytes.
constexpr size_t kMaxPath = 259;
constexpr size_t kMaxComponent = 255;

}  // namespace

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (path.empty() || !IsPathSeparator(path.back())) path += kPathSeparator;
  path += name;
  return path;
}

std::string BundleFolder(const std::string& bundle_temp_dir, std::string_view folder) {
  return JoinPath(bundle_temp_dir, folder) + "/";
}

bool NameInsideFolder(std::string_view name, std::string* relative, std::string* reason) {
  if (!SafeRelativePath(name, relative, reason)) return false;
  if (relative->size() > kMaxPath) {
    *reason = "longer than " + std::to_string(kMaxPath) + " characters";
    return false;
  }
  size_t start = 0;
  while (start <= relative->size()) {
    size_t end = relative->find('/', start);
    if (end == std::string::npos) end = relative->size();
    if (end - start > kMaxComponent) {
      *reason = "a name part is longer than " + std::to_string(kMaxComponent) + " characters";
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool NumberIsNotZero(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (text[i] != '0') return true;
  }
  return false;
}

}  // namespace kestrin
