#include "steps/step_paths.h"

#include "bundle/bundle_format.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "host/safe_path.h"

namespace kestrin {
namespace {

// A Windows path is at most 259 characters; a longer name cannot come from a
// real bundle. No file system here holds a name part of more than 255 bytes.
constexpr size_t kMaxPath = 259;
constexpr size_t kMaxComponent = 255;

}  // namespace

std::string BundleFolder(const StepContext& context, std::string_view folder) {
  return JoinPath(context.BundleTempDir, folder) + kPathSeparator;
}

std::string DescriptionFile(const StepContext& context) {
  return bundle::DescriptionPath(context.BundleTempDir);
}

bool NameInsideFolder(std::string_view name, std::string* relative, std::string* reason) {
  if (!SafeRelativePath(name, relative, reason)) return false;
  if (relative->size() > kMaxPath) {
    *reason = "longer than " + std::to_string(kMaxPath) + " characters";
    return false;
  }
  size_t start = 0;
  while (start <= relative->size()) {
    size_t end = relative->find(kPathSeparator, start);
    if (end == std::string::npos) end = relative->size();
    if (end - start > kMaxComponent) {
      *reason = "a name part is longer than " + std::to_string(kMaxComponent) + " characters";
      return false;
    }
    start = end + 1;
  }
  return true;
}

std::string FoldedSettingsKey(Host& host, std::string_view name) {
  const std::string joined = SettingsKey(host, name);
  std::string key;
  for (const char c : joined) {
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key += c;
  }
  return key;
}

}  // namespace kestrin
