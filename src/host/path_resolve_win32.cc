#include "host/path_resolve.h"

namespace kestrin {

// The Windows file system finds names ignoring case itself.
std::string ResolvePath(std::string_view path) { return std::string(path); }

}  // namespace kestrin
