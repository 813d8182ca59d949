#include "steps/bundle_names.h"

#include "host/safe_path.h"

namespace kestrin {

bool CheckBundleName(std::string_view name, std::string* relative, std::string* reason) {
  if (name.size() > kMaxBundleNameLength) {
    relative->clear();
    *reason = "name longer than " + std::to_string(kMaxBundleNameLength) + " characters";
    return false;
  }
  return SafeRelativePath(name, relative, reason);
}

}  // namespace kestrin
